#include "engine_fixture.h"

using namespace fixture;

TEST(Interpreter, RevealsOneItemPerStep) {
    resetEngine();
    const std::string a = sj("あ");
    startFromMemory(a + "x]" + a + "\r\n");
    stepScript();
    EXPECT_EQ(g_script.revealPos, 2);
    EXPECT_EQ(g_script.column, 1);
    stepScript(); // the zero byte of 'x'
    stepScript(); // a stray ']'
    EXPECT_EQ(g_script.revealPos, 4);
    EXPECT_EQ(g_script.column, 1);
    stepScript();
    stepScript(); // [l]: cut out, uncounted, and the text waits
    EXPECT_EQ(g_script.revealPos, 6);
    EXPECT_EQ(g_script.removedBytes, 0);
    EXPECT_FALSE(g_script.textRunning);
    signalClick();
    stepScript(); // the LF
    EXPECT_EQ(g_script.line, 1);
    EXPECT_EQ(g_script.column, 0);
}

TEST(Interpreter, UnknownTagsAreShownAndOnlyExactNamesRun) {
    struct Case {
        std::string tag;
        bool waits;
    };
    const Case cases[] = {
        {"[name 1]", false}, {"[]", false}, {"[ l]", false}, {"[L]", false},
        {"[l 3]", true},     {"[l]", true}, {"[lx]", false},
    };
    for (const Case& c : cases) {
        resetEngine();
        startFromMemory(c.tag + sj("あ"));
        stepScript();
        EXPECT_EQ(!g_script.textRunning, c.waits) << c.tag;
        if (c.waits) {
            EXPECT_EQ(g_script.revealPos, 0) << c.tag;
        } else {
            EXPECT_EQ(shown(), c.tag) << c.tag; // whole, in one step
            stepScript();
            EXPECT_EQ(g_script.revealPos, static_cast<int>(c.tag.size()) + 2) << c.tag;
        }
    }
}

TEST(Interpreter, CommentsDisappearWithTheirLineEnd) {
    resetEngine();
    const std::string a = sj("あ"), b = sj("い"), c = sj("う");
    startFromMemory(a + "\r\n;memo\r\n" + b + ";note\r\n" + c + "\r\n");
    for (int i = 0; i < 40 && g_script.revealPos < 7; ++i) {
        if (!g_script.textRunning) signalClick();
        stepScript();
    }
    // The comment line leaves no empty line, and the comment behind い takes its line end, so
    // う follows on the same display line.
    EXPECT_EQ(shown(), a + "\n" + b + c);
    EXPECT_EQ(g_script.line, 1);
}

TEST(Interpreter, ClickIconSitsBehindTheLastCharacter) {
    resetEngine();
    startFromMemory("\r\n\r\n" + sj("あいう") + "\r\n");
    stepScript(); // [l] on an empty line 0
    EXPECT_EQ(g_clickQuad.v[0].x, 750.0f);
    EXPECT_EQ(g_clickQuad.v[0].y, 50.0f);
    EXPECT_EQ(g_clickQuad.v[2].x - g_clickQuad.v[0].x, 30.0f);
    for (int i = 0; i < 20 && g_script.line < 2; ++i) {
        signalClick();
        stepScript();
    }
    signalClick();
    steps(4);
    EXPECT_FALSE(g_script.textRunning);
    EXPECT_EQ(g_clickQuad.v[0].x, 134.0f);
    EXPECT_EQ(g_clickQuad.v[0].y, 120.0f);
}

TEST(Interpreter, LinkModeSkipsWaitsAndChoiceStopsTheReveal) {
    resetEngine();
    startFromMemory(sj("あ") + "[endlink]" + sj("い") + "\r\n[s]" + sj("う"));
    g_script.column = 0;
    stepScript();
    stepScript(); // [endlink]
    EXPECT_TRUE(g_script.linkMode);
    EXPECT_EQ(g_script.column, 0);
    steps(2); // い and [l], which does not wait in link mode
    EXPECT_TRUE(g_script.textRunning);
    EXPECT_EQ(g_clickQuad.v[0].x, 78.0f);
    EXPECT_TRUE(stepUntilStop());
    EXPECT_TRUE(g_script.choiceWait);
    EXPECT_EQ(shown(), sj("あい") + "\n");
}

TEST(Interpreter, StopsSafelyWhereThePageModelEnds) {
    struct Case {
        const char* what;
        std::string source;
    };
    const Case cases[] = {
        {"reveal reaches byte 2048", std::string(3000, 'x')},
        {"tag without ']'", sj("あ") + "[image 1"},
        {"comment without a line end", sj("あ") + ";" + std::string(5000, 'x')},
        {"tag across byte 2048", std::string(2045, 'x') + "[image 1 layer=0 left=0 top=0]"},
    };
    for (const Case& c : cases) {
        resetEngine();
        startFromMemory(c.source);
        steps(2200);
        EXPECT_TRUE(g_script.pageEnded) << c.what;
        const int at = g_script.revealPos;
        steps(10);
        EXPECT_EQ(g_script.revealPos, at) << c.what;
        EXPECT_LE(at, kPageLimit + 1) << c.what;
    }
}
