// The program's command line, and the file of replayed input that --input names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

enum class ReplayKind : std::uint8_t { Move, ButtonDown, ButtonUp, KeyDown, KeyUp };

// One replayed input event, applied before the input poll of its frame.
struct ReplayEvent {
    std::uint64_t frame; // frames count from 1
    ReplayKind kind;
    int dx; // Move: device units
    int dy;
    int button;  // ButtonDown/ButtonUp: 0 left, 1 right, 2 middle
    int keyCode; // KeyDown/KeyUp: the key code of g_keys
    bool escape; // the key is Escape: its KeyDown closes the window as a real Escape does
};

// An output to write at a frame (--screenshot, --state).
struct FrameOutput {
    std::uint64_t frame;
    std::string path;
};

// What the command line asks for. Every file path is absolute, made so against the folder the
// program was started in, because the program changes into gameDir before it writes anything.
struct ProgramOptions {
    std::string gameDir; // empty: stay in the current folder
    bool headless = false;
    bool debugLog = false; // --debug-log: SDL's debug log (the frame-rate line) on standard error
    std::uint64_t frames = 0;             // leave the main loop after this frame; 0: no limit
    std::string inputFile;                // empty: no replay
    std::vector<FrameOutput> screenshots; // in command-line order
    std::vector<FrameOutput> states;      // in command-line order
    std::string tracePath;                // empty: no trace
    std::vector<ReplayEvent> replay;      // by frame; within a frame in file order
    bool help = false; // --help: print usageText() and exit 0, nothing else is filled in
};

// Parses `tolvane [options] [GAME_DIR]` and reads the --input file. On false, *error holds one
// line naming the option, or the input file and line; the program then exits with code 2.
bool parseOptions(int argc, char** argv, ProgramOptions* out, std::string* error);

// Parses the text of a replay file; fileName only labels the errors ("input.txt:3: ...").
bool parseReplayText(std::string_view text, std::string_view fileName,
                     std::vector<ReplayEvent>* out, std::string* error);

// The --help text.
std::string_view usageText();

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
