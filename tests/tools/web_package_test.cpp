// Packaging a game folder as a web page: every game file comes back out of the package as it
// was, the player's checkpoint stays out, the font holds every character the game draws, and
// each MIDI piece has its rendering under the name the browser looks for. Only what the game
// reads goes in, never a file from outside the folder, and the page never writes through a link.
#include <SDL_ttf.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/message.h"
#include "player/player.h"
#include "script/scenario_text.h"
#include "sound/midi_synth.h"
#include "support/game_copy.h"
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
        game_copy::copyGameFiles(fs::path(TOLVANE_BINARY_DIR) / "demo/game", work / "game");
        writeFile(work / "game/Data.sav", std::string(500, 'x'));
        fs::create_directories(work / "runtime");
        for (const char* name : {"index.html", "tolvane.js", "tolvane.wasm"})
            writeFile(work / "runtime" / name, std::string("runtime ") + name);
    }
    void TearDown() override { fs::remove_all(work); }

    int package(const std::string& game, const std::string& runtime, std::string* log,
                const std::string& page = {}) {
        std::FILE* out = std::tmpfile();
        const int status = packageWebGame(
            {game, page.empty() ? (work / "page").string() : page, runtime, ""}, out);
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

// The line of the log that names `name`, or nothing.
std::string lineNaming(const std::string& log, const std::string& name) {
    std::size_t at = log.find(name);
    if (at == std::string::npos) return {};
    const std::size_t begin = log.rfind('\n', at);
    const std::size_t end = log.find('\n', at);
    return log.substr(begin == std::string::npos ? 0 : begin + 1,
                      end == std::string::npos
                          ? std::string::npos
                          : end - (begin == std::string::npos ? 0 : begin + 1));
}

// What the game never reads stays out without a word; what it would read but cannot be published
// (a link out of the folder, something that is not a regular file, a name that is not UTF-8)
// stays out with a warning naming it; a link inside the folder is published under its own name.
TEST_F(WebPackage, OnlyRegularFilesTheGameReadsFromInsideItsFolderArePublished) {
    const fs::path game = work / "game";
    writeFile(work / "secret", "the machine's secret");
    fs::create_directories(work / "elsewhere");
    writeFile(work / "elsewhere/secret.bmp", "the machine's secret");
    struct Case {
        std::string entry; // in the game folder
        std::function<void(const fs::path&)> make;
        std::string said; // on the line naming the entry; empty: no line names it
        bool published;
    } cases[] = {
        {"CG/evil.bmp", [&](const fs::path& p) { fs::create_symlink(work / "secret", p); },
         "leads outside the game folder", false},
        {"Sound/env.wav", [](const fs::path& p) { fs::create_symlink("/proc/self/environ", p); },
         "leads outside the game folder", false},
        {"cg", [&](const fs::path& p) { fs::create_directory_symlink(work / "elsewhere", p); },
         "leads outside the game folder", false},
        {"Sound/gone.wav", [](const fs::path& p) { fs::create_symlink("nothing.wav", p); },
         "leads nowhere", false},
        {"CG/fifo.bmp", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
         "not a regular file", false},
        {"CG/\xff\x81.bmp", [](const fs::path& p) { writeFile(p, "BM"); }, "not UTF-8", false},
        {"CG/inside.bmp", [](const fs::path& p) { fs::create_symlink("title.bmp", p); }, "", true},
        {"Scenario/scenario0.txt", [](const fs::path& p) { writeFile(p, "source"); }, "", false},
        {"Data.sav.bak", [](const fs::path& p) { writeFile(p, "old checkpoint"); }, "", false},
        {"CG/title.bmp~", [](const fs::path& p) { writeFile(p, "BM"); }, "", false},
        {"CG/.title.bmp.swp", [](const fs::path& p) { writeFile(p, "BM"); }, "", false},
        {"Sound/.#door50.wav", [](const fs::path& p) { fs::create_symlink("user@host", p); }, "",
         false},
        {"CG/old/title.bmp",
         [](const fs::path& p) {
             fs::create_directories(p.parent_path());
             writeFile(p, "BM");
         },
         "", false},
        {"notes.txt", [](const fs::path& p) { writeFile(p, "to do"); }, "", false},
    };
    for (const Case& c : cases)
        c.make(game / c.entry);

    std::string log;
    ASSERT_EQ(package(game.string(), (work / "runtime").string(), &log), 0) << log;
    const std::map<std::string, Bytes> files = unpack(work / "page");
    for (const Case& c : cases) {
        const std::string line = lineNaming(log, terminalText((game / c.entry).string()));
        if (c.said.empty())
            EXPECT_EQ(line, "") << c.entry;
        else
            EXPECT_NE(line.find("warning: "), std::string::npos) << c.entry << ": " << log;
        EXPECT_NE(line.find(c.said), std::string::npos) << c.entry << ": " << log;
        bool found = false;
        for (const auto& [path, bytes] : files)
            found = found || path == "game/" + c.entry || path.starts_with("game/" + c.entry + "/");
        EXPECT_EQ(found, c.published) << c.entry;
    }
    EXPECT_EQ(files.at("game/CG/inside.bmp"), readFile(game / "CG/title.bmp"));

    std::string json;
    ASSERT_TRUE(readWholeFile((work / "page/game.json").string(), json));
    EXPECT_TRUE(isValidUtf8(json));
    EXPECT_EQ(json.find(".."), std::string::npos) << json;
    const std::string secret = "the machine's secret";
    for (const auto& [path, bytes] : files)
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()).find(secret), std::string::npos) << path;
}

// The stored entry of the package's list for `path`: its "deflated" flag, or nothing.
std::optional<bool> storedDeflated(const fs::path& page, const std::string& path) {
    std::string json;
    EXPECT_TRUE(readWholeFile((page / "game.json").string(), json));
    const std::string key = "{\"path\": \"" + path + "\"";
    const std::size_t at = json.find(key);
    if (at == std::string::npos) return std::nullopt;
    return json.find("\"deflated\": true", at) < json.find('}', at);
}

// Pictures and sounds in the formats that stand in for BMP, MIDI and WAV go in as they are, never
// deflated a second time; one the game can never read, as an earlier file of its name is taken
// in its place, stays out with a note naming that file. MIDI is rendered only where the game reads
// music, in a ".mid" file.
TEST_F(WebPackage, StandInsGoInAsTheyAreAndOnlyWhenTheGameCanReadThem) {
    const fs::path game = work / "game";
    // Zeros that zlib would shrink a hundredfold, so that only the kind keeps them as they are.
    const std::string zeros(20000, '\0');
    // A quarter note of its own pitch, so that each piece has a rendering of its own.
    const auto note = [](std::uint8_t pitch) {
        return Bytes{'M',   'T', 'h', 'd',  0,     0,   0, 6,    0,    0,  0, 1,
                     0,     96,  'M', 'T',  'r',   'k', 0, 0,    0,    12, 0, 0x90,
                     pitch, 100, 96,  0x80, pitch, 0,   0, 0xFF, 0x2F, 0};
    };
    const std::map<std::string, Bytes> pieces = {{"Sound/tune.mid", note(60)},
                                                 {"Sound/tune53.wav", note(62)}};
    struct Case {
        std::string file;  // made in the game folder, holding `zeros` unless it is "MIDI"
        std::string taken; // the file read in its place; empty: it is published
        bool deflated = false;
    } cases[] = {
        {"CG/背景0.png", "CG/背景0.bmp"}, // the named picture is there
        {"CG/sky.PNG", ""},               // any letter case
        {"CG/sky.webp", "CG/sky.PNG"},    // the first stand-in there is taken
        {"CG/sky.jpg", "CG/sky.PNG"},
        {"CG/road.webp", ""},
        {"CG/road.jpeg", "CG/road.webp"},
        {"CG/only.jpeg", ""},
        {"CG/plain.bmp", "", true}, // BMP shrinks
        {"Sound/brel_gm1.ogg", "Sound/brel_gm1.mid"},
        {"Sound/door50.flac", "Sound/door50.wav"},
        {"Sound/rain.opus", ""},
        {"Sound/rain.flac", "Sound/rain.opus"},
        {"Sound/wind.ogg", ""},
        {"Sound/wind.opus", "Sound/wind.ogg"},
        {"Sound/bell.flac", ""},
        {"Sound/hum.wav", "", true},
        {"Sound/tune.mid", ""},   // MIDI: rendered
        {"Sound/tune53.wav", ""}, // MIDI in an effect's name: not rendered
    };
    for (const Case& c : cases) {
        const auto piece = pieces.find(c.file);
        writeFile(game / c.file, piece == pieces.end()
                                     ? zeros
                                     : std::string(piece->second.begin(), piece->second.end()));
    }
    std::string log;
    ASSERT_EQ(package(game.string(), (work / "runtime").string(), &log), 0) << log;
    EXPECT_EQ(log.find("warning"), std::string::npos) << log;
    const fs::path page = work / "page";
    const std::map<std::string, Bytes> files = unpack(page);
    for (const Case& c : cases) {
        const std::string line = lineNaming(log, terminalText((game / c.file).string()) + ":");
        const auto found = files.find("game/" + c.file);
        if (c.taken.empty()) {
            EXPECT_EQ(line, "") << c.file;
            ASSERT_NE(found, files.end()) << c.file;
            EXPECT_EQ(found->second, readFile(game / c.file)) << c.file;
            EXPECT_EQ(storedDeflated(page, "game/" + c.file), c.deflated) << c.file;
        } else {
            EXPECT_EQ(found, files.end()) << c.file;
            EXPECT_NE(line.find("note: the game reads " + c.taken + " in its place"),
                      std::string::npos)
                << c.file << ": " << log;
        }
    }
    EXPECT_TRUE(files.contains("music/" + renderedMidiName(pieces.at("Sound/tune.mid"))));
    EXPECT_EQ(storedDeflated(page, "music/" + renderedMidiName(pieces.at("Sound/tune.mid"))),
              false);
    EXPECT_FALSE(files.contains("music/" + renderedMidiName(pieces.at("Sound/tune53.wav"))));
}

// A link at a name of the page is replaced by the page's file; what it leads to is not touched.
TEST_F(WebPackage, ThePageReplacesLinksAtItsNamesAndNeverWritesThroughThem) {
    const fs::path page = work / "page";
    fs::create_directories(page);
    const char* names[] = {"game.json", "game.pak", "index.html", "tolvane.js", "tolvane.wasm"};
    for (const char* name : names) {
        writeFile(work / (std::string("victim-") + name), "not the page's");
        fs::create_symlink(work / (std::string("victim-") + name), page / name);
    }
    std::string log;
    ASSERT_EQ(package((work / "game").string(), (work / "runtime").string(), &log), 0) << log;
    for (const char* name : names) {
        std::string kept;
        EXPECT_TRUE(readWholeFile((work / (std::string("victim-") + name)).string(), kept));
        EXPECT_EQ(kept, "not the page's") << name;
        EXPECT_FALSE(fs::is_symlink(page / name)) << name;
    }
    EXPECT_EQ(readFile(page / "tolvane.wasm"), readFile(work / "runtime/tolvane.wasm"));
    EXPECT_TRUE(unpack(page).contains("game/Scenario/scenario0.qv_"));
    EXPECT_EQ(std::distance(fs::directory_iterator(page), fs::directory_iterator()), 5)
        << "no file of the writing is left behind";
}

TEST_F(WebPackage, WhatCannotBePackagedIsSaidAndNothingIsWritten) {
    const std::string game = (work / "game").string(), runtime = (work / "runtime").string(),
                      page = (work / "page").string();
    fs::create_directory_symlink(work / "game/CG", work / "into-the-game");
    // Recognised as a game by a scenario file that leads outside it.
    const std::string linkedGame = (work / "linked-game").string();
    fs::create_directories(work / "linked-game/Scenario");
    fs::create_symlink(work / "game/Scenario/scenario0.qv_",
                       work / "linked-game/Scenario/scenario0.qv_");
    struct Case {
        std::string game, runtime, page;
        std::vector<std::pair<std::string, std::uint64_t>> sparse; // made in the game folder
        int status;
        std::string said;
    } cases[] = {
        {runtime, runtime, page, {}, 2, "is not a game folder"},
        {game, (work / "nowhere").string(), page, {}, 2, "the browser build is not in"},
        {game, runtime, game + "/page", {}, 2, "inside the game folder"},
        {game, runtime, game, {}, 2, "inside the game folder"},
        {game, runtime, (work / "into-the-game/page").string(), {}, 2, "inside the game folder"},
        {linkedGame, runtime, page, {}, 1, "the page would have no Scenario/scenario0.qv_"},
        {game,
         runtime,
         page,
         {{"CG/huge.bmp", 512ull << 20}},
         1,
         "CG/huge.bmp is 512.00 MB, larger than the 65 MB"},
        {game, runtime, page, {{"Sound/long.wav", (65ull << 20) + 1}}, 1, "Sound/long.wav is"},
        {game,
         runtime,
         page,
         {{"CG/a.bmp", 60ull << 20},
          {"CG/b.bmp", 60ull << 20},
          {"CG/c.bmp", 60ull << 20},
          {"CG/d.bmp", 60ull << 20},
          {"CG/e.bmp", 60ull << 20},
          {"CG/f.bmp", 60ull << 20},
          {"CG/g.bmp", 60ull << 20},
          {"CG/h.bmp", 60ull << 20},
          {"CG/i.bmp", 60ull << 20}},
         1,
         "MB in all, more than the 512 MB"},
    };
    for (const Case& c : cases) {
        for (const auto& [name, size] : c.sparse) {
            writeFile(work / "game" / name, "");
            fs::resize_file(work / "game" / name, size);
        }
        std::string log;
        EXPECT_EQ(package(c.game, c.runtime, &log, c.page), c.status) << c.said << ": " << log;
        EXPECT_NE(log.find(c.said), std::string::npos) << log;
        EXPECT_FALSE(fs::exists(fs::path(c.page) / "game.json")) << c.said;
        for (const auto& [name, size] : c.sparse)
            fs::remove(work / "game" / name);
    }
}

} // namespace
