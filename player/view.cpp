// The text box put away, to look at the picture alone, and the screenshot key.
//
// H or the middle button puts the box away in a game, when nothing of the comforts is open. The
// next press of any key or button (or a turn of the wheel) brings it back and is spent on that:
// the key or button stays out of the snapshot until it is let go of, so that neither the game nor
// the comforts take it, not even as a key held down (the game reads F1 while it is down). S and
// F12 take a screenshot and leave the box as it is: a player puts it away to take the picture.
#include <array>
#include <cstddef>
#include <string>

#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"

namespace {

constexpr int kMouseButtons = 4;

struct ViewState {
    // Keys and buttons spent on bringing the box back, left out of the snapshot while down.
    std::array<bool, 256> spentKeys{};
    std::array<bool, kMouseButtons> spentButtons{};
};

ViewState g_view;

bool screenshotKey(int key) {
    return key == kKeyS || key == kKeyF12;
}

bool anyFreshPress() {
    for (int key = 0; key < static_cast<int>(g_keys.size()); ++key)
        if (!screenshotKey(key) && keyPressed(key)) return true;
    for (int button = 0; button < kMouseButtons; ++button)
        if (mouseButtonPressed(button)) return true;
    return g_mouse.lZ != 0;
}

// Everything down now is spent; the snapshot shows it up until it is let go of, so the next
// press after that is a fresh one.
void spendWhatIsDown() {
    for (std::size_t key = 0; key < g_keys.size(); ++key)
        if (!screenshotKey(static_cast<int>(key)) && (g_keys[key] & 0x80) != 0)
            g_view.spentKeys[key] = true;
    for (std::size_t button = 0; button < kMouseButtons; ++button)
        if ((g_mouse.rgbButtons[button] & 0x80) != 0) g_view.spentButtons[button] = true;
    g_mouse.lZ = 0;
}

void leaveOutSpent() {
    for (std::size_t key = 0; key < g_keys.size(); ++key) {
        if (!g_view.spentKeys[key]) continue;
        if ((g_keys[key] & 0x80) != 0)
            g_keys[key] = 0;
        else
            g_view.spentKeys[key] = false;
    }
    for (std::size_t button = 0; button < kMouseButtons; ++button) {
        if (!g_view.spentButtons[button]) continue;
        if ((g_mouse.rgbButtons[button] & 0x80) != 0)
            g_mouse.rgbButtons[button] = 0;
        else
            g_view.spentButtons[button] = false;
    }
}

} // namespace

bool viewBeforeScene() {
    if (keyPressed(kKeyS) || keyPressed(kKeyF12)) g_comforts.screenshotWanted = true;
    leaveOutSpent();
    if (!inGame()) {
        g_comforts.textHidden = false;
        return false;
    }
    if (g_comforts.textHidden) {
        if (anyFreshPress()) {
            g_comforts.textHidden = false;
            spendWhatIsDown();
            leaveOutSpent();
        }
        return true;
    }
    if (!comfortsHoldGame() && (keyPressed(kKeyH) || mouseButtonPressed(2))) {
        g_comforts.textHidden = true;
        return true;
    }
    return false;
}

void resetView() {
    g_view = ViewState{};
}

bool comfortsTextHidden() {
    return g_comfortsMemory.enabled && g_comforts.textHidden;
}

void comfortsScreenshotTaken(const std::string& where, const std::string& failure) {
    if (!g_comfortsMemory.enabled) return;
    showNote(failure.empty() ? "スクリーンショットを保存しました　" + where
                             : "スクリーンショットを保存できません");
}
