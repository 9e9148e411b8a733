#include "scenes/comforts.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/files.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "render/render.h"
#include "scenes/scenes.h"
#include "script/script.h"
#include "sound/sound.h"

ComfortSettings g_comfortSettings;
ComfortState g_comforts;

namespace {

constexpr int kLinesShown = 14;          // display lines of the text rectangle
constexpr int kMaxStepsPerFrame = 20000; // a page is far fewer steps
constexpr Rect kTextRect{50, 50, 750, 550};

struct Comforts {
    std::vector<std::uint8_t> shown;                // the revealed text of the page on screen
    std::int64_t shownPage = -1;                    // block and source of that page
    std::vector<std::vector<std::uint8_t>> history; // earlier pages' text, oldest first
    std::set<std::int64_t> readPages;               // pages left behind in this run
    int framesPerSecond = 60;
    bool enabled = true;
};

Comforts c;

bool down(int key) {
    return (g_keys[static_cast<std::size_t>(key)] & 0x80) != 0;
}
bool inGame() {
    return g_frameNo == kSceneGame;
}
bool atClickWait() {
    return inGame() && !g_script.textRunning && !g_script.choiceWait;
}
std::int64_t pageKey() {
    return (std::int64_t{g_script.currentBlock} << 32) |
           static_cast<std::uint32_t>(g_script.source);
}

std::string sjis(std::string_view utf8) {
    return utf8ToSjis(utf8).value_or(std::string());
}

// ---- Backlog -----------------------------------------------------------------------------

// Keeps the page on screen; when another page replaces it, the one before joins the backlog.
void followPage() {
    const int n = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    const bool samePage = static_cast<std::size_t>(n) >= c.shown.size() &&
                          std::equal(c.shown.begin(), c.shown.end(), g_page.begin());
    if (!samePage) {
        if (!c.shown.empty()) {
            c.history.push_back(c.shown);
            if (c.history.size() > static_cast<std::size_t>(kBacklogPages))
                c.history.erase(c.history.begin());
        }
        if (c.shownPage >= 0) c.readPages.insert(c.shownPage);
        c.shownPage = pageKey();
        c.shown.clear();
    }
    // Only what the reveal added since the frame before.
    c.shown.insert(c.shown.end(), g_page.begin() + static_cast<std::ptrdiff_t>(c.shown.size()),
                   g_page.begin() + n);
}

// The backlog's display lines, oldest first, a blank line between pages.
std::vector<std::string> backlogLines() {
    std::vector<std::string> lines;
    for (const std::vector<std::uint8_t>& page : c.history) {
        std::string line;
        for (std::uint8_t b : page) {
            if (b == '\n') {
                lines.push_back(line);
                line.clear();
            } else {
                line += static_cast<char>(b);
            }
        }
        if (!line.empty()) lines.push_back(line);
        lines.emplace_back();
    }
    return lines;
}

int backlogLastTop() {
    return std::max(0, static_cast<int>(backlogLines().size()) - kLinesShown);
}

void openBacklog() {
    g_comforts.backlogOpen = true;
    g_comforts.backlogTop = backlogLastTop();
}

void scrollBacklog(int lines) {
    const int last = backlogLastTop();
    if (lines > 0 && g_comforts.backlogTop >= last) { // scrolled past its end: back to the game
        g_comforts.backlogOpen = false;
        return;
    }
    g_comforts.backlogTop = std::clamp(g_comforts.backlogTop + lines, 0, last);
}

void backlogInput() {
    if (keyPressed(kKeyReturn) || keyPressed(kKeyPadEnter) || mouseButtonPressed(1)) {
        g_comforts.backlogOpen = false;
        return;
    }
    if (g_mouse.lZ > 0 || keyPressed(kKeyUp)) scrollBacklog(-1);
    if (g_mouse.lZ < 0 || keyPressed(kKeyDown)) scrollBacklog(1);
    if (keyPressed(kKeyPageUp)) scrollBacklog(-kLinesShown);
    if (keyPressed(kKeyPageDown)) scrollBacklog(kLinesShown);
}

// ---- Menu --------------------------------------------------------------------------------

enum MenuItem {
    kFullscreen,
    kAuto,
    kSkipRead,
    kBacklog,
    kMusicVolume,
    kEffectVolume,
    kTextSpeed,
    kBackToTitle,
    kQuit,
    kMenuItems
};
constexpr int kMenuLeft = 200, kMenuTop = 105, kMenuRight = 600, kItemHeight = 35;

std::string percent(int value) {
    std::string digits = std::to_string(value), wide;
    for (char d : digits)
        wide +=
            std::string("０１２３４５６７８９").substr(static_cast<std::size_t>(d - '0') * 3, 3);
    return wide + "％";
}

std::string menuText(int item) {
    const auto onOff = [](bool on) { return std::string(on ? "　入" : "　切"); };
    switch (item) {
    case kFullscreen:
        return "全画面" + onOff(g_comfortSettings.fullscreen);
    case kAuto:
        return "自動で読み進める" + onOff(g_comforts.autoMode);
    case kSkipRead:
        return "既読をとばす" + onOff(g_comforts.skipRead);
    case kBacklog:
        return "履歴を読む";
    case kMusicVolume:
        return "音楽の音量　" + percent(g_comfortSettings.musicVolume);
    case kEffectVolume:
        return "効果音の音量　" + percent(g_comfortSettings.effectVolume);
    case kTextSpeed: {
        const char* speeds[] = {"そのまま", "速く", "一度に"};
        return std::string("文字の速さ　") + speeds[static_cast<int>(g_comfortSettings.textSpeed)];
    }
    case kBackToTitle:
        return "タイトルに戻る";
    default:
        return "終了する";
    }
}

} // namespace

std::string comfortCharacters() {
    std::string all = "自動履歴０１２３４５６７８９％　入切そのまま速く一度に";
    for (int item = 0; item < kMenuItems; ++item)
        all += menuText(item);
    return all;
}

namespace {

int nextVolume(int volume) {
    return volume <= 0 ? 100 : std::max(0, (volume - 1) / 25 * 25);
}

void chooseMenuItem(int item) {
    switch (item) {
    case kFullscreen:
        g_comforts.fullscreenWanted = true;
        break;
    case kAuto:
        g_comforts.autoMode = !g_comforts.autoMode;
        break;
    case kSkipRead:
        g_comforts.skipRead = !g_comforts.skipRead;
        break;
    case kBacklog:
        g_comforts.menuOpen = false;
        openBacklog();
        return;
    case kMusicVolume:
        g_comfortSettings.musicVolume = nextVolume(g_comfortSettings.musicVolume);
        setMusicVolume(g_comfortSettings.musicVolume);
        g_comforts.settingsChanged = true;
        break;
    case kEffectVolume:
        g_comfortSettings.effectVolume = nextVolume(g_comfortSettings.effectVolume);
        setEffectVolume(g_comfortSettings.effectVolume);
        g_comforts.settingsChanged = true;
        break;
    case kTextSpeed:
        g_comfortSettings.textSpeed =
            static_cast<TextSpeed>((static_cast<int>(g_comfortSettings.textSpeed) + 1) % 3);
        g_comforts.settingsChanged = true;
        break;
    case kBackToTitle:
        g_comforts.menuOpen = false;
        releaseImageTables(); // as F1 does
        g_frameNo = kSceneTitleInit;
        return;
    case kQuit:
        g_comforts.quitWanted = true;
        break;
    default:
        break;
    }
}

void menuInput() {
    if (mouseButtonPressed(1)) {
        g_comforts.menuOpen = false;
        return;
    }
    if (g_mouse.lX != 0 || g_mouse.lY != 0) {
        movePointer(); // over the menu as over the game, no click reaching it
        const int item = (g_pointer.y - kMenuTop) / kItemHeight;
        if (g_pointer.x >= kMenuLeft - 20 && g_pointer.x < kMenuRight && g_pointer.y >= kMenuTop &&
            item < kMenuItems)
            g_comforts.menuItem = item;
    }
    if (keyPressed(kKeyUp))
        g_comforts.menuItem = (g_comforts.menuItem + kMenuItems - 1) % kMenuItems;
    if (keyPressed(kKeyDown) || keyPressed(kKeyTab))
        g_comforts.menuItem = (g_comforts.menuItem + 1) % kMenuItems;
    if (keyPressed(kKeyReturn) || keyPressed(kKeyPadEnter) || keyPressed(kKeySpace) ||
        mouseButtonPressed(0))
        chooseMenuItem(g_comforts.menuItem);
}

// ---- Choices -----------------------------------------------------------------------------

// The pointer onto an active link, where the link test takes that link first.
void pointAtLink(int index) {
    const QuadVertex& corner = g_links[static_cast<std::size_t>(index)].quad.v[0];
    placePointer(static_cast<int>(corner.x) + 4, static_cast<int>(corner.y) + 1);
}

std::vector<int> activeLinks() {
    std::vector<int> links;
    for (int i = 0; i < kLinkCount; ++i)
        if (g_links[static_cast<std::size_t>(i)].active) links.push_back(i);
    return links;
}

void choiceKeys() {
    const std::vector<int> links = activeLinks();
    if (links.empty()) return;
    int current = -1;
    for (std::size_t i = 0; i < links.size(); ++i)
        if (g_links[static_cast<std::size_t>(links[i])].hovered) current = static_cast<int>(i);
    const int n = static_cast<int>(links.size());
    if (keyPressed(kKeyDown) || keyPressed(kKeyTab))
        pointAtLink(links[static_cast<std::size_t>((current + 1) % n)]);
    if (keyPressed(kKeyUp))
        pointAtLink(links[static_cast<std::size_t>(current <= 0 ? n - 1 : current - 1)]);
    for (int d = 0; d < 9 && d < n; ++d)
        if (keyPressed(kKeyDigit1 + d)) {
            pointAtLink(links[static_cast<std::size_t>(d)]);
            g_mouse.rgbButtons[0] |= 0x80; // taken as a click on it
        }
}

// ---- Reading faster ----------------------------------------------------------------------

int lineCharacters() {
    int i = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    int count = 0;
    while (i > 0 && g_page[static_cast<std::size_t>(i - 1)] != '\n') {
        const std::uint8_t b = g_page[static_cast<std::size_t>(i - 1)];
        if (b >= 0x20) ++count;
        --i;
    }
    return count / 2; // a double-byte character is two bytes; the game's text is double-byte
}

// Steps until the page has changed and the new page waits for its first click (or a choice,
// or the scene changes): a page a frame.
void runToNextPage(bool answerWaits) {
    bool pageChanged = false;
    for (int i = 0; i < kMaxStepsPerFrame && inGame() && !g_script.choiceWait; ++i) {
        if (!g_script.textRunning) {
            if (pageChanged || !answerWaits) break;
            signalClick();
        }
        const int before = g_script.revealPos;
        stepScript();
        if (g_script.revealPos < before) pageChanged = true;
    }
}

} // namespace

void resetComforts() {
    g_comforts = ComfortState{};
    c.shown.clear();
    c.shownPage = -1;
    c.history.clear();
    c.readPages.clear();
}

void setComfortsEnabled(bool enabled) {
    c.enabled = enabled;
}

void setComfortFrameRate(int framesPerSecond) {
    c.framesPerSecond = std::clamp(framesPerSecond, 1, 1000);
}

int backlogPageCount() {
    return static_cast<int>(c.history.size());
}

void comfortsBeforeScene() {
    if (!c.enabled) return;
    if (inGame()) followPage();
    if (g_comforts.backlogOpen && inGame()) {
        backlogInput();
    } else if (g_comforts.menuOpen && inGame()) {
        menuInput();
    } else {
        g_comforts.backlogOpen = g_comforts.menuOpen = false;
        const bool alt = down(kKeyLeftAlt) || down(kKeyRightAlt);
        // Return, keypad Enter and Space are a left press (Alt+Return is the fullscreen key).
        if ((!alt && (down(kKeyReturn) || down(kKeyPadEnter))) || down(kKeySpace))
            g_mouse.rgbButtons[0] |= 0x80;
        if (inGame()) {
            if (mouseButtonPressed(1)) {
                g_comforts.menuOpen = true;
            } else if (g_mouse.lZ > 0 || keyPressed(kKeyPageUp)) {
                openBacklog();
            } else {
                if (g_script.choiceWait) choiceKeys();
                // The wheel towards the player goes on from a click wait.
                if (g_mouse.lZ < 0 && atClickWait()) signalClick();
                if (keyPressed(kKeyA)) g_comforts.autoMode = !g_comforts.autoMode;
            }
        }
    }
}

bool comfortsHoldGame() {
    return g_comforts.backlogOpen || g_comforts.menuOpen;
}

void comfortsAfterStep() {
    if (!c.enabled || !inGame() || comfortsHoldGame()) return;
    const bool skipping = down(kKeyLeftCtrl) || down(kKeyRightCtrl) ||
                          (g_comforts.skipRead && c.readPages.count(pageKey()) != 0);
    if (skipping) {
        runToNextPage(true);
        g_comforts.waitFrames = 0;
        return;
    }
    if (g_script.textRunning && !g_script.choiceWait) {
        g_comforts.waitFrames = 0;
        if (g_comfortSettings.textSpeed == TextSpeed::Faster) stepScript();
        if (g_comfortSettings.textSpeed == TextSpeed::InstantPage) runToNextPage(false);
        return;
    }
    if (g_comforts.autoMode && atClickWait()) {
        const long long ms =
            g_comfortSettings.autoBaseMs +
            static_cast<long long>(g_comfortSettings.autoPerCharMs) * lineCharacters();
        if (++g_comforts.waitFrames * 1000LL >= ms * c.framesPerSecond) {
            g_comforts.waitFrames = 0;
            signalClick();
        }
    }
}

namespace {

void dim(std::uint32_t alpha) {
    ScreenQuad q;
    buildQuad(q, 255, 0, 0, kScreenWidth, kScreenHeight, 0, 0, 64, 64);
    for (QuadVertex& v : q.v)
        v.diffuse = alpha << 24; // black
    drawQuad(nullptr, q);
}

void drawShadowed(const std::string& text, const Rect& rect) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const Rect shadow{rect.left + 2, rect.top + 2, rect.right + 2, rect.bottom + 2};
    drawText(bytes, static_cast<int>(text.size()), shadow, 0xFF000000u);
    drawText(bytes, static_cast<int>(text.size()), rect, 0xFFFFFFFFu);
}

} // namespace

void comfortsDraw() {
    if (!c.enabled || !inGame()) return;
    if (g_comforts.autoMode && !comfortsHoldGame())
        drawShadowed(sjis("自動"), Rect{736, 4, 800, 40});
    if (g_comforts.backlogOpen) {
        dim(200);
        const std::vector<std::string> lines = backlogLines();
        std::string text;
        const int top =
            std::clamp(g_comforts.backlogTop, 0, std::max(0, static_cast<int>(lines.size())));
        for (int i = top; i < top + kLinesShown && i < static_cast<int>(lines.size()); ++i)
            text += lines[static_cast<std::size_t>(i)] + "\n";
        drawShadowed(text, kTextRect);
        drawShadowed(sjis("履歴"), Rect{736, 4, 800, 40});
    }
    if (g_comforts.menuOpen) {
        dim(96);
        ScreenQuad box;
        buildQuad(box, 255, kMenuLeft - 30, kMenuTop - 15, kMenuRight,
                  kMenuTop + kItemHeight * kMenuItems + 15, 0, 0, 64, 64);
        for (QuadVertex& v : box.v)
            v.diffuse = 0xD0101828u;
        drawQuad(nullptr, box);
        ScreenQuad bar;
        const float y = static_cast<float>(kMenuTop + kItemHeight * g_comforts.menuItem);
        buildQuad(bar, 64, kMenuLeft - 20, y, kMenuRight - 10, y + kItemHeight, 0, 0, 64, 64);
        drawQuad(nullptr, bar);
        for (int i = 0; i < kMenuItems; ++i)
            drawShadowed(sjis(menuText(i)), Rect{kMenuLeft, kMenuTop + kItemHeight * i, kMenuRight,
                                                 kMenuTop + kItemHeight * (i + 1)});
        drawQuad(g_pointerTex, g_pointerQuad);
    }
}
