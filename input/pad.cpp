// Game pads on SDL's game controller API: every pad SDL's mapping database knows, plugged in
// and out at any time; the one used last drives the snapshot.
#include <algorithm>
#include <cstdio>
#include <string>

#include "input/input_sdl.h"

static_assert(kPadButtonCount == SDL_CONTROLLER_BUTTON_MAX);
static_assert(kPadAxisCount == SDL_CONTROLLER_AXIS_MAX);
static_assert(kPadA == SDL_CONTROLLER_BUTTON_A && kPadB == SDL_CONTROLLER_BUTTON_B &&
              kPadY == SDL_CONTROLLER_BUTTON_Y && kPadBack == SDL_CONTROLLER_BUTTON_BACK &&
              kPadStart == SDL_CONTROLLER_BUTTON_START &&
              kPadLeftShoulder == SDL_CONTROLLER_BUTTON_LEFTSHOULDER &&
              kPadRightShoulder == SDL_CONTROLLER_BUTTON_RIGHTSHOULDER &&
              kPadUp == SDL_CONTROLLER_BUTTON_DPAD_UP &&
              kPadRight == SDL_CONTROLLER_BUTTON_DPAD_RIGHT);
static_assert(kPadLeftX == SDL_CONTROLLER_AXIS_LEFTX &&
              kPadRightTrigger == SDL_CONTROLLER_AXIS_TRIGGERRIGHT);

PadState g_pad{};

namespace {

// More pads than players at one screen; a ninth is left closed.
constexpr int kMaxPads = 8;

struct Pad {
    SDL_GameController* controller = nullptr;
    SDL_JoystickID id = -1;
    bool buttons[kPadButtonCount]{};
    bool pressed[kPadButtonCount]{}; // since the last poll, even if let go again
    std::int16_t axes[kPadAxisCount]{};
};

struct Pads {
    Pad pads[kMaxPads];
    SDL_JoystickID active = -1;
    // The replay's pad: plugged in at its first event, counted with the devices off too.
    SDL_Joystick* virtualJoystick = nullptr;
    SDL_JoystickID virtualId = -1;
    bool virtualFailed = false;
};

Pads p;
std::uint8_t g_padBefore[kPadButtonCount]{};

Pad* findPad(SDL_JoystickID id) {
    if (id < 0) return nullptr;
    for (Pad& pad : p.pads)
        if (pad.controller && pad.id == id) return &pad;
    return nullptr;
}

void closePad(Pad& pad) {
    if (pad.controller) SDL_GameControllerClose(pad.controller);
    if (pad.id == p.active) p.active = -1;
    pad = Pad{};
}

void openPad(int deviceIndex, bool devicesEnabled) {
    const SDL_JoystickID id = SDL_JoystickGetDeviceInstanceID(deviceIndex);
    if (id < 0 || findPad(id)) return;
    const bool isVirtual = id == p.virtualId;
    if (!devicesEnabled && !isVirtual) return;
    Pad* slot = nullptr;
    for (Pad& pad : p.pads)
        if (!pad.controller) {
            slot = &pad;
            break;
        }
    if (!slot) return;
    // A pad that cannot be opened (gone again, no permission) is left alone.
    SDL_GameController* controller = SDL_GameControllerOpen(deviceIndex);
    if (!controller) return;
    slot->controller = controller;
    slot->id = id;
}

bool leansPast(int axis, int value) {
    // Triggers rest at 0, sticks in the middle.
    return axis >= kPadLeftTrigger ? value > kPadDeadZone
                                   : value > kPadDeadZone || value < -kPadDeadZone;
}

// The joystick value that SDL's mapping turns into the trigger value wanted: triggers take the
// joystick's whole range as 0..32767.
int triggerAsJoystick(int value) {
    return value <= 0 ? -32768 : 2 * std::min(value, 32767) - 32767;
}

// The controller events SDL has queued, handed on now rather than at the next event poll.
void takePadEvents() {
    SDL_Event events[32];
    int n;
    while ((n = SDL_PeepEvents(events, 32, SDL_GETEVENT, SDL_CONTROLLERAXISMOTION,
                               SDL_FINGERDOWN - 1)) > 0)
        for (int i = 0; i < n; ++i)
            inputHandleEvent(events[i]);
}

bool plugVirtualPad() {
    if (p.virtualJoystick) return true;
    if (p.virtualFailed) return false;
    p.virtualFailed = true;
    if (SDL_WasInit(SDL_INIT_GAMECONTROLLER) == 0) return false;
    SDL_VirtualJoystickDesc desc{};
    desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
    desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
    desc.naxes = SDL_CONTROLLER_AXIS_MAX;
    desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
    desc.name = "tolvane replay pad";
    const int index = SDL_JoystickAttachVirtualEx(&desc);
    if (index < 0) {
        std::fprintf(stderr, "tolvane: the replay's pad cannot be made: %s\n", SDL_GetError());
        return false;
    }
    p.virtualJoystick = SDL_JoystickOpen(index);
    if (!p.virtualJoystick) {
        SDL_JoystickDetachVirtual(index);
        return false;
    }
    p.virtualId = SDL_JoystickInstanceID(p.virtualJoystick);
    SDL_JoystickSetVirtualAxis(p.virtualJoystick, kPadLeftTrigger, -32768);
    SDL_JoystickSetVirtualAxis(p.virtualJoystick, kPadRightTrigger, -32768);
    p.virtualFailed = false;
    // Opened as a controller at once: SDL sends controller events only for an open one, and
    // the first replayed press must not be lost.
    takePadEvents();
    return true;
}

void unplugVirtualPad() {
    if (!p.virtualJoystick) return;
    SDL_JoystickClose(p.virtualJoystick);
    p.virtualJoystick = nullptr;
    for (int i = 0; i < SDL_NumJoysticks(); ++i)
        if (SDL_JoystickGetDeviceInstanceID(i) == p.virtualId) {
            SDL_JoystickDetachVirtual(i);
            break;
        }
    p.virtualId = -1;
}

} // namespace

void startPads() {
    // The pads are read as the keyboard is: presses only in the foreground (inputHandleEvent
    // decides), releases always, so that none stays held while the game is in the background.
    SDL_SetHint(SDL_HINT_JOYSTICK_ALLOW_BACKGROUND_EVENTS, "1");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0)
        SDL_LogDebug(SDL_LOG_CATEGORY_APPLICATION, "no game pads: %s", SDL_GetError());
}

bool padHandleEvent(const SDL_Event& event, bool devicesEnabled, bool focused) {
    switch (event.type) {
    case SDL_CONTROLLERDEVICEADDED:
        openPad(event.cdevice.which, devicesEnabled);
        return true;
    case SDL_CONTROLLERDEVICEREMOVED:
        if (Pad* pad = findPad(event.cdevice.which)) closePad(*pad);
        if (event.cdevice.which == p.virtualId) {
            // Unplugged from outside: the handle goes too; the next event plugs in a new one.
            SDL_JoystickClose(p.virtualJoystick);
            p.virtualJoystick = nullptr;
            p.virtualId = -1;
        }
        return true;
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP: {
        Pad* pad = findPad(event.cbutton.which);
        const int button = event.cbutton.button;
        if (!pad || button < 0 || button >= kPadButtonCount) return true;
        const bool down = event.type == SDL_CONTROLLERBUTTONDOWN;
        const bool counts = pad->id == p.virtualId || (devicesEnabled && focused);
        if (down && !counts) return true;
        pad->buttons[button] = down;
        if (down) {
            pad->pressed[button] = true;
            p.active = pad->id;
        }
        return true;
    }
    case SDL_CONTROLLERAXISMOTION: {
        Pad* pad = findPad(event.caxis.which);
        const int axis = event.caxis.axis;
        if (!pad || axis < 0 || axis >= kPadAxisCount) return true;
        const bool counts = pad->id == p.virtualId || (devicesEnabled && focused);
        const int value =
            axis >= kPadLeftTrigger ? std::max<int>(event.caxis.value, 0) : event.caxis.value;
        // Back towards rest always counts, as a release does.
        if (!counts && leansPast(axis, value)) return true;
        pad->axes[axis] = static_cast<std::int16_t>(value);
        if (leansPast(axis, value)) p.active = pad->id;
        return true;
    }
    default:
        return event.type >= SDL_CONTROLLERAXISMOTION && event.type < SDL_FINGERDOWN;
    }
}

void padFocusLost() {
    for (Pad& pad : p.pads)
        if (pad.controller && pad.id != p.virtualId) {
            std::fill(std::begin(pad.buttons), std::end(pad.buttons), false);
            std::fill(std::begin(pad.pressed), std::end(pad.pressed), false);
            std::fill(std::begin(pad.axes), std::end(pad.axes), std::int16_t{0});
        }
}

void releasePads() {
    for (Pad& pad : p.pads)
        closePad(pad);
    unplugVirtualPad();
    p = Pads{};
    g_pad = PadState{};
    std::fill(std::begin(g_padBefore), std::end(g_padBefore), std::uint8_t{0});
}

void pollPad() {
    std::copy(std::begin(g_pad.buttons), std::end(g_pad.buttons), std::begin(g_padBefore));
    g_pad = PadState{};
    for (const Pad& pad : p.pads)
        if (pad.controller) g_pad.connected = true;
    if (const Pad* active = findPad(p.active)) {
        for (int i = 0; i < kPadButtonCount; ++i)
            g_pad.buttons[i] = active->buttons[i] || active->pressed[i] ? 0x80 : 0x00;
        std::copy(std::begin(active->axes), std::end(active->axes), std::begin(g_pad.axes));
    }
    for (Pad& pad : p.pads)
        std::fill(std::begin(pad.pressed), std::end(pad.pressed), false);
}

bool padButtonPressed(int button) {
    if (button < 0 || button >= kPadButtonCount) return false;
    return (g_pad.buttons[button] & 0x80) != 0 && (g_padBefore[button] & 0x80) == 0;
}

void injectPadButton(int button, bool down) {
    if (button < 0 || button >= kPadButtonCount || !plugVirtualPad()) return;
    SDL_JoystickSetVirtualButton(p.virtualJoystick, button, down ? 1 : 0);
}

void injectPadAxis(int axis, int value) {
    if (axis < 0 || axis >= kPadAxisCount || !plugVirtualPad()) return;
    value = std::clamp(value, -32768, 32767);
    if (axis >= kPadLeftTrigger) value = triggerAsJoystick(value);
    SDL_JoystickSetVirtualAxis(p.virtualJoystick, axis, static_cast<Sint16>(value));
}

void deliverInjectedPad() {
    if (SDL_WasInit(SDL_INIT_GAMECONTROLLER) == 0) return;
    // The virtual pad's values become SDL's own controller events, taken here rather than at
    // the next frame's event poll, so that a press replayed at a frame is seen in that frame.
    SDL_JoystickUpdate();
    takePadEvents();
}

int padButtonFromName(std::string_view sdlName) {
    if (sdlName.empty() || sdlName.find('\0') != std::string_view::npos) return -1;
    const std::string name(sdlName);
    const int button = SDL_GameControllerGetButtonFromString(name.c_str());
    return button >= 0 && button < kPadButtonCount ? button : -1;
}

int padAxisFromName(std::string_view sdlName) {
    if (sdlName.empty() || sdlName.find('\0') != std::string_view::npos) return -1;
    const std::string name(sdlName);
    const int axis = SDL_GameControllerGetAxisFromString(name.c_str());
    return axis >= 0 && axis < kPadAxisCount ? axis : -1;
}
