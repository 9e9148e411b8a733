// Packaging a game folder as a web page: every game file comes back out of the package as it
// was, the player's checkpoint stays out, the font holds every character the game draws, and
// each MIDI piece has its rendering under the name the browser looks for.
#include <SDL_ttf.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/files.h"
#include "scenes/comforts.h"
#include "script/scenario_text.h"
#include "sound/midi_synth.h"
#include "tools/web_package.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The package's files by path, unpacked as the page unpacks them.
std::map<std::string, Bytes> unpack(const fs::path& out) {
    std::string json;
    EXPECT_TRUE(readWholeFile((out / "game.json").string(), json));
    const Bytes pak = readFile(out / "game.pak");
    const std::regex entry(
        R"re(\{"path": "([^"]*)", "offset": (\d+), "stored": (\d+), "size": (\d+), "deflated": (true|false)\})re");
    std::map<std::string, Bytes> files;
    for (auto it = std::sregex_iterator(json.begin(), json.end(), entry);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        const std::size_t offset = std::stoull(m[2]), stored = std::stoull(m[3]),
                          size = std::stoull(m[4]);
        EXPECT_LE(offset + stored, pak.size()) << m[1];
        if (offset + stored > pak.size()) continue;
        Bytes bytes(pak.begin() + static_cast<std::ptrdiff_t>(offset),
                    pak.begin() + static_cast<std::ptrdiff_t>(offset + stored));
        if (m[5] == "true") {
            Bytes plain(size);
            uLongf plainSize = size;
            EXPECT_EQ(uncompress(plain.data(), &plainSize, bytes.data(), stored), Z_OK) << m[1];
            EXPECT_EQ(plainSize, size) << m[1];
            bytes = plain;
        }
        files[m[1]] = bytes;
    }
    return files;
}

class WebPackage : public ::testing::Test {
protected:
    void SetUp() override {
        work = fs::temp_directory_path() / ("tolvane-web-package-" + std::to_string(::getpid()));
        fs::remove_all(work);
        fs::create_directories(work);
        fs::copy(fs::path(TOLVANE_BINARY_DIR) / "demo/game", work / "game",
                 fs::copy_options::recursive);
        writeFile(work / "game/Data.sav", std::string(500, 'x'));
        fs::create_directories(work / "runtime");
        for (const char* name : {"index.html", "tolvane.js", "tolvane.wasm"})
            writeFile(work / "runtime" / name, std::string("runtime ") + name);
    }
    void TearDown() override { fs::remove_all(work); }

    int package(const std::string& game, const std::string& runtime, std::string* log) {
        std::FILE* out = std::tmpfile();
        const int status = packageWebGame({game, (work / "page").string(), runtime, ""}, out);
        std::rewind(out);
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, out))
            log->append(buffer, n);
        std::fclose(out);
        return status;
    }

    fs::path work;
};

TEST_F(WebPackage, TheDemoComesOutAsItWentInWithItsFontAndMusic) {
    std::string log;
    ASSERT_EQ(package((work / "game").string(), (work / "runtime").string(), &log), 0) << log;
    EXPECT_EQ(log.find("warning"), std::string::npos) << log;
    const fs::path page = work / "page";
    for (const char* name : {"index.html", "tolvane.js", "tolvane.wasm"})
        EXPECT_EQ(readFile(page / name), readFile(work / "runtime" / name)) << name;

    const std::map<std::string, Bytes> files = unpack(page);
    int gameFiles = 0, pieces = 0;
    std::string drawn = comfortCharacters();
    for (const auto& item : fs::recursive_directory_iterator(work / "game")) {
        if (!item.is_regular_file()) continue;
        const std::string relative = fs::relative(item.path(), work / "game").generic_string();
        const auto found = files.find("game/" + relative);
        if (relative == "Data.sav") {
            EXPECT_EQ(found, files.end()) << "the player's checkpoint is not the game's";
            continue;
        }
        ++gameFiles;
        ASSERT_NE(found, files.end()) << relative;
        const Bytes bytes = readFile(item.path());
        EXPECT_EQ(found->second, bytes) << relative;
        if (item.path().extension() == ".qv_") drawn += sjisToUtf8(plainScenarioText(bytes));
        if (item.path().extension() == ".mid") {
            ++pieces;
            const auto music = files.find("music/" + renderedMidiName(bytes));
            ASSERT_NE(music, files.end()) << relative;
            EXPECT_EQ(std::string(music->second.begin(), music->second.begin() + 4), "OggS");
        }
    }
    EXPECT_GE(gameFiles, 20);
    EXPECT_EQ(pieces, 2);

    // Every character the game draws is in the font, which is far smaller than the whole face.
    const auto font = files.find("font/game.ttf");
    ASSERT_NE(font, files.end());
    EXPECT_LT(font->second.size(), 1'000'000u);
    ASSERT_EQ(TTF_Init(), 0);
    TTF_Font* face = TTF_OpenFontRW(
        SDL_RWFromConstMem(font->second.data(), static_cast<int>(font->second.size())), 1, 35);
    ASSERT_NE(face, nullptr) << TTF_GetError();
    int missing = 0;
    for (std::size_t i = 0; i < drawn.size();) {
        std::uint32_t cp = 0;
        const std::size_t length = utf8CharAt(drawn, i, &cp);
        i += length != 0 ? length : 1;
        if (cp >= 0x20 && !TTF_GlyphIsProvided32(face, cp)) {
            ++missing;
            ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(cp) << " is not in the font";
        }
        if (missing > 5) break;
    }
    TTF_CloseFont(face);
    TTF_Quit();
}

TEST_F(WebPackage, WhatCannotBePackagedIsSaidAndNothingIsWritten) {
    struct Case {
        std::string game, runtime, said;
    } cases[] = {
        {(work / "runtime").string(), (work / "runtime").string(), "is not a game folder"},
        {(work / "game").string(), (work / "nowhere").string(), "the browser build is not in"},
    };
    for (const Case& c : cases) {
        std::string log;
        EXPECT_EQ(package(c.game, c.runtime, &log), 2) << c.said;
        EXPECT_NE(log.find(c.said), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(work / "page")) << c.said;
    }
}

} // namespace
