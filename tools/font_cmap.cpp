// The font subsetter's character map: the glyphs the wanted characters map to, and the maps
// written again with those characters only.
#include "tools/font_tables.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

// A code point and the glyph a map gives it.
using Mapping = std::pair<char32_t, std::uint32_t>;

// The maps a renderer picks for text: FreeType, SDL_ttf and HarfBuzz look only for these.
bool isUnicodeMap(std::uint32_t platform, std::uint32_t encoding) {
    return platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
}

// A map's length as its header gives it; 0 for a format that has none.
std::size_t declaredLength(FontBytes map) {
    switch (map.u16(0)) {
    case 0:
    case 2:
    case 4:
    case 6:
        return map.u16(2);
    case 8:
    case 10:
    case 12:
    case 13:
        return map.u32(4);
    case 14:
        return map.u32(2);
    default:
        return 0;
    }
}

// Format 4, segments of 16-bit codes. Segments must be ascending and apart: out of order,
// renderers disagree on which one a code falls in.
bool lookUp4(FontBytes map, std::span<const char32_t> wanted, std::vector<Mapping>& found) {
    const std::uint32_t segX2 = map.u16(6);
    if (segX2 == 0 || segX2 % 2 != 0) return false;
    const std::size_t ends = 14, starts = 16 + segX2, deltas = 16 + 2 * std::size_t{segX2},
                      ranges = 16 + 3 * std::size_t{segX2};
    const std::uint32_t segments = segX2 / 2;
    map.piece(0, 16 + 4 * std::size_t{segX2});
    std::uint32_t previousEnd = 0;
    for (std::uint32_t s = 0; s < segments && !*map.outside; ++s) {
        const std::uint32_t start = map.u16(starts + 2 * s), end = map.u16(ends + 2 * s);
        if (start > end || (s > 0 && start <= previousEnd)) return false;
        previousEnd = end;
    }
    if (*map.outside) return false;
    for (const char32_t cp : wanted) {
        if (cp > 0xFFFF) break;
        std::uint32_t lo = 0, hi = segments; // the first segment that ends at or after cp
        while (lo < hi) {
            const std::uint32_t mid = (lo + hi) / 2;
            if (map.u16(ends + 2 * mid) < cp)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == segments || map.u16(starts + 2 * lo) > cp) continue;
        const std::uint32_t start = map.u16(starts + 2 * lo), delta = map.u16(deltas + 2 * lo),
                            rangeOffset = map.u16(ranges + 2 * lo);
        std::uint32_t glyph = 0;
        if (rangeOffset == 0) {
            glyph = (cp + delta) & 0xFFFF;
        } else if (rangeOffset != 0xFFFF) { // FreeType reads 0xFFFF as "no glyph"
            glyph = map.u16(ranges + 2 * lo + rangeOffset + 2 * (cp - start));
            if (glyph != 0) glyph = (glyph + delta) & 0xFFFF;
        }
        if (*map.outside) return false;
        if (glyph != 0) found.emplace_back(cp, glyph);
    }
    return true;
}

// Formats 12 (a run of glyphs for a run of code points) and 13 (one glyph for the run).
bool lookUp12(FontBytes map, bool oneGlyph, std::span<const char32_t> wanted,
              std::vector<Mapping>& found) {
    const std::uint64_t groups = map.u32(12);
    if (*map.outside || map.size() < 16 || groups > (map.size() - 16) / 12) return false;
    for (std::uint64_t g = 0; g < groups; ++g) {
        const std::uint32_t start = map.u32(16 + 12 * g), end = map.u32(20 + 12 * g);
        if (start > end || (g > 0 && start <= map.u32(8 + 12 * g))) return false;
    }
    for (const char32_t cp : wanted) {
        std::uint64_t lo = 0, hi = groups;
        while (lo < hi) {
            const std::uint64_t mid = (lo + hi) / 2;
            if (map.u32(20 + 12 * mid) < cp)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (lo == groups || map.u32(16 + 12 * lo) > cp) continue;
        const std::uint64_t first = map.u32(24 + 12 * lo);
        const std::uint64_t glyph = oneGlyph ? first : first + (cp - map.u32(16 + 12 * lo));
        if (glyph != 0 && glyph <= 0xFFFF)
            found.emplace_back(cp, static_cast<std::uint32_t>(glyph));
    }
    return !*map.outside;
}

bool lookUpSmall(FontBytes map, std::span<const char32_t> wanted, std::vector<Mapping>& found) {
    const bool byteMap = map.u16(0) == 0;
    const std::uint32_t first = byteMap ? 0 : map.u16(6);
    const std::uint32_t count = byteMap ? 256 : map.u16(8);
    map.piece(0, byteMap ? 262 : 10 + 2 * std::size_t{count}); // all there, as FreeType checks
    for (const char32_t cp : wanted) {
        if (cp < first || cp - first >= count) continue;
        const std::uint32_t glyph =
            byteMap ? map.u8(6 + cp) : map.u16(10 + 2 * std::size_t{cp - first});
        if (glyph != 0) found.emplace_back(cp, glyph);
    }
    return !*map.outside;
}

// Format 14: the glyphs of variation sequences whose base and selector are both wanted.
bool lookUpVariations(FontBytes map, std::span<const char32_t> wanted,
                      std::vector<Mapping>& found) {
    const auto isWanted = [&](char32_t cp) {
        return std::binary_search(wanted.begin(), wanted.end(), cp);
    };
    const std::uint64_t selectors = map.u32(6);
    if (*map.outside || map.size() < 10 || selectors > (map.size() - 10) / 11) return false;
    for (std::uint64_t s = 0; s < selectors; ++s) {
        if (!isWanted(map.u24(10 + 11 * s))) continue;
        const std::uint32_t offset = map.u32(10 + 11 * s + 7);
        if (offset == 0) continue;
        const FontBytes list = map.from(offset);
        const std::uint64_t count = list.u32(0);
        if (*map.outside || list.size() < 4 || count > (list.size() - 4) / 5) return false;
        for (std::uint64_t m = 0; m < count; ++m)
            if (isWanted(list.u24(4 + 5 * m)) && list.u16(7 + 5 * m) != 0)
                found.emplace_back(list.u24(4 + 5 * m), list.u16(7 + 5 * m));
    }
    return !*map.outside;
}

std::vector<std::uint8_t> write4(std::uint32_t language, std::span<const Mapping> mappings) {
    struct Segment {
        std::uint32_t start, end, delta;
    };
    std::vector<Segment> segments;
    for (const auto& [cp, glyph] : mappings) {
        if (cp > 0xFFFF) break;
        const std::uint32_t delta = (glyph - cp) & 0xFFFF;
        if (!segments.empty() && segments.back().end + 1 == cp && segments.back().delta == delta)
            segments.back().end = cp;
        else
            segments.push_back({cp, cp, delta});
    }
    // The search stops at a last segment that reaches 0xFFFF.
    if (segments.empty() || segments.back().end != 0xFFFF) segments.push_back({0xFFFF, 0xFFFF, 1});
    const std::size_t n = segments.size();
    std::vector<std::uint8_t> out;
    if (16 + 8 * n > 0xFFFF) return out;
    std::uint32_t log = 0;
    while ((std::size_t{2} << log) <= n)
        ++log;
    put16(out, 4);
    put16(out, static_cast<std::uint32_t>(16 + 8 * n));
    put16(out, language);
    put16(out, static_cast<std::uint32_t>(2 * n));
    put16(out, 2u << log);
    put16(out, log);
    put16(out, static_cast<std::uint32_t>(2 * n - (2u << log)));
    for (const Segment& s : segments)
        put16(out, s.end);
    put16(out, 0);
    for (const Segment& s : segments)
        put16(out, s.start);
    for (const Segment& s : segments)
        put16(out, s.delta);
    for (std::size_t i = 0; i < n; ++i)
        put16(out, 0);
    return out;
}

std::vector<std::uint8_t> write12(std::uint32_t language, std::span<const Mapping> mappings) {
    struct Group {
        std::uint32_t start, end, glyph;
    };
    std::vector<Group> groups;
    for (const auto& [cp, glyph] : mappings) {
        if (!groups.empty() && groups.back().end + 1 == cp &&
            groups.back().glyph + (cp - groups.back().start) == glyph)
            groups.back().end = cp;
        else
            groups.push_back({cp, cp, glyph});
    }
    std::vector<std::uint8_t> out;
    put16(out, 12);
    put16(out, 0);
    put32(out, static_cast<std::uint32_t>(16 + 12 * groups.size()));
    put32(out, language);
    put32(out, static_cast<std::uint32_t>(groups.size()));
    for (const Group& g : groups) {
        put32(out, g.start);
        put32(out, g.end);
        put32(out, g.glyph);
    }
    return out;
}

bool failCmap(std::string& reason, const std::string& why) {
    reason = "the character map (cmap) " + why;
    return false;
}

} // namespace

bool cutCharacterMap(FontBytes cmap, std::span<const char32_t> wanted, std::vector<bool>& kept,
                     std::vector<std::uint8_t>& out, std::string& reason) {
    const std::uint32_t records = cmap.u16(2);
    cmap.piece(0, 4 + 8 * std::size_t{records});
    if (*cmap.outside) return failCmap(reason, "is cut short");
    // Records that share a map share its rewrite.
    std::vector<std::uint32_t> offsets;
    std::map<std::uint32_t, std::size_t> mapAt; // a map's place in `offsets`
    std::vector<bool> unicode;
    for (std::uint32_t r = 0; r < records; ++r) {
        const auto [at, isNew] = mapAt.emplace(cmap.u32(8 + 8 * r), offsets.size());
        if (isNew) {
            offsets.push_back(at->first);
            unicode.push_back(false);
        }
        if (isUnicodeMap(cmap.u16(4 + 8 * r), cmap.u16(6 + 8 * r))) unicode[at->second] = true;
    }
    if (std::find(unicode.begin(), unicode.end(), true) == unicode.end())
        return failCmap(reason, "has no Unicode map");

    std::vector<std::vector<std::uint8_t>> maps;
    for (std::size_t m = 0; m < offsets.size(); ++m) {
        const FontBytes rest = cmap.from(offsets[m]);
        const std::uint32_t format = rest.u16(0);
        std::size_t length = declaredLength(rest);
        if (*cmap.outside) return failCmap(reason, "points past its end");
        const std::string which = "map of format " + std::to_string(format);
        if (format > 14 || (format % 2 == 1 && format != 13))
            return failCmap(reason, "holds a " + which + ", which no renderer reads");
        // Many fonts give a format 4 map a length past the table's end; FreeType takes the
        // table's end instead, and so does the copy.
        if (format == 4) length = std::min(length, rest.size());
        if (length < 4 || length > rest.size())
            return failCmap(reason, "has a " + which + " of a length it cannot have");
        const FontBytes map = rest.piece(0, length);
        std::vector<Mapping> found;
        bool read = true;
        if (unicode[m]) {
            switch (format) {
            case 0:
            case 6:
                read = lookUpSmall(map, wanted, found);
                break;
            case 4:
                read = lookUp4(map, wanted, found);
                break;
            case 12:
            case 13:
                read = lookUp12(map, format == 13, wanted, found);
                break;
            case 14:
                read = lookUpVariations(map, wanted, found);
                break;
            default:
                return failCmap(reason, "has a Unicode " + which + ", which is not read here");
            }
        }
        if (!read || *cmap.outside) return failCmap(reason, "has a damaged " + which);
        for (const auto& [cp, glyph] : found)
            if (glyph < kept.size()) kept[glyph] = true;

        std::vector<std::uint8_t> rewritten;
        if (unicode[m] && (format == 4 || format == 12)) {
            // FreeType answers glyph 0 for a glyph the font does not have: so does the cut map.
            std::erase_if(found, [&](const Mapping& f) { return f.second >= kept.size(); });
            const std::uint32_t language = format == 4 ? map.u16(4) : map.u32(8);
            rewritten = format == 4 ? write4(language, found) : write12(language, found);
        }
        // A format 4 map with too many segments for its 16-bit length stays whole.
        if (rewritten.empty()) {
            rewritten.assign(map.data.begin(), map.data.end());
            if (format == 4) set16(rewritten, 2, static_cast<std::uint32_t>(length));
        }
        maps.push_back(std::move(rewritten));
    }

    out.clear();
    put16(out, 0);
    put16(out, records);
    std::vector<std::uint32_t> newOffsets;
    std::size_t at = 4 + 8 * std::size_t{records};
    for (const auto& map : maps) {
        newOffsets.push_back(static_cast<std::uint32_t>(at));
        at += map.size();
    }
    for (std::uint32_t r = 0; r < records; ++r) {
        put16(out, cmap.u16(4 + 8 * r));
        put16(out, cmap.u16(6 + 8 * r));
        put32(out, newOffsets[mapAt[cmap.u32(8 + 8 * r)]]);
    }
    for (const auto& map : maps)
        out.insert(out.end(), map.begin(), map.end());
    return true;
}
