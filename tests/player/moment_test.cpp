// The whole moment: the demo played in process to a moment, on through a choice, its [reset] and
// the continue; then, after play elsewhere, the moment restored from its bytes and the same
// input played again gives the very same frames. And the encodings a load must refuse.
#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/options.h"
#include "app/state_dump.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/moment.h"
#include "render/render.h"
#include "script/script.h"
#include "sound/sound.h"
#include "support/game_copy.h"
#include "support/played_frames.h"

namespace fs = std::filesystem;

namespace {

using namespace played_frames;

// The left button down every other frame: every click wait is answered within two frames.
FrameInput clicking(std::uint64_t frame) {
    return {0, 0, frame % 2 == 0};
}

class PlayedDemo : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path demo = fs::path(TOLVANE_BINARY_DIR) / "demo" / "game";
        ASSERT_TRUE(fs::exists(demo / "Scenario" / "scenario0.qv_")) << "the demo is not built";
        dir_ = fs::temp_directory_path() / ("tolvane-moment-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        game_copy::copyGameFiles(demo, dir_);
        back_ = fs::current_path();
        fs::current_path(dir_);
        options_.headless = true;
        options_.plain = true;
        ASSERT_EQ(startProgram(options_), 0);
        started_ = true;
    }
    void TearDown() override {
        if (started_) finishProgram();
        fs::current_path(back_);
        if (!HasFailure()) fs::remove_all(dir_);
    }
    // Runs frames with the input until `done` holds after one; the frames run.
    std::uint64_t playUntil(const std::function<FrameInput(std::uint64_t)>& input,
                            const std::function<bool()>& done, std::uint64_t limit) {
        std::uint64_t n = 0;
        while (n < limit) {
            playFrame(input(programFrame() + 1));
            ++n;
            if (done()) break;
        }
        EXPECT_LT(n, limit) << "the game never got where the test goes";
        return n;
    }

    fs::path dir_, back_;
    ProgramOptions options_;
    bool started_ = false;
};

} // namespace

TEST_F(PlayedDemo, ARestoredMomentPlaysOnAsTheFirstRun) {
    // To the page after the checkpoint: the pointer on the line of the first link, then clicks.
    // The moment is taken with the button up, as the second run starts with it up.
    const auto toFirstLink = [](std::uint64_t f) {
        return f == 3 ? FrameInput{0, 40, false} : clicking(f);
    };
    playUntil(
        toFirstLink,
        [] {
            return g_frameNo == kSceneGame && g_script.saveWritten && !g_script.choiceWait &&
                   programFrame() % 2 == 1;
        },
        3000);
    const Moment moment = captureMoment();
    ASSERT_TRUE(moment.hasCheckpoint);
    const std::vector<std::uint8_t> saved = encodeMoment(moment);
    EXPECT_LE(saved.size(), kMaxMomentBytes);

    // Input I: clicks through the choice, the ending's [reset], the title and the continue, where
    // the pointer goes onto the second link (the title put it back in its corner), and 300
    // frames of the continued game, which take that link.
    std::vector<FrameInput> input;
    std::vector<Frame> first;
    bool reset = false;
    int endings = 0; // choices taken into block 1, where both endings are
    std::uint64_t continued = 0;
    while ((continued == 0 || input.size() < continued + 300) && input.size() < 4000) {
        const int block = g_script.currentBlock;
        input.push_back(clicking(programFrame() + 1));
        if (continued == 0 && reset && g_frameNo == kSceneGame) {
            continued = input.size();
            input.back().dy = 60;
        }
        first.push_back(playFrame(input.back()));
        reset = reset || g_frameNo != kSceneGame;
        if (block == 0 && g_script.currentBlock == 1) ++endings;
    }
    ASSERT_NE(continued, 0u) << "the game never went through its [reset] and the continue";
    EXPECT_TRUE(g_script.continueGame);
    ASSERT_EQ(endings, 2) << "a choice before the [reset] and one in the continued game";

    // Elsewhere: back to the title with F1, a new game from the start, a few pages into it,
    // and the checkpoint file gone.
    injectKey(kKeyF1, true);
    playFrame({});
    injectKey(kKeyF1, false);
    playUntil(
        clicking, [] { return g_frameNo == kSceneGame && programFrame() % 2 == 1; }, 100);
    for (int i = 0; i < 41; ++i)
        playFrame(clicking(programFrame() + 1));
    fs::remove(dir_ / "Data.sav");
    // The pictures gone, as F1 leaves them: the restore loads what the moment shows.
    releaseImageTables();
    ASSERT_NE(encodeMoment(captureMoment()), saved) << "the play elsewhere changed nothing";

    Moment loaded{};
    std::string reason;
    ASSERT_TRUE(decodeMoment(saved, &loaded, &reason)) << reason;
    ASSERT_TRUE(restoreMoment(loaded, &reason)) << reason;
    EXPECT_EQ(encodeMoment(captureMoment()), saved);
    for (std::size_t k = 0; k < input.size(); ++k) {
        const Frame again = playFrame(input[k]);
        ASSERT_EQ(again.state, first[k].state) << "frame " << k + 1 << " after the moment";
        ASSERT_EQ(again.pixels, first[k].pixels) << "frame " << k + 1 << " after the moment";
    }
}

namespace {

std::vector<std::uint8_t> withLe32(std::vector<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
}

// A moment as a game in play holds it: a page, a layer, music, a pending choice.
Moment sampleMoment() {
    Moment m{};
    m.scene = kSceneGame;
    m.script.source = 120;
    m.script.revealPos = 40;
    m.script.charsPerLine = 25;
    m.script.choiceWait = true;
    m.script.linkCount = 2;
    m.layers[0].imageNo = 1;
    m.layers[0].visible = true;
    m.background = 3;
    m.music = 1;
    m.musicPlaying = 1;
    m.links[0].active = true;
    m.links[0].target[0] = 'a';
    m.pointer = {{10, 10, 790, 590}, 100, 200, 2, 40, 40, {}, false};
    return m;
}

} // namespace

TEST(MomentFile, EncodingsALoadMustRefuse) {
    const std::vector<std::uint8_t> good = encodeMoment(sampleMoment());
    Moment back{};
    std::string reason;
    ASSERT_TRUE(decodeMoment(good, &back, &reason)) << reason;
    EXPECT_EQ(encodeMoment(back), good);

    auto encodedWith = [](auto change) {
        Moment m = sampleMoment();
        change(m);
        return encodeMoment(m);
    };
    auto flipped = [&good](std::size_t at) {
        std::vector<std::uint8_t> b = good;
        b[at] ^= 0x10;
        return b;
    };
    std::vector<std::uint8_t> longer = good;
    longer.push_back(0);
    // The header's length and checksum made to agree with a body that ends early.
    std::vector<std::uint8_t> shortBody(good.begin(), good.begin() + 20 + 100);
    shortBody = withLe32(shortBody, 12, 100);
    shortBody = withLe32(shortBody, 16,
                         static_cast<std::uint32_t>(::crc32(0L, shortBody.data() + 20, 100)));

    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"zero-length", {}, "empty"},
        {"foreign magic", {'P', 'K', 3, 4, 0, 0}, "another kind of file"},
        {"checkpoint file", std::vector<std::uint8_t>(500, 'N'), "another kind of file"},
        {"header cut", {good.begin(), good.begin() + 12}, "header"},
        {"truncated", {good.begin(), good.end() - 1}, "cut short"},
        {"bytes after the end", longer, "after its end"},
        {"newer version", withLe32(good, 8, kMomentVersion + 1), "newer version"},
        {"version 0", withLe32(good, 8, 0), "unknown format version"},
        {"damaged body", flipped(good.size() / 2), "checksum"},
        {"bad checksum", flipped(16), "checksum"},
        {"body ends inside a field", shortBody, "ends inside page"},
        {"scene", encodedWith([](Moment& m) { m.scene = 7; }), "scene"},
        {"block", encodedWith([](Moment& m) { m.script.currentBlock = 2; }), "currentBlock"},
        {"reveal past the page",
         encodedWith([](Moment& m) { m.script.revealPos = kPageBufferSize + 1; }), "revealPos"},
        {"origin outside the scenario", encodedWith([](Moment& m) { m.pageOrigin[9] = -1; }),
         "pageOrigin"},
        {"layer picture", encodedWith([](Moment& m) { m.layers[2].imageNo = kCharPictureCount; }),
         "layer picture"},
        {"background", encodedWith([](Moment& m) { m.background = kBackgroundCount; }),
         "background"},
        {"music slot", encodedWith([](Moment& m) { m.music = kSoundSlotCount; }), "music"},
        {"too many links", encodedWith([](Moment& m) { m.script.linkCount = 11; }), "linkCount"},
        {"link target without end", encodedWith([](Moment& m) { m.links[1].target.fill('x'); }),
         "link target"},
        {"pointer outside its bounds", encodedWith([](Moment& m) { m.pointer.x = 780; }),
         "pointer x"},
        {"quad not a number", encodedWith([](Moment& m) { m.clickQuad.v[2].y = std::nanf(""); }),
         "clickIcon"},
        {"checkpoint record", encodedWith([](Moment& m) {
             m.hasCheckpoint = true;
             m.checkpoint.fill('?');
         }),
         "checkpoint is damaged"},
    };
    for (const Case& c : cases) {
        Moment out = sampleMoment();
        out.background = 5; // untouched by a refusal
        reason.clear();
        EXPECT_FALSE(decodeMoment(c.bytes, &out, &reason)) << c.what;
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
        EXPECT_EQ(out.background, 5) << c.what;
    }
    // A flag byte other than 0 and 1 (textRunning, just behind charsPerLine), checksum redone.
    std::vector<std::uint8_t> flag = good;
    flag[20 + 8 + 1 + 6 * 4] = 2;
    flag = withLe32(flag, 16,
                    static_cast<std::uint32_t>(
                        ::crc32(0L, flag.data() + 20, static_cast<uInt>(flag.size() - 20))));
    EXPECT_FALSE(decodeMoment(flag, &back, &reason));
    EXPECT_NE(reason.find("flag"), std::string::npos) << reason;
}

TEST(MomentFile, AMomentOfAnotherGameIsNotRestored) {
    putBlockText(0, "*a\r\nxyz");
    putBlockText(1, "");
    Moment m = sampleMoment();
    m.scenarioHash = scenarioIdentity();
    putBlockText(1, "*b\r\n");
    const ScriptState before = g_script;
    std::string reason;
    EXPECT_FALSE(restoreMoment(m, &reason));
    EXPECT_NE(reason.find("another game"), std::string::npos) << reason;
    EXPECT_EQ(g_script.source, before.source);
    m.scene = kSceneTitle;
    EXPECT_FALSE(restoreMoment(m, &reason));
    EXPECT_NE(reason.find("not of a game in play"), std::string::npos) << reason;
}
