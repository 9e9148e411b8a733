// The recorded frame: draws are kept as a list during the frame and drawn into the frame target
// only when the picture is needed (a present, a read-back), and then only where it differs from
// the picture the target already holds. Private to render/.
#pragma once

#include <SDL.h>

#include <cstdint>

#include "render/render_sdl.h"

// Starts the list of a new frame. The list of the frame before is dropped if it was never drawn.
void startRecordedFrame();
// Adds a draw to the frame's list.
void recordQuad(const Texture* texture, const ScreenQuad& quad);
void recordText(const std::uint8_t* text, int count, const Rect& rect, std::uint32_t colour);
// Whether the frame's list draws the texture (which must then live until the list is dropped).
bool recordedFrameUses(const Texture* texture);

// Brings the frame target up to the recorded frame: nothing when it already shows it, the
// changed rectangles when only some draws changed, everything after forgetFramePictures. True
// when a pixel of the target may have changed.
bool drawRecordedFrame(SDL_Renderer* renderer, SDL_Texture* frameTarget);
// The pictures kept (the frame target's, the still part's) can no longer be trusted: the device
// or its targets were lost, or the textures were made again.
void forgetFramePictures();
// Releases the texture of the still part; before the renderer goes.
void releaseFrameCache();
