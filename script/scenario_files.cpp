// Scenario files: reading and descrambling the two blocks, and starting a scenario.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/message.h"
#include "script/script.h"

std::array<std::uint8_t, kScenarioSize> g_scenario{};
std::array<int, kBlockCount> g_blockLength{};

namespace {

// The block a span of g_scenario is, or -1 for memory elsewhere (a test's own buffer).
int blockOf(std::span<const std::uint8_t, kBlockSize> block) {
    const std::ptrdiff_t at = block.data() - g_scenario.data();
    if (at < 0 || at >= kScenarioSize || at % kBlockSize != 0) return -1;
    return static_cast<int>(at / kBlockSize);
}

void recordBlockLength(std::span<const std::uint8_t, kBlockSize> block, std::size_t n) {
    if (const int b = blockOf(block); b >= 0)
        g_blockLength[static_cast<std::size_t>(b)] = static_cast<int>(n);
}

// The author's sources, encoded, when the game plays them instead of the scenario files.
struct ProvidedScenario {
    bool set = false;
    std::array<std::vector<std::uint8_t>, kBlockCount> stored;
    std::array<std::string, kBlockCount> names;
};
ProvidedScenario g_provided;

// The place a game starts at instead of the start of block 0 (--start), once.
struct StartPlace {
    bool set = false;
    int block = 0;
    std::string label;
};
StartPlace g_startPlace;

// Descrambles stored bytes into a block as a file is read: up to a stored 0xFF, cut to the
// block's capacity, then one zero byte.
void loadScenarioBytes(std::span<std::uint8_t, kBlockSize> block,
                       std::span<const std::uint8_t> stored, std::string_view name) {
    std::printf("File: %.*s \n\n", static_cast<int>(name.size()), name.data());
    std::fflush(stdout);
    std::size_t n = 0;
    for (const std::uint8_t c : stored) {
        if (c == 0xFF) break;
        if (n >= static_cast<std::size_t>(kMaxScenarioText)) {
            reportProblem(std::string(name) + ": the text is longer than 65534 bytes; the rest "
                                              "is not loaded");
            break;
        }
        block[n++] = scrambleScenarioByte(c);
    }
    block[n] = 0;
    recordBlockLength(block, n);
}

// Where a game starts when a start place is set: on its label, as a jump there lands.
bool startAtPlace() {
    const StartPlace place = g_startPlace;
    g_startPlace = {};
    ScriptState& s = g_script;
    const std::optional<bool> marked = findLabel(place.block, place.label);
    if (!marked) {
        showMessage("ラベル *" + sjisToUtf8(place.label) + " (ブロック " +
                    std::to_string(place.block) + ") の検索に失敗");
        s.source = 0;
        return false;
    }
    s.currentBlock = place.block;
    if (*marked) writeCheckpoint(place.label);
    s.revealPos = 0;
    s.removedBytes = 0;
    s.column = 0;
    buildNextPage();
    return true;
}

} // namespace

void provideScenario(int block, std::vector<std::uint8_t> stored, std::string sourceName) {
    if (block < 0 || block >= kBlockCount) return;
    g_provided.set = true;
    g_provided.stored[static_cast<std::size_t>(block)] = std::move(stored);
    g_provided.names[static_cast<std::size_t>(block)] = std::move(sourceName);
}

void forgetProvidedScenario() {
    g_provided = {};
}

std::string_view scenarioSourceName(int block) {
    if (!g_provided.set || block < 0 || block >= kBlockCount) return {};
    return g_provided.names[static_cast<std::size_t>(block)];
}

void setStartPlace(int block, std::string_view label) {
    g_startPlace = {true, block, std::string(label)};
}

void loadScenarioBlocks() {
    auto memory = std::span<std::uint8_t, kScenarioSize>(g_scenario);
    const std::array<std::span<std::uint8_t, kBlockSize>, kBlockCount> blocks = {
        memory.subspan<0, kBlockSize>(), memory.subspan<kBlockSize, kBlockSize>()};
    const std::array<std::string_view, kBlockCount> paths = {kScenarioPath0, kScenarioPath1};
    for (int b = 0; b < kBlockCount; ++b) {
        const auto i = static_cast<std::size_t>(b);
        if (g_provided.set)
            loadScenarioBytes(blocks[i], g_provided.stored[i], g_provided.names[i]);
        else
            loadScenarioFile(blocks[i], paths[i]);
    }
}

void restartPageAt(std::int32_t source) {
    ScriptState& s = g_script;
    s.source = std::clamp(source, 0, kScenarioSize - 1);
    s.currentBlock = s.source / kBlockSize;
    s.revealPos = 0;
    s.removedBytes = 0;
    s.column = 0;
    s.choiceWait = false;
    s.linkMode = false;
    clearLinks();
    fillPage();
    s.textRunning = true;
}

void putBlockText(int block, std::string_view plain) {
    if (block < 0 || block >= kBlockCount) return;
    auto* start = g_scenario.data() + static_cast<std::ptrdiff_t>(block) * kBlockSize;
    std::fill_n(start, kBlockSize, std::uint8_t{0});
    const std::size_t n = std::min(plain.size(), static_cast<std::size_t>(kMaxScenarioText));
    std::copy_n(plain.begin(), n, start);
    g_blockLength[static_cast<std::size_t>(block)] = static_cast<int>(n);
}

std::uint8_t scenarioByte(std::int64_t pos) {
    return (pos >= 0 && pos < kScenarioSize) ? g_scenario[static_cast<std::size_t>(pos)] : 0;
}

int loadScenarioFile(std::span<std::uint8_t, kBlockSize> block, std::string_view path) {
    std::printf("File: %.*s \n\n", static_cast<int>(path.size()), path.data());
    std::fflush(stdout);

    std::FILE* file = openGameFile(path, "rb");
    if (!file) {
        char message[256]; // the message is at most 255 bytes, as it always was
        std::snprintf(message, sizeof message, "Error:Open file [%.*s]",
                      static_cast<int>(path.size()), path.data());
        showMessage(message);
        return 0;
    }

    // The text ends at the end of the file or at a stored 0xFF. A longer text than the block
    // holds is cut, so that block 0 never runs into block 1 (nor block 1 past the memory).
    std::size_t n = 0;
    int c;
    while ((c = std::fgetc(file)) != EOF && c != 0xFF) {
        if (n >= static_cast<std::size_t>(kMaxScenarioText)) {
            reportProblem(std::string(path) + ": the text is longer than 65534 bytes; the rest is "
                                              "not loaded");
            break;
        }
        block[n++] = scrambleScenarioByte(static_cast<std::uint8_t>(c));
    }
    block[n] = 0;
    recordBlockLength(block, n);
    std::fclose(file);
    return 1;
}

void prepareScenarioForGame() {
    ScriptState& s = g_script;
    s.currentBlock = 0;
    currentBackground = 0;
    for (int l = 0; l < 2; ++l) {
        buildQuad(g_layers[l].quad, 255, 150, 20, 709, 890, 0, 0, 64, 64);
        g_layers[l].visible = false;
    }
    buildQuad(g_clickQuad, 255, 0, 0, 30, 30, 0, 0, 16, 32);
    for (LinkEntry& link : g_links)
        buildQuad(link.quad, 127, 0, 0, 10, 10, 0, 0, 64, 64);
    // A game left with F1 during a choice would otherwise start again inside that choice, with
    // link areas the pointer can hardly reach: every game starts with no choice pending.
    s.choiceWait = false;
    s.linkMode = false;
    clearLinks();
    s.charsPerLine = ((g_textRect.right - g_textRect.left) / kCellWidth) / 2;
}

void startScenario() {
    ScriptState& s = g_script;
    s.source = 0;
    loadScenarioBlocks();
    if (g_startPlace.set && startAtPlace()) {
        s.textRunning = true;
        return;
    }
    s.revealPos = 0;
    s.removedBytes = 0;
    fillPage(); // skips the leading LF bytes (not CR) and sets column and line to 0
    s.textRunning = true;
}
