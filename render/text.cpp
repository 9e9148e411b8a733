// The text font: a Japanese gothic face found through fontconfig, rasterised by SDL_ttf into a
// glyph atlas, and counted Shift-JIS text laid out on a fixed grid of 14- and 28-pixel cells.
#include <SDL_ttf.h>
#ifndef __EMSCRIPTEN__
#include <fontconfig/fontconfig.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/message.h"
#include "render/frame_cache.h"
#include "render/render_sdl.h"

namespace {

constexpr int kCellHeight = 35;  // line height of the text grid
constexpr int kNarrowWidth = 14; // a single-byte character
constexpr int kWideWidth = 28;   // a double-byte character
constexpr int kAtlasSide = 1024;
constexpr int kAtlasColumns = kAtlasSide / kWideWidth;
// Enough for any one page (a page holds at most 1024 double-byte characters); the atlas starts
// at half of it, which holds the characters of a whole story of common size, and grows when full.
constexpr int kAtlasCells = kAtlasColumns * (kAtlasSide / kCellHeight);
constexpr int kAtlasFirstHeight = kAtlasSide / 2;
constexpr int kFacePoints = 7; // the face's size; its resolution gives the pixels

// The atlas as rasterised for the scale the frame is drawn at: at 1 the grid's own cells, at
// another scale cells as many screen pixels wide and high, the face rasterised that much larger,
// so that text is as sharp on a large screen as at 800 x 600.
struct AtlasGeometry {
    float scale = 1.0f;
    int cellW = kWideWidth; // a double-byte cell
    int cellH = kCellHeight;
    int width = kAtlasSide;
    int columns = kAtlasColumns;
    int fullHeight = kAtlasSide;
    int firstHeight = kAtlasFirstHeight;
};

AtlasGeometry geometryFor(float scale) {
    AtlasGeometry g;
    if (scale == 1.0f) return g;
    g.scale = scale;
    g.cellW = static_cast<int>(std::ceil(kWideWidth * scale));
    g.cellH = static_cast<int>(std::ceil(kCellHeight * scale));
    g.width = static_cast<int>(std::ceil(kAtlasSide * scale));
    g.columns = g.width / g.cellW;
    g.fullHeight = static_cast<int>(std::ceil(kAtlasSide * scale));
    g.firstHeight = g.fullHeight / 2;
    return g;
}

// A length of the game's grid in the frame's pixels.
int scaled(std::int64_t length, float scale) {
    return static_cast<int>(std::llround(static_cast<double>(length) * scale));
}

// The game's face first; where it is missing, any face that covers Japanese.
const std::vector<std::string> kDefaultPatterns = {"IPAGothic", ":lang=ja:spacing=mono",
                                                   ":lang=ja"};

struct FontFile {
    std::string path;
    int index = 0;
};

// The font and its glyph cache. Made by createTextFont, emptied by releaseTextFont.
struct TextFont {
    TTF_Font* font = nullptr;
    int glyphTop = 0;         // where a rasterised glyph's top lies inside its cell
    Texture* atlas = nullptr; // cells of kWideWidth x kCellHeight, kAtlasColumns to a row
    // The glyphs' coverage, a byte a pixel, kAtlasSide wide: what the atlas texture is made
    // from again when the device loses it.
    std::vector<std::uint8_t> coverage;
    int height = 0;    // the atlas's rows of pixels
    AtlasGeometry geo; // the scale the atlas is rasterised for
    int baseStep = 72; // the face's resolution step at the grid's own scale (see fitFontToCells)
    SDL_Texture* uploaded = nullptr; // the device texture that holds every cell
    int cellCapacity = 0;
    std::array<std::int16_t, 0x10000> cellOf{}; // by character code; -1 when not rasterised
    std::array<bool, kAtlasCells> blank{};      // the cell's glyph has no visible pixel
    int cellsUsed = 0;
    int rasterised = 0;
    std::uint64_t id = 0; // a new texture id at every creation
};

// The font is made when it is first needed, not when a scene asks for it: the title draws no
// text, and looking up and opening the face would only delay its first picture.
bool g_fontWanted = false;

TextFont g_text;
std::vector<std::string> g_patterns = kDefaultPatterns;
std::optional<FontFile> g_fontFile; // the lookup's result, kept for the run
bool g_lookedUp = false;

#ifdef __EMSCRIPTEN__
// A web page has no font library to ask: the page puts the game's font at a fixed place.
std::optional<FontFile> findFontFile() {
    std::FILE* file = std::fopen(kWebFontFile, "rb");
    if (!file) return std::nullopt;
    std::fclose(file);
    return FontFile{kWebFontFile, 0};
}
#else
std::optional<FontFile> findFontFile() {
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) return std::nullopt;
    std::optional<FontFile> found;
    for (const std::string& pattern : g_patterns) {
        FcPattern* wanted = FcNameParse(reinterpret_cast<const FcChar8*>(pattern.c_str()));
        if (!wanted) continue;
        FcConfigSubstitute(config, wanted, FcMatchPattern);
        FcDefaultSubstitute(wanted);
        FcResult result;
        FcPattern* match = FcFontMatch(config, wanted, &result);
        FcPatternDestroy(wanted);
        if (!match) continue;
        // fontconfig always answers with something; only a face that holds kana and kanji will
        // do, since a Latin face would draw every character of the page as a box.
        FcCharSet* chars = nullptr;
        FcChar8* file = nullptr;
        int index = 0;
        if (FcPatternGetCharSet(match, FC_CHARSET, 0, &chars) == FcResultMatch &&
            FcCharSetHasChar(chars, 0x3042) && FcCharSetHasChar(chars, 0x6F22) &&
            FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
            FcPatternGetInteger(match, FC_INDEX, 0, &index);
            found = FontFile{reinterpret_cast<const char*>(file), index};
        }
        FcPatternDestroy(match);
        if (found) break;
    }
    FcConfigDestroy(config);
    return found;
}
#endif

int advanceOf(TTF_Font* font, Uint32 ch) {
    int minx, maxx, miny, maxy, advance = 0;
    if (TTF_GlyphMetrics32(font, ch, &minx, &maxx, &miny, &maxy, &advance) != 0) return 0;
    return advance;
}

// The face at the grid's full line height, squeezed sideways into the cells: the glyphs are
// rasterised with a horizontal resolution four-fifths of the vertical one, so that a character
// a line high is 28 pixels wide (a narrow one 14), a tall gothic filling its 35-pixel line. A
// face whose lines are taller than the grid's is made smaller, in the same proportions, until
// they fit. At 7 points, 360 dpi is 35 pixels and 288 dpi 28. `fitted` receives the step
// (a fifth of the vertical resolution) that fits.
bool fitFontToCells(TTF_Font* font, int* fitted) {
    for (int step = 72; step >= 16; --step) {
        if (TTF_SetFontSizeDPI(font, kFacePoints, 4 * step, 5 * step) != 0) return false;
        *fitted = step;
        if (TTF_FontHeight(font) <= kCellHeight && advanceOf(font, 0x3042) <= kWideWidth &&
            advanceOf(font, 'M') <= kNarrowWidth)
            return true;
    }
    return false;
}

bool isLeadByte(std::uint8_t b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool isTrailByte(std::uint8_t b) {
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}

Uint32 firstCodePoint(const std::string& utf8) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t n = utf8.size();
    if (n == 0) return 0;
    if (s[0] < 0x80) return s[0];
    if ((s[0] & 0xE0) == 0xC0 && n >= 2) return ((s[0] & 0x1F) << 6) | (s[1] & 0x3F);
    if ((s[0] & 0xF0) == 0xE0 && n >= 3)
        return ((s[0] & 0x0F) << 12) | ((s[1] & 0x3F) << 6) | (s[2] & 0x3F);
    if ((s[0] & 0xF8) == 0xF0 && n >= 4)
        return ((s[0] & 0x07) << 18) | ((s[1] & 0x3F) << 12) | ((s[2] & 0x3F) << 6) | (s[3] & 0x3F);
    return 0;
}

// Rasterises one character (1 or 2 Shift-JIS bytes in `code`) into a free atlas cell.
// Sends the cells in rows [top, top + rows) of the coverage to the atlas texture, in white with
// the coverage as alpha.
void uploadAtlasRows(int top, int rows, int left = 0, int width = -1) {
    if (width < 0) width = g_text.geo.width;
    std::vector<std::uint32_t> argb(static_cast<std::size_t>(width) * rows);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x)
            argb[static_cast<std::size_t>(y) * width + x] =
                0x00FFFFFFu |
                std::uint32_t{g_text.coverage[static_cast<std::size_t>(top + y) * g_text.geo.width +
                                              left + x]}
                    << 24;
    const SDL_Rect rect{left, top, width, rows};
    SDL_UpdateTexture(g_text.atlas->sdl, &rect, argb.data(), width * 4);
}

// The atlas texture on the device holds every cell: made again after the device lost it.
bool atlasOnDevice() {
    if (!g_text.atlas) return false;
    if (!g_text.atlas->sdl) {
        // A new texture may sit where the lost one was: its address tells nothing.
        g_text.uploaded = nullptr;
        remakeBlankTexture(*g_text.atlas);
    }
    if (!g_text.atlas->sdl) return false;
    if (g_text.uploaded != g_text.atlas->sdl) {
        uploadAtlasRows(0, g_text.height);
        g_text.uploaded = g_text.atlas->sdl;
    }
    return true;
}

// A taller atlas, with the cells it held; false when it is as tall as it gets.
bool growAtlas() {
    const AtlasGeometry& g = g_text.geo;
    if (g_text.height >= g.fullHeight) return false;
    Texture* taller = createBlankTexture(g.width, g.fullHeight);
    if (!taller) return false;
    destroyTexture(g_text.atlas);
    g_text.atlas = taller;
    g_text.uploaded = nullptr;
    g_text.height = g.fullHeight;
    g_text.coverage.resize(static_cast<std::size_t>(g.width) * g.fullHeight, 0);
    g_text.cellCapacity = std::min(kAtlasCells, g.columns * (g.fullHeight / g.cellH));
    return true;
}

// Rasterises one character (1 or 2 Shift-JIS bytes in `code`) into a free atlas cell.
int rasteriseGlyph(std::uint16_t code, int cellWidth) {
    if (g_text.cellsUsed == g_text.cellCapacity && !growAtlas()) {
        // Full: start over; a page needs far fewer cells.
        g_text.cellOf.fill(-1);
        g_text.cellsUsed = 0;
    }
    const int cell = g_text.cellsUsed++;
    g_text.cellOf[code] = static_cast<std::int16_t>(cell);
    ++g_text.rasterised;

    const AtlasGeometry& g = g_text.geo;
    const SDL_Rect rect{(cell % g.columns) * g.cellW, (cell / g.columns) * g.cellH, g.cellW,
                        g.cellH};
    const auto at = [&](int x, int y) -> std::uint8_t& {
        return g_text.coverage[static_cast<std::size_t>(rect.y + y) * g.width + rect.x + x];
    };
    const int cellPixels = scaled(cellWidth, g.scale); // the character's own cell, 14 or 28 wide
    for (int y = 0; y < rect.h; ++y)
        for (int x = 0; x < rect.w; ++x)
            at(x, y) = 0;

    char bytes[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    const std::string_view sjis =
        code > 0xFF ? std::string_view(bytes, 2) : std::string_view(bytes + 1, 1);
    const Uint32 ch = firstCodePoint(sjisToUtf8(sjis));
    bool visible = false;
    SDL_Surface* glyph = nullptr;
    if (ch > 0x20 && ch != 0xFFFD && ch != 0x3000)
        glyph = TTF_RenderGlyph32_Blended(g_text.font, ch, SDL_Color{255, 255, 255, 255});
    if (glyph) {
        SDL_Surface* argb = SDL_ConvertSurfaceFormat(glyph, SDL_PIXELFORMAT_ARGB8888, 0);
        SDL_FreeSurface(glyph);
        if (argb) {
            // Centred in its own cell, whatever advance the font claims.
            const int left = (cellPixels - argb->w) / 2;
            SDL_LockSurface(argb);
            for (int y = 0; y < argb->h; ++y) {
                const int ty = g_text.glyphTop + y;
                if (ty < 0 || ty >= g.cellH) continue;
                const auto* row = reinterpret_cast<const std::uint32_t*>(
                    static_cast<const std::uint8_t*>(argb->pixels) +
                    static_cast<std::size_t>(y) * argb->pitch);
                for (int x = 0; x < argb->w; ++x) {
                    const int tx = left + x;
                    if (tx < 0 || tx >= std::min(cellPixels, g.cellW) || (row[x] >> 24) == 0)
                        continue;
                    at(tx, ty) = static_cast<std::uint8_t>(row[x] >> 24);
                    visible = true;
                }
            }
            SDL_UnlockSurface(argb);
            SDL_FreeSurface(argb);
        }
    }
    g_text.blank[cell] = !visible;
    if (g_text.atlas->sdl && g_text.uploaded == g_text.atlas->sdl)
        uploadAtlasRows(rect.y, rect.h, rect.x, rect.w);
    return cell;
}

// Draws the cell of one character at (x, y), cut to the rectangle. The pen position is wide so
// that no rectangle or count can make it wrap.
void drawGlyph(SDL_Renderer* renderer, std::uint16_t code, int width, std::int64_t x,
               std::int64_t y, const Rect& clip) {
    int cell = g_text.cellOf[code];
    if (cell < 0) cell = rasteriseGlyph(code, width);
    if (g_text.blank[cell]) return;
    // In the frame's pixels: the cell and the clip as the grid's lengths scaled.
    const AtlasGeometry& g = g_text.geo;
    const std::int64_t cellLeft = scaled(x, g.scale), cellTop = scaled(y, g.scale);
    const std::int64_t left = std::max<std::int64_t>(cellLeft, scaled(clip.left, g.scale));
    const std::int64_t right = std::min<std::int64_t>(
        {scaled(x + width, g.scale), scaled(clip.right, g.scale), cellLeft + g.cellW});
    const std::int64_t top = std::max<std::int64_t>(cellTop, scaled(clip.top, g.scale));
    const std::int64_t bottom = std::min<std::int64_t>(
        {scaled(y + kCellHeight, g.scale), scaled(clip.bottom, g.scale), cellTop + g.cellH});
    if (left >= right || top >= bottom) return;
    const int w = static_cast<int>(right - left), h = static_cast<int>(bottom - top);
    const SDL_Rect src{(cell % g.columns) * g.cellW + static_cast<int>(left - cellLeft),
                       (cell / g.columns) * g.cellH + static_cast<int>(top - cellTop), w, h};
    const SDL_Rect dst{static_cast<int>(left), static_cast<int>(top), w, h};
    SDL_RenderCopy(renderer, g_text.atlas->sdl, &src, &dst);
}

// Lays out counted Shift-JIS text on the grid from the rectangle's top-left, line by line until
// the rectangle's bottom: calls f(end, code, width, x, y) for each character that has a cell,
// `end` being the index just past its bytes. Zero bytes and other controls take no room; a
// stray lead byte leaves an empty narrow cell. The pen position is wide so that no rectangle or
// count can make it wrap.
template <class F> void forEachGlyph(const std::uint8_t* text, int count, const Rect& rect, F&& f) {
    std::int64_t x = rect.left, y = rect.top;
    for (int i = 0; i < count && y < rect.bottom;) {
        const std::uint8_t b = text[i];
        if (b == '\n') {
            x = rect.left;
            y += kCellHeight;
            ++i;
            continue;
        }
        if (b < 0x20 || b == 0x7F) {
            ++i;
            continue;
        }
        if (isLeadByte(b)) {
            if (i + 1 >= count) break; // the second byte was cut off
            if (!isTrailByte(text[i + 1])) {
                x += kNarrowWidth;
                ++i;
                continue;
            }
            f(i + 2, static_cast<std::uint16_t>((b << 8) | text[i + 1]), kWideWidth, x, y);
            x += kWideWidth;
            i += 2;
            continue;
        }
        f(i + 1, std::uint16_t{b}, kNarrowWidth, x, y);
        x += kNarrowWidth;
        ++i;
    }
}

} // namespace

bool textFontFile(std::string* path, int* faceIndex) {
    if (!g_lookedUp) {
        g_fontFile = findFontFile();
        g_lookedUp = true;
    }
    if (!g_fontFile) return false;
    *path = g_fontFile->path;
    *faceIndex = g_fontFile->index;
    return true;
}

namespace {
// An empty atlas for the scale, the face sized for it. False when no texture can be made.
bool startAtlas(float scale) {
    const AtlasGeometry g = geometryFor(scale);
    Texture* atlas = createBlankTexture(g.width, g.firstHeight);
    if (!atlas) return false;
    if (g_text.atlas) destroyTexture(g_text.atlas);
    g_text.atlas = atlas;
    g_text.geo = g;
    // The same face, at a resolution as much higher as the frame is drawn larger.
    const int step = scale == 1.0f ? g_text.baseStep : scaled(g_text.baseStep, scale);
    TTF_SetFontSizeDPI(g_text.font, kFacePoints, 4 * step, 5 * step);
    g_text.glyphTop = (g.cellH - TTF_FontHeight(g_text.font)) / 2;
    g_text.coverage.assign(static_cast<std::size_t>(g.width) * g.firstHeight, 0);
    g_text.height = g.firstHeight;
    g_text.cellCapacity = std::min(kAtlasCells, g.columns * (g.firstHeight / g.cellH));
    g_text.uploaded = g_text.atlas->sdl; // made blank, as the coverage is
    g_text.cellOf.fill(-1);
    g_text.cellsUsed = 0;
    return true;
}

// The atlas follows the scale the frame is drawn at.
void followFrameScale() {
    if (g_text.font && g_text.geo.scale != frameScale()) startAtlas(frameScale());
}

bool realiseFont() {
    if (g_text.font) return g_text.atlas != nullptr;
    if (!g_fontWanted) return false;
    g_fontWanted = false; // one try per request: a failure is reported once
    if (!g_lookedUp) {
        g_fontFile = findFontFile();
        g_lookedUp = true;
    }
    if (!g_fontFile) {
        reportProblem("no Japanese gothic font found: the text needs the IPAGothic font "
                      "(Debian package fonts-ipafont-gothic) or another face for :lang=ja; "
                      "the text will not be drawn");
        return false;
    }
    if (!graphicsReady()) {
        reportProblem("the text font needs the graphics device; the text will not be drawn");
        return false;
    }
    if (TTF_Init() != 0) {
        reportProblem(std::string("the font library cannot start: ") + TTF_GetError());
        return false;
    }
    TTF_Font* font = TTF_OpenFontIndex(g_fontFile->path.c_str(), kCellHeight, g_fontFile->index);
    int fitted = 72;
    if (!font || !fitFontToCells(font, &fitted)) {
        reportProblem("the font " + g_fontFile->path + " cannot be used: " + TTF_GetError());
        if (font) TTF_CloseFont(font);
        TTF_Quit();
        return false;
    }
    g_text.font = font;
    g_text.baseStep = fitted;
    if (!startAtlas(frameScale())) {
        reportProblem(std::string("no texture for the text font: ") + SDL_GetError());
        g_text.font = nullptr;
        TTF_CloseFont(font);
        TTF_Quit();
        return false;
    }
    g_text.rasterised = 0;
    g_text.id = newTextureId();
    return true;
}
} // namespace

void setTextFontPatterns(std::span<const char* const> patterns) {
    g_patterns.assign(patterns.begin(), patterns.end());
    if (g_patterns.empty()) g_patterns = kDefaultPatterns;
    g_lookedUp = false;
    g_fontFile.reset();
}

int textGlyphsRasterised() {
    return g_text.rasterised;
}
bool fontReady() {
    return realiseFont();
}

void createTextFont() {
    releaseTextFont();
    g_fontWanted = true;
}

void releaseTextFont() {
    g_fontWanted = false;
    if (!g_text.font) return;
    destroyTexture(g_text.atlas);
    g_text.atlas = nullptr;
    g_text.uploaded = nullptr;
    g_text.coverage = {};
    TTF_CloseFont(g_text.font);
    g_text.font = nullptr;
    TTF_Quit();
}

void drawText(const std::uint8_t* text, int count, const Rect& rect, std::uint32_t colour) {
    if (!text || (colour >> 24) == 0 || !realiseFont()) return;
    // The glyphs go into the cache now, as the text is drawn; the frame itself is drawn later,
    // and only when it differs from the one on screen.
    prepareTextGlyphs(text, count);
    recordText(text, count, rect, colour);
}

void drawTextNow(const std::uint8_t* text, int count, const Rect& rect, std::uint32_t colour) {
    SDL_Renderer* renderer = sdlRenderer();
    if (!realiseFont() || !renderer || !text) return;
    followFrameScale();
    if (!atlasOnDevice()) return;
    const Uint8 alpha = static_cast<Uint8>(colour >> 24);
    if (alpha == 0) return;
    SDL_Texture* atlas = g_text.atlas->sdl;
    SDL_SetTextureColorMod(atlas, static_cast<Uint8>(colour >> 16), static_cast<Uint8>(colour >> 8),
                           static_cast<Uint8>(colour));
    SDL_SetTextureAlphaMod(atlas, alpha);
    SDL_SetTextureBlendMode(atlas, SDL_BLENDMODE_BLEND);
    forEachGlyph(text, count, rect,
                 [&](int, std::uint16_t code, int width, std::int64_t x, std::int64_t y) {
                     if (x < rect.right) drawGlyph(renderer, code, width, x, y, rect);
                 });
}

void prepareTextGlyphs(const std::uint8_t* text, int count) {
    if (!text || !realiseFont()) return;
    followFrameScale();
    const Rect anywhere{0, 0, std::numeric_limits<int>::max(), std::numeric_limits<int>::max()};
    forEachGlyph(text, count, anywhere,
                 [](int, std::uint16_t code, int width, std::int64_t, std::int64_t) {
                     if (g_text.cellOf[code] < 0) rasteriseGlyph(code, width);
                 });
}

SDL_Rect textGlyphBounds(const std::uint8_t* text, int count, const Rect& rect, int from) {
    std::int64_t left = rect.right, top = rect.bottom, right = rect.left, bottom = rect.top;
    if (!text) return SDL_Rect{0, 0, 0, 0};
    forEachGlyph(
        text, count, rect, [&](int end, std::uint16_t, int width, std::int64_t x, std::int64_t y) {
            if (end <= from) return;
            left = std::min<std::int64_t>(left, std::max<std::int64_t>(x, rect.left));
            right = std::max<std::int64_t>(right, std::min<std::int64_t>(x + width, rect.right));
            top = std::min<std::int64_t>(top, std::max<std::int64_t>(y, rect.top));
            bottom = std::max<std::int64_t>(bottom,
                                            std::min<std::int64_t>(y + kCellHeight, rect.bottom));
        });
    if (left >= right || top >= bottom) return SDL_Rect{0, 0, 0, 0};
    return SDL_Rect{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                    static_cast<int>(bottom - top)};
}

std::uint64_t textFontId() {
    return g_text.id;
}
