// Keyboard and mouse on SDL events, as the game reads them: g_keys indexed by PC scan codes
// (set 1), g_mouse as relative movement since the previous poll.
#include "input/input_sdl.h"

#include <algorithm>
#include <limits>
#include <string>

namespace {

constexpr int kButtonCount = 4;
// Wheel movement is counted in 120 units per notch, the unit PC mice report it in.
constexpr int kWheelNotch = 120;

struct KeyPair {
    SDL_Scancode scancode;
    std::uint8_t code;
};

// SDL's scancodes follow the USB usage table; the snapshot is indexed by PC scan codes (set 1),
// the numbering the game's key codes are written in.
constexpr KeyPair kKeyPairs[] = {
    {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_1, 0x02},
    {SDL_SCANCODE_2, 0x03},
    {SDL_SCANCODE_3, 0x04},
    {SDL_SCANCODE_4, 0x05},
    {SDL_SCANCODE_5, 0x06},
    {SDL_SCANCODE_6, 0x07},
    {SDL_SCANCODE_7, 0x08},
    {SDL_SCANCODE_8, 0x09},
    {SDL_SCANCODE_9, 0x0A},
    {SDL_SCANCODE_0, 0x0B},
    {SDL_SCANCODE_MINUS, 0x0C},
    {SDL_SCANCODE_EQUALS, 0x0D},
    {SDL_SCANCODE_BACKSPACE, 0x0E},
    {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_Q, 0x10},
    {SDL_SCANCODE_W, 0x11},
    {SDL_SCANCODE_E, 0x12},
    {SDL_SCANCODE_R, 0x13},
    {SDL_SCANCODE_T, 0x14},
    {SDL_SCANCODE_Y, 0x15},
    {SDL_SCANCODE_U, 0x16},
    {SDL_SCANCODE_I, 0x17},
    {SDL_SCANCODE_O, 0x18},
    {SDL_SCANCODE_P, 0x19},
    {SDL_SCANCODE_LEFTBRACKET, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B},
    {SDL_SCANCODE_RETURN, 0x1C},
    {SDL_SCANCODE_LCTRL, 0x1D},
    {SDL_SCANCODE_A, 0x1E},
    {SDL_SCANCODE_S, 0x1F},
    {SDL_SCANCODE_D, 0x20},
    {SDL_SCANCODE_F, 0x21},
    {SDL_SCANCODE_G, 0x22},
    {SDL_SCANCODE_H, 0x23},
    {SDL_SCANCODE_J, 0x24},
    {SDL_SCANCODE_K, 0x25},
    {SDL_SCANCODE_L, 0x26},
    {SDL_SCANCODE_SEMICOLON, 0x27},
    {SDL_SCANCODE_APOSTROPHE, 0x28},
    {SDL_SCANCODE_GRAVE, 0x29},
    {SDL_SCANCODE_LSHIFT, 0x2A},
    {SDL_SCANCODE_BACKSLASH, 0x2B},
    {SDL_SCANCODE_Z, 0x2C},
    {SDL_SCANCODE_X, 0x2D},
    {SDL_SCANCODE_C, 0x2E},
    {SDL_SCANCODE_V, 0x2F},
    {SDL_SCANCODE_B, 0x30},
    {SDL_SCANCODE_N, 0x31},
    {SDL_SCANCODE_M, 0x32},
    {SDL_SCANCODE_COMMA, 0x33},
    {SDL_SCANCODE_PERIOD, 0x34},
    {SDL_SCANCODE_SLASH, 0x35},
    {SDL_SCANCODE_RSHIFT, 0x36},
    {SDL_SCANCODE_KP_MULTIPLY, 0x37},
    {SDL_SCANCODE_LALT, 0x38},
    {SDL_SCANCODE_SPACE, 0x39},
    {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F1, 0x3B},
    {SDL_SCANCODE_F2, 0x3C},
    {SDL_SCANCODE_F3, 0x3D},
    {SDL_SCANCODE_F4, 0x3E},
    {SDL_SCANCODE_F5, 0x3F},
    {SDL_SCANCODE_F6, 0x40},
    {SDL_SCANCODE_F7, 0x41},
    {SDL_SCANCODE_F8, 0x42},
    {SDL_SCANCODE_F9, 0x43},
    {SDL_SCANCODE_F10, 0x44},
    {SDL_SCANCODE_NUMLOCKCLEAR, 0x45},
    {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_KP_7, 0x47},
    {SDL_SCANCODE_KP_8, 0x48},
    {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_MINUS, 0x4A},
    {SDL_SCANCODE_KP_4, 0x4B},
    {SDL_SCANCODE_KP_5, 0x4C},
    {SDL_SCANCODE_KP_6, 0x4D},
    {SDL_SCANCODE_KP_PLUS, 0x4E},
    {SDL_SCANCODE_KP_1, 0x4F},
    {SDL_SCANCODE_KP_2, 0x50},
    {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_0, 0x52},
    {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56},
    {SDL_SCANCODE_F11, 0x57},
    {SDL_SCANCODE_F12, 0x58},
    {SDL_SCANCODE_F13, 0x64},
    {SDL_SCANCODE_F14, 0x65},
    {SDL_SCANCODE_F15, 0x66},
    {SDL_SCANCODE_INTERNATIONAL2, 0x70}, // kana
    {SDL_SCANCODE_INTERNATIONAL1, 0x73}, // ro
    {SDL_SCANCODE_INTERNATIONAL4, 0x79}, // henkan
    {SDL_SCANCODE_INTERNATIONAL5, 0x7B}, // muhenkan
    {SDL_SCANCODE_INTERNATIONAL3, 0x7D}, // yen
    {SDL_SCANCODE_KP_EQUALS, 0x8D},
    {SDL_SCANCODE_KP_ENTER, 0x9C},
    {SDL_SCANCODE_RCTRL, 0x9D},
    {SDL_SCANCODE_KP_COMMA, 0xB3},
    {SDL_SCANCODE_KP_DIVIDE, 0xB5},
    {SDL_SCANCODE_PRINTSCREEN, 0xB7},
    {SDL_SCANCODE_RALT, 0xB8},
    {SDL_SCANCODE_PAUSE, 0xC5},
    {SDL_SCANCODE_HOME, 0xC7},
    {SDL_SCANCODE_UP, 0xC8},
    {SDL_SCANCODE_PAGEUP, 0xC9},
    {SDL_SCANCODE_LEFT, 0xCB},
    {SDL_SCANCODE_RIGHT, 0xCD},
    {SDL_SCANCODE_END, 0xCF},
    {SDL_SCANCODE_DOWN, 0xD0},
    {SDL_SCANCODE_PAGEDOWN, 0xD1},
    {SDL_SCANCODE_INSERT, 0xD2},
    {SDL_SCANCODE_DELETE, 0xD3},
    {SDL_SCANCODE_LGUI, 0xDB},
    {SDL_SCANCODE_RGUI, 0xDC},
    {SDL_SCANCODE_APPLICATION, 0xDD},
    {SDL_SCANCODE_POWER, 0xDE},
    {SDL_SCANCODE_SLEEP, 0xDF},
};

constexpr std::array<std::uint8_t, SDL_NUM_SCANCODES> makeKeyTable() {
    std::array<std::uint8_t, SDL_NUM_SCANCODES> table{};
    for (const KeyPair& pair : kKeyPairs)
        table[pair.scancode] = pair.code;
    return table;
}

// 0 where the snapshot has no code (code 0 is no key in the PC numbering).
constexpr std::array<std::uint8_t, SDL_NUM_SCANCODES> kKeyTable = makeKeyTable();

// One source of input: the devices (from SDL events) or the replay.
struct InputSource {
    std::array<bool, 256> keys{};
    std::array<bool, kButtonCount> buttons{};
    // Pressed since the last poll, even if released again before it: a tap whose press and
    // release both fall between two frames still shows in one snapshot.
    std::array<bool, 256> keysPressed{};
    std::array<bool, kButtonCount> buttonsPressed{};
    std::int64_t moveX = 0;
    std::int64_t moveY = 0;
    std::int64_t wheel = 0;
};

struct DeviceState {
    InputSource device;
    InputSource injected;
    bool devicesEnabled = true;
    // True until the window says otherwise: without a window (tests, the first frames before
    // the window manager answers) the devices read as in the foreground.
    bool focused = true;
    bool mouseCreated = false;
    bool relativeMode = false;
    // Screen pixels a game pixel takes; the devices' movement is divided by it, the remainders
    // kept, so that the pointer keeps its speed on the screen at any size of the picture.
    double pointerScale = 1.0;
    double restX = 0.0;
    double restY = 0.0;
};

DeviceState s;
// The snapshots as the frame before left them, for fresh presses.
std::array<std::uint8_t, 256> g_keysBefore{};
std::array<std::uint8_t, kButtonCount> g_buttonsBefore{};

// Sums stay within the snapshot's 32-bit fields however much is added between polls.
void accumulate(std::int64_t& sum, std::int64_t delta) {
    sum = std::clamp<std::int64_t>(sum + delta, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max());
}

std::int32_t take(std::int64_t& sum) {
    const auto value = static_cast<std::int32_t>(sum);
    sum = 0;
    return value;
}

// The mouse is read only while the window is in the foreground, so that a player working in
// another window does not move the game's pointer. Relative mode keeps the motion coming when
// the hidden system cursor would reach the edge of the window or screen, as a relative axis
// must; it is let go whenever the window loses the foreground.
void updateRelativeMode() {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        s.relativeMode = false;
        return;
    }
    const bool want =
        s.mouseCreated && s.devicesEnabled && s.focused && SDL_GetKeyboardFocus() != nullptr;
    if (want == s.relativeMode) return;
    const bool ok = SDL_SetRelativeMouseMode(want ? SDL_TRUE : SDL_FALSE) == 0;
    s.relativeMode = want && ok;
}

// Polls read the devices only while the window is in the foreground; with the devices off
// the replay alone drives the snapshots and the foreground does not matter.
bool readable() {
    return !s.devicesEnabled || s.focused;
}

int buttonIndex(std::uint8_t sdlButton) {
    switch (sdlButton) {
    case SDL_BUTTON_LEFT:
        return 0;
    case SDL_BUTTON_RIGHT:
        return 1;
    case SDL_BUTTON_MIDDLE:
        return 2;
    case SDL_BUTTON_X1:
        return 3;
    default:
        return -1;
    }
}

void handleWindowEvent(const SDL_WindowEvent& event) {
    if (event.event == SDL_WINDOWEVENT_FOCUS_GAINED) {
        s.focused = true;
    } else if (event.event == SDL_WINDOWEVENT_FOCUS_LOST) {
        s.focused = false;
        // Releases that happen elsewhere never reach this window; nothing may stay held.
        s.device = InputSource{};
        padFocusLost();
    } else {
        return;
    }
    updateRelativeMode();
}

} // namespace

int keyCodeFromScancode(SDL_Scancode scancode) {
    const int index = static_cast<int>(scancode);
    if (index < 0 || index >= SDL_NUM_SCANCODES) return -1;
    const int code = kKeyTable[static_cast<std::size_t>(index)];
    return code == 0 ? -1 : code;
}

int keyCodeFromName(std::string_view sdlKeyName) {
    if (sdlKeyName.empty() || sdlKeyName.find('\0') != std::string_view::npos) return -1;
    const std::string name(sdlKeyName);
    return keyCodeFromScancode(SDL_GetScancodeFromName(name.c_str()));
}

void inputHandleEvent(const SDL_Event& event) {
    if (event.type == SDL_WINDOWEVENT) {
        handleWindowEvent(event.window);
        return;
    }
    if (padHandleEvent(event, s.devicesEnabled, s.focused)) return;
    if (!s.devicesEnabled) return;
    // Presses and movement count only in the foreground; releases always do, so that nothing
    // stays held.
    switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        const int code = keyCodeFromScancode(event.key.keysym.scancode);
        const bool down = event.type == SDL_KEYDOWN;
        if (code >= 0 && (!down || s.focused)) {
            s.device.keys[code] = down;
            if (down) s.device.keysPressed[code] = true;
        }
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        const int index = buttonIndex(event.button.button);
        const bool down = event.type == SDL_MOUSEBUTTONDOWN;
        if (index >= 0 && (!down || s.focused)) {
            s.device.buttons[index] = down;
            if (down) s.device.buttonsPressed[index] = true;
        }
        break;
    }
    case SDL_MOUSEMOTION:
        if (!s.focused) break;
        accumulate(s.device.moveX, event.motion.xrel);
        accumulate(s.device.moveY, event.motion.yrel);
        break;
    case SDL_MOUSEWHEEL: {
        if (!s.focused) break;
        std::int64_t notches = event.wheel.y;
        if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
        accumulate(s.device.wheel, notches * kWheelNotch);
        break;
    }
    default:
        break;
    }
}

bool createKeyboard() {
    return true;
}

bool createMouse() {
    s.mouseCreated = true;
    updateRelativeMode();
    return true;
}

void pollKeyboard() {
    g_keysBefore = g_keys;
    if (!readable()) return;
    for (std::size_t i = 0; i < g_keys.size(); ++i) {
        const bool down = s.injected.keys[i] || s.injected.keysPressed[i] ||
                          (s.devicesEnabled && (s.device.keys[i] || s.device.keysPressed[i]));
        g_keys[i] = down ? 0x80 : 0x00;
    }
    s.injected.keysPressed.fill(false);
    s.device.keysPressed.fill(false);
}

void pollMouse() {
    std::copy(std::begin(g_mouse.rgbButtons), std::end(g_mouse.rgbButtons),
              g_buttonsBefore.begin());
    if (!readable()) {
        // In the background the buttons keep their last state; movement does not repeat, or
        // the pointer would drift on by the last movement every frame.
        g_mouse.lX = 0;
        g_mouse.lY = 0;
        g_mouse.lZ = 0;
        return;
    }
    if (s.devicesEnabled) {
        if (s.pointerScale != 1.0) {
            s.restX += static_cast<double>(s.device.moveX) / s.pointerScale;
            s.restY += static_cast<double>(s.device.moveY) / s.pointerScale;
            s.device.moveX = static_cast<std::int64_t>(s.restX);
            s.device.moveY = static_cast<std::int64_t>(s.restY);
            s.restX -= static_cast<double>(s.device.moveX);
            s.restY -= static_cast<double>(s.device.moveY);
        }
        accumulate(s.injected.moveX, s.device.moveX);
        accumulate(s.injected.moveY, s.device.moveY);
        accumulate(s.injected.wheel, s.device.wheel);
    }
    s.device.moveX = s.device.moveY = s.device.wheel = 0;
    g_mouse.lX = take(s.injected.moveX);
    g_mouse.lY = take(s.injected.moveY);
    g_mouse.lZ = take(s.injected.wheel);
    for (int i = 0; i < kButtonCount; ++i) {
        const bool down = s.injected.buttons[i] || s.injected.buttonsPressed[i] ||
                          (s.devicesEnabled && (s.device.buttons[i] || s.device.buttonsPressed[i]));
        g_mouse.rgbButtons[i] = down ? 0x80 : 0x00;
    }
    s.injected.buttonsPressed.fill(false);
    s.device.buttonsPressed.fill(false);
}

bool keyPressed(int keyCode) {
    if (keyCode < 0 || keyCode >= static_cast<int>(g_keys.size())) return false;
    const auto k = static_cast<std::size_t>(keyCode);
    return (g_keys[k] & 0x80) != 0 && (g_keysBefore[k] & 0x80) == 0;
}

bool mouseButtonPressed(int button) {
    if (button < 0 || button >= kButtonCount) return false;
    const auto b = static_cast<std::size_t>(button);
    return (g_mouse.rgbButtons[b] & 0x80) != 0 && (g_buttonsBefore[b] & 0x80) == 0;
}

void releaseInput() {
    releasePads();
    s.mouseCreated = false;
    updateRelativeMode();
    s.device = InputSource{};
    s.injected = InputSource{};
    s.focused = true;
    g_keys.fill(0);
    g_mouse = MouseState{};
    g_keysBefore.fill(0);
    g_buttonsBefore.fill(0);
}

void injectMouseMove(int dx, int dy) {
    accumulate(s.injected.moveX, dx);
    accumulate(s.injected.moveY, dy);
}

void injectMouseButton(int button, bool down) {
    if (button < 0 || button >= kButtonCount) return;
    s.injected.buttons[button] = down;
}

void injectMouseTap(int button) {
    if (button < 0 || button >= kButtonCount) return;
    s.injected.buttonsPressed[button] = true;
}

void injectMouseWheel(int notches) {
    accumulate(s.injected.wheel, std::int64_t{notches} * kWheelNotch);
}

void injectKey(int keyCode, bool down) {
    if (keyCode < 0 || keyCode >= static_cast<int>(s.injected.keys.size())) return;
    s.injected.keys[keyCode] = down;
}

void setPointerScale(double screenPixelsPerGamePixel) {
    s.pointerScale = screenPixelsPerGamePixel >= 0.1 && screenPixelsPerGamePixel <= 100.0
                         ? screenPixelsPerGamePixel
                         : 1.0;
    s.restX = s.restY = 0.0;
}

void setInputDevicesEnabled(bool enabled) {
    s.devicesEnabled = enabled;
    if (!enabled) s.device = InputSource{};
    updateRelativeMode();
}
