#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tools/font_subset.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t be16(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b.at(at)} << 8) | b.at(at + 1);
}
std::uint32_t be32(const Bytes& b, std::size_t at) {
    return (be16(b, at) << 16) | be16(b, at + 2);
}
void add16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v >> 8));
    b.push_back(static_cast<std::uint8_t>(v));
}
void add32(Bytes& b, std::uint32_t v) {
    add16(b, v >> 16);
    add16(b, v & 0xFFFF);
}
void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b.at(at) = static_cast<std::uint8_t>(v >> 8);
    b.at(at + 1) = static_cast<std::uint8_t>(v);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v >> 16);
    put16(b, at + 2, v & 0xFFFF);
}

// Where each table of a font file lies.
std::map<std::string, std::pair<std::size_t, std::size_t>> tablesOf(const Bytes& font) {
    std::map<std::string, std::pair<std::size_t, std::size_t>> tables;
    for (std::uint32_t i = 0; i < be16(font, 4); ++i) {
        const std::size_t record = 12 + 16 * i;
        tables[std::string(font.begin() + record, font.begin() + record + 4)] = {
            be32(font, record + 8), be32(font, record + 12)};
    }
    return tables;
}

// The glyphs whose outlines a font holds.
std::vector<std::uint32_t> glyphsWithOutlines(const Bytes& font) {
    auto tables = tablesOf(font);
    const std::size_t head = tables["head"].first, loca = tables["loca"].first;
    const bool longOffsets = be16(font, head + 50) == 1;
    const std::uint32_t glyphs = be16(font, tables["maxp"].first + 4);
    const auto offset = [&](std::uint32_t g) {
        return longOffsets ? be32(font, loca + 4 * g) : 2 * be16(font, loca + 2 * g);
    };
    std::vector<std::uint32_t> kept;
    for (std::uint32_t g = 0; g < glyphs; ++g)
        if (offset(g + 1) > offset(g)) kept.push_back(g);
    return kept;
}

// A font file is whole when its words sum to the magic number, and each table to its checksum.
bool checksumsHold(const Bytes& font) {
    const auto sum = [&](std::size_t at, std::size_t length) {
        std::uint32_t s = 0;
        for (std::size_t i = 0; i < length; i += 4)
            for (std::size_t k = 0; k < 4; ++k)
                s += (i + k < length ? std::uint32_t{font.at(at + i + k)} : 0) << (24 - 8 * k);
        return s;
    };
    for (std::uint32_t i = 0; i < be16(font, 4); ++i) {
        const std::size_t record = 12 + 16 * i;
        Bytes table(font.begin() + be32(font, record + 8),
                    font.begin() + be32(font, record + 8) + be32(font, record + 12));
        std::uint32_t expected = be32(font, record + 4);
        if (std::string(font.begin() + record, font.begin() + record + 4) == "head")
            expected += be32(font, be32(font, record + 8) + 8); // summed as if it were 0
        if (sum(be32(font, record + 8), be32(font, record + 12)) != expected) return false;
        if (be32(font, record + 8) % 4 != 0) return false;
    }
    return sum(0, font.size()) == 0xB1B0AFBA;
}

std::optional<Bytes> subset(const Bytes& font, std::u32string_view chars, int face = 0) {
    std::string reason;
    auto out = subsetFont(font, face, std::span(chars.data(), chars.size()), reason);
    EXPECT_EQ(out.has_value(), reason.empty()) << reason;
    return out;
}

// A small font built here: glyph 0 the missing-glyph box, 1 'A', 2 'B' made of glyph 1, 3 'C',
// 4 what a substitution makes of 'A', 5 the ligature of "AC", 6 'D'.
struct SmallFont {
    Bytes bytes;
    std::map<std::string, std::size_t> at; // where each table starts
};

Bytes simpleGlyph() {
    Bytes g;
    for (int v : {1, 0, 0, 100, 100, 2, 0, 0}) // contours, bounds, end point of the contour
        add16(g, static_cast<std::uint32_t>(v));
    for (int v : {1, 1, 1}) // three points on the curve, coordinates as 16-bit deltas
        g.push_back(static_cast<std::uint8_t>(v));
    for (int v : {0, 100, 0, 0, 0, 100})
        add16(g, static_cast<std::uint32_t>(v));
    g.push_back(0); // to an even length
    return g;
}

Bytes compositeGlyph(std::uint32_t component) {
    Bytes g;
    for (std::uint32_t v : {0xFFFFu, 0u, 0u, 100u, 100u, 0x0003u, component, 0u, 0u})
        add16(g, v); // words for arguments, arguments as offsets, no more components
    return g;
}

SmallFont smallFont() {
    std::vector<Bytes> glyphs = {simpleGlyph(), simpleGlyph(), compositeGlyph(1), simpleGlyph(),
                                 simpleGlyph(), simpleGlyph(), simpleGlyph()};
    Bytes glyf, loca;
    for (const Bytes& g : glyphs) {
        add16(loca, static_cast<std::uint32_t>(glyf.size() / 2));
        glyf.insert(glyf.end(), g.begin(), g.end());
    }
    add16(loca, static_cast<std::uint32_t>(glyf.size() / 2));

    Bytes cmap;
    for (std::uint32_t v : {0u, 1u, 3u, 1u}) // one map, Windows Unicode BMP
        add16(cmap, v);
    add32(cmap, 12);
    // 'A' to 'C' are glyphs 1 to 3, 'D' glyph 6; the closing segment.
    for (std::uint32_t v : {4u,
                            40u,
                            0u,
                            6u,
                            4u,
                            1u,
                            2u,
                            0x43u,
                            0x44u,
                            0xFFFFu,
                            0u,
                            0x41u,
                            0x44u,
                            0xFFFFu,
                            (1u - 0x41u) & 0xFFFF,
                            (6u - 0x44u) & 0xFFFF,
                            1u,
                            0u,
                            0u,
                            0u})
        add16(cmap, v);

    Bytes gsub;
    // The header, no scripts or features, two lookups: 'A' becomes glyph 4; "AC" glyph 5.
    for (std::uint32_t v : {1u, 0u, 10u, 12u, 14u, 0u, 0u, 2u, 6u, 26u})
        add16(gsub, v);
    for (std::uint32_t v : {1u, 0u, 1u, 8u, 1u, 6u, 3u, 1u, 1u, 1u}) // single, delta 3
        add16(gsub, v);
    for (std::uint32_t v : {4u, 0u, 1u, 8u, 1u, 8u, 1u, 14u, 1u, 1u, 1u, 1u, 4u, 5u, 2u, 3u})
        add16(gsub, v); // ligature set of glyph 1: glyph 5 from 1 and 3
    Bytes head(54, 0);
    put32(head, 0, 0x00010000);
    put32(head, 12, 0x5F0F3CF5);
    put16(head, 18, 1000);
    Bytes maxp;
    add32(maxp, 0x00005000);
    add16(maxp, static_cast<std::uint32_t>(glyphs.size()));

    const std::vector<std::pair<std::string, Bytes>> tables = {{"GSUB", gsub}, {"cmap", cmap},
                                                               {"glyf", glyf}, {"head", head},
                                                               {"loca", loca}, {"maxp", maxp}};
    SmallFont font;
    add32(font.bytes, 0x00010000);
    for (std::uint32_t v : {6u, 64u, 2u, 32u})
        add16(font.bytes, v);
    std::size_t at = 12 + 16 * tables.size();
    for (const auto& [tag, bytes] : tables) {
        font.bytes.insert(font.bytes.end(), tag.begin(), tag.end());
        add32(font.bytes, 0);
        add32(font.bytes, static_cast<std::uint32_t>(at));
        add32(font.bytes, static_cast<std::uint32_t>(bytes.size()));
        font.at[tag] = at;
        at += (bytes.size() + 3) & ~std::size_t{3};
    }
    for (const auto& [tag, bytes] : tables) {
        font.bytes.insert(font.bytes.end(), bytes.begin(), bytes.end());
        font.bytes.resize((font.bytes.size() + 3) & ~std::size_t{3}, 0);
    }
    return font;
}

TEST(FontSubset, KeepsComponentsSubstitutesAndLigaturesOfTheWantedGlyphs) {
    const SmallFont font = smallFont();
    const struct {
        const char* what;
        std::u32string chars;
        std::vector<std::uint32_t> outlines;
    } cases[] = {
        {"nothing", U"", {0}},          // the missing-glyph box is always kept
        {"A", U"A", {0, 1, 4}},         // with what a substitution makes of it
        {"B", U"B", {0, 1, 2, 4}},      // with its component, and that one's substitute
        {"AC", U"AC", {0, 1, 3, 4, 5}}, // the ligature once all its parts are there
        {"D", U"D\U0001F600", {0, 6}},  // a character the font lacks keeps nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto out = subset(font.bytes, c.chars);
        ASSERT_TRUE(out);
        EXPECT_EQ(glyphsWithOutlines(*out), c.outlines);
        EXPECT_TRUE(checksumsHold(*out));
        EXPECT_EQ(be16(*out, tablesOf(*out)["head"].first + 50), 0u) << "short loca";
        // The same characters again change nothing.
        EXPECT_EQ(subset(*out, c.chars), out);
    }
}

TEST(FontSubset, TakesTheFaceOfACollection) {
    const SmallFont font = smallFont();
    // Two faces over the same tables, whose offsets count from the collection's start.
    Bytes ttc;
    for (std::uint32_t v : {0x74746366u, 0x00010000u, 2u, 20u, 20u})
        add32(ttc, v);
    ttc.insert(ttc.end(), font.bytes.begin(), font.bytes.end());
    for (std::size_t t = 0; t < 6; ++t)
        put32(ttc, 20 + 12 + 16 * t + 8, be32(ttc, 20 + 12 + 16 * t + 8) + 20);
    EXPECT_EQ(subset(ttc, U"B", 1), subset(font.bytes, U"B"));
}

TEST(FontSubset, RefusesWhatItCannotCutWithAReason) {
    const SmallFont font = smallFont();
    const std::size_t glyf = font.at.at("glyf"), loca = font.at.at("loca"),
                      cmap = font.at.at("cmap"), gsub = font.at.at("GSUB");
    const std::size_t glyphLength = simpleGlyph().size();
    const struct {
        const char* what;
        std::function<void(Bytes&)> damage;
        int face;
        const char* reason;
    } cases[] = {
        {"cut to a header", [](Bytes& f) { f.resize(8); }, 0, "too short"},
        {"cut in half", [](Bytes& f) { f.resize(f.size() / 2); }, 0, "past the end of the file"},
        {"a table offset past the end", [](Bytes& f) { put32(f, 12 + 8, 0xFFFFFFF0); }, 0,
         "past the end of the file"},
        {"the directory cut short", [](Bytes& f) { put16(f, 4, 300); }, 0, "directory"},
        {"CFF outlines", [](Bytes& f) { put32(f, 0, 0x4F54544F); }, 0, "CFF"},
        {"no such face", [](Bytes&) {}, 1, "one face"},
        {"'A' past the end of glyf", [&](Bytes& f) { put16(f, loca + 4, 0x7FFF); }, 0,
         "past the end of glyf"},
        {"loca running backwards", [&](Bytes& f) { put16(f, loca + 4, 0); }, 0,
         "ends before it starts"},
        {"an outline shorter than its header",
         [&](Bytes& f) { put16(f, loca + 4, static_cast<std::uint32_t>(glyphLength / 2 + 2)); }, 0,
         "shorter than its header"},
        {"a composite made of itself", [&](Bytes& f) { put16(f, glyf + 2 * glyphLength + 12, 2); },
         0, "made of itself"},
        {"a composite of a glyph not there",
         [&](Bytes& f) { put16(f, glyf + 2 * glyphLength + 12, 7); }, 0, "does not have"},
        {"a composite whose record runs out",
         [&](Bytes& f) { put16(f, glyf + 2 * glyphLength + 10, 0x0023); }, 0,
         "run past its outline"},
        {"an unknown loca format", [&](Bytes& f) { put16(f, font.at.at("head") + 50, 7); }, 0,
         "loca"},
        {"a character map past the end", [&](Bytes& f) { put32(f, cmap + 8, 0x10000); }, 0, "cmap"},
        {"segments out of order", [&](Bytes& f) { put16(f, cmap + 12 + 14, 0x50); }, 0,
         "damaged map of format 4"},
        {"no Unicode map", [&](Bytes& f) { put16(f, cmap + 4, 1); }, 0, "no Unicode map"},
        {"a lookup past the substitution table", [&](Bytes& f) { put16(f, gsub + 16, 0x4000); }, 0,
         "GSUB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = font.bytes;
        c.damage(damaged);
        std::string reason;
        const char32_t chars[] = {U'A', U'B', U'C'};
        EXPECT_FALSE(subsetFont(damaged, c.face, chars, reason));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
}

// The engine's font, as it finds it.
std::pair<std::string, int> engineFontFile() {
    FcConfig* config = FcInitLoadConfigAndFonts();
    FcPattern* wanted = FcNameParse(reinterpret_cast<const FcChar8*>("IPAGothic"));
    FcConfigSubstitute(config, wanted, FcMatchPattern);
    FcDefaultSubstitute(wanted);
    FcResult result;
    FcPattern* match = FcFontMatch(config, wanted, &result);
    std::pair<std::string, int> found;
    FcChar8* file = nullptr;
    FcChar8* family = nullptr;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch &&
        std::strcmp(reinterpret_cast<const char*>(family), "IPAGothic") == 0 &&
        FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
        found.first = reinterpret_cast<const char*>(file);
        FcPatternGetInteger(match, FC_INDEX, 0, &found.second);
    }
    if (match) FcPatternDestroy(match);
    FcPatternDestroy(wanted);
    FcConfigDestroy(config);
    return found;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::u32string codePointsOf(const Bytes& utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint8_t b = utf8[i];
        const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t cp = n == 1 ? b : b & (0x3F >> (n - 1));
        for (int k = 1; k < n && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (utf8[i + k] & 0x3F);
        out += cp;
        i += n;
    }
    return out;
}

// The demo's characters, and a few of the interface. Not 'M', which the engine measures the face
// with: the cut keeps it whatever it is asked.
std::u32string demoCharacters() {
    std::u32string chars =
        codePointsOf(readFile(std::string(TOLVANE_SOURCE_DIR) + "/demo/scenario0.txt")) +
        codePointsOf(readFile(std::string(TOLVANE_SOURCE_DIR) + "/demo/end1.txt")) + U"自動";
    EXPECT_EQ(chars.find(U'M'), std::u32string::npos);
    std::erase_if(chars, [](char32_t c) { return c < 0x20; });
    std::sort(chars.begin(), chars.end());
    chars.erase(std::unique(chars.begin(), chars.end()), chars.end());
    return chars;
}

// A face opened from memory at the engine's size: 7 points, `step` a fifth of the vertical
// resolution, the horizontal one four-fifths of it; normal hinting and style.
TTF_Font* openAt(const Bytes& font, int index, int step) {
    return TTF_OpenFontIndexDPIRW(SDL_RWFromConstMem(font.data(), static_cast<int>(font.size())), 1,
                                  7, index, 4 * step, 5 * step);
}

// The step the engine fits the face to its 35-pixel lines and 28- and 14-pixel cells with.
int fittedStep(TTF_Font* font) {
    int minx, maxx, miny, maxy, wide = 0, narrow = 0;
    for (int step = 72; step >= 16; --step) {
        TTF_SetFontSizeDPI(font, 7, 4 * step, 5 * step);
        TTF_GlyphMetrics32(font, 0x3042, &minx, &maxx, &miny, &maxy, &wide);
        TTF_GlyphMetrics32(font, 'M', &minx, &maxx, &miny, &maxy, &narrow);
        if (TTF_FontHeight(font) <= 35 && wide <= 28 && narrow <= 14) return step;
    }
    return 0;
}

// The glyph as the engine rasterises it; empty when there is none.
Bytes rendered(TTF_Font* font, char32_t ch) {
    SDL_Surface* glyph = TTF_RenderGlyph32_Blended(font, ch, SDL_Color{255, 255, 255, 255});
    if (!glyph) return {};
    Bytes out;
    add32(out, static_cast<std::uint32_t>(glyph->w));
    add32(out, static_cast<std::uint32_t>(glyph->h));
    add32(out, glyph->format->format);
    SDL_LockSurface(glyph);
    for (int y = 0; y < glyph->h; ++y) {
        const auto* row = static_cast<const std::uint8_t*>(glyph->pixels) + y * glyph->pitch;
        out.insert(out.end(), row, row + glyph->w * glyph->format->BytesPerPixel);
    }
    SDL_UnlockSurface(glyph);
    SDL_FreeSurface(glyph);
    return out;
}

TEST(FontSubset, TheEngineFontCutToTheDemoDrawsEveryKeptCharacterAsTheWholeOne) {
    const auto [path, index] = engineFontFile();
    ASSERT_FALSE(path.empty()) << "the IPAGothic font is needed for this test";
    const Bytes whole = readFile(path);
    const std::u32string chars = demoCharacters();
    std::string reason;
    const auto cut = subsetFont(whole, index, std::span(chars.data(), chars.size()), reason);
    ASSERT_TRUE(cut) << reason;
    std::printf("IPAGothic: %zu bytes whole, %zu bytes for the demo's %zu characters\n",
                whole.size(), cut->size(), chars.size());
    EXPECT_LT(cut->size(), whole.size() / 5);
    EXPECT_TRUE(checksumsHold(*cut));
    EXPECT_EQ(subset(*cut, chars), cut);

    ASSERT_EQ(TTF_Init(), 0);
    TTF_Font* full = openAt(whole, index, 72);
    TTF_Font* part = openAt(*cut, 0, 72);
    ASSERT_TRUE(full && part) << TTF_GetError();
    const int step = fittedStep(full);
    EXPECT_GT(step, 0);
    EXPECT_EQ(fittedStep(part), step);
    // At the grid's own scale, and larger as on a large screen.
    int visible = 0;
    for (const int s : {step, step * 8 / 5}) {
        TTF_SetFontSizeDPI(full, 7, 4 * s, 5 * s);
        TTF_SetFontSizeDPI(part, 7, 4 * s, 5 * s);
        EXPECT_EQ(TTF_FontHeight(part), TTF_FontHeight(full));
        EXPECT_EQ(TTF_FontAscent(part), TTF_FontAscent(full));
        for (const char32_t ch : chars) {
            if (ch == U' ' || ch == U'\u3000') continue;
            const Bytes expected = rendered(full, ch);
            ASSERT_EQ(rendered(part, ch), expected) << "U+" << std::hex << int(ch) << " at " << s;
            visible += expected.empty() ? 0 : 1;
        }
        // What the demo does not use is the missing-glyph box, as a character no face has.
        const Bytes box = rendered(full, U'\U0010FFFD');
        EXPECT_FALSE(box.empty());
        for (const char32_t ch : {U'漢', U'Z', U'龍'}) {
            ASSERT_EQ(chars.find(ch), std::u32string::npos);
            EXPECT_EQ(rendered(part, ch), box);
            EXPECT_FALSE(TTF_GlyphIsProvided32(part, ch));
        }
    }
    EXPECT_GT(visible, 600);
    TTF_CloseFont(part);
    TTF_CloseFont(full);
    TTF_Quit();
}

} // namespace
