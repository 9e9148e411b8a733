// Speech and the text feed, played in process on a small game: what each frame tells them and
// when (the page whole at its click waits, the choices, the hovered choice, the menu, V, C), and
// once against a real speech-dispatcher.
#include <gtest/gtest.h>

#include <SDL.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/options.h"
#include "app/speech.h"
#include "base/scene_number.h"
#include "game/game_fixture.h"
#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "script/script.h"

extern char** environ;

namespace {

using namespace game;

struct Told {
    std::string text;
    SpeechKind kind;
    bool interrupt;
    bool operator==(const Told&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Told& t) {
    return out << "{\"" << t.text << "\", " << static_cast<int>(t.kind) << ", " << t.interrupt
               << "}";
}

std::vector<Told> g_spoken, g_fed;
void captureSpeech(std::string_view text, SpeechKind kind, bool interrupt) {
    g_spoken.push_back({std::string(text), kind, interrupt});
}
void captureFeed(std::string_view text, SpeechKind kind, bool interrupt) {
    g_fed.push_back({std::string(text), kind, interrupt});
}

constexpr auto kPage = SpeechKind::Page;
constexpr auto kChoice = SpeechKind::Choice;

// One page: two click waits, then a choice of two links; the second leads through a page that
// never waits ("し", a jump behind it) to a page in block 1 that does.
std::string block0() {
    return sj("あいう") + "\r\n" + sj("えお") + "\r\n[link target=*a]" + sj("かき") +
           "[endlink]\r\n" + "[link target=*b]" + sj("くけ") + "[endlink]\r\n[s]\r\n*a\r\n" +
           sj("さ") + "[jump 1 target=*cp]\r\n*b\r\n" + sj("し") + "[jump 1 target=*cp]\r\n";
}
std::string block1() {
    return "*cp\r\n" + sj("たちつてと") + "\r\n[reset]";
}

class Voice : public GameTest {
protected:
    void SetUp() override {
        GameTest::SetUp();
        writeGame(dir_, block0(), block1());
        back_ = fs::current_path();
        fs::current_path(dir_);
    }
    void TearDown() override {
        if (started_) finishProgram();
        fs::current_path(back_);
        GameTest::TearDown();
    }
    // `capture`: the test's sinks in place of the program's.
    void start(bool voicing, bool plain = false, bool capture = true) {
        if (started_) finishProgram();
        options_ = ProgramOptions{};
        options_.headless = true;
        options_.plain = plain;
        g_frameNo = kSceneTitleInit; // as a new process starts, whatever the test before left
        g_script = ScriptState{};
        ASSERT_EQ(startProgram(options_), 0);
        started_ = true;
        if (capture) {
            setSpeechSink(captureSpeech);
            setTextFeedSink(captureFeed);
        }
        g_comfortSettings.selfVoicing = voicing;
        g_spoken.clear();
        g_fed.clear();
    }
    void frame() { ASSERT_EQ(stepProgram(false), StepResult::Ran); }
    void key(int code, int times = 1) {
        for (int i = 0; i < times; ++i) {
            injectKey(code, true);
            frame();
            injectKey(code, false);
            frame();
        }
    }
    void button(int which) {
        injectMouseButton(which, true);
        frame();
        injectMouseButton(which, false);
        frame();
    }
    // A click, then frames until the game waits: at a click wait or a choice. The title may
    // want more than one click before its game begins.
    void toWait() {
        button(0);
        for (int n = 0; g_frameNo != kSceneGame || (g_script.textRunning && !g_script.choiceWait);
             ++n) {
            ASSERT_LT(n, 2000) << "the game never waited";
            if (g_frameNo != kSceneGame)
                button(0);
            else
                frame();
        }
    }
    ProgramOptions options_;
    bool started_ = false;
    fs::path back_;
};

TEST_F(Voice, ThePageIsToldWholeAtItsClickWaitsThenTheChoicesAndTheChoiceMovedOnto) {
    start(true);
    toWait();
    EXPECT_EQ(g_spoken, (std::vector<Told>{{"あいう", kPage, true}})) << "not as it is revealed";
    toWait();
    toWait();
    ASSERT_TRUE(g_script.choiceWait);
    const std::vector<Told> page = {{"あいう", kPage, true},
                                    {"えお", kPage, false},
                                    {"1　かき", kChoice, false},
                                    {"2　くけ", kChoice, false}};
    EXPECT_EQ(g_spoken, page);
    // The keys move the pointer onto each choice in turn: each one silences the rest.
    key(kKeyDown);
    key(kKeyDown);
    std::vector<Told> spoken = page;
    spoken.push_back({"かき", SpeechKind::Hovered, true});
    spoken.push_back({"くけ", SpeechKind::Hovered, true});
    EXPECT_EQ(g_spoken, spoken);
    // The choice taken: each new page silences what is still said; the page that never waits
    // is not spoken, the next one is when it waits.
    key(kKeyReturn);
    for (int n = 0; g_script.textRunning; ++n) {
        ASSERT_LT(n, 2000);
        frame();
    }
    ASSERT_GT(g_spoken.size(), spoken.size());
    EXPECT_EQ(g_spoken[spoken.size()], (Told{"", kPage, true}));
    EXPECT_EQ(g_spoken.back(), (Told{"たちつてと", kPage, true}));
    for (std::size_t i = spoken.size(); i + 1 < g_spoken.size(); ++i)
        EXPECT_EQ(g_spoken[i], (Told{"", kPage, true}));
    // The feed has every page's text, the one that never waited too, and no hovering.
    EXPECT_EQ(g_fed, (std::vector<Told>{{"あいう", kPage, true},
                                        {"えお", kPage, false},
                                        {"1　かき", kChoice, false},
                                        {"2　くけ", kChoice, false},
                                        {"し", kPage, true},
                                        {"たちつてと", kPage, true}}));
}

TEST_F(Voice, NothingIsSpokenWithVoicingOffAndNothingToldAtAllWithPlain) {
    start(false);
    toWait();
    toWait();
    toWait();
    EXPECT_TRUE(g_spoken.empty());
    EXPECT_EQ(g_fed.size(), 4u) << "the feed is kept whether voicing is on or off";
    start(true, true);
    toWait();
    toWait();
    toWait();
    ASSERT_TRUE(g_script.choiceWait);
    key(kKeyV);
    EXPECT_TRUE(g_spoken.empty());
    EXPECT_TRUE(g_fed.empty());
}

TEST_F(Voice, VTurnsVoicingOnAndOffAndSaysSo) {
    start(false);
    toWait();
    key(kKeyV);
    EXPECT_TRUE(g_comfortSettings.selfVoicing);
    // The page so far follows the word, so the player need not wait for the next line.
    EXPECT_EQ(g_spoken, (std::vector<Told>{{"読み上げ　入", SpeechKind::Notice, true},
                                           {"あいう", kPage, false}}));
    toWait();
    EXPECT_EQ(g_spoken.back(), (Told{"えお", kPage, false}));
    key(kKeyV);
    EXPECT_FALSE(g_comfortSettings.selfVoicing);
    EXPECT_EQ(g_spoken.back(), (Told{"読み上げ　切", SpeechKind::Notice, true}));
    const std::size_t before = g_spoken.size();
    toWait();
    EXPECT_EQ(g_spoken.size(), before);
}

TEST_F(Voice, TheMenuSaysEachEntryAsItIsSelected) {
    start(true);
    toWait();
    g_spoken.clear();
    button(1);
    ASSERT_TRUE(g_comforts.menuOpen);
    key(kKeyDown);
    EXPECT_EQ(g_spoken, (std::vector<Told>{{"全画面　切", SpeechKind::Menu, true},
                                           {"自動で読み進める　切", SpeechKind::Menu, true}}));
    // Its 読み上げ entry turns voicing off and on; on, the entry says its new state.
    key(kKeyDown, 6);
    ASSERT_EQ(g_spoken.back(), (Told{"読み上げ　入", SpeechKind::Menu, true}));
    key(kKeyReturn);
    EXPECT_FALSE(g_comfortSettings.selfVoicing);
    EXPECT_EQ(g_spoken.back(), (Told{"", SpeechKind::Notice, true})) << "turned off, it is silent";
    key(kKeyReturn);
    EXPECT_TRUE(g_comfortSettings.selfVoicing);
    EXPECT_EQ(g_spoken.back(), (Told{"読み上げ　入", SpeechKind::Menu, true}));
    key(kKeyDown);
    EXPECT_EQ(g_spoken.back(), (Told{"セーブ", SpeechKind::Menu, true}));
}

TEST_F(Voice, TheTitlesMenuAndTheSlotScreensSayWhatHasTheFocus) {
    start(true);
    for (int n = 0; n < 5; ++n)
        frame(); // the title is up
    button(1);
    ASSERT_TRUE(g_screens.titleMenuOpen);
    key(kKeyDown);
    EXPECT_EQ(g_spoken, (std::vector<Told>{{"ロード", SpeechKind::Menu, true},
                                           {"設定", SpeechKind::Menu, true}}));
    button(1);
    toWait();
    button(1);
    while (g_comforts.menuItem != 8) // セーブ
        key(kKeyDown);
    g_spoken.clear();
    key(kKeyReturn);
    ASSERT_EQ(g_screens.open, SlotScreen::Save);
    key(kKeyDown);
    ASSERT_EQ(g_spoken.size(), 2u);
    EXPECT_TRUE(g_spoken[0].text.starts_with("01")) << g_spoken[0].text;
    EXPECT_TRUE(g_spoken[1].text.starts_with("02")) << g_spoken[1].text;
}

TEST_F(Voice, CCopiesThePageToTheClipboard) {
    start(true, false, false); // the program's own clipboard
    setSpeechSink(captureSpeech);
    toWait();
    toWait();
    key(kKeyC);
    char* copied = SDL_GetClipboardText();
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(std::string(copied), "あいう\nえお\n");
    SDL_free(copied);
    EXPECT_EQ(g_screens.note, "本文をコピーしました");
    EXPECT_EQ(g_spoken.back(), (Told{"本文をコピーしました", SpeechKind::Notice, true}));
}

// No speech-dispatcher where the address leads: said once on standard error, the game plays
// on, and nothing more is tried.
TEST_F(Voice, SpeechThatCannotConnectIsToldOnceAndTheGamePlaysOn) {
    ::setenv("SPEECHD_ADDRESS", ("unix_socket:" + (dir_ / "nobody.sock").string()).c_str(), 1);
    testing::internal::CaptureStderr();
    start(true, false, false);
    toWait();
    for (int n = 0; n < 400 && !speechUnavailable(); ++n) // another thread's answer, bounded
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const bool unavailable = speechUnavailable();
    toWait();
    toWait();
    key(kKeyDown);
    const std::string err = testing::internal::GetCapturedStderr();
    ::unsetenv("SPEECHD_ADDRESS");
    EXPECT_TRUE(unavailable);
    EXPECT_TRUE(g_script.choiceWait);
    const std::size_t at = err.find("cannot reach speech-dispatcher");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_EQ(err.find("cannot reach speech-dispatcher", at + 1), std::string::npos) << err;
}

// speech-dispatcher started for the test alone, on a socket of its own, with an output module
// that writes each text it is given as a line of a file: the page's lines and the choices arrive
// whole, in order.
TEST_F(Voice, SpeechDispatcherGetsThePageWholeAndInOrder) {
    const fs::path modules = "/usr/lib/speech-dispatcher-modules";
    std::string daemon;
    for (const char* d : {"/usr/bin/speech-dispatcher", "/usr/local/bin/speech-dispatcher"})
        if (fs::exists(d)) daemon = d;
    if (daemon.empty() || !fs::exists(modules / "sd_generic"))
        GTEST_SKIP() << "speech-dispatcher is not installed";
    const fs::path conf = dir_ / "speechd", out = dir_ / "spoken.txt", sock = dir_ / "speechd.sock";
    writeBytes(conf / "speechd.conf", "LogLevel 4\n"
                                      "LogDir \"" +
                                          dir_.string() +
                                          "\"\n"
                                          "AudioOutputMethod \"alsa\"\n"
                                          "AudioALSADevice \"null\"\n"
                                          "AddModule \"writer\" \"sd_generic\" \"writer.conf\"\n"
                                          "DefaultModule \"writer\"\n"
                                          "LanguageDefaultModule \"ja\" \"writer\"\n");
    writeBytes(
        conf / "modules" / "writer.conf",
        "GenericExecuteSynth \"printf '%s\\\\n' \\'$DATA\\' >> " + out.string() +
            "\"\nGenericLanguage \"ja\" \"ja\" \"utf-8\"\nAddVoice \"ja\" \"MALE1\" \"ja\"\n");
    const std::vector<std::string> args = {daemon, "-s",
                                           "-t",   "60",
                                           "-c",   "unix_socket",
                                           "-S",   sock.string(),
                                           "-C",   conf.string(),
                                           "-m",   modules.string(),
                                           "-P",   (dir_ / "speechd.pid").string(),
                                           "-L",   dir_.string()};
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Its own words go to a file beside its log, not among the test's.
    const std::string said = (dir_ / "speechd.out").string();
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, said.c_str(), O_WRONLY | O_CREAT, 0644);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawn(&pid, daemon.c_str(), &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    struct Reap {
        pid_t pid;
        ~Reap() {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    } reap{pid};
    // Waits on another process, not on a time the test asserts: bounded only so that a daemon
    // that never comes up fails the test instead of hanging it.
    const auto waitFor = [](auto ready) {
        for (int n = 0; n < 400 && !ready(); ++n)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return ready();
    };
    ASSERT_TRUE(waitFor([&] { return fs::exists(sock); }))
        << readText(dir_ / "speech-dispatcher.log");
    ::setenv("SPEECHD_ADDRESS", ("unix_socket:" + sock.string()).c_str(), 1);
    start(true, false, false);
    toWait();
    toWait();
    toWait();
    ASSERT_TRUE(g_script.choiceWait);
    // The daemon says the ideographic space as a plain one.
    const std::string expected = "あいう\nえお\n1 かき\n2 くけ\n";
    const bool arrived = waitFor([&] { return readText(out).size() >= expected.size(); });
    ::unsetenv("SPEECHD_ADDRESS");
    ASSERT_TRUE(arrived) << readText(out) << readText(dir_ / "speech-dispatcher.log");
    EXPECT_EQ(readText(out), expected);
}

} // namespace
