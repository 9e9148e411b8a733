#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "input/input_sdl.h"

namespace {

class Devices : public ::testing::Test {
protected:
    void SetUp() override {
        releaseInput();
        setInputDevicesEnabled(true);
        createKeyboard();
        createMouse();
    }
    void TearDown() override {
        releaseInput();
        setInputDevicesEnabled(true);
    }
};

void poll() {
    pollKeyboard();
    pollMouse();
}

void sendKey(SDL_Scancode scancode, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.keysym.scancode = scancode;
    inputHandleEvent(e);
}

void sendButton(std::uint8_t button, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.button = button;
    inputHandleEvent(e);
}

void sendMotion(int dx, int dy) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.xrel = dx;
    e.motion.yrel = dy;
    inputHandleEvent(e);
}

void sendFocus(bool gained) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
    inputHandleEvent(e);
}

} // namespace

TEST(KeyTable, NamesGivePcScanCodes) {
    struct Case {
        const char* name;
        int code;
    };
    const Case cases[] = {
        {"Escape", 0x01},
        {"escape", 0x01},
        {"1", 0x02},
        {"9", 0x0A},
        {"0", 0x0B},
        {"Backspace", 0x0E},
        {"Tab", 0x0F},
        {"Q", 0x10},
        {"P", 0x19},
        {"Return", 0x1C},
        {"Left Ctrl", 0x1D},
        {"A", 0x1E},
        {"a", 0x1E},
        {"L", 0x26},
        {"Left Shift", 0x2A},
        {"Z", 0x2C},
        {"M", 0x32},
        {"Right Shift", 0x36},
        {"Left Alt", 0x38},
        {"Space", 0x39},
        {"F1", 0x3B},
        {"F10", 0x44},
        {"F11", 0x57},
        {"F12", 0x58},
        {"Keypad Enter", 0x9C},
        {"Right Ctrl", 0x9D},
        {"Right Alt", 0xB8},
        {"Up", 0xC8},
        {"Left", 0xCB},
        {"Right", 0xCD},
        {"Down", 0xD0},
        {"Delete", 0xD3},
        // Unknown to SDL, or known but without a code in the snapshot.
        {"", -1},
        {"Jump", -1},
        {"F1 ", -1},
        {"AC Bookmarks", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(keyCodeFromName(c.name), c.code) << '"' << c.name << '"';
    EXPECT_EQ(keyCodeFromName(std::string_view("F1\0x", 4)), -1);
    EXPECT_EQ(keyCodeFromScancode(SDL_NUM_SCANCODES), -1);
    EXPECT_EQ(keyCodeFromScancode(static_cast<SDL_Scancode>(-1)), -1);
}

TEST(KeyTable, NoTwoKeysShareACode) {
    std::set<int> seen;
    int mapped = 0;
    for (int sc = 0; sc < SDL_NUM_SCANCODES; ++sc) {
        const int code = keyCodeFromScancode(static_cast<SDL_Scancode>(sc));
        if (code < 0) continue;
        ++mapped;
        EXPECT_TRUE(code > 0 && code < 256) << SDL_GetScancodeName(static_cast<SDL_Scancode>(sc));
        EXPECT_TRUE(seen.insert(code).second)
            << SDL_GetScancodeName(static_cast<SDL_Scancode>(sc)) << " repeats code " << code;
    }
    EXPECT_GE(mapped, 100);
}

TEST_F(Devices, KeysFollowTheirEventsFromThePollOn) {
    sendKey(SDL_SCANCODE_F1, true);
    EXPECT_EQ(g_keys[kKeyF1], 0) << "the snapshot changes only when polled";
    poll();
    EXPECT_EQ(g_keys[kKeyF1], 0x80);
    poll();
    EXPECT_EQ(g_keys[kKeyF1], 0x80) << "a held key stays down";
    sendKey(SDL_SCANCODE_F1, false);
    sendKey(SDL_SCANCODE_AC_BOOKMARKS, true); // no code: ignored
    poll();
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(g_keys[i], 0) << i;
}

TEST_F(Devices, MovementShowsOnceAndButtonsPersist) {
    sendMotion(3, 4);
    sendMotion(-1, 2);
    injectMouseMove(5, -3);
    sendButton(SDL_BUTTON_RIGHT, true);
    sendButton(SDL_BUTTON_X1, true);
    injectMouseButton(2, true);
    poll();
    EXPECT_EQ(g_mouse.lX, 7);
    EXPECT_EQ(g_mouse.lY, 3);
    EXPECT_EQ(g_mouse.rgbButtons[0], 0);
    EXPECT_EQ(g_mouse.rgbButtons[1], 0x80);
    EXPECT_EQ(g_mouse.rgbButtons[2], 0x80);
    EXPECT_EQ(g_mouse.rgbButtons[3], 0x80);

    poll(); // at rest: no movement, the buttons are still down
    EXPECT_EQ(g_mouse.lX, 0);
    EXPECT_EQ(g_mouse.lY, 0);
    EXPECT_EQ(g_mouse.rgbButtons[1], 0x80);
    EXPECT_EQ(g_mouse.rgbButtons[2], 0x80);

    injectMouseButton(2, false);
    sendButton(SDL_BUTTON_RIGHT, false);
    injectMouseButton(4, true); // no such button: ignored
    injectMouseButton(-1, true);
    poll();
    EXPECT_EQ(g_mouse.rgbButtons[1], 0);
    EXPECT_EQ(g_mouse.rgbButtons[2], 0);
}

TEST_F(Devices, InjectedAndDeviceButtonsCombine) {
    // Down while either says so: the device's release does not lift a replayed press.
    injectMouseButton(0, true);
    sendButton(SDL_BUTTON_LEFT, true);
    sendButton(SDL_BUTTON_LEFT, false);
    poll();
    EXPECT_EQ(g_mouse.rgbButtons[0], 0x80);
    injectMouseButton(0, false);
    poll();
    EXPECT_EQ(g_mouse.rgbButtons[0], 0);

    injectKey(kKeyEscape, true);
    injectKey(256, true); // out of range: ignored
    injectKey(-1, true);
    sendKey(SDL_SCANCODE_ESCAPE, false);
    poll();
    EXPECT_EQ(g_keys[kKeyEscape], 0x80);
}

TEST_F(Devices, WithTheDevicesOffOnlyInjectedInputCounts) {
    setInputDevicesEnabled(false);
    sendMotion(50, 50);
    sendButton(SDL_BUTTON_LEFT, true);
    sendKey(SDL_SCANCODE_F1, true);
    injectMouseMove(1, 2);
    injectKey(kKeySpace, true);
    poll();
    EXPECT_EQ(g_mouse.lX, 1);
    EXPECT_EQ(g_mouse.lY, 2);
    EXPECT_EQ(g_mouse.rgbButtons[0], 0);
    EXPECT_EQ(g_keys[kKeyF1], 0);
    EXPECT_EQ(g_keys[kKeySpace], 0x80);

    // Without a window there is no foreground to lose.
    sendFocus(false);
    injectMouseMove(4, 0);
    poll();
    EXPECT_EQ(g_mouse.lX, 4);
}

TEST_F(Devices, InTheBackgroundThePollsKeepTheLastState) {
    sendKey(SDL_SCANCODE_RETURN, true);
    sendButton(SDL_BUTTON_LEFT, true);
    sendMotion(9, 9);
    poll();
    ASSERT_EQ(g_mouse.lX, 9);

    sendFocus(false);
    sendMotion(20, 20);                // the pointer over a window in the background
    sendButton(SDL_BUTTON_LEFT, true); // nor its presses
    injectMouseMove(1, 1);             // replayed movement waits for the foreground
    injectKey(kKeySpace, true);
    poll();
    poll();
    EXPECT_EQ(g_keys[kKeyReturn], 0x80);
    EXPECT_EQ(g_keys[kKeySpace], 0);
    EXPECT_EQ(g_mouse.rgbButtons[0], 0x80);
    // Movement does not repeat: the last poll's would push the pointer on every frame.
    EXPECT_EQ(g_mouse.lX, 0);
    EXPECT_EQ(g_mouse.lY, 0);

    sendFocus(true);
    poll();
    // What was held when the window lost the foreground was released elsewhere.
    EXPECT_EQ(g_keys[kKeyReturn], 0);
    EXPECT_EQ(g_mouse.rgbButtons[0], 0);
    EXPECT_EQ(g_keys[kKeySpace], 0x80);
    EXPECT_EQ(g_mouse.lX, 1);
    EXPECT_EQ(g_mouse.lY, 1);
}

TEST_F(Devices, WheelAndHugeMovementsStayInRange) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.y = 2;
    inputHandleEvent(e);
    e.wheel.y = 1;
    e.wheel.direction = SDL_MOUSEWHEEL_FLIPPED;
    inputHandleEvent(e);
    injectMouseMove(INT_MAX, INT_MIN);
    injectMouseMove(INT_MAX, INT_MIN);
    sendMotion(INT_MAX, INT_MIN);
    poll();
    EXPECT_EQ(g_mouse.lZ, 120);
    EXPECT_EQ(g_mouse.lX, INT_MAX);
    EXPECT_EQ(g_mouse.lY, INT_MIN);
    injectMouseMove(INT_MAX, 0);
    injectMouseMove(-5, 0);
    poll();
    EXPECT_EQ(g_mouse.lX, INT_MAX - 5);
}

TEST_F(Devices, ReleaseClearsEverything) {
    injectKey(kKeyF1, true);
    injectMouseButton(0, true);
    injectMouseMove(3, 3);
    sendKey(SDL_SCANCODE_A, true);
    sendFocus(false);
    poll();
    releaseInput();
    EXPECT_EQ(g_keys[kKeyF1], 0);
    EXPECT_EQ(g_mouse.rgbButtons[0], 0);
    createKeyboard();
    createMouse();
    poll(); // and the foreground is back: a new window starts in it
    EXPECT_EQ(g_keys[kKeyF1], 0);
    EXPECT_EQ(g_keys[0x1E], 0);
    EXPECT_EQ(g_mouse.lX, 0);
    EXPECT_EQ(g_mouse.rgbButtons[0], 0);
}

TEST_F(Devices, PushedEventsReachTheSnapshotsThroughTheQueue) {
    ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError();
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = SDL_BUTTON_LEFT;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    e = SDL_Event{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.scancode = SDL_SCANCODE_F12;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    while (SDL_PollEvent(&e))
        inputHandleEvent(e);
    poll();
    EXPECT_EQ(g_mouse.rgbButtons[0], 0x80);
    EXPECT_EQ(g_keys[0x58], 0x80);
    SDL_QuitSubSystem(SDL_INIT_EVENTS);
}
