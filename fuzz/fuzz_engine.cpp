#include "fuzz/fuzz_engine.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "sound/sound.h"

namespace fuzz {

namespace {

std::filesystem::path g_folder;

void dropMessage(std::string_view) {}

void removeWorkFolder() {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::temp_directory_path(ec), ec);
    if (!g_folder.empty()) std::filesystem::remove_all(g_folder, ec);
}

} // namespace

void enterWorkFolder() {
    if (!g_folder.empty()) return;
    std::error_code ec;
    std::filesystem::path base = "/dev/shm";
    if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0)
        base = std::filesystem::temp_directory_path();
    std::string pattern = (base / "tolvane-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fail("cannot make a work folder", __FILE__, __LINE__);
    g_folder = pattern;
    std::filesystem::current_path(g_folder);
    std::atexit(removeWorkFolder);
    setMessageSink(dropMessage);
}

void removeCheckpointFile() {
    std::remove(std::string(kCheckpointPath).c_str());
    std::remove((std::string(kCheckpointPath) + ".new").c_str());
}

void resetEngine() {
    g_script = ScriptState{};
    g_page.fill(0);
    g_scenario.fill(0);
    g_blockLength = {};
    g_layers = {};
    g_links = {};
    currentBackground = 0;
    currentBgm = -1;
    g_pointer = PointerState{};
    g_pointerQuad = ScreenQuad{};
    g_clickQuad = ScreenQuad{};
    g_mouse = MouseState{};
    g_frameNo = kSceneTitleInit;
    removeCheckpointFile();
}

void putBlock(int block, std::string_view plain, Layout layout) {
    auto* start = g_scenario.data() + static_cast<std::ptrdiff_t>(block) * kBlockSize;
    std::fill_n(start, kBlockSize, std::uint8_t{0});
    constexpr auto kCapacity = static_cast<std::size_t>(kMaxScenarioText);
    plain = plain.substr(0, std::min(plain.size(), kCapacity));
    switch (layout) {
    case Layout::AsLoaded:
        std::copy(plain.begin(), plain.end(), start);
        break;
    case Layout::Repeated:
        for (std::size_t n = 0; !plain.empty() && n < kCapacity; n += plain.size())
            std::copy_n(plain.begin(), std::min(plain.size(), kCapacity - n), start + n);
        break;
    case Layout::AtTheEnd:
        std::fill_n(start, kCapacity - plain.size(), std::uint8_t{'x'});
        std::copy(plain.begin(), plain.end(), start + (kCapacity - plain.size()));
        break;
    }
    // The other layouts fill the block's whole capacity, but for a repeat of nothing.
    const bool whole = layout == Layout::AtTheEnd || (layout == Layout::Repeated && !plain.empty());
    g_blockLength[static_cast<std::size_t>(block)] =
        static_cast<int>(whole ? kCapacity : plain.size());
}

void titleInit() {
    PointerState& p = g_pointer;
    p.bounds = Rect{10, 10, 790, 590};
    p.x = 10;
    p.y = 10;
    p.pressed[0] = p.pressed[1] = p.pressed[2] = 0;
    p.speed = 2;
    p.width = 40;
    p.height = 40;
    g_frameNo = kSceneTitle;
}

void gameInit() {
    ScriptState& s = g_script;
    prepareScenarioForGame();
    const PointerState& p = g_pointer;
    buildQuad(g_pointerQuad, 255, static_cast<float>(p.x), static_cast<float>(p.y),
              static_cast<float>(p.x + p.width), static_cast<float>(p.y + p.height), 0, 0, 64, 64);

    // startScenario without its files: the blocks in memory are what the files would give.
    s.source = 0;
    s.revealPos = 0;
    s.removedBytes = 0;
    fillPage();
    s.textRunning = true;
    if (s.continueGame) restoreCheckpoint();
    g_frameNo = kSceneGame;
}

void gameFrame(int dx, int dy, bool leftDown) {
    g_mouse = MouseState{dx, dy, 0, {static_cast<std::uint8_t>(leftDown ? 0x80 : 0), 0, 0, 0}};
    updatePointer();
    if (g_script.textRunning && !g_script.choiceWait) stepScript();
    if (g_script.choiceWait) testLinks();
}

void checkInvariants() {
    const ScriptState& s = g_script;
    FUZZ_CHECK(s.source >= 0 && s.source <= kScenarioSize);
    FUZZ_CHECK(s.revealPos >= 0 && s.revealPos <= kPageBufferSize);
    FUZZ_CHECK(s.removedBytes >= -kPageBufferSize && s.removedBytes <= kScenarioSize);
    FUZZ_CHECK(s.linkCount >= 0 && s.linkCount <= kLinkCount);
    FUZZ_CHECK(s.currentBlock >= 0 && s.currentBlock < kBlockCount);
    FUZZ_CHECK(s.line >= 0 && s.column >= 0);
    FUZZ_CHECK(currentBackground >= 0 && currentBackground < kBackgroundCount);
    FUZZ_CHECK(currentBgm >= -1 && currentBgm < kSoundSlotCount);
    for (const PictureLayer& layer : g_layers)
        FUZZ_CHECK(layer.imageNo >= 0 && layer.imageNo < kCharPictureCount);
    for (const LinkEntry& link : g_links)
        FUZZ_CHECK(std::find(link.target.begin(), link.target.end(), '\0') != link.target.end());
    FUZZ_CHECK(g_pointer.x >= g_pointer.bounds.left && g_pointer.y >= g_pointer.bounds.top);
}

} // namespace fuzz

// A fuzz run feeds millions of inputs to one process, and the engine remembers every distinct
// problem it reported so as to report it once per run: with a new tag text in nearly every
// input, that memory would grow until the run's memory limit. The fuzz targets are linked with
// --wrap for this function (see CMakeLists.txt), so that the problem is reported every time
// instead; in a game the texts come from the scenario and stay few.
extern "C" void
__wrap__Z17reportProblemOnceSt17basic_string_viewIcSt11char_traitsIcEE(std::string_view text) {
    reportProblem(text);
}
