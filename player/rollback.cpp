// Rollback: the moment each backlog page began, kept deflated so that the backlog's 200 pages
// hold well under a megabyte (some 4 KB a page), and put back when the player returns to a page.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "player/moment.h"
#include "player/player.h"
#include "player/shared.h"
#include "script/script.h"

namespace {

struct PageMoment {
    std::vector<std::uint8_t> packed; // encodeMoment's bytes deflated; empty: none
    std::uint32_t encodedSize = 0;
    // The page the moment began, and the crc32 of its text in the backlog once it joined: a
    // backlog put back from a save holds other pages, which no moment here began.
    PageKey page;
    std::uint32_t textCrc = 0;
    // What the comforts were when the page began, beyond what the moment itself says.
    int backlogTop = 0;
    int waitFrames = 0;
};

struct RollbackMemory {
    // The newest backlog pages' moments, oldest first: pages[i] is the moment of the backlog
    // page history.size() - pages.size() + i. Never more than the backlog holds.
    std::vector<PageMoment> pages;
    PageMoment onScreen; // the page on screen's beginning
};
RollbackMemory g_rollback;

PageMoment takeMoment() {
    PageMoment p;
    const std::vector<std::uint8_t> encoded = encodeMoment(captureMoment());
    uLongf size = compressBound(static_cast<uLong>(encoded.size()));
    p.packed.resize(size);
    // The fastest level: a page begins every few seconds, but also every frame while skipping,
    // and the moments are mostly zeros, which every level packs alike.
    if (compress2(p.packed.data(), &size, encoded.data(), static_cast<uLong>(encoded.size()),
                  Z_BEST_SPEED) != Z_OK) {
        p.packed.clear();
        return p;
    }
    p.packed.resize(size);
    p.packed.shrink_to_fit();
    p.encodedSize = static_cast<std::uint32_t>(encoded.size());
    p.page = pageKey();
    p.backlogTop = g_comforts.backlogTop;
    p.waitFrames = g_comforts.waitFrames;
    return p;
}

std::uint32_t crcOf(const std::vector<std::uint8_t>& text) {
    return static_cast<std::uint32_t>(crc32(0L, text.data(), static_cast<uInt>(text.size())));
}

// Where the backlog page's moment is in g_rollback.pages, or -1 when it has none.
int momentIndex(int page) {
    const int history = static_cast<int>(g_comfortsMemory.history.size());
    const int kept = static_cast<int>(g_rollback.pages.size());
    const int i = page - (history - kept);
    if (page < 0 || page >= history || i < 0 || i >= kept) return -1;
    const PageMoment& p = g_rollback.pages[static_cast<std::size_t>(i)];
    if (p.packed.empty() ||
        p.textCrc != crcOf(g_comfortsMemory.history[static_cast<std::size_t>(page)]))
        return -1;
    return i;
}

bool unpack(const PageMoment& p, Moment* moment, std::string* reason) {
    if (p.encodedSize == 0 || p.encodedSize > kMaxMomentBytes) {
        *reason = "the page's moment is too long";
        return false;
    }
    std::vector<std::uint8_t> encoded(p.encodedSize);
    uLongf size = p.encodedSize;
    if (uncompress(encoded.data(), &size, p.packed.data(), static_cast<uLong>(p.packed.size())) !=
            Z_OK ||
        size != p.encodedSize) {
        *reason = "the page's moment does not unpack";
        return false;
    }
    return decodeMoment(encoded, moment, reason);
}

} // namespace

void rollbackPageBegins(bool previousJoinedBacklog, const PageKey& previous) {
    RollbackMemory& r = g_rollback;
    if (r.onScreen.page != previous) r.onScreen = PageMoment{}; // the page was put back by a load
    // A page joins without a moment only after a forget; until a page with one joins, the
    // backlog's pages need no entries at all.
    if (previousJoinedBacklog && (!r.pages.empty() || !r.onScreen.packed.empty())) {
        r.onScreen.textCrc = crcOf(g_comfortsMemory.history.back());
        r.pages.push_back(std::move(r.onScreen));
    }
    const std::size_t history = g_comfortsMemory.history.size();
    if (r.pages.size() > history)
        r.pages.erase(r.pages.begin(),
                      r.pages.begin() + static_cast<std::ptrdiff_t>(r.pages.size() - history));
    r.onScreen = takeMoment();
}

void forgetRollback() {
    g_rollback.pages.clear();
    g_rollback.onScreen = PageMoment{};
}

bool canReturnToPage(int page) {
    return momentIndex(page) >= 0;
}

bool returnToPage(int page, std::string* reason) {
    std::string why;
    const int i = momentIndex(page);
    Moment moment{};
    if (i < 0) {
        why = "that page has no moment to return to";
    } else if (unpack(g_rollback.pages[static_cast<std::size_t>(i)], &moment, &why) &&
               restoreMoment(moment, &why)) {
        ComfortsMemory& c = g_comfortsMemory;
        PageMoment chosen = std::move(g_rollback.pages[static_cast<std::size_t>(i)]);
        g_rollback.pages.resize(static_cast<std::size_t>(i));
        c.history.resize(static_cast<std::size_t>(page));
        // The page on screen as followPage left it the frame the page began.
        c.shownPage = pageKey();
        const int n = std::clamp(g_script.revealPos, 0, kPageBufferSize);
        c.shown.assign(g_page.begin(), g_page.begin() + n);
        g_comforts.backlogTop = chosen.backlogTop;
        g_comforts.waitFrames = chosen.waitFrames;
        g_rollback.onScreen = std::move(chosen);
        return true;
    }
    if (reason) *reason = why;
    return false;
}

std::size_t rollbackBytes() {
    std::size_t bytes = g_rollback.onScreen.packed.capacity();
    for (const PageMoment& p : g_rollback.pages)
        bytes += p.packed.capacity() + sizeof p;
    return bytes;
}
