// The save file: its format, its slots, and the places in the scenario it keeps.
#include "player/save_file.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>

#include "base/files.h"
#include "base/places.h"
#include "base/replace_file.h"
#include "player/byte_io.h"
#include "player/player.h"
#include "script/script.h"

using namespace byte_io;

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'T', 'V', 'S', 'A', 'V', 'E', '0', '1'};
// magic, version, stored length, inflated length, crc32 of the inflated body
constexpr std::size_t kHeaderBytes = kMagic.size() + 4 * 4;
// The body inflated is never larger: 200 pages of backlog, the moment and the thumbnail fit it.
constexpr std::size_t kMaxBodyBytes = 2 * 1024 * 1024;
constexpr std::size_t kMaxPreviewBytes = 256;
constexpr std::size_t kMaxPageBytes = kPageBufferSize;

void text(Writer& w, std::span<const std::uint8_t> bytes) {
    w.u32(static_cast<std::uint32_t>(bytes.size()));
    w.bytes(bytes);
}
void text(Writer& w, const std::string& s) {
    text(w, std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()));
}

// A length-prefixed field of at most `limit` bytes; a longer length is a damaged file.
bool readText(Reader& r, std::size_t limit, std::vector<std::uint8_t>* out, const char* field) {
    const std::uint32_t n = r.u32(field);
    if (r.cutAt) return false;
    if (n > limit) return false;
    out->resize(n);
    r.bytes(*out, field);
    return !r.cutAt;
}

std::vector<std::uint8_t> body(const SaveRecord& record, std::size_t firstPage,
                               const Thumbnail& thumbnail) {
    Writer w;
    w.u64(static_cast<std::uint64_t>(record.savedAt));
    text(w, record.preview);
    w.i32(record.place.block);
    text(w, record.place.label);
    w.i32(record.place.lineOffset);
    w.i32(record.place.byte);
    w.i32(record.place.length);
    w.u64(record.place.pageHash);
    text(w, encodeMoment(record.moment));
    w.u32(static_cast<std::uint32_t>(record.backlog.size() - firstPage));
    for (std::size_t i = firstPage; i < record.backlog.size(); ++i)
        text(w, record.backlog[i]);
    text(w, record.shown);
    w.u32(static_cast<std::uint32_t>(thumbnail.width));
    w.u32(static_cast<std::uint32_t>(thumbnail.height));
    // 16 bits a pixel (5, 6, 5): a thumbnail's detail, in half the room.
    for (std::uint32_t p : thumbnail.argb) {
        const std::uint32_t rgb = ((p >> 8) & 0xF800u) | ((p >> 5) & 0x07E0u) | ((p >> 3) & 0x1Fu);
        w.u8(static_cast<std::uint8_t>(rgb));
        w.u8(static_cast<std::uint8_t>(rgb >> 8));
    }
    return std::move(w.out);
}

std::vector<std::uint8_t> pack(const std::vector<std::uint8_t>& raw) {
    uLongf stored = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> out(kHeaderBytes + stored);
    if (compress2(out.data() + kHeaderBytes, &stored, raw.data(), static_cast<uLong>(raw.size()),
                  6) != Z_OK)
        return {};
    out.resize(kHeaderBytes + stored);
    Writer h;
    h.bytes(kMagic);
    h.u32(kSaveVersion);
    h.u32(static_cast<std::uint32_t>(stored));
    h.u32(static_cast<std::uint32_t>(raw.size()));
    h.u32(crcOf(raw));
    std::copy(h.out.begin(), h.out.end(), out.begin());
    return out;
}

// Half the size, each pixel the mean of four.
Thumbnail halved(const Thumbnail& t) {
    Thumbnail h;
    h.width = t.width / 2;
    h.height = t.height / 2;
    h.argb.resize(static_cast<std::size_t>(h.width) * h.height);
    for (int y = 0; y < h.height; ++y)
        for (int x = 0; x < h.width; ++x) {
            std::uint32_t sum[3] = {};
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    const std::uint32_t p = t.argb[static_cast<std::size_t>(2 * y + dy) * t.width +
                                                   static_cast<std::size_t>(2 * x + dx)];
                    sum[0] += (p >> 16) & 0xFF;
                    sum[1] += (p >> 8) & 0xFF;
                    sum[2] += p & 0xFF;
                }
            h.argb[static_cast<std::size_t>(y) * h.width + static_cast<std::size_t>(x)] =
                0xFF000000u | (sum[0] / 4) << 16 | (sum[1] / 4) << 8 | sum[2] / 4;
        }
    return h;
}

enum class Verdict { Read, Damaged, Newer };

Verdict decode(std::span<const std::uint8_t> bytes, SaveRecord* record, std::string* reason) {
    auto refuse = [reason](Verdict v, std::string why) {
        if (reason) *reason = std::move(why);
        return v;
    };
    if (bytes.empty()) return refuse(Verdict::Damaged, "the file is empty");
    const std::size_t magicSeen = std::min(bytes.size(), kMagic.size());
    if (!std::equal(kMagic.begin(), kMagic.begin() + static_cast<std::ptrdiff_t>(magicSeen),
                    bytes.begin()))
        return refuse(Verdict::Damaged, "not a save of this engine (another kind of file)");
    if (bytes.size() < kHeaderBytes)
        return refuse(Verdict::Damaged, "cut short: " + std::to_string(bytes.size()) +
                                            " bytes, fewer than its " +
                                            std::to_string(kHeaderBytes) + "-byte header");
    if (bytes.size() > kMaxSaveBytes) return refuse(Verdict::Damaged, "longer than 64 KB");
    const std::uint32_t version = readLe32(bytes, 8);
    // A version far past this one is no version at all but bytes of a damaged file.
    if (version > kSaveVersion + 1000)
        return refuse(Verdict::Damaged,
                      "damaged: its version field holds " + std::to_string(version));
    if (version > kSaveVersion)
        return refuse(Verdict::Newer, "made by a newer version of the engine (format " +
                                          std::to_string(version) + "; this one reads " +
                                          std::to_string(kSaveVersion) + ")");
    if (version < kSaveVersion)
        return refuse(Verdict::Damaged, "of an unknown format version " + std::to_string(version));
    const std::uint32_t stored = readLe32(bytes, 12);
    const std::uint32_t rawLength = readLe32(bytes, 16);
    const std::size_t held = bytes.size() - kHeaderBytes;
    if (stored > held)
        return refuse(Verdict::Damaged, "cut short: holds " + std::to_string(held) + " of its " +
                                            std::to_string(stored) + " bytes");
    if (stored < held)
        return refuse(Verdict::Damaged,
                      "damaged: " + std::to_string(held - stored) + " bytes after its end");
    if (rawLength > kMaxBodyBytes)
        return refuse(Verdict::Damaged, "damaged: it claims " + std::to_string(rawLength) +
                                            " bytes inflated, over the bound");
    std::vector<std::uint8_t> raw(rawLength);
    uLongf got = rawLength;
    if (uncompress(raw.data(), &got, bytes.data() + kHeaderBytes, stored) != Z_OK ||
        got != rawLength)
        return refuse(Verdict::Damaged, "damaged: its body does not inflate");
    if (crcOf(raw) != readLe32(bytes, 20))
        return refuse(Verdict::Damaged, "damaged: its checksum does not match");

    SaveRecord r;
    Reader in{raw};
    r.savedAt = static_cast<std::int64_t>(in.u64("the time"));
    std::vector<std::uint8_t> field;
    auto bad = [&](const char* what) {
        return refuse(Verdict::Damaged, std::string("damaged: ") +
                                            (in.cutAt ? std::string("it ends inside ") + in.cutAt
                                                      : std::string(what)));
    };
    if (!readText(in, kMaxPreviewBytes, &field, "the preview")) return bad("a preview too long");
    r.preview.assign(field.begin(), field.end());
    if (!isValidUtf8(r.preview)) return bad("a preview that is not UTF-8");
    r.place.block = in.i32("the place");
    if (!readText(in, kMaxLabelName, &field, "the label")) return bad("a label too long");
    r.place.label.assign(field.begin(), field.end());
    r.place.lineOffset = in.i32("the place");
    r.place.byte = in.i32("the place");
    r.place.length = in.i32("the place");
    r.place.pageHash = in.u64("the place");
    if (in.cutAt) return bad("");
    if (r.place.block < 0 || r.place.block >= kBlockCount || r.place.lineOffset < 0 ||
        r.place.lineOffset > kBlockSize || r.place.byte < 0 || r.place.byte > kBlockSize ||
        r.place.length < 0 || r.place.length > kBlockSize)
        return bad("a place outside the scenario's blocks");
    if (!readText(in, kMaxMomentBytes, &field, "the moment")) return bad("a moment too long");
    std::string why;
    if (!decodeMoment(field, &r.moment, &why)) return bad(("its moment is " + why).c_str());
    const std::uint32_t pages = in.u32("the backlog");
    if (pages > static_cast<std::uint32_t>(kBacklogPages)) return bad("a backlog too long");
    r.backlog.resize(pages);
    for (std::vector<std::uint8_t>& page : r.backlog)
        if (!readText(in, kMaxPageBytes, &page, "the backlog"))
            return bad("a backlog page too long");
    if (!readText(in, kMaxPageBytes, &r.shown, "the page shown")) return bad("a page too long");
    const std::uint32_t w = in.u32("the thumbnail"), h = in.u32("the thumbnail");
    if (in.cutAt) return bad("");
    if (w > static_cast<std::uint32_t>(kThumbnailWidth) ||
        h > static_cast<std::uint32_t>(kThumbnailHeight) || (w == 0) != (h == 0))
        return bad("a thumbnail of a size no save has");
    r.thumbnail.width = static_cast<int>(w);
    r.thumbnail.height = static_cast<int>(h);
    r.thumbnail.argb.resize(static_cast<std::size_t>(w) * h);
    for (std::uint32_t& p : r.thumbnail.argb) {
        const std::uint32_t low = in.u8("the thumbnail");
        const std::uint32_t rgb = low | static_cast<std::uint32_t>(in.u8("the thumbnail")) << 8;
        const std::uint32_t red = (rgb >> 11) & 0x1F, green = (rgb >> 5) & 0x3F, blue = rgb & 0x1F;
        p = 0xFF000000u | ((red << 3) | (red >> 2)) << 16 | ((green << 2) | (green >> 4)) << 8 |
            ((blue << 3) | (blue >> 2));
    }
    if (in.cutAt) return bad("");
    if (in.at != raw.size())
        return bad((std::to_string(raw.size() - in.at) + " bytes after its last field").c_str());
    if (record) *record = std::move(r);
    return Verdict::Read;
}

// FNV-1a over the block's number and the bytes.
std::uint64_t hashOf(int block, std::int32_t begin, std::int32_t length) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](std::uint8_t b) {
        h ^= b;
        h *= 0x100000001b3ull;
    };
    mix(static_cast<std::uint8_t>(block));
    for (std::int32_t i = 0; i < length; ++i)
        mix(scenarioByte(begin + i));
    return h;
}

// A block's text as the loader left it.
std::int32_t blockStart(int block) {
    return block * kBlockSize;
}
std::int32_t blockEnd(int block) {
    return blockStart(block) +
           std::clamp(g_blockLength[static_cast<std::size_t>(block)], 0, kMaxScenarioText);
}

// The page's source runs to the end of the first tag that ends a page ([ct], [s], [jump],
// [reset]), or to the block's end; a double-byte character is passed whole, as the page
// builder passes it, so its second byte is never taken for a '['.
std::int32_t pageSourceEnd(std::int32_t begin, std::int32_t end) {
    constexpr std::int32_t kLongest = 2 * kPageBufferSize;
    end = std::min(end, begin + kLongest);
    std::int32_t i = begin;
    while (i < end) {
        const std::uint8_t c = scenarioByte(i);
        if (c >= 0x80) {
            i += 2;
        } else if (c == '[') {
            std::int32_t close = i + 1;
            while (close < end && scenarioByte(close) != ']')
                ++close;
            std::string name;
            for (std::int32_t k = i + 1; k < close && k < i + 8; ++k) {
                const auto b = static_cast<char>(scenarioByte(k));
                if (b == ' ') break;
                name += b;
            }
            i = std::min(close + 1, end);
            if (name == "ct" || name == "s" || name == "jump" || name == "reset") return i;
        } else {
            ++i;
        }
    }
    return std::min(i, end);
}

// The label a jump would name for the label line at `pos` (the '*'), as the label search reads
// it: to the mark '|', or to the line end less the CR before it.
std::string labelNameAt(std::int32_t pos, std::int32_t end) {
    std::int32_t j = pos + 1;
    while (j < end && scenarioByte(j) != '\n' && scenarioByte(j) != '|')
        ++j;
    const bool marked = j < end && scenarioByte(j) == '|';
    const std::int32_t nameEnd = marked ? j : std::max(pos + 1, j - 1);
    std::string name;
    for (std::int32_t k = pos + 1; k < nameEnd; ++k)
        name += static_cast<char>(scenarioByte(k));
    return name;
}

} // namespace

std::string slotFileName(int slot) {
    if (slot == kQuickSlot) return "QuickSave.sav";
    if (slot == kQuitSlot) return "QuitSave.sav";
    if (slot < 1 || slot > kSaveSlots) return {};
    char name[16];
    std::snprintf(name, sizeof name, "Save%02d.sav", slot);
    return name;
}

std::optional<int> parseSlotName(std::string_view text) {
    if (text == "quick") return kQuickSlot;
    if (text == "quit") return kQuitSlot;
    int slot = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), slot);
    if (error != std::errc() || end != text.data() + text.size() || slot < 1 || slot > kSaveSlots)
        return std::nullopt;
    return slot;
}

std::vector<std::uint8_t> encodeSave(const SaveRecord& record) {
    // The newest pages first: the oldest go until the whole fits, then the thumbnail's detail.
    Thumbnail thumbnail = record.thumbnail;
    if (thumbnail.argb.size() != static_cast<std::size_t>(thumbnail.width) * thumbnail.height ||
        thumbnail.width > kThumbnailWidth || thumbnail.height > kThumbnailHeight)
        thumbnail = {};
    std::size_t firstPage = record.backlog.size() > static_cast<std::size_t>(kBacklogPages)
                                ? record.backlog.size() - kBacklogPages
                                : 0;
    while (true) {
        std::vector<std::uint8_t> out = pack(body(record, firstPage, thumbnail));
        if (!out.empty() && out.size() <= kMaxSaveBytes) return out;
        const std::size_t pages = record.backlog.size() - firstPage;
        if (pages > 0)
            firstPage += std::max<std::size_t>(1, pages / 4);
        else if (thumbnail.width >= 2)
            thumbnail = halved(thumbnail);
        else if (thumbnail.width > 0)
            thumbnail = {};
        else
            return out; // cannot be: a moment and a page are far below the bound
    }
}

bool decodeSave(std::span<const std::uint8_t> bytes, SaveRecord* record, std::string* reason) {
    return decode(bytes, record, reason) == Verdict::Read;
}

std::string slotPath(int slot, bool forWriting) {
    return savePath(slotFileName(slot), forWriting ? SaveUse::Write : SaveUse::Read);
}

SlotInfo readSaveFile(const std::string& path) {
    SlotInfo info;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return info; // Empty
    std::string bytes, why;
    switch (readRegularFile(path, kMaxSaveBytes, &bytes, &why)) {
    case FileRead::Read:
        break;
    case FileRead::Unreadable:
        if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return info; // a link to nothing
        [[fallthrough]];
    case FileRead::Refused:
        info.state = SlotState::Damaged;
        info.reason = "the file " + why;
        return info;
    }
    const std::span<const std::uint8_t> view(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size());
    switch (decode(view, &info.record, &info.reason)) {
    case Verdict::Read:
        break;
    case Verdict::Newer:
        info.state = SlotState::Newer;
        return info;
    case Verdict::Damaged:
        info.state = SlotState::Damaged;
        return info;
    }
    if (info.record.moment.scenarioHash == scenarioIdentity()) {
        info.state = SlotState::Ready;
    } else if (findPlace(info.record.place)) {
        info.state = SlotState::Edited;
    } else {
        info.state = SlotState::Foreign;
        info.reason = "of another game: neither its page nor its label is in this scenario";
        info.record = {};
    }
    return info;
}

SlotInfo readSlot(int slot) {
    if (slotFileName(slot).empty()) return {};
    return readSaveFile(slotPath(slot, false));
}

std::string writeSlot(int slot, const SaveRecord& record) {
    const std::string name = slotFileName(slot);
    if (name.empty()) return "there is no slot " + std::to_string(slot);
    const std::string path = slotPath(slot, true);
    if (path.empty()) return name + ": there is no folder to keep saves in";
    const std::vector<std::uint8_t> bytes = encodeSave(record);
    return replaceFile(path,
                       std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// ---- Places ---------------------------------------------------------------------------------

PageSpan pageSourceSpan() {
    const int block = std::clamp(g_script.currentBlock, 0, kBlockCount - 1);
    const std::int32_t end = blockEnd(block);
    const std::int32_t begin = std::clamp(g_script.source, blockStart(block), end);
    // The builder passes the line ends before a page; so does the page's source.
    std::int32_t first = begin;
    while (first < end && scenarioByte(first) == '\n')
        ++first;
    return {first, std::max(0, pageSourceEnd(first, end) - first)};
}

std::uint64_t pageSourceHash() {
    const PageSpan span = pageSourceSpan();
    return hashOf(std::clamp(g_script.currentBlock, 0, kBlockCount - 1), span.begin, span.length);
}

SavePlace currentPlace() {
    SavePlace place;
    place.block = std::clamp(g_script.currentBlock, 0, kBlockCount - 1);
    const PageSpan span = pageSourceSpan();
    place.length = span.length;
    place.pageHash = hashOf(place.block, span.begin, span.length);
    const SourcePlace at = sourcePlaceOf(span.begin);
    place.byte = at.byte;
    // The last label line above the page's line.
    int labelLine = 1;
    for (int line = at.line - 1; line >= 1; --line) {
        const std::optional<std::string_view> text = sourceLine(place.block, line);
        if (text && !text->empty() && (*text)[0] == '*') {
            labelLine = line;
            place.label = labelNameAt(*positionOfLine(place.block, line), blockEnd(place.block));
            break;
        }
    }
    place.lineOffset = at.line - labelLine;
    return place;
}

std::optional<FoundPlace> findPlace(const SavePlace& place) {
    if (place.block < 0 || place.block >= kBlockCount) return std::nullopt;
    const std::int32_t start = blockStart(place.block), end = blockEnd(place.block);
    auto pageAt = [&](std::int32_t pos) {
        return pos >= start && pos + place.length <= end &&
               hashOf(place.block, pos, place.length) == place.pageHash;
    };
    // The line the label stands on now, or the block's first line.
    std::optional<int> labelLine;
    std::optional<std::int32_t> landing;
    if (place.label.empty()) {
        labelLine = 1;
    } else {
        const std::int32_t source = g_script.source; // the label search moves it
        if (findLabel(place.block, place.label)) {
            landing = g_script.source;
            labelLine = sourcePlaceOf(g_script.source).line - 1;
        }
        g_script.source = source;
    }
    if (labelLine) {
        if (const auto line = positionOfLine(place.block, *labelLine + place.lineOffset))
            if (pageAt(*line + place.byte)) return FoundPlace{*line + place.byte, true};
    }
    // Moved by the edit: the same bytes anywhere in the block, where a page can begin (a line's
    // start, or behind a tag).
    if (place.length > 0)
        for (std::int32_t pos = start; pos + place.length <= end; ++pos) {
            const std::uint8_t before = pos == start ? '\n' : scenarioByte(pos - 1);
            if ((before == '\n' || before == ']') && pageAt(pos)) return FoundPlace{pos, true};
        }
    if (landing) return FoundPlace{*landing, false};
    return std::nullopt;
}
