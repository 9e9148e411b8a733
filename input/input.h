// Keyboard and mouse snapshots, taken once per frame, and the game's own mouse pointer.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "render/quad.h"

// Key codes of the keyboard snapshot: PC scan codes (set 1). The game reads Escape and F1; the
// others are the player's comforts and the author's keys.
inline constexpr int kKeyEscape = 0x01;
inline constexpr int kKeyDigit1 = 0x02; // 1..9 follow in order
inline constexpr int kKeyBackspace = 0x0E;
inline constexpr int kKeyTab = 0x0F;
inline constexpr int kKeyReturn = 0x1C;
inline constexpr int kKeyLeftCtrl = 0x1D;
inline constexpr int kKeyA = 0x1E;
inline constexpr int kKeyS = 0x1F;
inline constexpr int kKeyH = 0x23;
inline constexpr int kKeyC = 0x2E;
inline constexpr int kKeyV = 0x2F;
inline constexpr int kKeyLeftAlt = 0x38;
inline constexpr int kKeySpace = 0x39;
inline constexpr int kKeyF1 = 0x3B;
inline constexpr int kKeyF3 = 0x3D;
inline constexpr int kKeyF5 = 0x3F;
inline constexpr int kKeyF6 = 0x40;
inline constexpr int kKeyF9 = 0x43;
inline constexpr int kKeyF12 = 0x58;
inline constexpr int kKeyPadEnter = 0x9C;
inline constexpr int kKeyRightCtrl = 0x9D;
inline constexpr int kKeyRightAlt = 0xB8;
inline constexpr int kKeyUp = 0xC8;
inline constexpr int kKeyPageUp = 0xC9;
inline constexpr int kKeyLeft = 0xCB;
inline constexpr int kKeyRight = 0xCD;
inline constexpr int kKeyDown = 0xD0;
inline constexpr int kKeyPageDown = 0xD1;

// Mouse snapshot: movement since the previous poll in device units, and the buttons
// (0 left, 1 right, 2 middle; high bit set while down).
struct MouseState {
    std::int32_t lX;
    std::int32_t lY;
    std::int32_t lZ;
    std::uint8_t rgbButtons[4];
};
static_assert(sizeof(MouseState) == 16);

// Keyboard snapshot, one byte per key code, high bit while down. Written by pollKeyboard only;
// zero at start, kept as it was while the window is not in the foreground.
extern std::array<std::uint8_t, 256> g_keys;
// Mouse snapshot. Written by pollMouse only; zero at start.
extern MouseState g_mouse;

// Devices (the platform layer). create* return true when the device is ready; the polls fill
// the snapshots; releaseInput lets go of everything.
bool createKeyboard();
bool createMouse();
void pollKeyboard();
void pollMouse();
// Down in this frame's snapshot and up in the one before: a fresh press.
bool keyPressed(int keyCode);
bool mouseButtonPressed(int button);
void releaseInput();

// Replayed input, in the engine's own terms. Injected movement adds to the next poll's movement
// only; injected buttons and keys stay as set until set again. A key or button pressed and
// released between two polls (a tap) shows as down in the next snapshot, once. Buttons: 0 left, 1
// right, 2 middle, 3 the first extra button; key codes as in g_keys. Out-of-range values are
// ignored.
void injectMouseMove(int dx, int dy);
void injectMouseButton(int button, bool down);
void injectKey(int keyCode, bool down);
// A press and release of the button, both before the next poll: down in that poll's snapshot.
void injectMouseTap(int button);
// Wheel notches, positive turned away from the player; 120 units a notch in the snapshot.
void injectMouseWheel(int notches);
// With the devices on (the default) injected input is added to theirs: a key or button is down
// when either says so. Off (no window, replay only), only injected input reaches the snapshots.
void setInputDevicesEnabled(bool enabled);
// How many screen pixels a game pixel takes on screen; the devices' movement (not the injected
// movement) is divided by it, so the pointer keeps its on-screen speed when the picture is scaled.
void setPointerScale(double screenPixelsPerGamePixel);
// The key code for an SDL key name ("F1", "Escape", "Return", "A"; any letter case), or -1
// when the name is unknown or the key has no code in the snapshot.
int keyCodeFromName(std::string_view sdlKeyName);

// Game pad buttons and axes, numbered as SDL's game controller numbers them (its mapping
// database gives every known pad this layout: A is the south button, B the east one).
inline constexpr int kPadA = 0;
inline constexpr int kPadB = 1;
inline constexpr int kPadX = 2;
inline constexpr int kPadY = 3;
inline constexpr int kPadBack = 4;
inline constexpr int kPadGuide = 5;
inline constexpr int kPadStart = 6;
inline constexpr int kPadLeftStick = 7;
inline constexpr int kPadRightStick = 8;
inline constexpr int kPadLeftShoulder = 9;
inline constexpr int kPadRightShoulder = 10;
inline constexpr int kPadUp = 11;
inline constexpr int kPadDown = 12;
inline constexpr int kPadLeft = 13;
inline constexpr int kPadRight = 14;
inline constexpr int kPadButtonCount = 21; // the rest: misc, four paddles, the touchpad
inline constexpr int kPadLeftX = 0;
inline constexpr int kPadLeftY = 1;
inline constexpr int kPadRightX = 2;
inline constexpr int kPadRightY = 3;
inline constexpr int kPadLeftTrigger = 4;
inline constexpr int kPadRightTrigger = 5;
inline constexpr int kPadAxisCount = 6;
// How far a stick must lean (of 32767) before it counts as moved: a worn stick rests off
// centre by less.
inline constexpr int kPadDeadZone = 8000;

// Game pad snapshot: the pad that was used last (pressed a button, or moved a stick or trigger
// past the dead zone) among those plugged in. Written by pollPad only; zero without a pad.
struct PadState {
    bool connected;                        // a pad is plugged in and open
    std::uint8_t buttons[kPadButtonCount]; // high bit while down
    std::int16_t axes[kPadAxisCount];      // sticks -32768..32767 (right and down positive),
                                           // triggers 0..32767
};
extern PadState g_pad;

// The pads' snapshot, once a frame after the events; a button pressed and released between two
// polls shows as down once, as keys do. A pad unplugged lets go of everything it held.
void pollPad();
bool padButtonPressed(int button);
// Replayed pad input goes through a virtual pad that SDL treats as any other controller; it is
// plugged in at the first of these. Out-of-range buttons and axes are ignored, values clamped.
void injectPadButton(int button, bool down);
void injectPadAxis(int axis, int value);
// After a frame's injected pad input: its events reach the snapshot of that same frame.
void deliverInjectedPad();
// SDL's names ("a", "dpup", "leftshoulder"; "leftx", "righttrigger"), or -1 when unknown.
int padButtonFromName(std::string_view sdlName);
int padAxisFromName(std::string_view sdlName);

// The game's pointer. Set up by the title initialiser; moved by updatePointer in the game.
struct PointerState {
    Rect bounds;    // the rectangle the pointer stays in: (10, 10, 790, 590)
    std::int32_t x; // top-left corner in pixels
    std::int32_t y;
    std::uint8_t pressed[3]; // buttons 0..2 down in this frame's snapshot, 0 or 1
    std::int32_t speed;      // pixels per device unit, 2
    std::int32_t width;      // 40
    std::int32_t height;     // 40
    bool clickArmed;         // the left button was seen up since the last accepted press
};

// The pointer. Written by the title initialiser and updatePointer; clickArmed also by the title.
extern PointerState g_pointer;
// The pointer's picture and hit area; built by the game initialiser, moved by updatePointer.
extern ScreenQuad g_pointerQuad;

// Moves the pointer by this frame's mouse movement, keeps it inside its bounds, takes the
// button states, and turns a fresh left press into a click that lets the text go on.
void updatePointer();
// The movement alone: the pointer and its quad move, no button is taken.
void movePointer();
// Puts the pointer's top-left at (x, y), kept inside its bounds, with its quad there.
void placePointer(int x, int y);
