// The engine's own code page 932 tables against this system's iconv, which is what the engine
// converted with before and what the tables are made from.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <iconv.h>
#include <optional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/message.h"

namespace {

// The iconv conversions the engine used, as they were, with the descriptor opened once.
struct Reference {
    iconv_t toUtf8 = ::iconv_open("UTF-8", "CP932");
    iconv_t toSjis = ::iconv_open("CP932", "UTF-8");
    ~Reference() {
        ::iconv_close(toUtf8);
        ::iconv_close(toSjis);
    }

    std::string sjisToUtf8(std::string_view in) {
        ::iconv(toUtf8, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        std::vector<char> buf(in.size() * 4 + 16);
        char* src = const_cast<char*>(in.data());
        size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char* dst = buf.data();
            size_t dstLeft = buf.size();
            size_t r = ::iconv(toUtf8, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf.data(), dst - buf.data());
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG) continue;
                if (errno == EINVAL) break;
                out += "\xEF\xBF\xBD";
                ++src;
                --srcLeft;
            }
        }
        return out;
    }

    std::optional<std::string> utf8ToSjis(std::string_view utf8, std::size_t* badOffset) {
        ::iconv(toSjis, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        std::vector<char> buf(utf8.size() * 2 + 16);
        char* src = const_cast<char*>(utf8.data());
        size_t srcLeft = utf8.size();
        while (srcLeft > 0) {
            char* dst = buf.data();
            size_t dstLeft = buf.size();
            size_t r = ::iconv(toSjis, &src, &srcLeft, &dst, &dstLeft);
            out.append(buf.data(), dst - buf.data());
            if (r == static_cast<size_t>(-1)) {
                if (errno == E2BIG) continue;
                *badOffset = static_cast<std::size_t>(src - utf8.data());
                return std::nullopt;
            }
        }
        return out;
    }
};

std::string utf8Of(std::uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | cp >> 6);
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | cp >> 12);
        s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | cp >> 18);
        s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

// Compares both ways of encoding `utf8`, the offset of the first bad character included.
void expectSameEncoding(Reference& ref, const std::string& utf8) {
    std::size_t badOffset = 99, refOffset = 99;
    const std::optional<std::string> ours = utf8ToSjis(utf8, &badOffset);
    const std::optional<std::string> theirs = ref.utf8ToSjis(utf8, &refOffset);
    ASSERT_EQ(ours, theirs) << terminalText(utf8);
    if (!theirs) {
        ASSERT_EQ(badOffset, refOffset) << terminalText(utf8);
    }
}

} // namespace

// Every byte, alone and before every other byte: each pair is one character, an invalid lead
// byte followed by a byte read on its own, or two characters of one byte.
TEST(Cp932, DecodesEveryByteAndPairAsIconvDoes) {
    Reference ref;
    for (int lead = 0; lead < 256; ++lead) {
        const std::string one(1, static_cast<char>(lead));
        ASSERT_EQ(sjisToUtf8(one), ref.sjisToUtf8(one)) << std::hex << lead;
        for (int trail = 0; trail < 256; ++trail) {
            const std::string two{static_cast<char>(lead), static_cast<char>(trail)};
            ASSERT_EQ(sjisToUtf8(two), ref.sjisToUtf8(two)) << std::hex << lead << ' ' << trail;
        }
    }
}

// Every code point, between two letters, so that the offset of a character that cannot be
// encoded is checked too; duplicates (NEC's and IBM's copies) must go to iconv's choice.
TEST(Cp932, EncodesEveryCodePointAsIconvDoes) {
    Reference ref;
    for (std::uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        expectSameEncoding(ref, "a" + utf8Of(cp) + "b");
        if (HasFatalFailure()) return;
    }
}

TEST(Cp932, ConvertsTrickyTextAsIconvDoes) {
    Reference ref;
    const std::string sjis[] = {
        "",
        "\x82",                                     // a lead byte cut off at the end
        "abc\x82\xA0\x82",                          // after a whole character
        "\x81\x81\x81",                             // a pair, then a cut-off lead
        "\x81\x20x",                                // an invalid trail, read again as a space
        "\x81\x7F\x81\xFD\x81\x3F",                 // trail bytes out of range
        "\x81\x0A\x82",                             // a line break after a lead byte
        std::string("\x82\0\x82\xA0", 4),           // a NUL after a lead byte
        "\x80\xA0\xFD\xFE\xFF",                     // bytes that are nothing
        "\xB1\xDF\xA1 \x5C\x7E",                    // half-width katakana; 0x5C and 0x7E stay ASCII
        "\x85\x40\x86\x9F\xEB\x40\xEF\x40",         // leads with no characters
        "\x84\xBF\x87\x9D\x88\x9E\xEA\xA5",         // just past the ends of rows
        "\xF0\x40\xF9\xFC\xF5\x7F\xF5\x80",         // the user-defined area
        "\x87\x40\x87\x9C\x87\x90",                 // NEC row 13
        "\xED\x40\xEE\xEC\xEE\xEF\xEE\xFC",         // NEC's copies of IBM's characters
        "\xFA\x40\xFA\x54\xFB\xFC\xFC\x4B\xFC\x4C", // IBM's own, and past its end
    };
    for (const std::string& s : sjis)
        EXPECT_EQ(sjisToUtf8(s), ref.sjisToUtf8(s)) << terminalText(s);

    const std::string utf8[] = {
        "",
        "ok \xE3\x81\x82",
        "ok\xE3\x81",  // cut off at the end
        "ok\xE3\x81z", // cut off before another character
        "\x80 lone continuation",
        "\xC0\x80 overlong NUL",
        "a\xE0\x80\xAF overlong slash",
        "ab\xF0\x80\x80\xAF", // four-byte overlong
        "x\xED\xA0\x80 surrogate",
        "x\xF4\x90\x80\x80 beyond U+10FFFF",
        "x\xF8\x88\x80\x80\x80 five bytes",
        "x\xFE\xFF",
        "\xEF\xBB\xBF with a byte order mark",
        "\xC2\xA5\xE2\x80\xBE\xE2\x88\x92\xE3\x80\x9C\xE2\x80\x94", // one-way: yen, overline...
        "\xE2\x85\xB0\xEF\xBF\xA2\xE2\x88\xB5", // duplicates: small i, not, because
        "a\xF3\xA0\x80\x81"
        "b\xF3\xA0\x81\xBF"
        "c", // tags: dropped
        "x\xE2\x82\xAC euro",
        std::string("nul\0ok", 6),
    };
    for (const std::string& s : utf8)
        expectSameEncoding(ref, s);
}
