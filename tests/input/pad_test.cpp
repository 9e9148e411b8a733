// Game pads through SDL's own controller events, on virtual pads: the snapshot, the pad that
// drives it, unplugging, and the replay file's pad lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/replay.h"
#include "input/input_sdl.h"

namespace {

class Pads : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_EVENTS), 0) << SDL_GetError();
        startPads();
        ASSERT_NE(SDL_WasInit(SDL_INIT_GAMECONTROLLER), 0u);
        releaseInput();
        // As a headless replay runs: only the replay's pad counts.
        setInputDevicesEnabled(false);
    }
    void TearDown() override {
        releaseInput();
        setInputDevicesEnabled(true);
        SDL_Quit();
    }
};

// The events SDL has queued for the pads, handed to the input layer as the window layer does.
void pumpPads() {
    SDL_JoystickUpdate();
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_CONTROLLERAXISMOTION, SDL_FINGERDOWN - 1) > 0)
        inputHandleEvent(e);
}

bool held(int button) {
    return (g_pad.buttons[button] & 0x80) != 0;
}

int deviceIndexOf(SDL_JoystickID id) {
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
        if (SDL_JoystickGetDeviceInstanceID(i) == id) return i;
    return -1;
}

// A second virtual pad, as a player's own second pad would be: opened through its events.
SDL_Joystick* plugSecondPad() {
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    EXPECT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    pumpPads();
    return joystick;
}

} // namespace

TEST_F(Pads, ReplayedPressesReachTheSnapshotOfTheirFrame) {
    pollPad();
    EXPECT_FALSE(g_pad.connected);
    injectPadButton(kPadA, true);
    deliverInjectedPad();
    pollPad();
    EXPECT_TRUE(g_pad.connected);
    EXPECT_TRUE(held(kPadA));
    EXPECT_TRUE(padButtonPressed(kPadA));
    pollPad();
    EXPECT_TRUE(held(kPadA));
    EXPECT_FALSE(padButtonPressed(kPadA)) << "a held button is pressed once";
    injectPadButton(kPadA, false);
    deliverInjectedPad();
    pollPad();
    EXPECT_FALSE(held(kPadA));

    // A press and release between two polls shows once.
    injectPadButton(kPadB, true);
    deliverInjectedPad();
    injectPadButton(kPadB, false);
    deliverInjectedPad();
    pollPad();
    EXPECT_TRUE(padButtonPressed(kPadB));
    pollPad();
    EXPECT_FALSE(held(kPadB));

    // Sticks as SDL reads them; triggers 0..32767, a negative value resting.
    const int values[][2] = {{kPadLeftX, -32768},
                             {kPadLeftY, 32767},
                             {kPadRightTrigger, 32767},
                             {kPadLeftTrigger, 12345},
                             {kPadRightX, 0}};
    for (const auto& [axis, value] : values)
        injectPadAxis(axis, value);
    injectPadAxis(kPadLeftTrigger + 100, 5); // no such axis
    deliverInjectedPad();
    pollPad();
    for (const auto& [axis, value] : values)
        EXPECT_EQ(g_pad.axes[axis], value) << "axis " << axis;
    injectPadAxis(kPadRightTrigger, -5);
    deliverInjectedPad();
    pollPad();
    EXPECT_EQ(g_pad.axes[kPadRightTrigger], 0);
}

TEST_F(Pads, UnpluggedMidPressNothingStaysHeld) {
    injectPadButton(kPadRightShoulder, true);
    injectPadAxis(kPadLeftX, 30000);
    deliverInjectedPad();
    pollPad();
    ASSERT_TRUE(held(kPadRightShoulder));
    // The replay's pad pulled out from under the game.
    SDL_JoystickID id = -1;
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
        if (SDL_JoystickIsVirtual(i)) id = SDL_JoystickGetDeviceInstanceID(i);
    ASSERT_GE(id, 0);
    ASSERT_EQ(SDL_JoystickDetachVirtual(deviceIndexOf(id)), 0) << SDL_GetError();
    pumpPads();
    pollPad();
    EXPECT_FALSE(g_pad.connected);
    EXPECT_FALSE(held(kPadRightShoulder));
    EXPECT_EQ(g_pad.axes[kPadLeftX], 0);
    // The next replayed event plugs in a new pad.
    injectPadButton(kPadY, true);
    deliverInjectedPad();
    pollPad();
    EXPECT_TRUE(held(kPadY));
    EXPECT_FALSE(held(kPadRightShoulder));
}

TEST_F(Pads, ThePadUsedLastDrivesAndStrayEventsAreIgnored) {
    setInputDevicesEnabled(true);
    injectPadButton(kPadA, true);
    deliverInjectedPad();
    SDL_Joystick* second = plugSecondPad();
    ASSERT_NE(second, nullptr);
    pollPad();
    EXPECT_TRUE(held(kPadA));
    // The second pad's stick resting near the middle does not take over; a press does.
    SDL_JoystickSetVirtualAxis(second, kPadLeftX, 5000);
    pumpPads();
    pollPad();
    EXPECT_TRUE(held(kPadA));
    SDL_JoystickSetVirtualButton(second, kPadX, 1);
    pumpPads();
    pollPad();
    EXPECT_TRUE(held(kPadX));
    EXPECT_FALSE(held(kPadA));
    EXPECT_EQ(g_pad.axes[kPadLeftX], 5000);
    // The first pad's stick leaning past the dead zone gives it back.
    injectPadAxis(kPadLeftY, -20000);
    deliverInjectedPad();
    pollPad();
    EXPECT_TRUE(held(kPadA));
    EXPECT_EQ(g_pad.axes[kPadLeftY], -20000);

    // Events no open pad sent, or with buttons and axes no pad has, change nothing.
    SDL_Event stray{};
    stray.type = SDL_CONTROLLERBUTTONDOWN;
    stray.cbutton.which = 9999;
    stray.cbutton.button = kPadB;
    inputHandleEvent(stray);
    stray.cbutton.which = SDL_JoystickInstanceID(second);
    stray.cbutton.button = 200;
    inputHandleEvent(stray);
    stray.type = SDL_CONTROLLERAXISMOTION;
    stray.caxis.axis = 77;
    stray.caxis.value = 32767;
    inputHandleEvent(stray);
    stray.type = SDL_CONTROLLERDEVICEADDED;
    stray.cdevice.which = 12345;
    inputHandleEvent(stray);
    pollPad();
    EXPECT_TRUE(held(kPadA));
    EXPECT_FALSE(held(kPadB));

    // The window losing the foreground lets go of a real pad's buttons.
    SDL_Event focus{};
    focus.type = SDL_WINDOWEVENT;
    focus.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    inputHandleEvent(focus);
    SDL_JoystickSetVirtualAxis(second, kPadLeftX, 30000);
    pumpPads();
    pollPad();
    EXPECT_TRUE(held(kPadA)) << "the replay's pad plays on";
    focus.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    inputHandleEvent(focus);
    SDL_JoystickClose(second);
}

TEST(PadReplay, LinesNameSdlsButtonsAndAxes) {
    std::vector<ReplayEvent> events;
    std::string error;
    ASSERT_TRUE(parseReplayText("3 pad a down\n4 pad dpup up\n5 axis leftx -32768\n"
                                "6 axis righttrigger 32767\n7 pad leftshoulder down\n",
                                "in.txt", &events, &error))
        << error;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].kind, ReplayKind::PadDown);
    EXPECT_EQ(events[0].keyCode, kPadA);
    EXPECT_EQ(events[1].kind, ReplayKind::PadUp);
    EXPECT_EQ(events[1].keyCode, kPadUp);
    EXPECT_EQ(events[2].kind, ReplayKind::PadAxis);
    EXPECT_EQ(events[2].keyCode, kPadLeftX);
    EXPECT_EQ(events[2].dx, -32768);
    EXPECT_EQ(events[3].keyCode, kPadRightTrigger);
    EXPECT_EQ(events[4].keyCode, kPadLeftShoulder);

    struct Case {
        const char* line;
        const char* message;
    };
    const Case cases[] = {
        {"5 pad q down", "in.txt:2: unknown pad button 'q'"},
        {"5 pad leftx down", "in.txt:2: unknown pad button 'leftx'"},
        {"5 pad a press", "in.txt:2: pad button 'a' takes down or up, not 'press'"},
        {"5 pad a", "in.txt:2: 'pad' takes 2 arguments (BUTTON down|up), got 1"},
        {"5 axis dpup 5", "in.txt:2: unknown pad axis 'dpup'"},
        {"5 axis +leftx 5", "in.txt:2: unknown pad axis '+leftx'"},
        {"5 axis leftx 32768", "in.txt:2: VALUE 32768 is out of range (-32768 to 32767)"},
        {"5 axis leftx -32769", "in.txt:2: VALUE -32769 is out of range (-32768 to 32767)"},
        {"5 axis leftx 99999999999999", "in.txt:2: VALUE 99999999999999 is out of range"},
        {"5 axis leftx half", "in.txt:2: VALUE 'half' is not a whole number"},
        {"5 axis leftx", "in.txt:2: 'axis' takes 2 arguments (AXIS VALUE), got 1"},
    };
    for (const Case& c : cases) {
        events.clear();
        EXPECT_FALSE(
            parseReplayText(std::string("1 click\n") + c.line + "\n", "in.txt", &events, &error))
            << c.line;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << c.line << ": " << error;
    }
}
