// The font subsetter's record reading, the substitutions it follows to keep their glyphs, and
// the glyph names it cuts down.
#include "tools/font_tables.h"

std::uint32_t FontBytes::u8(std::size_t at) const {
    if (at >= data.size()) {
        *outside = true;
        return 0;
    }
    return data[at];
}
std::uint32_t FontBytes::u16(std::size_t at) const {
    if (at >= data.size() || data.size() - at < 2) {
        *outside = true;
        return 0;
    }
    return (std::uint32_t{data[at]} << 8) | data[at + 1];
}
std::uint32_t FontBytes::u24(std::size_t at) const {
    if (at >= data.size() || data.size() - at < 3) {
        *outside = true;
        return 0;
    }
    return (std::uint32_t{data[at]} << 16) | (std::uint32_t{data[at + 1]} << 8) | data[at + 2];
}
std::uint32_t FontBytes::u32(std::size_t at) const {
    if (at >= data.size() || data.size() - at < 4) {
        *outside = true;
        return 0;
    }
    return (std::uint32_t{data[at]} << 24) | (std::uint32_t{data[at + 1]} << 16) |
           (std::uint32_t{data[at + 2]} << 8) | data[at + 3];
}
FontBytes FontBytes::from(std::size_t at) const {
    if (at > data.size()) {
        *outside = true;
        return {{}, outside};
    }
    return {data.subspan(at), outside};
}
FontBytes FontBytes::piece(std::size_t at, std::size_t length) const {
    if (at > data.size() || data.size() - at < length) {
        *outside = true;
        return {{}, outside};
    }
    return {data.subspan(at, length), outside};
}

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}
void set16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 8);
    out[at + 1] = static_cast<std::uint8_t>(v);
}
void set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    set16(out, at, v >> 16);
    set16(out, at + 2, v & 0xFFFF);
}

namespace {

// The glyphs kept so far, and whether a substitution added one.
struct Closure {
    std::vector<bool>& kept;
    bool added = false;

    std::uint32_t glyphs() const { return static_cast<std::uint32_t>(kept.size()); }
    bool has(std::uint32_t glyph) const { return glyph < kept.size() && kept[glyph]; }
    void keep(std::uint32_t glyph) {
        if (glyph < kept.size() && !kept[glyph]) {
            kept[glyph] = true;
            added = true;
        }
    }
};

// Calls each(glyph, coverage index) for the glyphs below `glyphs` a coverage table lists.
// Ranges out of order or overlapping count as damage: they could list a glyph many times over.
template <class Each> void forEachCovered(FontBytes coverage, std::uint32_t glyphs, Each&& each) {
    const std::uint32_t format = coverage.u16(0), count = coverage.u16(2);
    if (format == 1) {
        for (std::uint32_t i = 0; i < count && !*coverage.outside; ++i)
            each(coverage.u16(4 + 2 * i), i);
    } else if (format == 2) {
        std::int64_t previousEnd = -1;
        for (std::uint32_t r = 0; r < count && !*coverage.outside; ++r) {
            const std::uint32_t start = coverage.u16(4 + 6 * r), end = coverage.u16(6 + 6 * r),
                                first = coverage.u16(8 + 6 * r);
            if (start > end || start <= previousEnd) {
                *coverage.outside = true;
                return;
            }
            previousEnd = end;
            for (std::uint32_t g = start; g <= end && g < glyphs; ++g)
                each(g, first + (g - start));
        }
    }
}

// The glyphs a substitution subtable can put in place of kept glyphs. Contextual lookups
// (types 5 and 6) only call other lookups, which are followed on their own whatever the context.
void keepFrom(FontBytes sub, std::uint32_t type, Closure& c, bool inExtension) {
    if (type == 7) { // an extension: the subtable lies further, behind a 32-bit offset
        if (sub.u16(0) == 1 && !inExtension) keepFrom(sub.from(sub.u32(4)), sub.u16(2), c, true);
        return;
    }
    if (type == 0 || type > 8 || type == 5 || type == 6) return;
    // Every subtable read here starts with its format, its coverage and a count.
    const std::uint32_t format = sub.u16(0);
    const FontBytes coverage = sub.from(sub.u16(2));
    const std::uint32_t count = sub.u16(4);
    switch (type) {
    case 1:
        if (format == 1)
            forEachCovered(coverage, c.glyphs(), [&](std::uint32_t g, std::uint32_t) {
                if (c.has(g)) c.keep((g + count) & 0xFFFF); // count is the delta here
            });
        else if (format == 2)
            forEachCovered(coverage, c.glyphs(), [&](std::uint32_t g, std::uint32_t i) {
                if (c.has(g) && i < count) c.keep(sub.u16(6 + 2 * std::size_t{i}));
            });
        break;
    case 2: // a sequence for a glyph
    case 3: // alternates for a glyph
        if (format == 1)
            forEachCovered(coverage, c.glyphs(), [&](std::uint32_t g, std::uint32_t i) {
                if (!c.has(g) || i >= count) return;
                const FontBytes list = sub.from(sub.u16(6 + 2 * std::size_t{i}));
                const std::uint32_t n = list.u16(0);
                for (std::uint32_t k = 0; k < n && !*list.outside; ++k)
                    c.keep(list.u16(2 + 2 * k));
            });
        break;
    case 4: // ligatures, kept when all their components are
        if (format == 1)
            forEachCovered(coverage, c.glyphs(), [&](std::uint32_t g, std::uint32_t i) {
                if (!c.has(g) || i >= count) return;
                const FontBytes set = sub.from(sub.u16(6 + 2 * std::size_t{i}));
                const std::uint32_t n = set.u16(0);
                for (std::uint32_t k = 0; k < n && !*set.outside; ++k) {
                    const FontBytes ligature = set.from(set.u16(2 + 2 * k));
                    const std::uint32_t parts = ligature.u16(2);
                    bool all = true;
                    for (std::uint32_t p = 1; p < parts && all && !*set.outside; ++p)
                        all = c.has(ligature.u16(2 + 2 * p));
                    if (all) c.keep(ligature.u16(0));
                }
            });
        break;
    case 8: // reverse chaining: one substitute a glyph, whatever the context
        if (format == 1) {
            std::size_t at = 6 + 2 * std::size_t{count}; // past the backtrack coverages
            at += 2 + 2 * std::size_t{sub.u16(at)};      // past the lookahead ones
            const std::uint32_t substitutes = sub.u16(at);
            forEachCovered(coverage, c.glyphs(), [&](std::uint32_t g, std::uint32_t i) {
                if (c.has(g) && i < substitutes) c.keep(sub.u16(at + 2 + 2 * std::size_t{i}));
            });
        }
        break;
    default:
        break;
    }
}

} // namespace

bool keepSubstitutes(FontBytes gsub, std::vector<bool>& kept, bool& added, std::string& reason) {
    if (gsub.u16(0) != 1) {
        reason = "the substitution table (GSUB) is of a version not read here";
        return false;
    }
    Closure c{kept};
    const FontBytes lookups = gsub.from(gsub.u16(8));
    const std::uint32_t count = lookups.u16(0);
    for (std::uint32_t l = 0; l < count && !*gsub.outside; ++l) {
        const FontBytes lookup = lookups.from(lookups.u16(2 + 2 * l));
        const std::uint32_t type = lookup.u16(0), subtables = lookup.u16(4);
        for (std::uint32_t s = 0; s < subtables && !*gsub.outside; ++s)
            keepFrom(lookup.from(lookup.u16(6 + 2 * s)), type, c, false);
    }
    if (*gsub.outside) {
        reason = "the substitution table (GSUB) is damaged";
        return false;
    }
    added = c.added;
    return true;
}

std::vector<std::uint8_t> cutGlyphNames(FontBytes post, const std::vector<bool>& kept) {
    std::vector<std::uint8_t> whole(post.data.begin(), post.data.end());
    bool outside = false;
    const FontBytes p{post.data, &outside};
    const std::size_t glyphs = p.u16(32);
    if (p.u32(0) != 0x00020000 || outside || glyphs != kept.size()) return whole;
    std::vector<FontBytes> names;
    for (std::size_t at = 34 + 2 * glyphs; at < p.size();) {
        const std::size_t length = p.u8(at);
        names.push_back(p.piece(at + 1, length));
        at += 1 + length;
    }
    if (outside) return whole;

    // Names 0 to 257 are the standard Macintosh ones; the font's own follow as Pascal strings.
    std::vector<std::uint8_t> out(post.data.begin(), post.data.begin() + 34);
    std::vector<int> renumbered(names.size(), -1);
    std::vector<FontBytes> keptNames;
    for (std::size_t g = 0; g < glyphs; ++g) {
        std::uint32_t index = p.u16(34 + 2 * g);
        if (index >= 258 && index - 258 >= names.size()) return whole;
        if (index >= 258 && !kept[g]) {
            index = 0;
        } else if (index >= 258) {
            int& to = renumbered[index - 258];
            if (to < 0) {
                to = static_cast<int>(keptNames.size());
                keptNames.push_back(names[index - 258]);
            }
            index = 258 + static_cast<std::uint32_t>(to);
        }
        put16(out, index);
    }
    for (const FontBytes& name : keptNames) {
        out.push_back(static_cast<std::uint8_t>(name.size()));
        out.insert(out.end(), name.data.begin(), name.data.end());
    }
    return out;
}
