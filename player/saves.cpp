// Saving and loading the moment: into slots, at the quit, and back at the start.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "base/files.h"
#include "base/message.h"
#include "base/scene_number.h"
#include "player/player.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"

SaveResult g_saveResult;

namespace {

struct PendingSave {
    bool wanted = false;
    int slot = 0;
    SaveRecord record;
};
PendingSave g_pendingSave;

// A load the game's init finishes (from the title, or before the first frame).
struct PendingLoad {
    bool wanted = false;
    SlotInfo slot;
};
PendingLoad g_pendingLoad;

// The page's first characters as the player reads them: the text without its tags, comments
// and line ends, up to kPreviewCharacters characters.
std::string preview() {
    std::string sjis;
    int characters = 0;
    const int end = kPageLimit;
    for (int i = 0; i < end && characters < kPreviewCharacters;) {
        const std::uint8_t c = g_page[static_cast<std::size_t>(i)];
        if (c >= 0x80 && i + 1 < end) {
            sjis += static_cast<char>(c);
            sjis += static_cast<char>(g_page[static_cast<std::size_t>(i + 1)]);
            i += 2;
            ++characters;
        } else if (c == '[') {
            while (i < end && g_page[static_cast<std::size_t>(i)] != ']')
                ++i;
            ++i;
        } else if (c == ';') {
            while (i < end && g_page[static_cast<std::size_t>(i)] != '\n')
                ++i;
        } else {
            if (c >= 0x20 && c < 0x7F) {
                sjis += static_cast<char>(c);
                ++characters;
            }
            ++i;
        }
    }
    return sjisToUtf8(sjis);
}

// Puts a read save back into the game scene; the init of the game has run.
bool apply(const SlotInfo& slot, std::string* reason, std::string* note) {
    const SaveRecord& r = slot.record;
    if (slot.state == SlotState::Ready) {
        if (!restoreMoment(r.moment, reason)) return false;
        putBackBacklog(r);
        // The backlog follows the page as it does at the start of every frame, so the load's
        // frame goes on as the frame after the save went on.
        followPage();
        if (note) note->clear();
        return true;
    }
    const std::optional<FoundPlace> found = findPlace(r.place);
    if (slot.state != SlotState::Edited || !found) {
        if (reason) *reason = "the save is of another game";
        return false;
    }
    if (!restoreMomentAt(r.moment, found->source, reason)) return false;
    putBackBacklog(r);
    // The page that was on screen is read again from its beginning.
    g_comfortsMemory.shown.clear();
    followPage();
    const std::string where = found->samePage
                                  ? std::string("the same page")
                                  : "the label *" + sjisToUtf8(r.place.label) + " above it";
    std::string said = "the scenario was edited since this save: the game goes on from " + where;
    reportProblem(said);
    if (note)
        *note = found->samePage ? "編集されたシナリオの同じページから"
                                : "編集されたシナリオの *" + sjisToUtf8(r.place.label) + " から";
    return true;
}

} // namespace

SaveRecord captureSave() {
    SaveRecord r;
    r.savedAt = static_cast<std::int64_t>(std::time(nullptr));
    r.preview = preview();
    r.place = currentPlace();
    r.moment = captureMoment();
    const ComfortsMemory& c = g_comfortsMemory;
    r.backlog.assign(c.history.begin(), c.history.end());
    r.shown = c.shown;
    return r;
}

void saveThisFrame(int slot) {
    g_pendingSave = {true, slot, captureSave()};
}

void finishSaveThisFrame() {
    if (!g_pendingSave.wanted) return;
    SaveRecord& r = g_pendingSave.record;
    r.thumbnail.width = kThumbnailWidth;
    r.thumbnail.height = kThumbnailHeight;
    r.thumbnail.argb.assign(static_cast<std::size_t>(kThumbnailWidth) * kThumbnailHeight, 0);
    if (!readFrameThumbnail(kThumbnailWidth, kThumbnailHeight, r.thumbnail.argb))
        r.thumbnail = {}; // a headless run's first frame, say: the save goes without a picture
    g_saveResult = {true, g_pendingSave.slot, writeSlot(g_pendingSave.slot, r)};
    if (!g_saveResult.failure.empty())
        reportProblem(slotFileName(g_pendingSave.slot) + ": " + g_saveResult.failure);
    g_pendingSave = {};
}

void putBackBacklog(const SaveRecord& record) {
    ComfortsMemory& c = g_comfortsMemory;
    // The moments of the pages left behind are of the game before the load.
    forgetRollback();
    c.history.assign(record.backlog.begin(), record.backlog.end());
    c.shown = record.shown;
    c.shownPage = pageKey();
}

bool loadSlot(int slot, std::string* reason, std::string* note) {
    SlotInfo info = readSlot(slot);
    switch (info.state) {
    case SlotState::Ready:
    case SlotState::Edited:
        break;
    case SlotState::Empty:
        if (reason) *reason = "the slot is empty";
        return false;
    default:
        if (reason) *reason = info.reason;
        return false;
    }
    if (inGame()) return apply(info, reason, note);
    // From the title: the game's init loads the game's pictures and sounds, then the moment.
    g_pendingLoad = {true, std::move(info)};
    g_frameNo = kSceneGameInit;
    if (note) note->clear();
    return true;
}

bool startAtSave(int slot, std::string* reason) {
    // The slot is judged against the scenario the game would play.
    loadScenarioBlocks();
    SlotInfo info = readSlot(slot);
    if (info.state == SlotState::Empty) {
        if (reason) *reason = slotFileName(slot) + ": there is no such save";
        return false;
    }
    if (info.state != SlotState::Ready && info.state != SlotState::Edited) {
        if (reason) *reason = slotFileName(slot) + ": " + info.reason;
        return false;
    }
    g_pendingLoad = {true, std::move(info)};
    g_frameNo = kSceneGameInit;
    return true;
}

bool comfortsLoadPending() {
    return g_pendingLoad.wanted;
}

void comfortsAfterGameInit() {
    if (!g_pendingLoad.wanted) return;
    const SlotInfo slot = std::move(g_pendingLoad.slot);
    g_pendingLoad = {};
    std::string reason, note;
    if (!apply(slot, &reason, &note))
        reportProblem("the save cannot be loaded: " + reason);
    else if (!note.empty())
        showNote(note); // where an edited game's save went on from
}

std::string writeQuitSave() {
    if (!g_comfortsMemory.enabled) return {};
    keepReadPages();
    if (!inGame()) return {};
    // A quit save the game cannot read is the player's still, as every other slot's file is.
    if (const SlotInfo held = readSlot(kQuitSlot); held.state == SlotState::Damaged ||
                                                   held.state == SlotState::Newer ||
                                                   held.state == SlotState::Foreign)
        return slotFileName(kQuitSlot) + " is left as it is (" + held.reason +
               "): no quit save was written";
    SaveRecord r = captureSave();
    // The last frame's picture; the game is over and nothing more is drawn.
    r.thumbnail.width = kThumbnailWidth;
    r.thumbnail.height = kThumbnailHeight;
    r.thumbnail.argb.assign(static_cast<std::size_t>(kThumbnailWidth) * kThumbnailHeight, 0);
    if (!readFrameThumbnail(kThumbnailWidth, kThumbnailHeight, r.thumbnail.argb)) r.thumbnail = {};
    return writeSlot(kQuitSlot, r);
}
