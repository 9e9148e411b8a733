// The font cut down to a game's characters: the face's directory, the glyphs to keep (followed
// through composites and substitutions), new glyf and loca, and the font written back with its
// checksums.
#include "tools/font_subset.h"

#include <algorithm>
#include <iterator>

#include "tools/font_tables.h"

namespace {

// A table's tag from its four letters.
constexpr std::uint32_t tagOf(const char* s) {
    return (std::uint32_t{static_cast<std::uint8_t>(s[0])} << 24) |
           (std::uint32_t{static_cast<std::uint8_t>(s[1])} << 16) |
           (std::uint32_t{static_cast<std::uint8_t>(s[2])} << 8) | static_cast<std::uint8_t>(s[3]);
}

constexpr std::uint32_t kTrueTypeVersion = 0x00010000;

// The text module fits the face to its grid by the advances of these two (see fitFontToCells):
// without their glyphs, the missing-glyph box would be measured and the text drawn at another
// size. Every cut keeps them.
constexpr char32_t kMeasuredCharacters[] = {U'M', U'\u3042'};

std::string tagName(std::uint32_t tag) {
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = static_cast<char>((tag >> shift) & 0xFF);
        name += c >= 0x20 && c < 0x7F ? c : '?';
    }
    while (name.size() > 1 && name.back() == ' ')
        name.pop_back();
    return name;
}

struct Table {
    std::uint32_t tag = 0;
    FontBytes bytes;
};

const Table* findTable(const std::vector<Table>& tables, std::uint32_t tag) {
    for (const Table& t : tables)
        if (t.tag == tag) return &t;
    return nullptr;
}

bool fail(std::string& reason, std::string why) {
    reason = std::move(why);
    return false;
}

// The face's tables, through its own directory or the collection's.
bool readDirectory(FontBytes file, int faceIndex, std::uint32_t& version,
                   std::vector<Table>& tables, std::string& reason) {
    if (file.size() < 12) return fail(reason, "the file is too short to be a font");
    std::size_t directory = 0;
    version = file.u32(0);
    if (version == tagOf("ttcf")) {
        const std::uint32_t faces = file.u32(8);
        if (faceIndex < 0 || static_cast<std::uint32_t>(faceIndex) >= faces)
            return fail(reason, "the collection has " + std::to_string(faces) +
                                    " faces, not a face " + std::to_string(faceIndex));
        directory = file.u32(12 + 4 * static_cast<std::size_t>(faceIndex));
        version = file.u32(directory);
        if (*file.outside) return fail(reason, "the collection's list of faces is cut short");
    } else if (faceIndex != 0) {
        return fail(reason, "the file holds one face, not a face " + std::to_string(faceIndex));
    }
    if (version == tagOf("OTTO"))
        return fail(reason, "the font has CFF outlines, not TrueType ones");
    if (version != kTrueTypeVersion && version != tagOf("true"))
        return fail(reason, "the file is not a TrueType font");

    const std::uint32_t count = file.u16(directory + 4);
    file.piece(directory + 12, 16 * std::size_t{count});
    if (*file.outside) return fail(reason, "the font's table directory is cut short");
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t record = directory + 12 + 16 * std::size_t{i};
        const std::uint32_t tag = file.u32(record);
        const FontBytes bytes = file.piece(file.u32(record + 8), file.u32(record + 12));
        if (*file.outside)
            return fail(reason, "the table " + tagName(tag) + " lies past the end of the file");
        if (findTable(tables, tag)) return fail(reason, "the font has two tables " + tagName(tag));
        tables.push_back({tag, bytes});
    }
    return true;
}

constexpr std::uint32_t kArgsAreWords = 0x0001, kScale = 0x0008, kMoreComponents = 0x0020,
                        kXYScale = 0x0040, kTwoByTwo = 0x0080;

// Where the glyphs' outlines lie, through loca.
struct Outlines {
    FontBytes glyf, loca;
    bool longOffsets = false;
    std::uint32_t glyphs = 0;
};

// Glyph g's outline, checked: inside glyf, and either empty or at least a header long.
bool outlineOf(const Outlines& o, std::uint32_t g, FontBytes& outline, std::string& reason) {
    const std::size_t start =
        o.longOffsets ? o.loca.u32(4 * std::size_t{g}) : 2 * o.loca.u16(2 * g);
    const std::size_t end =
        o.longOffsets ? o.loca.u32(4 * std::size_t{g} + 4) : 2 * o.loca.u16(2 * g + 2);
    const auto refuse = [&](const char* why) {
        return fail(reason, "the outline of glyph " + std::to_string(g) + why);
    };
    if (end < start) return refuse(" ends before it starts (loca)");
    if (end > o.glyf.size()) return refuse(" lies past the end of glyf");
    if (end > start && end - start < 10) return refuse(" is shorter than its header");
    outline = o.glyf.piece(start, end - start);
    return true;
}

// Keeps the components of every kept composite glyph, and theirs. `state` remembers the glyphs
// already followed, across calls, and the ones on the path followed now, to find a glyph that is
// made of itself.
bool keepComponents(const Outlines& o, std::vector<bool>& kept, std::vector<std::uint8_t>& state,
                    std::string& reason) {
    enum : std::uint8_t { kUnseen, kOnPath, kDone };
    struct Step {
        std::uint32_t glyph;
        FontBytes outline;
        std::size_t next; // the next component's record; 0 when there is none
    };
    std::vector<Step> path;
    const auto enter = [&](std::uint32_t g) {
        FontBytes outline;
        if (!outlineOf(o, g, outline, reason)) return false;
        const bool composite = outline.size() >= 10 && (outline.u16(0) & 0x8000) != 0;
        state[g] = kOnPath;
        path.push_back({g, outline, composite ? std::size_t{10} : 0});
        return true;
    };
    for (std::uint32_t root = 0; root < o.glyphs; ++root) {
        if (!kept[root] || state[root] != kUnseen) continue;
        if (!enter(root)) return false;
        while (!path.empty()) {
            Step& step = path.back();
            if (step.next == 0) {
                state[step.glyph] = kDone;
                path.pop_back();
                continue;
            }
            const std::uint32_t flags = step.outline.u16(step.next);
            const std::uint32_t component = step.outline.u16(step.next + 2);
            const std::size_t size = 4 + ((flags & kArgsAreWords) ? 4 : 2) +
                                     ((flags & kScale)      ? 2
                                      : (flags & kXYScale)  ? 4
                                      : (flags & kTwoByTwo) ? 8
                                                            : 0);
            step.outline.piece(step.next, size);
            const auto refuse = [&](const std::string& why) {
                return fail(reason, "glyph " + std::to_string(step.glyph) + why);
            };
            if (*step.outline.outside) return refuse("'s components run past its outline");
            step.next = (flags & kMoreComponents) ? step.next + size : 0;
            if (component >= o.glyphs)
                return refuse(" is made of glyph " + std::to_string(component) +
                              ", which the font does not have");
            if (state[component] == kOnPath)
                return refuse(" is made of itself (through glyph " + std::to_string(component) +
                              ")");
            kept[component] = true;
            if (state[component] == kUnseen && !enter(component)) return false; // `step` is stale
        }
    }
    return true;
}

std::uint32_t checksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k)
            word = (word << 8) | (i + k < bytes.size() ? bytes[i + k] : 0);
        sum += word;
    }
    return sum;
}

struct OutTable {
    std::uint32_t tag = 0;
    std::vector<std::uint8_t> bytes;
};

// The font file: the directory (binary-searchable, sorted by tag), the tables on 4-byte
// boundaries, and head's checksum adjustment over the whole.
std::vector<std::uint8_t> writeFont(std::uint32_t version, std::vector<OutTable>& tables) {
    std::sort(tables.begin(), tables.end(),
              [](const OutTable& a, const OutTable& b) { return a.tag < b.tag; });
    const std::size_t n = tables.size();
    std::uint32_t log = 0;
    while ((std::size_t{2} << log) <= n)
        ++log;
    std::vector<std::uint8_t> out;
    put32(out, version);
    put16(out, static_cast<std::uint32_t>(n));
    put16(out, 16u << log);
    put16(out, log);
    put16(out, static_cast<std::uint32_t>(16 * n - (16u << log)));
    std::size_t at = 12 + 16 * n, headAt = 0;
    for (const OutTable& t : tables) {
        put32(out, t.tag);
        put32(out, checksum(t.bytes));
        put32(out, static_cast<std::uint32_t>(at));
        put32(out, static_cast<std::uint32_t>(t.bytes.size()));
        if (t.tag == tagOf("head")) headAt = at;
        at += (t.bytes.size() + 3) & ~std::size_t{3};
    }
    for (const OutTable& t : tables) {
        out.insert(out.end(), t.bytes.begin(), t.bytes.end());
        out.resize((out.size() + 3) & ~std::size_t{3}, 0);
    }
    set32(out, headAt + 8, 0xB1B0AFBA - checksum(out));
    return out;
}

} // namespace

std::optional<std::vector<std::uint8_t>> subsetFont(std::span<const std::uint8_t> font,
                                                    int faceIndex,
                                                    std::span<const char32_t> codePoints,
                                                    std::string& reason) {
    reason.clear();
    bool outside = false;
    const FontBytes file{font, &outside};
    std::uint32_t version = 0;
    std::vector<Table> tables;
    if (!readDirectory(file, faceIndex, version, tables, reason)) return std::nullopt;

    const Table* glyf = findTable(tables, tagOf("glyf"));
    const Table* loca = findTable(tables, tagOf("loca"));
    const Table* head = findTable(tables, tagOf("head"));
    const Table* maxp = findTable(tables, tagOf("maxp"));
    const Table* cmap = findTable(tables, tagOf("cmap"));
    if (!glyf || !loca) {
        fail(reason, findTable(tables, tagOf("CFF ")) || findTable(tables, tagOf("CFF2"))
                         ? "the font has CFF outlines, not TrueType ones"
                         : "the font has no TrueType outlines (glyf and loca)");
        return std::nullopt;
    }
    for (const char* needed : {"head", "maxp", "cmap"})
        if (!findTable(tables, tagOf(needed))) {
            fail(reason, std::string("the font has no ") + needed + " table");
            return std::nullopt;
        }
    // Glyphs these tables draw could not be followed: better the whole font.
    for (const char* drawing : {"morx", "mort", "COLR"})
        if (findTable(tables, tagOf(drawing))) {
            fail(reason, std::string("the font draws glyphs through a ") + drawing +
                             " table, which is not followed here");
            return std::nullopt;
        }

    Outlines o{glyf->bytes, loca->bytes};
    const std::uint32_t locaFormat = head->bytes.u16(50);
    o.glyphs = maxp->bytes.u16(4);
    if (outside) {
        fail(reason, "the head or maxp table is cut short");
        return std::nullopt;
    }
    if (locaFormat > 1) {
        fail(reason, "head gives loca an unknown format " + std::to_string(locaFormat));
        return std::nullopt;
    }
    o.longOffsets = locaFormat == 1;
    if (o.glyphs == 0 || o.loca.size() / (o.longOffsets ? 4 : 2) < o.glyphs + std::size_t{1}) {
        fail(reason, "loca lists fewer glyphs than maxp counts");
        return std::nullopt;
    }

    std::vector<char32_t> wanted(codePoints.begin(), codePoints.end());
    wanted.insert(wanted.end(), std::begin(kMeasuredCharacters), std::end(kMeasuredCharacters));
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    std::vector<bool> kept(o.glyphs, false);
    kept[0] = true; // the missing-glyph box
    std::vector<std::uint8_t> newCmap;
    if (!cutCharacterMap(cmap->bytes, wanted, kept, newCmap, reason)) return std::nullopt;

    // Substitutions may bring in composites, and composites glyphs with substitutes.
    const Table* gsub = findTable(tables, tagOf("GSUB"));
    std::vector<std::uint8_t> state(o.glyphs, 0);
    for (bool added = true; added;) {
        if (!keepComponents(o, kept, state, reason)) return std::nullopt;
        added = false;
        if (gsub && !keepSubstitutes(gsub->bytes, kept, added, reason)) return std::nullopt;
    }

    // The kept outlines as they were, byte for byte. Short offsets only when every outline is
    // of even length, so that none needs padding.
    std::vector<std::uint8_t> newGlyf;
    std::vector<std::size_t> offsets;
    bool shortOffsets = true;
    for (std::uint32_t g = 0; g < o.glyphs; ++g) {
        offsets.push_back(newGlyf.size());
        if (!kept[g]) continue;
        FontBytes outline;
        if (!outlineOf(o, g, outline, reason)) return std::nullopt;
        newGlyf.insert(newGlyf.end(), outline.data.begin(), outline.data.end());
        shortOffsets = shortOffsets && outline.size() % 2 == 0;
    }
    offsets.push_back(newGlyf.size());
    shortOffsets = shortOffsets && newGlyf.size() <= 2 * std::size_t{0xFFFF};
    std::vector<std::uint8_t> newLoca;
    for (const std::size_t offset : offsets) {
        if (shortOffsets)
            put16(newLoca, static_cast<std::uint32_t>(offset / 2));
        else
            put32(newLoca, static_cast<std::uint32_t>(offset));
    }

    std::vector<OutTable> out;
    for (const Table& t : tables) {
        if (t.tag == tagOf("DSIG")) continue; // a signature of the whole font no longer holds
        OutTable& written = out.emplace_back(OutTable{t.tag, {}});
        if (t.tag == tagOf("glyf")) {
            written.bytes = std::move(newGlyf);
        } else if (t.tag == tagOf("loca")) {
            written.bytes = std::move(newLoca);
        } else if (t.tag == tagOf("cmap")) {
            written.bytes = std::move(newCmap);
        } else if (t.tag == tagOf("post")) {
            written.bytes = cutGlyphNames(t.bytes, kept);
        } else {
            written.bytes.assign(t.bytes.data.begin(), t.bytes.data.end());
            if (t.tag == tagOf("head")) {
                set32(written.bytes, 8, 0); // the checksum adjustment, summed over the new file
                set16(written.bytes, 50, shortOffsets ? 0 : 1);
            }
        }
    }
    std::size_t total = 12;
    for (const OutTable& t : out)
        total += 16 + t.bytes.size() + 3;
    if (total > 0xFFFFFFFFu) {
        fail(reason, "the cut-down font would be too large for a font file");
        return std::nullopt;
    }
    return writeFont(version, out);
}
