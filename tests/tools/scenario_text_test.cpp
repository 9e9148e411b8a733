#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "script/scenario_text.h"

namespace {

std::vector<std::uint8_t> encodeOk(std::string_view text,
                                   SourceEncoding encoding = SourceEncoding::Utf8) {
    EncodeResult r = encodeScenario(text, encoding);
    EXPECT_TRUE(r.errors.empty()) << (r.errors.empty() ? "" : r.errors[0].message);
    return r.stored;
}

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s += static_cast<char>(b);
    return s;
}

TEST(ScenarioText, StoresCodePage932ScrambledWithCrLf) {
    // "abc", LF, "あ": plain 61 62 63 0D 0A 82 A0 scrambled as 125 - p.
    std::vector<std::uint8_t> stored = encodeOk("abc\nあ");
    EXPECT_EQ(stored, (std::vector<std::uint8_t>{0x1C, 0x1B, 0x1A, 0x70, 0x73, 0xFB, 0xDD}));
    // A CR LF line end stays one CR LF, and a byte order mark is dropped.
    EXPECT_EQ(encodeOk("\xEF\xBB\xBF"
                       "abc\r\nあ"),
              stored);
}

TEST(ScenarioText, TextRoundTripsThroughEncodeAndDecode) {
    const char* texts[] = {
        "",
        "*start\n[image 0 layer=base left=0 top=0][playbgm 1]\n雨の音がする。\n[ct]\n",
        ";コメント\n*kimeru|\n[link target=*watasu]紙を渡す[endlink]\n[s]\n",
        "\n\n先頭の空行と末尾の改行なし",
        "全角のＡＢＣと１２３、記号「」～・…\n",
    };
    for (const char* text : texts) {
        std::vector<std::uint8_t> stored = encodeOk(text);
        DecodeResult back = decodeScenario(stored);
        EXPECT_EQ(back.text, text);
        EXPECT_TRUE(back.warnings.empty()) << text;
    }
}

TEST(ScenarioText, DecodedFileEncodesToTheSameBytes) {
    // U+301C and U+FF5E share the code 81 60: the text changes, the file does not.
    std::vector<std::uint8_t> stored = encodeOk("波〜ダッシュ\r\n");
    DecodeResult back = decodeScenario(stored);
    EXPECT_EQ(back.text, "波～ダッシュ\n");
    EXPECT_EQ(encodeOk(back.text), stored);
}

TEST(ScenarioText, ShiftJisInputGivesTheSameFile) {
    std::string sjis = bytes({0x82, 0xA0, 0x0A, 0x5B, 0x73, 0x5D}); // あ LF [s]
    EXPECT_EQ(encodeOk(sjis, SourceEncoding::ShiftJis), encodeOk("あ\n[s]"));
}

struct Refusal {
    std::string_view text;
    SourceEncoding encoding;
    int line;
    int column;
    const char* message; // a part of the message
};

TEST(ScenarioText, RefusesWhatTheEngineCannotReadWithThePlace) {
    const Refusal cases[] = {
        {"一行目\n二行目のミです", SourceEncoding::Utf8, 2, 5, "83 7E in Shift-JIS"},
        {"a×b", SourceEncoding::Utf8, 1, 2, "81 7E in Shift-JIS"},
        {"\n\n  ~", SourceEncoding::Utf8, 3, 3, "'~' is the byte 0x7E"},
        {"ハート♥", SourceEncoding::Utf8, 1, 4, "U+2665) has no form in code page 932"},
        {"절", SourceEncoding::Utf8, 1, 1, "has no form in code page 932"},
        {"ab\rcd\n", SourceEncoding::Utf8, 1, 3, "a CR that ends no line"},
        {"ok\nx\xE3\x81y", SourceEncoding::Utf8, 2, 2, "is not UTF-8"},
        {"\x82\xA0\n\x85\x40", SourceEncoding::ShiftJis, 2, 1, "85 40 has no character"},
        {"\x82\xA0\x82", SourceEncoding::ShiftJis, 1, 2, "does not follow"},
        // A zero byte is never meant: the game would show it as a blank.
        {std::string_view("*a\nあ\0い\n*b\n", 10), SourceEncoding::Utf8, 2, 2, "a zero byte"},
        {std::string_view("\x82\xA0\0", 3), SourceEncoding::ShiftJis, 1, 2, "a zero byte"},
    };
    for (const Refusal& c : cases) {
        EncodeResult r = encodeScenario(c.text, c.encoding);
        EXPECT_TRUE(r.stored.empty()) << c.text;
        ASSERT_FALSE(r.errors.empty()) << c.text;
        EXPECT_EQ(r.errors[0].place.line, c.line) << c.text;
        EXPECT_EQ(r.errors[0].place.column, c.column) << c.text;
        EXPECT_NE(r.errors[0].message.find(c.message), std::string::npos) << r.errors[0].message;
    }
}

// A file saved with other line ends or in another encoding holds a fault a character: the first
// few of a kind are told with their places, the rest counted on the last of them.
TEST(ScenarioText, TellsTheFirstFindingsOfAKindAndCountsTheRest) {
    struct Flood {
        std::string text;
        SourceEncoding encoding;
        const char* message;
        const char* more;
    };
    const Flood cases[] = {
        {std::string(100000, '\r'), SourceEncoding::Utf8, "a CR that ends no line", "99990 more"},
        {std::string(5000, '\xFF'), SourceEncoding::Utf8, "is not UTF-8", "4990 more"},
        {std::string(300, '~'), SourceEncoding::Utf8, "'~' is the byte 0x7E", "290 more"},
        {std::string(30, '\0'), SourceEncoding::Utf8, "a zero byte", "20 more"},
        {std::string(3000, '\xFD'), SourceEncoding::ShiftJis, "is not Shift-JIS", "2990 more"},
    };
    for (const Flood& c : cases) {
        const EncodeResult r = encodeScenario(c.text, c.encoding);
        std::size_t ofTheKind = 0;
        for (const TextProblem& p : r.errors)
            ofTheKind += p.message.find(c.message) != std::string::npos;
        EXPECT_EQ(ofTheKind, 10u) << c.message;
        ASSERT_LE(r.errors.size(), 12u) << c.message; // and an overflow of the block, once
        std::string last;
        for (const TextProblem& p : r.errors)
            if (p.message.find(c.message) != std::string::npos) last = p.message;
        EXPECT_NE(last.find(std::string("(and ") + c.more + " like it)"), std::string::npos)
            << last;
    }
    // Decode counts the same way.
    const std::vector<std::uint8_t> stored(3000, 0xFD); // 0x80 once descrambled
    const DecodeResult d = decodeScenario(stored);
    ASSERT_EQ(d.warnings.size(), 10u);
    EXPECT_NE(d.warnings[9].message.find("decoded as U+FFFD (and 2990 more like it)"),
              std::string::npos)
        << d.warnings[9].message;
}

TEST(ScenarioText, ReportsEveryRefusedCharacterInOrder) {
    EncodeResult r = encodeScenario("ミ\n♥\nあ×", SourceEncoding::Utf8);
    ASSERT_EQ(r.errors.size(), 3u);
    EXPECT_EQ(r.errors[0].place.line, 1);
    EXPECT_EQ(r.errors[1].place.line, 2);
    EXPECT_EQ(r.errors[2].place.line, 3);
    EXPECT_EQ(r.errors[2].place.column, 2);
}

TEST(ScenarioText, RefusesTextOverTheBlockCapacityWhereItOverflows) {
    // 65534 bytes fit exactly; a line of 100 ASCII characters is 102 bytes with its CR LF.
    std::string fits(65534, 'a');
    EXPECT_EQ(encodeScenario(fits, SourceEncoding::Utf8).stored.size(), 65534u);

    std::string line(100, 'a');
    std::string text;
    for (int i = 0; i < 642; ++i)
        text += line + "\n";               // 642 * 102 = 65484 bytes
    text += std::string(25, 'b') + "あい"; // 65509 + 2 + 2 = 65513 + ...
    text += std::string(20, 'c') + "う";   // ... 65533, then う at 65533..65534
    EncodeResult r = encodeScenario(text, SourceEncoding::Utf8);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].place.line, 643);
    EXPECT_EQ(r.errors[0].place.column, 48);
    EXPECT_NE(r.errors[0].message.find("65534"), std::string::npos);
}

TEST(ScenarioText, DecodeStopsAtAStoredFFAndTellsWhatItLeftOut) {
    std::vector<std::uint8_t> stored = encodeOk("あい\nう");
    stored.insert(stored.begin() + 4, 0xFF); // after あい
    DecodeResult r = decodeScenario(stored);
    EXPECT_EQ(r.text, "あい");
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].place.column, 3);
    EXPECT_NE(r.warnings[0].message.find("stored 0xFF at byte 4"), std::string::npos);
    EXPECT_NE(r.warnings[0].message.find("4 bytes behind it"), std::string::npos);
}

TEST(ScenarioText, DecodeWarnsWhereEncodeWouldNotGiveTheFileBack) {
    std::string plain = bytes({0x82, 0xA0, 0x0A, 0x82, 0xA2, 0x0A, 0x41, 0x0D, 0x42, 0x80});
    std::vector<std::uint8_t> stored;
    for (char c : plain)
        stored.push_back(static_cast<std::uint8_t>(125 - static_cast<std::uint8_t>(c)));
    DecodeResult r = decodeScenario(stored);
    ASSERT_EQ(r.warnings.size(), 3u);
    EXPECT_EQ(r.warnings[0].place.line, 1); // the first bare LF, and a count of the others
    EXPECT_NE(r.warnings[0].message.find("1 more like it"), std::string::npos);
    EXPECT_EQ(r.warnings[1].place.line, 3);
    EXPECT_EQ(r.warnings[1].place.column, 2);
    EXPECT_NE(r.warnings[1].message.find("a CR that ends no line"), std::string::npos);
    EXPECT_EQ(r.warnings[2].place.column, 4);
    EXPECT_NE(r.warnings[2].message.find("80 is not Shift-JIS"), std::string::npos);
}

TEST(ScenarioText, PlacesCountCharactersNotBytes) {
    std::string sjis = bytes({0x82, 0xA0, 'a', 0x0D, 0x0A, 0x82, 0xA2, 0x82, 0xA4});
    EXPECT_EQ(placeOfSjisOffset(sjis, 2).column, 2);
    EXPECT_EQ(placeOfSjisOffset(sjis, 8).line, 2);
    EXPECT_EQ(placeOfSjisOffset(sjis, 8).column, 2); // inside the second character of line 2
}

} // namespace

namespace {

TEST(ScenarioText, DecodeWarnsOfACodeThatEncodeWritesOtherwise) {
    // 纊 has two codes, ED 40 (NEC's selection) and FA 5C (IBM's); encode writes FA 5C.
    std::vector<std::uint8_t> stored;
    for (std::uint8_t p : {0x82, 0xA0, 0xED, 0x40})
        stored.push_back(static_cast<std::uint8_t>(125 - p));
    DecodeResult r = decodeScenario(stored);
    EXPECT_EQ(r.text, "あ纊");
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_EQ(r.warnings[0].place.column, 2);
    EXPECT_EQ(r.warnings[0].message, "「纊」 (U+7E8A) is ED 40 here; encode writes it as FA 5C");
}

} // namespace
