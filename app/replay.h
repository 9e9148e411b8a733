// The file of replayed input that --input names: events by frame, handed to the input devices
// before each frame's poll, so that a whole game can be played and checked without a person.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class ReplayKind : std::uint8_t { Move, ButtonDown, ButtonUp, KeyDown, KeyUp, Tap, Wheel };

// One replayed input event, applied before the input poll of its frame.
struct ReplayEvent {
    std::uint64_t frame; // frames count from 1
    ReplayKind kind;
    int dx;      // Move: device units
    int dy;      // Wheel: notches, positive away from the player
    int button;  // ButtonDown/ButtonUp/Tap: 0 left, 1 right, 2 middle
    int keyCode; // KeyDown/KeyUp: the key code of g_keys
    bool escape; // the key is Escape: its KeyDown closes the window as a real Escape does
};

// Parses the text of a replay file; fileName only labels the errors ("input.txt:3: ...").
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
