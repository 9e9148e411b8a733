// The menu on the right button: the settings, auto mode and skip, the backlog, the save and load
// screens, the title and the end. Opened from the title's menu it holds the settings alone.
#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string>

#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "render/render.h"
#include "sound/sound.h"

namespace {

enum MenuItem {
    kFullscreen,
    kAuto,
    kSkipRead,
    kBacklog,
    kMusicVolume,
    kEffectVolume,
    kTextSpeed,
    kSelfVoicing,
    kSave,
    kLoad,
    kBackToTitle,
    kQuit,
    kMenuItems
};
constexpr int kMenuLeft = 200, kMenuTop = 105, kMenuRight = 600, kItemHeight = 35;
constexpr int kSettingsItems[] = {kFullscreen, kMusicVolume, kEffectVolume, kTextSpeed,
                                  kSelfVoicing};

// The items shown, in order: all of them in a game, the settings alone at the title.
int shownCount() {
    return inGame() ? int{kMenuItems} : static_cast<int>(std::size(kSettingsItems));
}
int shownItem(int index) {
    return inGame() ? index : kSettingsItems[static_cast<std::size_t>(index)];
}

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
    case kSelfVoicing:
        return "読み上げ" + onOff(g_comfortSettings.selfVoicing);
    case kSave:
        return "セーブ";
    case kLoad:
        return "ロード";
    case kBackToTitle:
        return "タイトルに戻る";
    default:
        return "終了する";
    }
}

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
    case kSelfVoicing:
        toggleSelfVoicing(false);
        break;
    case kSave:
        openSlotScreen(SlotScreen::Save);
        return;
    case kLoad:
        openSlotScreen(SlotScreen::Load);
        return;
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

} // namespace

std::string comfortCharacters() {
    std::string all = "自動履歴０１２３４５６７８９％　入切そのまま速く一度に";
    for (int item = 0; item < kMenuItems; ++item)
        all += menuText(item);
    return all + screenCharacters() + titleMenuCharacters() + voiceCharacters();
}

std::string selectedMenuText() {
    const int item = std::clamp(g_comforts.menuItem, 0, shownCount() - 1);
    return menuText(shownItem(item));
}

void menuInput() {
    const int count = shownCount();
    g_comforts.menuItem = std::clamp(g_comforts.menuItem, 0, count - 1);
    if (mouseButtonPressed(1) || keyPressed(kKeyBackspace)) {
        g_comforts.menuOpen = false;
        return;
    }
    if (g_mouse.lX != 0 || g_mouse.lY != 0) {
        movePointer(); // over the menu as over the game, no click reaching it
        const int item = (g_pointer.y - kMenuTop) / kItemHeight;
        if (g_pointer.x >= kMenuLeft - 20 && g_pointer.x < kMenuRight && g_pointer.y >= kMenuTop &&
            item < count)
            g_comforts.menuItem = item;
    }
    if (keyPressed(kKeyUp)) g_comforts.menuItem = (g_comforts.menuItem + count - 1) % count;
    if (keyPressed(kKeyDown) || keyPressed(kKeyTab))
        g_comforts.menuItem = (g_comforts.menuItem + 1) % count;
    if (keyPressed(kKeyReturn) || keyPressed(kKeyPadEnter) || keyPressed(kKeySpace) ||
        mouseButtonPressed(0))
        chooseMenuItem(shownItem(g_comforts.menuItem));
}

void drawMenu() {
    dim(96);
    ScreenQuad box;
    const int count = shownCount();
    buildQuad(box, 255, kMenuLeft - 30, kMenuTop - 15, kMenuRight,
              kMenuTop + kItemHeight * count + 15, 0, 0, 64, 64);
    for (QuadVertex& v : box.v)
        v.diffuse = 0xD0101828u;
    drawQuad(nullptr, box);
    ScreenQuad bar;
    const float y = static_cast<float>(kMenuTop + kItemHeight * g_comforts.menuItem);
    buildQuad(bar, 64, kMenuLeft - 20, y, kMenuRight - 10, y + kItemHeight, 0, 0, 64, 64);
    drawQuad(nullptr, bar);
    for (int i = 0; i < count; ++i)
        drawShadowed(toSjis(menuText(shownItem(i))),
                     Rect{kMenuLeft, kMenuTop + kItemHeight * i, kMenuRight,
                          kMenuTop + kItemHeight * (i + 1)});
    drawComfortPointer();
}
