// The comfort keys and the wheel, turned into the game's own input, and the backlog and the menu
// opened and closed; before the scene, so that the game takes them as its own.
#include <cstddef>
#include <vector>

#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "script/script.h"

namespace {

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

} // namespace

void comfortsBeforeScene() {
    if (!g_comfortsMemory.enabled) return;
    padBeforeScene();
    followPage();
    if (viewBeforeScene()) return;
    const bool held = inGame() && comfortsHoldGame();
    if (g_screens.open != SlotScreen::None) {
        slotScreenInput();
    } else if (g_comforts.backlogOpen && inGame()) {
        backlogInput();
    } else if (g_comforts.menuOpen && (inGame() || g_screens.titleMenuOpen)) {
        menuInput();
    } else if (g_screens.titleMenuOpen) {
        titleMenuInput();
    } else {
        g_comforts.backlogOpen = g_comforts.menuOpen = false;
        const bool alt = keyDown(kKeyLeftAlt) || keyDown(kKeyRightAlt);
        // Return, keypad Enter and Space are a left press (Alt+Return is the fullscreen key).
        if ((!alt && (keyDown(kKeyReturn) || keyDown(kKeyPadEnter))) || keyDown(kKeySpace))
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
                if (keyPressed(kKeyC)) copyPageText();
                if (keyPressed(kKeyV)) toggleSelfVoicing(true);
                quickSaveLoadKeys();
            }
        } else if (atTitle()) {
            if (mouseButtonPressed(1)) {
                openTitleMenu();
            } else {
                if (keyPressed(kKeyV)) toggleSelfVoicing(true);
                quickSaveLoadKeys();
            }
        }
    }
    // The press that closed a comfort (a click on a slot, a held Return) is the player's hand
    // on it: the game takes a click again only once the button has been let go of.
    if (held && inGame() && !comfortsHoldGame()) g_pointer.clickArmed = false;
}
