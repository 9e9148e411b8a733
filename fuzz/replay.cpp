// The command line and the input-replay file: parseReplayText on random text, and
// parseOptions on a random argument list whose --input names a file of random text.
//
// Input: REPLAY TEXT, then optionally 0xFF and the arguments separated by zero bytes. The
// replay text is parsed on its own and is also the file "in.txt" in the work folder, which
// the arguments may name. An argument holding '/' is dropped, so that no path leaves the work
// folder (a device such as /dev/stdin would wait for ever).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "app/options.h"
#include "fuzz/fuzz_engine.h"

namespace {

// One line, as the program prints it before it exits with code 2.
void checkError(const std::string& error) {
    FUZZ_CHECK(!error.empty());
    FUZZ_CHECK(error.find('\n') == std::string::npos);
}

void checkEvents(const std::vector<ReplayEvent>& events) {
    std::uint64_t previous = 1;
    for (const ReplayEvent& e : events) {
        FUZZ_CHECK(e.frame >= previous); // by frame, and frames count from 1
        previous = e.frame;
        switch (e.kind) {
        case ReplayKind::ButtonDown:
        case ReplayKind::ButtonUp:
        case ReplayKind::Tap:
            FUZZ_CHECK(e.button >= 0 && e.button <= 2);
            break;
        case ReplayKind::KeyDown:
        case ReplayKind::KeyUp:
            FUZZ_CHECK(e.keyCode >= 0 && e.keyCode < 256);
            break;
        case ReplayKind::Move:
        case ReplayKind::Wheel:
            break;
        default:
            FUZZ_CHECK(!"an event of no known kind");
        }
    }
    // Handed out frame by frame, every event comes out exactly once.
    ReplayCursor cursor;
    std::size_t handedOut = 0;
    std::uint64_t frame = 1;
    for (int n = 0; n < 64 && handedOut < events.size(); ++n, frame *= 2)
        handedOut += replayEventsForFrame(events, frame, &cursor).size();
    handedOut += replayEventsForFrame(events, UINT64_MAX, &cursor).size();
    FUZZ_CHECK(handedOut == events.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\xFF');
    const std::string_view text = input.substr(0, cut);

    std::vector<ReplayEvent> events;
    std::string error;
    if (parseReplayText(text, "in.txt", &events, &error)) {
        checkEvents(events);
    } else {
        checkError(error);
        FUZZ_CHECK(error.starts_with("in.txt:"));
    }
    if (cut == std::string_view::npos) return 0;

    if (std::FILE* f = std::fopen("in.txt", "wb")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    std::vector<std::string> args = {"tolvane"};
    std::string_view rest = input.substr(cut + 1);
    while (!rest.empty() && args.size() < 32) {
        const std::size_t end = rest.find('\0');
        const std::string_view arg = rest.substr(0, end);
        if (arg.find('/') == std::string_view::npos) args.emplace_back(arg);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    ProgramOptions options;
    error.clear();
    if (parseOptions(static_cast<int>(args.size()), argv.data(), &options, &error)) {
        checkEvents(options.replay);
        if (!options.inputFile.empty() && !options.help) FUZZ_CHECK(options.inputFile[0] == '/');
    } else {
        checkError(error);
    }
    return 0;
}
