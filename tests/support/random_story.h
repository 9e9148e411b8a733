// Stories made at random from a seed, as UTF-8 sources in two blocks: pages with pictures and
// sounds, a checkpoint label, a choice of links, [jump] and the [reset] that ends the game. The
// same seed makes the same story, so a failure names the seed that shows it.
#pragma once

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace random_story {

// Text the encoder always takes: hiragana, none of whose Shift-JIS bytes is 0x7E.
constexpr std::string_view kKana[] = {
    "あ", "い", "う", "え", "お", "か", "き", "く", "け", "こ", "さ", "し", "す", "せ", "そ",
    "た", "ち", "つ", "て", "と", "な", "に", "ぬ", "ね", "の", "は", "ひ", "ふ", "へ", "ほ",
    "ま", "む", "め", "も", "や", "ゆ", "よ", "ら", "り", "る", "れ", "ろ", "わ", "を", "ん"};
// The backgrounds a game folder holds (背景N.bmp).
constexpr int kBackgrounds[] = {0, 1, 2, 3, 5, 6, 7};

struct StoryMaker {
    std::mt19937 random;

    int number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }
    bool chance(int percent) { return number(1, 100) <= percent; }

    std::string words(int low, int high) {
        std::string text;
        for (int n = number(low, high); n > 0; --n)
            text += kKana[static_cast<std::size_t>(number(0, std::size(kKana) - 1))];
        return text;
    }
    std::string background() {
        return "[image " + std::to_string(kBackgrounds[static_cast<std::size_t>(number(0, 6))]) +
               " layer=base left=0 top=0]";
    }
    // What may stand at the start of a line: pictures, music, an effect, or nothing.
    std::string lineTags() {
        std::string tags;
        if (chance(15)) tags += background();
        if (chance(20))
            tags += "[image " + std::to_string(number(0, 1)) +
                    " layer=" + std::to_string(number(0, 1)) +
                    " left=" + std::to_string(chance(20) ? 900 : number(0, 40) * 10) +
                    " top=" + std::to_string(number(0, 10) * 5) + "]";
        if (chance(8)) tags += "[playbgm " + std::to_string(number(0, 1)) + "]";
        if (chance(10)) tags += "[playse " + std::to_string(number(50, 51)) + "]";
        return tags;
    }
    // A line, with a click wait inside it when `mayWait`: the engine does not count a [l]'s bytes
    // where it finds the page after a [ct], so only a page no [ct] follows holds one.
    std::string line(bool mayWait) {
        std::string text = lineTags() + words(3, 12);
        if (mayWait && chance(15)) text += "[l]" + words(2, 8);
        return text + "。\n";
    }
    // A page of n lines with the n - 1 comment lines the page's length needs; `first` starts
    // its first comment, "[ct]" for a page after another.
    std::string page(const std::string& first, std::string head, bool last) {
        const int lines = number(1, 4);
        std::string text;
        for (int c = 0; c < lines - 1; ++c)
            text += (c == 0 ? first : std::string()) + ";" + words(2, 6) + "\n";
        if (lines == 1 && !first.empty()) text += first;
        text += head + line(last);
        for (int l = 1; l < lines; ++l)
            text += line(last);
        return text;
    }
    // Pages one after another, the first starting where the text before left off.
    std::string pages(int count, std::string head = {}) {
        std::string text = page("", std::move(head), count == 1);
        for (int p = 1; p < count; ++p)
            text += page("[ct]", {}, p == count - 1);
        return text;
    }
};

struct Story {
    std::string block0, block1;
    int links = 0; // of the choice
};

// A story in two blocks: pages with pictures and sounds to a checkpoint label, a choice of two
// or three links, one branch a page more than the others, each to the ending in block 1, whose
// [reset] ends the game.
inline Story makeStory(std::uint32_t seed) {
    StoryMaker m{std::mt19937(seed)};
    Story story;
    story.block0 = m.pages(m.number(1, 3), "[playbgm 1]" + m.background());
    story.block0 += "[jump 0 target=*cp]\n*cp|\n" + m.background() + m.words(4, 10) + "。\n";
    const int links = story.links = m.number(2, 3);
    for (int l = 0; l < links; ++l)
        story.block0 += "[link target=*b" + std::to_string(l) + "]" + m.words(3, 8) + "[endlink]\n";
    story.block0 += "[s]\n";
    for (int l = 0; l < links; ++l)
        story.block0 +=
            "*b" + std::to_string(l) + "\n" + m.pages(m.number(1, 2)) + "[jump 1 target=*end]\n";
    story.block1 = "*end\n" + m.pages(m.number(1, 2), m.background()) + "[reset]\n";
    return story;
}

} // namespace random_story
