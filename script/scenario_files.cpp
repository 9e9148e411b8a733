// Scenario files: reading and descrambling the two blocks, and starting a scenario.
#include <cstdio>
#include <string>

#include "base/files.h"
#include "base/message.h"
#include "script/script.h"

std::array<std::uint8_t, kScenarioSize> g_scenario{};

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
    auto memory = std::span<std::uint8_t, kScenarioSize>(g_scenario);
    loadScenarioFile(memory.subspan<0, kBlockSize>(), kScenarioPath0);
    loadScenarioFile(memory.subspan<kBlockSize, kBlockSize>(), kScenarioPath1);
    s.revealPos = 0;
    s.removedBytes = 0;
    fillPage(); // skips the leading LF bytes (not CR) and sets column and line to 0
    s.textRunning = true;
}
