// The renderer's SDL side: what the window layer and render's own files share. Game code uses
// render/render.h instead.
#pragma once

#include <SDL.h>

#include <span>

#include "imagelib/image.h"
#include "render/render.h"

// A texture on the device together with the pixels it was made from, so that it can be made
// again when the renderer loses its textures.
struct Texture {
    SDL_Texture* sdl = nullptr;
    Picture source;
    // For the software renderer: a copy with a quad's alpha already in its texels, and that
    // alpha (-1: none). Made on the first half-transparent draw, dropped with the texture.
    SDL_Texture* faded = nullptr;
    int fadedAlpha = -1;
};

// The window to draw into; the window layer sets it before createGraphicsDevice. Without one,
// only a headless device can be made (a software renderer on a surface of its own).
void setRenderWindow(SDL_Window* window);

// The renderer, or null before createGraphicsDevice and after releaseGraphics.
SDL_Renderer* sdlRenderer();

// The window layer passes every event here; returns true for the renderer's own events
// (SDL_RENDER_TARGETS_RESET, SDL_RENDER_DEVICE_RESET), which it handles.
bool handleRenderEvent(const SDL_Event& event);

// Texture records: made from a picture (null when the device cannot make it), released with
// their SDL texture. Every live record is re-made by recreateTextures.
Texture* createTexture(Picture picture);
void destroyTexture(Texture* texture);
// Sends part of the kept picture to the device again after it was changed.
void updateTextureRect(Texture& texture, const SDL_Rect& rect);

// How many glyphs the font has rasterised since it was created (the cache's test seam).
int textGlyphsRasterised();
// The fontconfig patterns the font is looked up by, tried in order; empty restores the default
// (the game's face first, then any Japanese face). For tests of a missing font.
void setTextFontPatterns(std::span<const char* const> patterns);
// How many texture records are alive (a test seam for releases).
int liveTextureCount();
