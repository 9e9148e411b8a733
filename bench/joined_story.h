// A long story whose branches join again: `sections` choices of two links, each link a branch of
// four pages that jumps on to the next choice, half of the story in each block. A section is ten
// pages, so 200 sections make some 2000 pages. Short one-line pages keep the whole within the two
// blocks' 65534 bytes each.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace joined_story {

struct Story {
    std::string block0, block1; // UTF-8, LF line ends
};

inline Story make(int sections, std::uint32_t seed = 1) {
    static constexpr const char* kKana[] = {"あ", "い", "う", "え", "お", "か", "き", "く",
                                            "け", "こ", "さ", "し", "す", "せ", "そ", "た"};
    std::mt19937 random(seed);
    auto words = [&] {
        std::string text;
        for (int n = std::uniform_int_distribution<int>(3, 6)(random); n > 0; --n)
            text += kKana[std::uniform_int_distribution<int>(0, 15)(random)];
        return text + "。\n";
    };
    Story story;
    story.block0 = words() + "[jump 0 target=*c0]\n";
    const int half = sections / 2;
    for (int i = 0; i < sections; ++i) {
        std::string& text = i < half ? story.block0 : story.block1;
        const std::string n = std::to_string(i);
        const std::string next = i + 1 == sections ? "*end" : "*c" + std::to_string(i + 1);
        const int nextBlock = i + 1 < half ? 0 : 1;
        text += "*c" + n + "\n" + words() + "[ct]" + words();
        text += "[link target=*a" + n + "]みぎ[endlink]\n[link target=*b" + n +
                "]ひだり[endlink]\n[s]\n";
        for (const char* branch : {"*a", "*b"}) {
            text += branch + n + "\n" + words();
            for (int p = 1; p < 4; ++p)
                text += "[ct]" + words();
            text += "[jump " + std::to_string(nextBlock) + " target=" + next + "]\n";
        }
    }
    story.block1 += "*end\n" + words() + "[reset]\n";
    return story;
}

} // namespace joined_story
