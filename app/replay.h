// The file of replayed input that --input names: events by frame, handed to the input devices
// before each frame's poll, so that a whole game can be played and checked without a person.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class ReplayKind : std::uint8_t {
    Move,
    ButtonDown,
    ButtonUp,
    KeyDown,
    KeyUp,
    Tap,
    Wheel,
    PadDown,
    PadUp,
    PadAxis
};

// The most events a replay holds: a recorded hour of play at 60 frames a second, with a move in
// every frame, is a quarter of it. A file that asks for more is a mistake, and would cost memory
// and a wait before the first frame.
constexpr std::size_t kMaxReplayEvents = 1'000'000;

// One replayed input event, applied before the input poll of its frame. Kept small: a replay
// may hold a million.
struct ReplayEvent {
    std::uint32_t frame; // frames count from 1, at most 2147483647
    int dx;              // Move: device units; PadAxis: the value, -32768..32767
    int dy;              // Wheel: notches, positive away from the player
    int keyCode;         // KeyDown/KeyUp: the key code of g_keys; Pad*: the button or axis
    ReplayKind kind;
    std::int8_t button; // ButtonDown/ButtonUp/Tap: 0 left, 1 right, 2 middle
    bool escape;        // the key is Escape: its KeyDown closes the window as a real Escape does
};

// Parses the text of a replay file; fileName only labels the errors ("input.txt:3: ...").
// More than kMaxReplayEvents events is an error at the line that goes past them.
bool parseReplayText(std::string_view text, std::string_view fileName,
                     std::vector<ReplayEvent>* out, std::string* error);

// Reads and parses the replay file at path; fileName is the name as the user typed it, for the
// messages ("--input: cannot read 'x': ..." or "x:3: ...").
bool readReplayFile(const std::string& path, std::string_view fileName,
                    std::vector<ReplayEvent>* out, std::string* error);

// Where the frame loop is in the replay: the first event not yet handed out.
struct ReplayCursor {
    std::size_t next = 0;
};

// The events due by this frame that the cursor has not handed out yet, and advances past them.
// Called once per frame with rising frame numbers this is exactly the frame's events; a frame
// that was never asked for has its events handed out late rather than lost.
std::span<const ReplayEvent> replayEventsForFrame(std::span<const ReplayEvent> events,
                                                  std::uint64_t frame, ReplayCursor* cursor);

// Hands the events to the input devices (see injectMouseMove and the rest in input/input.h).
// Returns true when one of them presses Escape, so the window can close as on a real Escape.
bool injectReplayEvents(std::span<const ReplayEvent> events);
