// What the game says aloud and tells a reader: the page's text, the choices, the menu's entries.
// Followed once a frame, after the frame's step (comfortsDraw), from what the screen shows.
//
// A page's text is told whole at its click wait (or its choice), not character by character as
// it is revealed: speech then gets whole sentences to say, with their intonation, and text that
// skip or the instant text speed writes at once reaches it at once. A page's click waits each
// add the text revealed since the one before; those are queued, so that auto mode reading on by
// itself never cuts a line off. A new page silences what is still being said of the one before:
// the player has moved on. The choices follow the page's text; the choice the pointer or the
// keys then move onto, and the menu's entry as it is selected, silence the rest, as a reader's
// focus does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/files.h"
#include "player/player.h"
#include "player/shared.h"
#include "script/script.h"

namespace {

constexpr const char* kVoicingOn = "読み上げ　入";
constexpr const char* kVoicingOff = "読み上げ　切";
constexpr const char* kCopied = "本文をコピーしました";
constexpr const char* kNotCopied = "コピーできません";

struct Voice {
    SpeechSink speech = nullptr;
    SpeechSink feed = nullptr;
    ClipboardSink clipboard = nullptr;
    // The page followed: where it began, and its bytes shown at the last frame.
    std::int32_t block = -1;
    std::int32_t source = -1;
    std::vector<std::uint8_t> seen;
    std::size_t told = 0;           // bytes of `seen` told
    std::vector<std::string> lines; // what was told of it, a click wait's text each
    bool choicesTold = false;
    int hovered = -1;
    std::string focus; // what has the focus among the comforts' lists, as last said
};
Voice g_voice;

void say(std::string_view text, SpeechKind kind, bool interrupt) {
    if (g_voice.speech && g_comfortSettings.selfVoicing) g_voice.speech(text, kind, interrupt);
}

void tell(std::string_view text, SpeechKind kind, bool interrupt) {
    say(text, kind, interrupt);
    if (g_voice.feed) g_voice.feed(text, kind, interrupt);
}

// Page bytes as one line of UTF-8: the display lines' breaks (the box's wraps among them) go,
// and so do the blanks that stand for single-byte characters. Neither is ever the second byte
// of a two-byte character, so the pairs stay whole.
std::string textOf(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
    std::string sjis;
    for (std::size_t i = from; i < to && i < bytes.size(); ++i)
        if (bytes[i] >= 0x20) sjis += static_cast<char>(bytes[i]);
    return sjisToUtf8(sjis);
}

// Where display line `line` of the page shown begins (its end when it has fewer lines).
std::size_t lineStart(const std::vector<std::uint8_t>& bytes, int line) {
    std::size_t i = 0;
    for (int l = 0; l < line && i < bytes.size(); ++i)
        if (bytes[i] == '\n') ++l;
    return std::min(i, bytes.size());
}

int lineOfLink(const LinkEntry& link) {
    return std::max(0, static_cast<int>(link.quad.v[0].y + 0.5f) - g_textRect.top) / kLineHeight;
}

// The characters a link's area covers: from the start of its display line to its right edge.
std::string linkText(const LinkEntry& link) {
    const std::vector<std::uint8_t>& bytes = g_voice.seen;
    const std::size_t start = lineStart(bytes, lineOfLink(link));
    const int cells = static_cast<int>(link.quad.v[1].x + 0.5f) - g_textRect.left;
    const std::size_t characters = static_cast<std::size_t>(std::max(0, cells / (2 * kCellWidth)));
    std::size_t end = start;
    while (end < bytes.size() && bytes[end] != '\n' && end < start + 2 * characters)
        ++end;
    return textOf(bytes, start, end);
}

std::string choiceLine(int number, const LinkEntry& link) {
    return std::to_string(number) + "　" + linkText(link);
}

int hoveredLink() {
    for (int i = 0; i < kLinkCount; ++i) {
        const LinkEntry& link = g_links[static_cast<std::size_t>(i)];
        if (link.active && link.hovered) return i;
    }
    return -1;
}

void tellChoices(bool speak, bool feed) {
    int number = 0;
    for (const LinkEntry& link : g_links) {
        if (!link.active) continue;
        const std::string line = choiceLine(++number, link);
        if (speak) say(line, SpeechKind::Choice, false);
        if (feed && g_voice.feed) g_voice.feed(line, SpeechKind::Choice, false);
    }
}

void forgetPage() {
    Voice& v = g_voice;
    v.block = v.source = -1;
    v.seen.clear();
    v.told = 0;
    v.lines.clear();
    v.choicesTold = false;
    v.hovered = -1;
}

void followPageText() {
    Voice& v = g_voice;
    const std::size_t n =
        static_cast<std::size_t>(std::clamp(g_script.revealPos, 0, kPageBufferSize));
    const bool samePage = g_script.source == v.source && g_script.currentBlock == v.block &&
                          n >= v.seen.size() &&
                          std::equal(v.seen.begin(), v.seen.end(), g_page.begin());
    if (!samePage) {
        // What a skip showed of the page left but never stopped at still reaches the feed.
        if (v.feed && v.told < v.seen.size()) {
            const std::string rest = textOf(v.seen, v.told, v.seen.size());
            if (!rest.empty()) v.feed(rest, SpeechKind::Page, v.lines.empty());
        }
        const bool hadPage = v.source >= 0;
        forgetPage();
        v.block = g_script.currentBlock;
        v.source = g_script.source;
        if (hadPage) say("", SpeechKind::Page, true);
    }
    // Only what the reveal added since the frame before: the rest is the page already seen.
    v.seen.insert(v.seen.end(), g_page.begin() + static_cast<std::ptrdiff_t>(v.seen.size()),
                  g_page.begin() + static_cast<std::ptrdiff_t>(n));
    if (g_script.textRunning && !g_script.choiceWait) return;
    std::size_t end = n;
    if (g_script.choiceWait)
        for (const LinkEntry& link : g_links)
            if (link.active) end = std::min(end, lineStart(v.seen, lineOfLink(link)));
    if (end > v.told) {
        const std::string text = textOf(v.seen, v.told, end);
        v.told = end;
        if (!text.empty()) {
            tell(text, SpeechKind::Page, v.lines.empty());
            v.lines.push_back(text);
        }
    }
    if (!g_script.choiceWait) {
        v.hovered = -1;
        return;
    }
    if (!v.choicesTold) {
        v.choicesTold = true;
        v.told = v.seen.size(); // the links' lines are told as the choices
        tellChoices(true, true);
        v.hovered = hoveredLink(); // where the pointer already stands is not news
        return;
    }
    const int hovered = hoveredLink();
    if (hovered != v.hovered) {
        v.hovered = hovered;
        if (hovered >= 0)
            say(linkText(g_links[static_cast<std::size_t>(hovered)]), SpeechKind::Hovered, true);
    }
}

// What has the focus among the comforts' own lists, with where it is, so that the same words at
// another place are said again: the menu's entry, the title's menu's item, the save or load
// screen's slot or its question. Empty when none of them is up.
std::string focusedEntry(std::string* text) {
    if (g_screens.open != SlotScreen::None) {
        if (g_screens.asking != 0) {
            *text = std::string("上書きしますか？　") + (g_screens.askYes ? "はい" : "いいえ");
            return "ask:" + std::to_string(g_screens.asking) + *text;
        }
        const SlotLines lines = slotLines(g_screens.row);
        *text = lines.head + "　" + lines.preview;
        return "slot:" + std::to_string(g_screens.page) + ":" + std::to_string(g_screens.row) +
               ":" + *text;
    }
    if (g_comforts.menuOpen) {
        *text = selectedMenuText();
        return "menu:" + std::to_string(g_comforts.menuItem) + ":" + *text;
    }
    if (g_screens.titleMenuOpen) {
        *text = titleMenuItemText();
        return "title:" + std::to_string(g_screens.titleItem) + ":" + *text;
    }
    text->clear();
    return {};
}

void followMenu() {
    std::string text;
    const std::string focus = focusedEntry(&text);
    if (focus != g_voice.focus && !text.empty()) say(text, SpeechKind::Menu, true);
    g_voice.focus = focus;
}

} // namespace

void setSpeechSink(SpeechSink sink) {
    g_voice.speech = sink;
}
void setTextFeedSink(SpeechSink sink) {
    g_voice.feed = sink;
}
void setClipboardSink(ClipboardSink sink) {
    g_voice.clipboard = sink;
}

void followVoice() {
    if (inGame())
        followPageText();
    else if (g_voice.source >= 0)
        forgetPage();
    followMenu();
}

void forgetVoice() {
    forgetPage();
    g_voice.focus.clear();
}

std::string pageTextNow() {
    if (!inGame()) return {};
    followVoice();
    std::string text;
    for (const std::string& line : g_voice.lines)
        text += line + "\n";
    const std::string rest = textOf(g_voice.seen, g_voice.told, g_voice.seen.size());
    if (!rest.empty()) text += rest + "\n";
    if (g_voice.choicesTold) {
        int number = 0;
        for (const LinkEntry& link : g_links)
            if (link.active) text += choiceLine(++number, link) + "\n";
    }
    return text;
}

void toggleSelfVoicing(bool announce) {
    bool& on = g_comfortSettings.selfVoicing;
    g_comforts.settingsChanged = true;
    if (on) {
        if (announce)
            say(kVoicingOff, SpeechKind::Notice, true);
        else
            say("", SpeechKind::Notice, true);
        on = false;
        return;
    }
    on = true;
    if (!announce) return; // the menu says its entry anew
    say(kVoicingOn, SpeechKind::Notice, true);
    // The page on screen, as far as it has been told, so the player need not wait for the next.
    if (!inGame()) return;
    for (const std::string& line : g_voice.lines)
        say(line, SpeechKind::Page, false);
    if (g_voice.choicesTold) tellChoices(true, false);
}

void copyPageText() {
    if (!g_voice.clipboard) return;
    const std::string text = pageTextNow();
    if (text.empty()) return;
    const char* note = g_voice.clipboard(text) ? kCopied : kNotCopied;
    showNote(note);
    say(note, SpeechKind::Notice, true);
}

std::string voiceCharacters() {
    return std::string(kVoicingOn) + kVoicingOff + kCopied + kNotCopied;
}
