#include <gtest/gtest.h>

#include "base/message.h"

TEST(TerminalText, EscapesControlsAndBytesThatAreNotUtf8) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"plain *label 背景0.bmp", "plain *label 背景0.bmp"},
        {"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
        {"a\rb\nc\td", "a\\rb\\nc\\td"},
        {std::string("nul\0del\x7f", 8), "nul\\x00del\\x7f"},
        {"\xc2\x9b"
         "31m",
         "\\u009b31m"},               // the one-character CSI
        {"\xc2\xa0ok", "\xc2\xa0ok"}, // the next character is text again
        {"\xff\xfe lone \x82\xa0", "\\xff\\xfe lone \\x82\\xa0"}, // Shift-JIS is not UTF-8
        {"cut \xe3\x81", "cut \\xe3\\x81"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(terminalText(c.in), c.out) << c.out;
}

TEST(TerminalText, EveryDiagnosticLineIsEscaped) {
    ::testing::internal::CaptureStderr();
    reportProblem("label *a\x1b[31m");
    reportProblemOnce("once \x1b[32m");
    showMessage("box \x1b[33m");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "tolvane: label *a\\x1b[31m\ntolvane: once \\x1b[32m\nERROR: box \\x1b[33m\n");
}
