// Shared set-up for the scenario engine tests: a clean engine, scenario text written straight
// into memory or into scrambled files in a temporary game folder, and collected messages.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/message.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "script/script.h"

namespace fixture {

// Shift-JIS bytes of a UTF-8 literal.
inline std::string sj(std::string_view utf8) {
    auto out = utf8ToSjis(utf8);
    EXPECT_TRUE(out.has_value()) << utf8;
    return out.value_or(std::string());
}

inline std::vector<std::string>& messages() {
    static std::vector<std::string> list;
    return list;
}

inline void collectMessage(std::string_view text) {
    messages().emplace_back(text);
}

// The engine as a fresh process has it, with what game init sets up for the page and quads.
inline void resetEngine() {
    g_script = ScriptState{};
    g_script.charsPerLine = 25;
    g_page.fill(0);
    g_scenario.fill(0);
    g_blockLength = {};
    g_layers = {};
    g_links = {};
    currentBackground = 0;
    currentBgm = -1;
    forgetCheckpointWrites();
    g_pointer = PointerState{};
    g_pointerQuad = ScreenQuad{};
    g_mouse = MouseState{};
    g_frameNo = kSceneGame;
    buildQuad(g_clickQuad, 255, 0, 0, 30, 30, 0, 0, 16, 32);
    for (int l = 0; l < 2; ++l)
        buildQuad(g_layers[l].quad, 255, 150, 20, 709, 890, 0, 0, 64, 64);
    messages().clear();
    setMessageSink(collectMessage);
}

// Puts plain text into a block as the loader would (text, then zero bytes).
inline void putBlock(int block, std::string_view plain) {
    putBlockText(block, plain);
}

// Builds the first page of block 0 as startScenario does, without files.
inline void startFromMemory(std::string_view block0, std::string_view block1 = {}) {
    putBlock(0, block0);
    putBlock(1, block1);
    g_script.source = 0;
    g_script.revealPos = 0;
    g_script.removedBytes = 0;
    fillPage();
    g_script.textRunning = true;
}

inline std::string pageBytes(int from, int count) {
    return std::string(reinterpret_cast<const char*>(g_page.data()) + from, count);
}

// The revealed text of the page.
inline std::string shown() {
    return pageBytes(0, g_script.revealPos);
}

inline void steps(int n) {
    for (int i = 0; i < n; ++i)
        stepScript();
}

// Steps until the text waits, a choice is pending, or the scene changes; false if it never does.
inline bool stepUntilStop(int limit = 5000) {
    for (int i = 0; i < limit; ++i) {
        if (!g_script.textRunning || g_script.choiceWait || g_frameNo != kSceneGame) return true;
        stepScript();
    }
    return false;
}

inline std::string scramble(std::string_view plain) {
    std::string out(plain);
    for (char& c : out)
        c = static_cast<char>(scrambleScenarioByte(static_cast<std::uint8_t>(c)));
    return out;
}

inline void writeFile(const std::filesystem::path& path, std::string_view bytes) {
    std::filesystem::create_directories(path.parent_path().empty() ? "." : path.parent_path());
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline std::string readFile(const std::filesystem::path& path) {
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

// A test that runs in its own empty game folder (scenario files, Data.sav).
class GameFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        folder_ = std::filesystem::temp_directory_path() /
                  ("tolvane-test-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
        resetEngine();
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
        setMessageSink(nullptr);
    }
    void writeScenario(std::string_view plain0, std::string_view plain1) {
        writeFile("Scenario/scenario0.qv_", scramble(plain0));
        writeFile("Scenario/end1.qv_", scramble(plain1));
    }
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};

} // namespace fixture
