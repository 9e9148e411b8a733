// The cost of whole frames on the software renderer: a game frame as the game screen draws it
// (background, two character layers, the half-transparent text box, a full page of text with its
// shadow, the pointer) and a title frame (one full-screen quad). Pictures are generated.
#include <benchmark/benchmark.h>

#include <SDL.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "render/render_sdl.h"

namespace {

struct Scene {
    SDL_Window* window = nullptr;
    std::filesystem::path folder;
    Texture* title = nullptr;
    Texture* background = nullptr;
    Texture* chara[2] = {nullptr, nullptr};
    Texture* textBox = nullptr;
    Texture* pointer = nullptr;
    std::string page; // Shift-JIS
};

Scene g_scene;

// Writes a generated 24-bit picture; magenta where `keyed` says the picture is see-through.
std::string writePicture(const std::string& name, int w, int h,
                         std::uint32_t (*colour)(int x, int y, int w, int h)) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, w, h, 24, SDL_PIXELFORMAT_RGB24);
    for (int y = 0; y < h; ++y) {
        auto* row = static_cast<std::uint8_t*>(s->pixels) + static_cast<std::size_t>(y) * s->pitch;
        for (int x = 0; x < w; ++x) {
            const std::uint32_t c = colour(x, y, w, h);
            row[x * 3] = static_cast<std::uint8_t>(c >> 16);
            row[x * 3 + 1] = static_cast<std::uint8_t>(c >> 8);
            row[x * 3 + 2] = static_cast<std::uint8_t>(c);
        }
    }
    const std::string path = (g_scene.folder / name).string();
    SDL_SaveBMP(s, path.c_str());
    SDL_FreeSurface(s);
    return path;
}

std::uint32_t gradient(int x, int y, int w, int h) {
    return (static_cast<std::uint32_t>(x * 255 / w) << 16) |
           (static_cast<std::uint32_t>(y * 255 / h) << 8) | 0x60;
}
// A figure: an ellipse of colour on magenta.
std::uint32_t figure(int x, int y, int w, int h) {
    const double dx = (x - w / 2.0) / (w / 2.0), dy = (y - h / 2.0) / (h / 2.0);
    return dx * dx + dy * dy < 1.0 ? 0xE0B090u ^ static_cast<std::uint32_t>((x ^ y) & 0x0F)
                                   : 0xFF00FFu;
}
// The text box: dark inside, a magenta margin.
std::uint32_t box(int x, int y, int w, int h) {
    return x < 30 || y < 30 || x >= w - 30 || y >= h - 30 ? 0xFF00FFu : 0x102040u;
}
std::uint32_t arrow(int x, int y, int, int) {
    return x + y < 40 ? 0xFFFFFFu : 0xFF00FFu;
}

// A full page: 14 lines of 25 double-byte characters, drawn from a mix of kana and kanji.
std::string makePage() {
    const std::string pool = "吾輩は猫である名前はまだ無いどこで生れたかとんと見当がつかぬ何でも"
                             "薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している";
    const std::string sjisPool = *utf8ToSjis(pool);
    std::string page;
    std::size_t at = 0;
    for (int line = 0; line < 14; ++line) {
        for (int c = 0; c < 25; ++c) {
            page += sjisPool.substr(at, 2);
            at = (at + 2) % sjisPool.size();
        }
        page += '\n';
    }
    return page;
}

bool setUp() {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    SDL_SetHint(SDL_HINT_RENDER_DRIVER, "software");
    // The window surface stays in memory too, so the figures are the software renderer's alone.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return false;
    g_scene.window =
        SDL_CreateWindow("bench", 0, 0, kScreenWidth, kScreenHeight, SDL_WINDOW_HIDDEN);
    if (!g_scene.window) return false;
    setRenderWindow(g_scene.window);
    if (createGraphicsDevice() < 0) return false;

    std::string pattern = (std::filesystem::temp_directory_path() / "tolvane-bench-XXXXXX");
    if (!mkdtemp(pattern.data())) return false;
    g_scene.folder = pattern;
    bool ok = loadTexturePlain(writePicture("title.bmp", 800, 600, gradient), g_scene.title) == 0;
    ok &= loadTexturePlain(writePicture("bg.bmp", 800, 600, gradient), g_scene.background) == 0;
    ok &= loadTextureKeyed(writePicture("c0.bmp", 559, 870, figure), g_scene.chara[0]) == 0;
    ok &= loadTextureKeyed(writePicture("c1.bmp", 559, 870, figure), g_scene.chara[1]) == 0;
    ok &= loadTextureKeyed(writePicture("box.bmp", 800, 600, box), g_scene.textBox) == 0;
    ok &= loadTextureKeyed(writePicture("icon.bmp", 40, 40, arrow), g_scene.pointer) == 0;
    createTextFont();
    g_scene.page = makePage();
    return ok && fontReady();
}

void tearDown() {
    releaseTexture(g_scene.title);
    releaseTexture(g_scene.background);
    releaseTexture(g_scene.chara[0]);
    releaseTexture(g_scene.chara[1]);
    releaseTexture(g_scene.textBox);
    releaseTexture(g_scene.pointer);
    releaseGraphics();
    if (g_scene.window) SDL_DestroyWindow(g_scene.window);
    SDL_Quit();
    std::error_code ignored;
    if (!g_scene.folder.empty()) std::filesystem::remove_all(g_scene.folder, ignored);
}

// One frame of the game as the game scene draws it, with `count` bytes of the page revealed.
void gameFrame(int count) {
    static ScreenQuad bg, layer0, layer1, textBox, pointer;
    static const bool built = [] {
        buildQuad(bg, 255, 0, 0, 800, 600, 0, 0, 64, 64);
        buildQuad(layer0, 255, 150, 20, 709, 890, 0, 0, 64, 64);
        buildQuad(layer1, 255, 20, 20, 579, 890, 0, 0, 64, 64);
        buildQuad(textBox, 127, 0, 0, 800, 600, 0, 0, 64, 64);
        buildQuad(pointer, 255, 400, 300, 440, 340, 0, 0, 64, 64);
        return true;
    }();
    (void)built;
    const auto* text = reinterpret_cast<const std::uint8_t*>(g_scene.page.data());
    beginFrame();
    drawQuad(g_scene.background, bg);
    drawQuad(g_scene.chara[0], layer0);
    drawQuad(g_scene.chara[1], layer1);
    drawQuad(g_scene.textBox, textBox);
    drawText(text, count, Rect{52, 52, 752, 552}, 0xFF000000u);
    drawText(text, count, Rect{50, 50, 750, 550}, 0xFFFFFFFFu);
    drawQuad(g_scene.pointer, pointer);
    endFrame();
}

// The frame of a page being typed: a character more than the frame before, as the game draws
// it every frame while the text runs.
void BM_GameFrame(benchmark::State& state) {
    const int size = static_cast<int>(g_scene.page.size());
    int count = 0;
    for (auto _ : state) {
        count = count + 2 > size ? 0 : count + 2;
        gameFrame(count);
    }
}

// The same frames drawn whole (--full-redraw): what each frame cost before frames were drawn
// only where they changed, and what the first frame of a new page or picture costs.
void BM_GameFrameFullRedraw(benchmark::State& state) {
    const int size = static_cast<int>(g_scene.page.size());
    int count = 0;
    setFullRedraw(true);
    for (auto _ : state) {
        count = count + 2 > size ? 0 : count + 2;
        gameFrame(count);
    }
    setFullRedraw(false);
}

// A frame at a click wait: nothing changed, nothing drawn.
void BM_GameFrameStill(benchmark::State& state) {
    const int size = static_cast<int>(g_scene.page.size());
    for (auto _ : state)
        gameFrame(size);
}

void BM_TitleFrame(benchmark::State& state) {
    ScreenQuad title;
    buildQuad(title, 255, 0, 0, 800, 600, 0, 0, 64, 64);
    for (auto _ : state) {
        beginFrame();
        drawQuad(g_scene.title, title);
        endFrame();
    }
}

BENCHMARK(BM_GameFrame)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();
BENCHMARK(BM_GameFrameFullRedraw)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_GameFrameStill)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly();
BENCHMARK(BM_TitleFrame)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly();

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const bool ready = setUp();
    if (ready)
        benchmark::RunSpecifiedBenchmarks();
    else
        std::fprintf(stderr, "bench_frame: the software renderer, pictures or font are missing\n");
    tearDown();
    benchmark::Shutdown();
    return ready ? 0 : 1;
}
