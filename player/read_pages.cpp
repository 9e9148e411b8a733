// The pages read, remembered across runs in "ReadPages.sav" beside the checkpoint: magic
// "TVREADPG", the version, the count and the crc32 of the entries (each little-endian, 32 bits),
// then the entries, sorted and each once: the block (32 bits) and the page's hash (64 bits).
// A file that is not that exactly is the player's still: it is named on standard error once and
// never written over, and this run's reads are kept in memory only.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "base/message.h"
#include "base/places.h"
#include "base/replace_file.h"
#include "player/player.h"
#include "player/shared.h"
#include "script/script_state.h"

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'T', 'V', 'R', 'E', 'A', 'D', 'P', 'G'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kHeaderBytes = kMagic.size() + 4 + 4 + 4;
constexpr std::size_t kEntryBytes = 4 + 8;
// Far more pages than any game has; the bound keeps a damaged or foreign file from being read
// into memory whole.
constexpr std::size_t kMaxEntries = 250'000;
constexpr std::size_t kMaxFileBytes = kHeaderBytes + kMaxEntries * kEntryBytes;
constexpr const char* kFileName = "ReadPages.sav";

struct ReadPagesMemory {
    bool loaded = false;
    bool changed = false; // pages were read that the file does not hold
    bool fileKept = true; // false: the file on disk is not ours to replace
    std::set<PageKey> pages;
};
ReadPagesMemory g_read;

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// The entries of the file's bytes into *pages; else the reason.
bool decodeReadPages(std::span<const std::uint8_t> b, std::set<PageKey>* pages,
                     std::string* reason) {
    const std::size_t head = std::min(b.size(), kMagic.size());
    if (!std::equal(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(head), kMagic.begin())) {
        *reason = "it is another kind of file";
        return false;
    }
    if (b.size() < kHeaderBytes) {
        *reason = b.empty() ? "it is empty" : "it is cut short";
        return false;
    }
    const std::uint32_t version = le32(b, 8);
    if (version > kVersion) {
        *reason = "it is of a newer version (" + std::to_string(version) + ")";
        return false;
    }
    if (version == 0) {
        *reason = "its version is unknown";
        return false;
    }
    const std::uint32_t count = le32(b, 12);
    if (count > kMaxEntries) {
        *reason = "it holds more pages than a game has";
        return false;
    }
    if (b.size() != kHeaderBytes + std::size_t{count} * kEntryBytes) {
        *reason = b.size() < kHeaderBytes + std::size_t{count} * kEntryBytes
                      ? "it is cut short"
                      : "it has bytes after its end";
        return false;
    }
    const std::span<const std::uint8_t> entries = b.subspan(kHeaderBytes);
    if (::crc32(0L, entries.data(), static_cast<uInt>(entries.size())) != le32(b, 16)) {
        *reason = "it fails its checksum";
        return false;
    }
    std::set<PageKey> read;
    PageKey before;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = i * kEntryBytes;
        PageKey key;
        key.block = static_cast<std::int32_t>(le32(entries, at));
        key.hash = le32(entries, at + 4) | std::uint64_t{le32(entries, at + 8)} << 32;
        if (key.block < 0 || key.block >= kBlockCount || (i > 0 && !(before < key))) {
            *reason = "its page " + std::to_string(i + 1) + " is out of place";
            return false;
        }
        read.insert(read.end(), key);
        before = key;
    }
    *pages = std::move(read);
    return true;
}

std::vector<std::uint8_t> encodeReadPages(const std::set<PageKey>& pages) {
    std::vector<std::uint8_t> entries;
    entries.reserve(pages.size() * kEntryBytes);
    for (const PageKey& key : pages) {
        putLe32(entries, static_cast<std::uint32_t>(key.block));
        putLe32(entries, static_cast<std::uint32_t>(key.hash));
        putLe32(entries, static_cast<std::uint32_t>(key.hash >> 32));
    }
    std::vector<std::uint8_t> out(kMagic.begin(), kMagic.end());
    putLe32(out, kVersion);
    putLe32(out, static_cast<std::uint32_t>(pages.size()));
    putLe32(out, static_cast<std::uint32_t>(
                     ::crc32(0L, entries.data(), static_cast<uInt>(entries.size()))));
    out.insert(out.end(), entries.begin(), entries.end());
    return out;
}

// The file's bytes, at most one more than the bound; false when it is there and cannot be read.
bool readWhole(const std::string& path, std::vector<std::uint8_t>* bytes, bool* missing,
               std::string* reason) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *missing = errno == ENOENT;
        *reason = std::string("it cannot be opened: ") + std::strerror(errno);
        return false;
    }
    bytes->resize(kMaxFileBytes + 1);
    const std::size_t n = std::fread(bytes->data(), 1, bytes->size(), f);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    bytes->resize(n);
    if (failed) {
        *reason = "it cannot be read";
        return false;
    }
    return true;
}

void load() {
    ReadPagesMemory& r = g_read;
    if (r.loaded) return;
    r.loaded = true;
    const std::string path = savePath(kFileName, SaveUse::Read);
    std::vector<std::uint8_t> bytes;
    bool missing = false;
    std::string reason;
    if (!readWhole(path, &bytes, &missing, &reason)) {
        if (missing) return;
    } else if (bytes.size() > kMaxFileBytes) {
        reason = "it is longer than a read pages file can be";
    } else if (decodeReadPages(bytes, &r.pages, &reason)) {
        return;
    }
    r.fileKept = false;
    reportProblem(std::string(kFileName) + " is left as it is, " + reason +
                  "; the pages read in this run are not kept");
}

} // namespace

bool pageWasRead(const PageKey& key) {
    load();
    return g_read.pages.count(key) != 0;
}

void markPageRead(const PageKey& key) {
    load();
    if (g_read.pages.size() >= kMaxEntries) return;
    if (g_read.pages.insert(key).second) g_read.changed = true;
}

void forgetReadPages() {
    g_read = ReadPagesMemory{};
}

void keepReadPages() {
    ReadPagesMemory& r = g_read;
    if (!r.loaded || !r.changed || !r.fileKept) return;
    // Tried once for what was read so far: a failure is not met again every frame.
    r.changed = false;
    const std::vector<std::uint8_t> bytes = encodeReadPages(r.pages);
    const std::string reason =
        replaceFile(savePath(kFileName, SaveUse::Write),
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    if (!reason.empty()) reportProblem(std::string(kFileName) + ": " + reason);
}
