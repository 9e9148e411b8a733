// The graphics device, the picture set and the text font. Nothing here exposes an SDL type:
// textures are opaque handles owned by this module.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "render/quad.h"

// A texture on the device; opaque outside render/.
struct Texture;

inline constexpr int kScreenWidth = 800;
inline constexpr int kScreenHeight = 600;

// ---- Graphics device ---------------------------------------------------------------------

// How the device is made. Headless: no window on screen, the software renderer.
struct GraphicsOptions {
    bool headless = false;
    // The window was made hidden; it is shown with the first frame's picture.
    bool showWindowWithFirstFrame = false;
};

// Creates the window's renderer with an 800 x 600 target, falling back from an accelerated
// renderer with vsync to an accelerated one to the software renderer. Negative (after the
// message "DirectXデバイス生成失敗") when none can be made. Needs the window (app/).
int createGraphicsDevice();
// As above with options; headless makes the software renderer, and needs no window.
int createGraphicsDevice(const GraphicsOptions& options);
// For tests: run at every device creation before the renderer is made; when it returns false,
// the creation fails as if no renderer could be made. Null (the default) runs nothing.
using DeviceCreationHook = bool (*)();
void setDeviceCreationHook(DeviceCreationHook hook);
// Sets the fixed drawing states: colour = texture x vertex colour, alpha blending.
void applyRenderStates();
// Recovers the device after a resize or restore, reloading textures if the renderer lost them.
void resetGraphicsDevice();
// Makes every texture again from its kept pixels; for when the renderer reports it lost them.
void recreateTextures();
void releaseGraphics();
// True once createGraphicsDevice succeeded and until releaseGraphics.
bool graphicsReady();

// The frame's drawing: begin, draws, end. Draws are recorded; the end brings the frame target up
// to them (only where the picture changed) and presents it, unless nothing changed. A headless
// device draws a frame only when it is read back. The picture is always the one a full redraw
// gives: the target cleared to opaque white, then every draw in order. True when presented.
void beginFrame();
bool endFrame();
// The next end of frame presents even if nothing changed (the window lost its picture).
void requestPresent();
// Draw every frame whole from a cleared target and present it (the picture is the same; this
// is for comparing and measuring).
void setFullRedraw(bool on);
bool fullRedraw();
// Whether present waits for the display's retrace (so the frame loop need not pace itself).
bool presentWaitsForRetrace();
// The display's refresh rate in Hz, 60 when unknown.
int displayRefreshRate();

// Draws a quad as two triangles; a null texture draws the vertex colour.
void drawQuad(const Texture* texture, const ScreenQuad& quad);

// Reads the current target back as 800 x 600 ARGB8888 pixels (for screenshots and tests).
bool readPixels(std::uint32_t* argb, int pitchBytes);
// Writes the current target to a PNG file, or a BMP file when the name ends in .bmp.
bool saveScreenshot(std::string_view path);
// The picture of every draw of this frame so far, scaled down to width x height ARGB8888 pixels
// (each the mean of the pixels it covers), whatever the window's scale: a save's thumbnail of
// the game taken before anything is drawn over it. False when there is no picture to read.
bool readFrameThumbnail(int width, int height, std::span<std::uint32_t> argb);
// The picture of this frame as the player sees it, at the size it has on screen (the window's
// scale, without the bars beside it), as the bytes of a PNG file; false with the reason when
// there is no picture to read.
bool encodeFramePng(std::vector<char>* png, std::string* why);

// ---- Pictures ----------------------------------------------------------------------------

// Texture slots; null until loaded, null again after release.
extern std::array<Texture*, 10> g_bgTex;   // backgrounds by number; 0-3 and 5-7 are loaded
extern std::array<Texture*, 13> g_charTex; // character pictures by number; 0 and 1 are loaded
extern Texture* g_titleTex;
extern Texture* g_textBoxTex;
extern Texture* g_pointerTex;
extern Texture* g_clickTex;
extern Texture* g_choiceTex;

// Loads a picture as it is (every texel opaque). Negative on failure, slot unchanged.
int loadTexturePlain(std::string_view path, Texture*& slot);
// Loads a picture with opaque magenta keyed away (alpha 0), as 16-bit colour with 1-bit alpha.
int loadTextureKeyed(std::string_view path, Texture*& slot);
void releaseTexture(Texture*& slot);
// A texture of ARGB8888 pixels the game made itself (a save's thumbnail); null when the device
// cannot make it. Released with releaseTexture.
Texture* createPixelTexture(int width, int height, std::span<const std::uint32_t> argb);

// Loads the game's thirteen pictures in their fixed order; the first failure shows its message
// and ends the call.
void loadImageSet();
// Releases the background and character tables.
void releaseImageTables();
// Releases the single slots (title, text box, pointer, click icon, choice).
void releaseFixedTextures();

// ---- Text font ---------------------------------------------------------------------------

// In a web page there is no font library to ask: the page puts the game's font file here, and
// the text is drawn with it.
inline constexpr const char* kWebFontFile = "/font/game.ttf";
// The font file the text is drawn with (found once, then kept for the run) and the index of the
// face in it. False when no face that holds Japanese is found.
bool textFontFile(std::string* path, int* faceIndex);

// Creates the one text font: a fixed-pitch Japanese gothic face, cells 35 pixels high, 14 wide
// for a single-byte character and 28 for a double-byte one. Replaces the previous font.
void createTextFont();
void releaseTextFont();
bool fontReady();

// Draws count bytes of Shift-JIS text from the rectangle's top-left, breaking only at LF,
// clipped to the rectangle, in the colour (A8R8G8B8). Zero bytes are not drawn and take no room.
void drawText(const std::uint8_t* text, int count, const Rect& rect, std::uint32_t colour);
