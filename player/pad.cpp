// The game pad as the player's hand: its buttons become the keys and buttons the game and the
// comforts already take, and its sticks the pointer's movement, so that every screen works with
// the pad alone and none of them needs to know of it.
#include <algorithm>
#include <cmath>

#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "script/script.h"

namespace {

// A trigger presses once past half way and lets go below a quarter, so that a finger resting
// near the point does not click again and again.
constexpr int kTriggerPress = 16384;
constexpr int kTriggerRelease = 8192;
// Pixels a second: the stick at full lean crosses the 800-pixel screen in about a second, the
// curve (the square of the lean past the dead zone) leaves fine moves to a small lean; the
// d-pad moves at an even pace.
constexpr double kStickFullSpeed = 800.0;
constexpr double kDpadSpeed = 300.0;
// The pointer's picture goes after this long without movement while the pad is in use.
constexpr int kHideAfterSeconds = 3;

struct PadHand {
    bool triggerDown = false;
    double restX = 0.0; // pixels not moved yet: less than a device unit
    double restY = 0.0;
    bool padLast = false; // the pad, not the mouse, was used last
    int stillFrames = 0;  // frames since the pointer last moved
};
PadHand h;

bool down(int button) {
    return (g_pad.buttons[button] & 0x80) != 0;
}

void hold(int key) {
    g_keys[static_cast<std::size_t>(key)] |= 0x80;
}

// Where the d-pad is the arrow keys: wherever the keyboard's arrows choose something.
bool arrowsChoose() {
    return (inGame() && g_script.choiceWait) || g_comforts.menuOpen || g_comforts.backlogOpen ||
           g_screens.open != SlotScreen::None || g_screens.titleMenuOpen;
}

// The stick's lean past the dead zone, 0..1 in each direction along its own line.
void stickSpeed(double* vx, double* vy) {
    const double x = g_pad.axes[kPadLeftX];
    const double y = g_pad.axes[kPadLeftY];
    const double lean = std::sqrt(x * x + y * y);
    *vx = *vy = 0.0;
    if (lean <= kPadDeadZone) return;
    const double past = std::min(1.0, (lean - kPadDeadZone) / (32767.0 - kPadDeadZone));
    const double speed = kStickFullSpeed * past * past;
    *vx = speed * x / lean;
    *vy = speed * y / lean;
}

// Adds pixels to this frame's pointer movement, in the device units the pointer reads.
bool movePointerBy(double px, double py) {
    const int speed = std::max(1, g_pointer.speed);
    h.restX += px;
    h.restY += py;
    const auto ux = static_cast<std::int32_t>(h.restX / speed);
    const auto uy = static_cast<std::int32_t>(h.restY / speed);
    h.restX -= static_cast<double>(ux) * speed;
    h.restY -= static_cast<double>(uy) * speed;
    g_mouse.lX += ux;
    g_mouse.lY += uy;
    return px != 0.0 || py != 0.0;
}

} // namespace

void padBeforeScene() {
    bool mouseUsed = g_mouse.lX != 0 || g_mouse.lY != 0;
    for (int b = 0; b < 3; ++b)
        mouseUsed = mouseUsed || mouseButtonPressed(b);
    if (mouseUsed) h.padLast = false;
    bool pointerMoved = g_mouse.lX != 0 || g_mouse.lY != 0;
    if (!g_pad.connected) {
        h = PadHand{};
        return;
    }

    const int trigger = g_pad.axes[kPadRightTrigger];
    h.triggerDown = trigger > (h.triggerDown ? kTriggerRelease : kTriggerPress);
    // Return is the comforts' "choose" and, where none is open, the game's left press.
    if (down(kPadA) || h.triggerDown) hold(kKeyReturn);
    if (down(kPadB) || down(kPadStart)) g_mouse.rgbButtons[1] |= 0x80;
    if (down(kPadY)) hold(kKeyH);
    if (down(kPadLeftShoulder)) hold(kKeyPageUp);
    if (down(kPadRightShoulder)) hold(kKeyLeftCtrl);
    if (down(kPadBack)) hold(kKeyF1);

    double vx = 0.0, vy = 0.0;
    stickSpeed(&vx, &vy);
    if (arrowsChoose()) {
        if (down(kPadUp)) hold(kKeyUp);
        if (down(kPadDown)) hold(kKeyDown);
        if (down(kPadLeft)) hold(kKeyLeft);
        if (down(kPadRight)) hold(kKeyRight);
    } else {
        vx += kDpadSpeed * ((down(kPadRight) ? 1 : 0) - (down(kPadLeft) ? 1 : 0));
        vy += kDpadSpeed * ((down(kPadDown) ? 1 : 0) - (down(kPadUp) ? 1 : 0));
    }
    const double fps = std::max(1, g_comfortsMemory.framesPerSecond);
    pointerMoved = movePointerBy(vx / fps, vy / fps) || pointerMoved;

    bool padUsed = vx != 0.0 || vy != 0.0 || h.triggerDown;
    for (int b = 0; b < kPadButtonCount; ++b)
        padUsed = padUsed || down(b);
    if (padUsed && !mouseUsed) h.padLast = true;
    if (pointerMoved)
        h.stillFrames = 0;
    else if (h.stillFrames < kHideAfterSeconds * fps)
        ++h.stillFrames;
}

bool comfortsPointerHidden() {
    return g_comfortsMemory.enabled && h.padLast &&
           h.stillFrames >= kHideAfterSeconds * std::max(1, g_comfortsMemory.framesPerSecond);
}
