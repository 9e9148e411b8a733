// The renderer's SDL side: what the window layer and render's own files share. Game code uses
// render/render.h instead.
#pragma once

#include <SDL.h>

#include <span>
#include <string>
#include <vector>

#include "imagelib/image.h"
#include "render/render.h"

// A texture on the device, and how to make it again when the renderer loses its textures: from
// its picture file when it was loaded from one (its pixels are then not kept, so each picture is
// held once in memory), else from the pixels it keeps.
struct Texture {
    SDL_Texture* sdl = nullptr;
    Picture source;   // empty for a texture loaded from a file
    std::string file; // the game path it was loaded from, or empty
    PictureForm form = PictureForm::Plain;
    int width = 0;
    int height = 0;
    // What the texture shows: a new number whenever its pixels change, never reused, so that a
    // frame drawn with it can be told from one drawn with any other texture or content.
    std::uint64_t id = 0;
    // For the software renderer: a copy with a quad's alpha already in its texels, and that
    // alpha (-1: none). Made on the first half-transparent draw, dropped with the texture.
    SDL_Texture* faded = nullptr;
    int fadedAlpha = -1;
};

// The window to draw into; the window layer sets it before createGraphicsDevice. Without one,
// only a headless device can be made (a software renderer on a surface of its own).
void setRenderWindow(SDL_Window* window);

// Target pixels a game pixel takes: the frame target is drawn at the size the picture is shown
// at. 1 headless and in an 800 x 600 window.
float frameScale();

// The renderer, or null before createGraphicsDevice and after releaseGraphics.
SDL_Renderer* sdlRenderer();

// The window layer passes every event here; returns true for the renderer's own events
// (SDL_RENDER_TARGETS_RESET, SDL_RENDER_DEVICE_RESET), which it handles.
bool handleRenderEvent(const SDL_Event& event);

// Texture records: made from a picture (null when the device cannot make it), released with
// their SDL texture. Every live record is re-made by recreateTextures. The first form keeps the
// pixels; the second drops them and reads the file again when they are needed.
Texture* createTexture(Picture picture);
Texture* createTextureFromFile(Picture picture, std::string_view file, PictureForm form);
// A texture of transparent black that its owner fills (SDL_UpdateTexture); its pixels are not
// kept: after the device lost it, remakeBlankTexture makes it blank again for the owner to refill.
Texture* createBlankTexture(int width, int height);
void remakeBlankTexture(Texture& texture);
void destroyTexture(Texture* texture);
// Lets go of the device's copy of every large picture loaded from a file that is not among the
// drawn ones; it is made again from its file when drawn.
void releaseUndrawnPictures(std::span<const Texture* const> drawn);

// How many glyphs the font has rasterised since it was created (the cache's test seam).
int textGlyphsRasterised();
// The fontconfig patterns the font is looked up by, tried in order; empty restores the default
// (the game's face first, then any Japanese face). For tests of a missing font.
void setTextFontPatterns(std::span<const char* const> patterns);
// How many texture records are alive (a test seam for releases).
int liveTextureCount();

// ---- Drawing as the renderer does it, now (the recorded frame is replayed through these) ----

// Draws the quad into the current target at once.
void drawQuadNow(const Texture* texture, const ScreenQuad& quad);
// Draws counted text into the current target at once.
void drawTextNow(const std::uint8_t* text, int count, const Rect& rect, std::uint32_t colour);
// The screen rectangle around every glyph of the text whose bytes end after byte `from`: where
// a change of the text from that byte on can touch, cut to the rectangle. Empty (w 0) if none.
SDL_Rect textGlyphBounds(const std::uint8_t* text, int count, const Rect& rect, int from);
// Rasterises into the glyph cache every character of the text that it lacks.
void prepareTextGlyphs(const std::uint8_t* text, int count);
// Changes whenever the font is made again; text drawn with another font may look different.
std::uint64_t textFontId();
// A new texture id, never given before.
std::uint64_t newTextureId();
