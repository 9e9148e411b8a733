// A small game folder made by the tests (pictures, sounds, scenario), and a way to run the
// program on it headless and read what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/files.h"
#include "script/script.h"

namespace game {

namespace fs = std::filesystem;

inline std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeBytes(const fs::path& p, std::string_view bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A solid picture, optionally with a magenta frame `border` pixels wide around it.
inline void writePicture(const fs::path& p, int w, int h, std::uint32_t rgb, int border = 0) {
    fs::create_directories(p.parent_path());
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, w, h, 24, SDL_PIXELFORMAT_RGB24);
    ASSERT_NE(s, nullptr);
    SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 255, 0, 255));
    SDL_Rect inner{border, border, w - 2 * border, h - 2 * border};
    SDL_FillRect(s, &inner, SDL_MapRGB(s->format, rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF));
    ASSERT_EQ(SDL_SaveBMP(s, p.c_str()), 0) << SDL_GetError();
    SDL_FreeSurface(s);
}

inline std::string le16(int v) {
    return {char(v & 0xFF), char((v >> 8) & 0xFF)};
}
inline std::string le32(std::uint32_t v) {
    return {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
}

inline std::string wavBytes(double seconds = 0.2) {
    const int rate = 22050;
    const int n = static_cast<int>(rate * seconds);
    std::string data;
    for (int i = 0; i < n; ++i)
        data += le16(static_cast<int>(8000 * std::sin(2 * M_PI * 440 * i / rate)) & 0xFFFF);
    return "RIFF" + le32(36 + data.size()) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
           le32(rate) + le32(rate * 2) + le16(2) + le16(16) + "data" + le32(data.size()) + data;
}

inline std::string midiBytes() {
    std::string track;
    for (int note : {60, 64, 67, 72}) {
        track += std::string("\x00\x90", 2) + char(note) + char(100);
        track += std::string("\x60\x80", 2) + char(note) + char(0);
    }
    track += std::string("\x00\xFF\x2F\x00", 4);
    auto be32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char((v >> 16) & 0xFF), char((v >> 8) & 0xFF),
                           char(v & 0xFF)};
    };
    return "MThd" + be32(6) + std::string("\x00\x00\x00\x01\x00\x60", 6) + "MTrk" +
           be32(track.size()) + track;
}

inline std::string scrambled(std::string_view plainSjis) {
    std::string out(plainSjis);
    for (char& c : out)
        c = static_cast<char>(scrambleScenarioByte(static_cast<std::uint8_t>(c)));
    return out;
}

inline std::string sj(std::string_view utf8) {
    return utf8ToSjis(utf8).value_or("?");
}

// Background n is drawn in a colour of its own so a screenshot tells which one shows.
inline std::uint32_t backgroundColour(int n) {
    return 0x102030u + 0x200000u * n;
}

// Writes the whole game folder: every picture and sound of the game, and the two scenario files.
inline void writeGame(const fs::path& dir, std::string_view block0, std::string_view block1) {
    for (int n : {0, 1, 2, 3, 5, 6, 7})
        writePicture(dir / "CG" / ("背景" + std::to_string(n) + ".bmp"), 80, 60,
                     backgroundColour(n));
    writePicture(dir / "CG" / "立ち絵0.bmp", 56, 87, 0x00C000, 8);
    writePicture(dir / "CG" / "立ち絵1.bmp", 56, 87, 0xC00000, 8);
    writePicture(dir / "CG" / "テキスト背景.bmp", 32, 32, 0x0000FF);
    writePicture(dir / "CG" / "icon.bmp", 40, 40, 0xFFFF00, 10);
    writePicture(dir / "CG" / "click.bmp", 64, 64, 0x00FFFF);
    writePicture(dir / "CG" / "選択背景.bmp", 32, 32, 0xFF8000);
    writePicture(dir / "CG" / "title.bmp", 80, 60, 0x808080);
    writeBytes(dir / "Sound" / "morva_g0.mid", midiBytes());
    writeBytes(dir / "Sound" / "brel_gm1.mid", midiBytes());
    for (const char* name : {"door50.wav", "gameover51.wav", "start52.wav"})
        writeBytes(dir / "Sound" / name, wavBytes());
    writeBytes(dir / "Scenario" / "scenario0.qv_", scrambled(block0));
    writeBytes(dir / "Scenario" / "end1.qv_", scrambled(block1));
}

struct RunResult {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs the program headless in `dir` with the arguments; standard output and error collected.
inline RunResult runGame(const fs::path& dir, const std::string& args) {
    const fs::path out = dir / "stdout.txt", err = dir / "stderr.txt";
    const std::string command = "cd '" + dir.string() +
                                "' && SDL_AUDIODRIVER=dummy timeout -k 5 120 '" +
                                TOLVANE_BINARY_DIR "/tolvane' " + args + " > '" + out.string() +
                                "' 2> '" + err.string() + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(out), readText(err)};
}

// The number after "key": in a JSON text, searched from `from`.
inline long long jsonNumber(const std::string& json, const std::string& key, std::size_t from = 0) {
    const std::size_t at = json.find("\"" + key + "\":", from);
    if (at == std::string::npos) return -999999;
    return std::atoll(json.c_str() + at + key.size() + 3);
}

inline bool jsonBool(const std::string& json, const std::string& key, std::size_t from = 0) {
    const std::size_t at = json.find("\"" + key + "\":", from);
    return at != std::string::npos && json.compare(at + key.size() + 3, 4, "true") == 0;
}

inline std::string jsonString(const std::string& json, const std::string& key) {
    const std::size_t at = json.find("\"" + key + "\":\"");
    if (at == std::string::npos) return "<missing>";
    const std::size_t start = at + key.size() + 4;
    std::string out;
    for (std::size_t i = start; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] == '\\' && i + 1 < json.size()) {
            ++i;
            out += json[i] == 'n' ? '\n' : json[i];
        } else {
            out += json[i];
        }
    }
    return out;
}

// The frames of the trace lines holding `match` (an event of one kind, a field's value).
inline std::vector<long long> framesOf(const std::string& trace, const std::string& match) {
    std::vector<long long> frames;
    for (std::size_t at = 0; (at = trace.find(match, at)) != std::string::npos;
         at += match.size()) {
        const std::size_t line = trace.rfind('\n', at);
        frames.push_back(jsonNumber(trace, "frame", line == std::string::npos ? 0 : line));
    }
    return frames;
}

// A walk through the demo with the game's own input only: a click starts it, the pointer wanders
// over the first line as it types and comes back, F1 goes back to the title in the middle of the
// first page, a new game starts and the pointer goes down onto the line of the first link (the
// title put it back in its corner); then a click every other frame until `until`.
inline std::string demoWalkInput(int until) {
    std::string in = "3 move 0 40\n10 click\n";
    for (int f = 15; f < 75; ++f)
        in += std::to_string(f) + (f < 45 ? " move 4 3\n" : " move -4 -3\n");
    in += "300 keydown F1\n301 keyup F1\n310 click\n315 move 0 40\n";
    for (int f = 320; f < until; f += 2)
        in += std::to_string(f) + " click\n";
    return in;
}

class GameTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tolvane-game-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir_);
    }
    fs::path dir_;
};

// A short story: page 1 has two click waits, then a choice of two links into block 1, where a
// page waits once and [reset] ends the game.
inline std::string choiceStoryBlock0() {
    return sj("あいう") + "\r\n[image 1 layer=base left=0 top=0]" + sj("えお") +
           "\r\n[link target=*a]" + sj("かき") + "[endlink]\r\n" + "[link target=*b]" + sj("くけ") +
           "[endlink]\r\n[s]\r\n*a\r\n" + sj("さ") + "[jump 1 target=*cp]\r\n*b\r\n" + sj("し") +
           "[jump 1 target=*cp]\r\n";
}
inline std::string choiceStoryBlock1() {
    return "*cp\r\n" + sj("たちつてと") + "\r\n[reset]";
}

// A game played headless from a replay in the test's folder, with the state kept at some frames.
class ReplayTest : public GameTest {
protected:
    // Plays the input to the last of the frames (or to `last`, when later) and returns the state
    // after each of them; the run's output stays in run_, its trace in trace().
    std::map<int, std::string> play(const std::string& input, const std::vector<int>& frames,
                                    const std::string& extra = "", int last = 0) {
        writeBytes(dir_ / "input.txt", input);
        std::string args = "--headless --input input.txt --trace trace.jsonl " + extra;
        for (int f : frames) {
            args += " --state " + std::to_string(f) + ":s" + std::to_string(f) + ".json";
            last = std::max(last, f);
        }
        fs::remove(dir_ / "Data.sav");
        run_ = runGame(dir_, args + " --frames " + std::to_string(last));
        EXPECT_EQ(run_.exitCode, 0) << run_.err;
        std::map<int, std::string> states;
        for (int f : frames)
            states[f] = readText(dir_ / ("s" + std::to_string(f) + ".json"));
        return states;
    }
    std::string trace() { return readText(dir_ / "trace.jsonl"); }
    RunResult run_;
};

} // namespace game
