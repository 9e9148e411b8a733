// The graphics device: one SDL renderer drawing into an 800 x 600 target texture, which each
// present scales onto the window. Drawing into a target of our own keeps the picture 800 x 600
// whatever the window's size, and gives readPixels exactly what was drawn.
#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/files.h"
#include "base/message.h"
#include "base/output_file.h"
#include "render/frame_cache.h"
#include "render/picture_file.h"
#include "render/render_sdl.h"

namespace {

SDL_Window* g_window = nullptr;           // set by the window layer; not owned
SDL_Renderer* g_renderer = nullptr;       // made by createGraphicsDevice
SDL_Surface* g_headlessSurface = nullptr; // the output of a device made without a window
SDL_Texture* g_frameTarget = nullptr;     // the 800 x 600 picture every draw goes into
bool g_vsync = false;                     // the renderer was made to wait for the retrace
bool g_software = false;                  // the renderer is SDL's software one
std::vector<Texture*> g_textures;         // every live texture record, for re-making them
// Textures released while the frame being recorded still draws them; freed with that frame.
std::vector<Texture*> g_releasedInFrame;
bool g_headless = false;      // nobody looks: a frame is drawn only when it is read back
bool g_presentWanted = true;  // the window lost or never had the picture the target holds
bool g_showOnPresent = false; // the window is shown with its first picture
std::uint64_t g_lastTextureId = 0;
// Target pixels a game pixel takes: the frame is drawn at the size it is shown at, so that text
// and pictures are drawn for the screen's pixels rather than stretched from 800 x 600. 1 in an
// 800 x 600 window and headless.
float g_scale = 1.0f;

int scaledLength(int length) {
    return static_cast<int>(std::lround(static_cast<double>(length) * g_scale));
}
// Pictures of this many pixels or more are let go from the device while they are not drawn.
constexpr std::int64_t kUndrawnReleaseArea = 256 * 256;

constexpr int kCreateFailed = -1;
DeviceCreationHook g_creationHook = nullptr; // tests only

int softwareDriverIndex() {
    for (int i = 0; i < SDL_GetNumRenderDrivers(); ++i) {
        SDL_RendererInfo info;
        if (SDL_GetRenderDriverInfo(i, &info) == 0 && std::strcmp(info.name, "software") == 0)
            return i;
    }
    return -1;
}

bool isSoftwareRenderer() {
    SDL_RendererInfo info;
    return g_renderer && SDL_GetRendererInfo(g_renderer, &info) == 0 &&
           (info.flags & SDL_RENDERER_SOFTWARE) != 0;
}

SDL_Texture* makeFrameTarget() {
    SDL_Texture* t =
        SDL_CreateTexture(g_renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_TARGET,
                          scaledLength(kScreenWidth), scaledLength(kScreenHeight));
    if (!t) return nullptr;
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_NONE);
    SDL_SetTextureScaleMode(t, SDL_ScaleModeNearest);
    SDL_SetRenderTarget(g_renderer, t);
    SDL_SetRenderDrawColor(g_renderer, 255, 255, 255, 255);
    SDL_RenderClear(g_renderer);
    return t;
}

// A renderer is usable only with its frame target; one that cannot make it counts as failed.
bool adoptRenderer(SDL_Renderer* renderer) {
    if (!renderer) return false;
    g_renderer = renderer;
    g_frameTarget = makeFrameTarget();
    if (g_frameTarget) return true;
    SDL_DestroyRenderer(g_renderer);
    g_renderer = nullptr;
    return false;
}

// Whether a GPU can draw for us: the kernel lists a render or card node for each one.
bool hasGpuDevice() {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/dri", error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("renderD") || name.starts_with("card")) return true;
    }
    return false;
}

// SDL's software renderer, when the player asked for it, or when nobody did and there is no
// GPU: OpenGL would then be drawn by the processor too, by a general rasteriser that costs
// several times the processor time and tens of megabytes more for the same picture. A named
// SDL_RENDER_DRIVER is always obeyed.
bool preferSoftwareRenderer() {
    const char* named = SDL_GetHint(SDL_HINT_RENDER_DRIVER);
    if (named && *named) return std::strcmp(named, "software") == 0;
    return !hasGpuDevice();
}

bool makeRenderer(const GraphicsOptions& options) {
    if (options.headless) {
        // Nobody looks at a headless window: its surface stays in memory rather than going
        // through an OpenGL texture, which would load a GL driver for nothing.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        if (g_window) return adoptRenderer(SDL_CreateRenderer(g_window, softwareDriverIndex(), 0));
        g_headlessSurface = SDL_CreateRGBSurfaceWithFormat(0, kScreenWidth, kScreenHeight, 32,
                                                           SDL_PIXELFORMAT_ARGB8888);
        if (g_headlessSurface && adoptRenderer(SDL_CreateSoftwareRenderer(g_headlessSurface)))
            return true;
        SDL_FreeSurface(g_headlessSurface);
        g_headlessSurface = nullptr;
        return false;
    }
    if (!g_window) return false;
    if (preferSoftwareRenderer()) {
        // The window's surface goes to the X server as it is, not through an OpenGL texture.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        if (adoptRenderer(SDL_CreateRenderer(g_window, softwareDriverIndex(), 0))) return true;
    }
    constexpr Uint32 kTarget = SDL_RENDERER_TARGETTEXTURE;
    if (adoptRenderer(SDL_CreateRenderer(
            g_window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC | kTarget))) {
        g_vsync = true;
        return true;
    }
    if (adoptRenderer(SDL_CreateRenderer(g_window, -1, SDL_RENDERER_ACCELERATED | kTarget)))
        return true;
    return adoptRenderer(SDL_CreateRenderer(g_window, softwareDriverIndex(), 0));
}

SDL_Texture* makeSdlTexture(const Picture& picture) {
    if (!g_renderer) return nullptr;
    SDL_Texture* t = SDL_CreateTexture(g_renderer, SDL_PIXELFORMAT_ARGB8888,
                                       SDL_TEXTUREACCESS_STATIC, picture.width, picture.height);
    if (!t) return nullptr;
    if (SDL_UpdateTexture(t, nullptr, picture.argb.data(), picture.width * 4) != 0) {
        SDL_DestroyTexture(t);
        return nullptr;
    }
    SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    SDL_SetTextureScaleMode(t, SDL_ScaleModeNearest);
    return t;
}

void dropFaded(Texture& t) {
    if (t.faded) SDL_DestroyTexture(t.faded);
    t.faded = nullptr;
    t.fadedAlpha = -1;
}

// The software renderer blends a texture under alpha modulation through a slow generic path; a
// copy that carries the alpha in its texels draws the same pixels several times faster. The
// text box, drawn half transparent every frame, is the one that matters.
SDL_Texture* fadedTexture(Texture& t, int alpha) {
    if (t.faded && t.fadedAlpha == alpha) return t.faded;
    dropFaded(t);
    Picture copy;
    if (!t.file.empty()) {
        std::string error;
        if (!loadPictureFile(t.file, t.form, copy, error)) return nullptr;
    } else {
        copy = t.source;
    }
    for (std::uint32_t& p : copy.argb) {
        const std::uint32_t a = (p >> 24) * static_cast<std::uint32_t>(alpha) / 255;
        p = (a << 24) | (p & 0x00FFFFFFu);
    }
    t.faded = makeSdlTexture(copy);
    if (t.faded) t.fadedAlpha = alpha;
    return t.faded;
}

// Makes a texture loaded from a file on the device, from the file. A file that can no longer be
// read leaves it undrawn, as a missing picture is, and says why once.
void makeFromFile(Texture& t) {
    if (t.sdl || t.file.empty()) return;
    Picture picture;
    std::string error;
    if (loadPictureFile(t.file, t.form, picture, error)) t.sdl = makeSdlTexture(picture);
    if (!t.sdl)
        reportProblemOnce(systemPath(t.file) + ": the picture cannot be made on the device: " +
                          (error.empty() ? std::string(SDL_GetError()) : error));
}

void freeTexturesReleasedInFrame() {
    for (Texture* t : g_releasedInFrame) {
        if (t->sdl) SDL_DestroyTexture(t->sdl);
        dropFaded(*t);
        delete t;
    }
    g_releasedInFrame.clear();
}

// Where the 4:3 picture goes in the window: whole, as large as fits, black bars beside it.
SDL_Rect pictureRect() {
    int outW = kScreenWidth, outH = kScreenHeight;
    SDL_GetRendererOutputSize(g_renderer, &outW, &outH);
    SDL_Rect dst{0, 0, outW, outH};
    if (outW * kScreenHeight > outH * kScreenWidth) {
        dst.w = outH * kScreenWidth / kScreenHeight;
        dst.x = (outW - dst.w) / 2;
    } else {
        dst.h = outW * kScreenHeight / kScreenWidth;
        dst.y = (outH - dst.h) / 2;
    }
    return dst;
}

// The frame target follows the size the picture is shown at; a change draws the next frame whole.
void fitFrameToWindow() {
    if (g_headless || !g_window) return;
    const SDL_Rect dst = pictureRect();
    const float scale =
        std::clamp(static_cast<float>(dst.w) / static_cast<float>(kScreenWidth), 0.25f, 8.0f);
    if (std::fabs(scale - g_scale) < 0.001f && g_frameTarget) return;
    g_scale = scale;
    if (g_frameTarget) SDL_DestroyTexture(g_frameTarget);
    g_frameTarget = makeFrameTarget();
    forgetFramePictures();
    g_presentWanted = true;
}

// Scales the frame target onto the window, the 4:3 picture whole with black bars beside it.
void presentFrameTarget() {
    SDL_SetRenderTarget(g_renderer, nullptr);
    int outW = kScreenWidth, outH = kScreenHeight;
    SDL_GetRendererOutputSize(g_renderer, &outW, &outH);
    const SDL_Rect dst = pictureRect();
    if (dst.w != outW || dst.h != outH) {
        SDL_SetRenderDrawColor(g_renderer, 0, 0, 0, 255);
        SDL_RenderClear(g_renderer);
    }
    SDL_RenderCopy(g_renderer, g_frameTarget, nullptr, &dst);
    SDL_RenderPresent(g_renderer);
}

SDL_Color colourOf(std::uint32_t argb) {
    return SDL_Color{static_cast<Uint8>(argb >> 16), static_cast<Uint8>(argb >> 8),
                     static_cast<Uint8>(argb), static_cast<Uint8>(argb >> 24)};
}

} // namespace

void setRenderWindow(SDL_Window* window) {
    g_window = window;
}
SDL_Renderer* sdlRenderer() {
    return g_renderer;
}
bool graphicsReady() {
    return g_renderer != nullptr;
}

int createGraphicsDevice() {
    return createGraphicsDevice(GraphicsOptions{});
}

void setDeviceCreationHook(DeviceCreationHook hook) {
    g_creationHook = hook;
}

int createGraphicsDevice(const GraphicsOptions& options) {
    if (g_renderer) return 0;
    // Pictures are sampled nearest, as the game's pixel art expects; batching stays on even
    // when a driver is named through SDL_RENDER_DRIVER.
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    SDL_SetHint(SDL_HINT_RENDER_BATCHING, "1");
    g_vsync = false;
    g_headless = options.headless;
    g_showOnPresent = options.showWindowWithFirstFrame && g_window;
    g_presentWanted = true;
    if ((g_creationHook && !g_creationHook()) || !makeRenderer(options)) {
        showMessage("DirectXデバイス生成失敗");
        return kCreateFailed;
    }
    g_software = isSoftwareRenderer();
    // The software renderer only imitates vsync; the frame loop paces itself there instead.
    if (g_software) {
        SDL_RenderSetVSync(g_renderer, 0);
        g_vsync = false;
    }
    recreateTextures(); // records kept over an earlier device get their textures back
    applyRenderStates();
    return 0;
}

void applyRenderStates() {
    if (!g_renderer) return;
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "0");
    SDL_SetRenderDrawBlendMode(g_renderer, SDL_BLENDMODE_BLEND);
    for (Texture* t : g_textures) {
        if (!t->sdl) continue;
        SDL_SetTextureBlendMode(t->sdl, SDL_BLENDMODE_BLEND);
        SDL_SetTextureScaleMode(t->sdl, SDL_ScaleModeNearest);
    }
    if (g_frameTarget) {
        SDL_SetTextureBlendMode(g_frameTarget, SDL_BLENDMODE_NONE);
        SDL_SetTextureScaleMode(g_frameTarget, SDL_ScaleModeNearest);
    }
}

void resetGraphicsDevice() {
    if (!g_renderer) return;
    g_presentWanted = true;
    if (!g_frameTarget) {
        g_frameTarget = makeFrameTarget();
        forgetFramePictures();
    }
    bool lost = false;
    for (const Texture* t : g_textures)
        lost = lost || (!t->sdl && !t->source.argb.empty());
    if (lost) recreateTextures();
    applyRenderStates();
}

void recreateTextures() {
    if (!g_renderer) return;
    forgetFramePictures();
    for (Texture* t : g_textures) {
        if (t->sdl) SDL_DestroyTexture(t->sdl);
        t->sdl = nullptr;
        dropFaded(*t);
        // Made from its file when next drawn; a blank texture is made again by its owner.
        if (!t->file.empty() || t->source.argb.empty()) continue;
        t->sdl = makeSdlTexture(t->source);
        if (!t->sdl)
            reportProblem(std::string("a texture could not be made again: ") + SDL_GetError());
    }
}

bool handleRenderEvent(const SDL_Event& event) {
    if (event.type == SDL_RENDER_TARGETS_RESET) {
        // Only the targets lost their pixels; the next frame is drawn whole.
        forgetFramePictures();
        g_presentWanted = true;
        return true;
    }
    if (event.type == SDL_RENDER_DEVICE_RESET) {
        forgetFramePictures();
        g_presentWanted = true;
        if (!g_renderer) return true;
        if (g_frameTarget) SDL_DestroyTexture(g_frameTarget);
        g_frameTarget = makeFrameTarget();
        recreateTextures();
        applyRenderStates();
        return true;
    }
    return false;
}

void releaseGraphics() {
    // What the scenes made goes first, while the renderer that owns it still exists.
    releaseTextFont();
    releaseFixedTextures();
    releaseImageTables();
    freeTexturesReleasedInFrame();
    releaseFrameCache();
    // Records still held elsewhere keep their pixels; a later device makes them again.
    for (Texture* t : g_textures) {
        if (t->sdl) SDL_DestroyTexture(t->sdl);
        t->sdl = nullptr;
        dropFaded(*t);
    }
    if (g_frameTarget) SDL_DestroyTexture(g_frameTarget);
    g_frameTarget = nullptr;
    if (g_renderer) SDL_DestroyRenderer(g_renderer);
    g_renderer = nullptr;
    if (g_headlessSurface) SDL_FreeSurface(g_headlessSurface);
    g_headlessSurface = nullptr;
    g_vsync = false;
    g_software = false;
}

bool presentWaitsForRetrace() {
    if (!g_renderer || !g_vsync || isSoftwareRenderer()) return false;
    // These video drivers have no display to wait for and ignore vsync.
    const char* driver = SDL_GetCurrentVideoDriver();
    return !(driver &&
             (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0));
}

int displayRefreshRate() {
    int display = g_window ? SDL_GetWindowDisplayIndex(g_window) : 0;
    if (display < 0) display = 0;
    SDL_DisplayMode mode;
    if (SDL_WasInit(SDL_INIT_VIDEO) && SDL_GetCurrentDisplayMode(display, &mode) == 0 &&
        mode.refresh_rate > 0)
        return mode.refresh_rate;
    return 60;
}

void beginFrame() {
    startRecordedFrame();
    freeTexturesReleasedInFrame();
}

bool endFrame() {
    if (!g_renderer || g_headless) return false;
    fitFrameToWindow();
    if (!g_frameTarget) return false;
    const bool changed = drawRecordedFrame(g_renderer, g_frameTarget);
    if (!changed && !g_presentWanted) return false;
    g_presentWanted = false;
    if (g_showOnPresent) {
        // Shown only now, with a picture to show: never an empty or black window first.
        SDL_ShowWindow(g_window);
        g_showOnPresent = false;
    }
    presentFrameTarget();
    return true;
}

float frameScale() {
    return g_scale;
}

void requestPresent() {
    g_presentWanted = true;
}

void drawQuad(const Texture* texture, const ScreenQuad& quad) {
    if (g_renderer) recordQuad(texture, quad);
}

void drawQuadNow(const Texture* texture, const ScreenQuad& quad) {
    if (!g_renderer) return;
    static constexpr int kFan[6] = {0, 1, 2, 0, 2, 3};
    SDL_Vertex v[4];
    for (int i = 0; i < 4; ++i) {
        const QuadVertex& q = quad.v[i];
        v[i].position = SDL_FPoint{q.x * g_scale, q.y * g_scale};
        v[i].color = colourOf(q.diffuse);
        v[i].tex_coord = SDL_FPoint{q.u, q.v};
    }
    auto* record = const_cast<Texture*>(texture);
    SDL_Texture* t = nullptr;
    const std::uint32_t c = quad.v[0].diffuse;
    if (record && g_software && (c >> 24) < 255 && (c & 0x00FFFFFFu) == 0x00FFFFFFu &&
        quad.v[1].diffuse == c && quad.v[2].diffuse == c && quad.v[3].diffuse == c) {
        if (SDL_Texture* faded = fadedTexture(*record, int(c >> 24))) {
            t = faded;
            for (SDL_Vertex& vertex : v)
                vertex.color.a = 255;
        }
    }
    if (!t && record) {
        makeFromFile(*record);
        t = record->sdl;
    }
    // The software renderer draws some quads through its copy path, which leaves the vertex
    // colour behind as the texture's modulation; every draw therefore sets all of it again.
    if (t) {
        // Pixel for pixel at the game's own size; smooth when scaled.
        SDL_SetTextureScaleMode(t, g_scale == 1.0f ? SDL_ScaleModeNearest : SDL_ScaleModeLinear);
        SDL_SetTextureColorMod(t, 255, 255, 255);
        SDL_SetTextureAlphaMod(t, 255);
        SDL_SetTextureBlendMode(t, SDL_BLENDMODE_BLEND);
    }
    SDL_SetRenderDrawBlendMode(g_renderer, SDL_BLENDMODE_BLEND);
    SDL_RenderGeometry(g_renderer, t, v, 4, kFan, 6);
}

bool readPixels(std::uint32_t* argb, int pitchBytes) {
    // The picture is read back at its own 800 x 600 only.
    if (!g_renderer || !g_frameTarget || !argb || pitchBytes < kScreenWidth * 4 || g_scale != 1.0f)
        return false;
    SDL_Texture* previous = SDL_GetRenderTarget(g_renderer);
    drawRecordedFrame(g_renderer, g_frameTarget);
    SDL_SetRenderTarget(g_renderer, g_frameTarget);
    const bool ok =
        SDL_RenderReadPixels(g_renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, argb, pitchBytes) == 0;
    SDL_SetRenderTarget(g_renderer, previous);
    return ok;
}

bool readFrameThumbnail(int width, int height, std::span<std::uint32_t> argb) {
    if (!g_renderer || !g_frameTarget || width <= 0 || height <= 0 ||
        argb.size() != static_cast<std::size_t>(width) * height)
        return false;
    int targetWidth = 0, targetHeight = 0;
    if (SDL_QueryTexture(g_frameTarget, nullptr, nullptr, &targetWidth, &targetHeight) != 0 ||
        targetWidth < width || targetHeight < height)
        return false;
    std::vector<std::uint32_t> full(static_cast<std::size_t>(targetWidth) * targetHeight);
    SDL_Texture* previous = SDL_GetRenderTarget(g_renderer);
    drawRecordedFrame(g_renderer, g_frameTarget);
    SDL_SetRenderTarget(g_renderer, g_frameTarget);
    const bool ok = SDL_RenderReadPixels(g_renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, full.data(),
                                         targetWidth * 4) == 0;
    SDL_SetRenderTarget(g_renderer, previous);
    if (!ok) return false;
    // Each thumbnail pixel is the mean of the target's pixels it covers, whatever the scale.
    for (int y = 0; y < height; ++y) {
        const int y0 = y * targetHeight / height, y1 = (y + 1) * targetHeight / height;
        for (int x = 0; x < width; ++x) {
            const int x0 = x * targetWidth / width, x1 = (x + 1) * targetWidth / width;
            std::uint32_t r = 0, g = 0, b = 0, n = 0;
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx) {
                    const std::uint32_t p = full[static_cast<std::size_t>(sy) * targetWidth +
                                                 static_cast<std::size_t>(sx)];
                    r += (p >> 16) & 0xFF;
                    g += (p >> 8) & 0xFF;
                    b += p & 0xFF;
                    ++n;
                }
            argb[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)] =
                0xFF000000u | ((r / n) << 16) | ((g / n) << 8) | (b / n);
        }
    }
    return true;
}

bool encodeFramePng(std::vector<char>* png, std::string* why) {
    int width = 0, height = 0;
    if (!g_renderer || !g_frameTarget ||
        SDL_QueryTexture(g_frameTarget, nullptr, nullptr, &width, &height) != 0) {
        *why = "there is no picture to read";
        return false;
    }
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    SDL_Texture* previous = SDL_GetRenderTarget(g_renderer);
    drawRecordedFrame(g_renderer, g_frameTarget);
    SDL_SetRenderTarget(g_renderer, g_frameTarget);
    const bool read = SDL_RenderReadPixels(g_renderer, nullptr, SDL_PIXELFORMAT_ARGB8888,
                                           pixels.data(), width * 4) == 0;
    SDL_SetRenderTarget(g_renderer, previous);
    SDL_Surface* surface =
        read ? SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), width, height, 32, width * 4,
                                                  SDL_PIXELFORMAT_ARGB8888)
             : nullptr;
    if (!surface) {
        *why = std::string("the picture cannot be read back: ") + SDL_GetError();
        return false;
    }
    const bool ok = encodePicture(surface, false, png, why);
    SDL_FreeSurface(surface);
    return ok;
}

bool saveScreenshot(std::string_view path) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kScreenWidth) * kScreenHeight);
    SDL_Surface* surface = nullptr;
    if (readPixels(pixels.data(), kScreenWidth * 4))
        surface = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), kScreenWidth, kScreenHeight, 32,
                                                     kScreenWidth * 4, SDL_PIXELFORMAT_ARGB8888);
    if (!surface) {
        reportOutputFailure(systemPath(path),
                            std::string("the picture cannot be read back: ") + SDL_GetError());
        return false;
    }
    const bool ok = writePictureFile(path, surface);
    SDL_FreeSurface(surface);
    return ok;
}

Texture* createTexture(Picture picture) {
    if (!g_renderer || picture.width <= 0 || picture.height <= 0 ||
        picture.argb.size() != static_cast<std::size_t>(picture.width) * picture.height)
        return nullptr;
    SDL_Texture* sdl = makeSdlTexture(picture);
    if (!sdl) return nullptr;
    auto* t = new Texture{};
    t->sdl = sdl;
    t->width = picture.width;
    t->height = picture.height;
    t->source = std::move(picture);
    t->id = newTextureId();
    g_textures.push_back(t);
    return t;
}

Texture* createTextureFromFile(Picture picture, std::string_view file, PictureForm form) {
    if (!g_renderer || picture.width <= 0 || picture.height <= 0) return nullptr;
    // Made on the device when first drawn, from the file: a game loads all its pictures at
    // once, and most of them are not on screen at any one time.
    auto* t = new Texture{};
    t->width = picture.width;
    t->height = picture.height;
    t->file = std::string(file);
    t->form = form;
    t->id = newTextureId();
    g_textures.push_back(t);
    return t;
}

Texture* createBlankTexture(int width, int height) {
    if (!g_renderer || width <= 0 || height <= 0) return nullptr;
    auto* t = new Texture{};
    t->width = width;
    t->height = height;
    t->id = newTextureId();
    remakeBlankTexture(*t);
    if (!t->sdl) {
        delete t;
        return nullptr;
    }
    g_textures.push_back(t);
    return t;
}

void remakeBlankTexture(Texture& t) {
    if (t.sdl || !g_renderer) return;
    Picture blank;
    blank.width = t.width;
    blank.height = t.height;
    blank.argb.assign(static_cast<std::size_t>(t.width) * t.height, 0u);
    t.sdl = makeSdlTexture(blank);
}

void releaseUndrawnPictures(std::span<const Texture* const> drawn) {
    for (Texture* t : g_textures) {
        if ((!t->sdl && !t->faded) || t->file.empty() ||
            static_cast<std::int64_t>(t->width) * t->height < kUndrawnReleaseArea)
            continue;
        if (std::find(drawn.begin(), drawn.end(), t) != drawn.end()) continue;
        if (t->sdl) SDL_DestroyTexture(t->sdl);
        t->sdl = nullptr;
        dropFaded(*t);
    }
}

std::uint64_t newTextureId() {
    return ++g_lastTextureId;
}

void destroyTexture(Texture* texture) {
    if (!texture) return;
    g_textures.erase(std::remove(g_textures.begin(), g_textures.end(), texture), g_textures.end());
    if (recordedFrameUses(texture)) {
        // The frame drew it before it was released; it must still show in that frame.
        g_releasedInFrame.push_back(texture);
        return;
    }
    if (texture->sdl) SDL_DestroyTexture(texture->sdl);
    dropFaded(*texture);
    delete texture;
}

int liveTextureCount() {
    return static_cast<int>(g_textures.size() + g_releasedInFrame.size());
}
