// The tag handlers of [image], [playse], [playbgm], [jump] and [link] on random tag text: a
// page whose item at the reveal position is '[' NAME ' ' BYTES ']', followed by link text,
// [endlink] and [s], stepped a few times; a pending choice is then taken.
//
// Input: NAME SELECT, PLACE, BYTES. NAME SELECT picks the tag name (or none: the bytes are the
// whole tag text). PLACE below 0x80 puts the tag at the start of the page; otherwise it sits
// just before the page's end (2048 bytes), where the interpreter must stop, and the reveal
// state is made from PLACE. BYTES that do not fit the page buffer run to its end without ']',
// as the page builder leaves a tag that never closes.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_engine.h"

namespace {

constexpr std::array<std::string_view, 6> kNames = {"image ", "playse ", "playbgm ",
                                                    "jump ",  "link ",   ""};
// What follows the tag: two characters of link text, then the tags that make a choice.
constexpr std::string_view kAfter = "\x82\xa0\x82\xa2[endlink][s]";

std::string block0() {
    return "*a\r\n\x82\xa0\r\n*b|\r\n\x82\xa2[ct]\r\n*" + std::string(255, 'n') + "\r\n\x82\xa4";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string kBlock0 = block0();
    if (size < 2) return 0;
    const std::string_view name = kNames[data[0] % kNames.size()];
    const std::uint8_t place = data[1];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);

    fuzz::resetEngine();
    fuzz::putBlock(0, kBlock0);
    fuzz::putBlock(1, "*c|\r\n\x82\xa0");
    fuzz::titleInit();
    fuzz::gameInit();

    // The page: zero bytes up to the tag, the tag, then the choice behind it.
    ScriptState& s = g_script;
    g_page.fill(0);
    const int start = place < 0x80 ? 0 : kPageLimit - 1 - (place & 0x7F);
    std::string tag = "[" + std::string(name) + std::string(bytes) + "]" + std::string(kAfter);
    tag.resize(std::min<std::size_t>(tag.size(), kPageBufferSize - start));
    std::copy(tag.begin(), tag.end(), g_page.begin() + start);
    s.revealPos = start;
    if (start > 0) {
        s.column = place % 26;
        s.line = place % 16;
    }

    for (int step = 0; step < 8; ++step) {
        if (s.textRunning && !s.choiceWait) stepScript();
        if (s.choiceWait) {
            // The pointer over the first text line with the button down: the first link is taken.
            g_pointer.x = 60;
            g_pointer.y = 50 + 35 * std::clamp(s.line, 0, 14);
            buildQuad(g_pointerQuad, 255, static_cast<float>(g_pointer.x),
                      static_cast<float>(g_pointer.y), static_cast<float>(g_pointer.x + 40),
                      static_cast<float>(g_pointer.y + 40), 0, 0, 64, 64);
            g_pointer.pressed[0] = 1;
            testLinks();
        }
        fuzz::checkInvariants();
    }
    return 0;
}
