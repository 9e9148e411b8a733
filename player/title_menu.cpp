// The title's own menu on the right button: つづきから, ロード, 設定 and 終了. The title only
// draws while it is up, and the pointer it moves is put back when it closes, so that the game
// a later click starts is the same as without it.
#include <algorithm>
#include <cstddef>
#include <string>

#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "render/render.h"

namespace {

enum TitleItem { kContinue, kLoad, kSettings, kEnd, kTitleItems };
constexpr int kLeft = 290, kTop = 300, kRight = 510, kItemHeight = 40;

const char* const kItemText[kTitleItems] = {"つづきから", "ロード", "設定", "終了"};

PointerState g_keptPointer{};
ScreenQuad g_keptPointerQuad{};

// The newest save of all slots, the quick and the quit save among them.
void findNewest() {
    g_screens.haveNewest = false;
    std::int64_t newest = 0;
    for (int slot = kQuitSlot; slot <= kSaveSlots; ++slot) {
        const SlotInfo info = readSlot(slot);
        if (info.state != SlotState::Ready && info.state != SlotState::Edited) continue;
        if (!g_screens.haveNewest || info.record.savedAt > newest) {
            newest = info.record.savedAt;
            g_screens.newestSlot = slot;
            g_screens.haveNewest = true;
        }
    }
}

void chooseTitleItem(int item) {
    switch (item) {
    case kContinue: {
        if (!g_screens.haveNewest) {
            showNote("つづきのセーブがありません");
            return;
        }
        std::string refusal;
        if (loadForPlayer(g_screens.newestSlot, &refusal))
            closeTitleMenu();
        else
            showNote("読み込めません　" + refusal);
        return;
    }
    case kLoad:
        openSlotScreen(SlotScreen::Load);
        return;
    case kSettings:
        g_comforts.menuOpen = true;
        g_comforts.menuItem = 0;
        return;
    default:
        g_comforts.quitWanted = true;
        return;
    }
}

int itemUnderPointer() {
    const int item = (g_pointer.y - kTop) / kItemHeight;
    if (g_pointer.x < kLeft - 20 || g_pointer.x >= kRight || g_pointer.y < kTop ||
        item >= kTitleItems)
        return -1;
    return item;
}

} // namespace

bool comfortsHoldTitle() {
    return g_comfortsMemory.enabled && g_screens.titleMenuOpen;
}

std::string titleMenuItemText() {
    return kItemText[static_cast<std::size_t>(std::clamp(g_screens.titleItem, 0, kTitleItems - 1))];
}

void openTitleMenu() {
    loadScenarioForSlots();
    findNewest();
    g_screens.titleMenuOpen = true;
    g_screens.titleItem = g_screens.haveNewest ? kContinue : kLoad;
    g_keptPointer = g_pointer;
    g_keptPointerQuad = g_pointerQuad;
    placePointer(g_pointer.x, g_pointer.y); // its quad where the pointer is, for the title
}

void closeTitleMenu() {
    if (!g_screens.titleMenuOpen) return;
    g_screens.titleMenuOpen = false;
    closeSlotScreen();
    g_comforts.menuOpen = false;
    g_pointer = g_keptPointer;
    g_pointerQuad = g_keptPointerQuad;
    g_pointer.clickArmed = false; // the press that closed it starts nothing
}

void titleMenuInput() {
    if (!atTitle()) {
        closeTitleMenu();
        return;
    }
    if (mouseButtonPressed(1) || keyPressed(kKeyBackspace)) {
        closeTitleMenu();
        return;
    }
    if (g_mouse.lX != 0 || g_mouse.lY != 0) {
        movePointer();
        const int item = itemUnderPointer();
        if (item >= 0) g_screens.titleItem = item;
    }
    if (keyPressed(kKeyUp))
        g_screens.titleItem = (g_screens.titleItem + kTitleItems - 1) % kTitleItems;
    if (keyPressed(kKeyDown) || keyPressed(kKeyTab))
        g_screens.titleItem = (g_screens.titleItem + 1) % kTitleItems;
    if (keyPressed(kKeyReturn) || keyPressed(kKeyPadEnter) || keyPressed(kKeySpace) ||
        (mouseButtonPressed(0) && itemUnderPointer() >= 0))
        chooseTitleItem(g_screens.titleItem);
}

void drawTitleMenu() {
    dim(96);
    ScreenQuad box;
    buildQuad(box, 255, kLeft - 30, kTop - 15, kRight, kTop + kItemHeight * kTitleItems + 15, 0, 0,
              64, 64);
    for (QuadVertex& v : box.v)
        v.diffuse = 0xD0101828u;
    drawQuad(nullptr, box);
    ScreenQuad bar;
    const float y = static_cast<float>(kTop + kItemHeight * g_screens.titleItem);
    buildQuad(bar, 64, kLeft - 20, y, kRight - 10, y + kItemHeight, 0, 0, 64, 64);
    drawQuad(nullptr, bar);
    for (int i = 0; i < kTitleItems; ++i) {
        const std::string text = toSjis(kItemText[i]);
        const Rect r{kLeft, kTop + kItemHeight * i + 2, kRight, kTop + kItemHeight * (i + 1)};
        if (i == kContinue && !g_screens.haveNewest) {
            drawText(reinterpret_cast<const std::uint8_t*>(text.data()),
                     static_cast<int>(text.size()), r, 0xFF808080u);
        } else {
            drawShadowed(text, r);
        }
    }
    drawComfortPointer();
}

std::string titleMenuCharacters() {
    std::string all = "つづきのセーブがありません読み込めません　";
    for (const char* text : kItemText)
        all += text;
    return all;
}
