#include "render_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "base/files.h"
#include "base/message.h"

namespace rendertest {

namespace {
MessageLog* g_log = nullptr;
void collect(std::string_view text) {
    if (g_log) g_log->texts.emplace_back(text);
}
} // namespace

MessageLog::MessageLog() {
    g_log = this;
    setMessageSink(collect);
}

MessageLog::~MessageLog() {
    setMessageSink(nullptr);
    g_log = nullptr;
}

TempFolder::TempFolder() {
    char buf[4096];
    previous = getcwd(buf, sizeof buf) ? buf : ".";
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvane-render-XXXXXX");
    if (mkdtemp(pattern.data())) path = pattern;
    EXPECT_FALSE(path.empty());
    EXPECT_EQ(chdir(path.c_str()), 0);
}

TempFolder::~TempFolder() {
    EXPECT_EQ(chdir(previous.c_str()), 0);
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

void writeBmp(const std::string& name, int width, int height,
              const std::function<std::uint32_t(int, int)>& rgb) {
    const std::filesystem::path file(name);
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, width, height, 24, SDL_PIXELFORMAT_RGB24);
    ASSERT_NE(s, nullptr) << SDL_GetError();
    for (int y = 0; y < height; ++y) {
        auto* row = static_cast<std::uint8_t*>(s->pixels) + static_cast<std::size_t>(y) * s->pitch;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t c = rgb(x, y);
            row[x * 3] = static_cast<std::uint8_t>(c >> 16);
            row[x * 3 + 1] = static_cast<std::uint8_t>(c >> 8);
            row[x * 3 + 2] = static_cast<std::uint8_t>(c);
        }
    }
    EXPECT_EQ(SDL_SaveBMP(s, name.c_str()), 0) << SDL_GetError();
    SDL_FreeSurface(s);
}

void writeSolidBmp(const std::string& name, int width, int height, std::uint32_t rgb) {
    writeBmp(name, width, height, [rgb](int, int) { return rgb; });
}

Device::Device(const char* driver) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        ADD_FAILURE() << SDL_GetError();
        return;
    }
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, driver);
    // Keeps OpenGL out of the software renderer's window surface, so that a sanitizer run of the
    // software cases sees only this program's memory, not the GL driver's.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    const Uint32 flags =
        SDL_WINDOW_HIDDEN | (std::string(driver) == "software" ? 0 : SDL_WINDOW_OPENGL);
    window = SDL_CreateWindow("render test", 0, 0, kScreenWidth, kScreenHeight, flags);
    if (!window) return;
    setRenderWindow(window);
    SDL_RendererInfo info{};
    ready = createGraphicsDevice() >= 0 && SDL_GetRendererInfo(sdlRenderer(), &info) == 0 &&
            std::string(info.name) == driver;
}

Device::~Device() {
    releaseGraphics();
    setRenderWindow(nullptr);
    if (window) SDL_DestroyWindow(window);
    SDL_ResetHint(SDL_HINT_RENDER_DRIVER);
    SDL_ResetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

std::vector<std::uint32_t> readScreen() {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(kScreenWidth) * kScreenHeight, 0);
    EXPECT_TRUE(readPixels(pixels.data(), kScreenWidth * 4));
    return pixels;
}

ScreenQuad quadAt(int alpha, float x0, float y0, float x1, float y1) {
    ScreenQuad q;
    buildQuad(q, alpha, x0, y0, x1, y1, 0, 0, 64, 64);
    return q;
}

std::vector<std::uint8_t> sjis(const std::string& utf8) {
    const auto bytes = utf8ToSjis(utf8);
    EXPECT_TRUE(bytes.has_value()) << utf8;
    return bytes ? std::vector<std::uint8_t>(bytes->begin(), bytes->end())
                 : std::vector<std::uint8_t>{};
}

} // namespace rendertest
