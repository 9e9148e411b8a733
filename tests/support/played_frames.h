// The headless program played one frame at a time in the test's process, and what each frame
// showed: the pieces the in-process equality tests of moments, saves and rollback share.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/app.h"
#include "app/state_dump.h"
#include "input/input.h"
#include "render/render.h"
#include "script/script.h"
#include "support/state_compare.h"

namespace played_frames {

// One frame's input: the movement and whether the left button is down.
struct FrameInput {
    int dx = 0;
    int dy = 0;
    bool down = false;
};

// What a frame showed: the state dump (the frame number left out, an effect's end by the sound
// device's clock read as none) and the picture's checksum.
struct Frame {
    std::string state;
    std::uint32_t pixels;
    bool operator==(const Frame&) const = default;
};

inline Frame playFrame(const FrameInput& in) {
    if (in.dx != 0 || in.dy != 0) injectMouseMove(in.dx, in.dy);
    injectMouseButton(0, in.down);
    EXPECT_EQ(stepProgram(false), StepResult::Ran);
    static std::vector<std::uint32_t> argb(kScreenWidth * kScreenHeight);
    EXPECT_TRUE(readPixels(argb.data(), kScreenWidth * 4));
    const auto crc = ::crc32(0L, reinterpret_cast<const Bytef*>(argb.data()),
                             static_cast<uInt>(argb.size() * 4));
    return {state_compare::withoutEffectClock(gameStateJson(0)), static_cast<std::uint32_t>(crc)};
}

// A key pressed for a frame and let go in the next.
inline void tapKey(int key) {
    injectKey(key, true);
    playFrame({});
    injectKey(key, false);
    playFrame({});
}

// The state without the player's hand (the pointer's buttons and its readiness for a click)
// and without the backlog's length, which followPage changes only at the next frame's start.
inline std::string gameOnly(std::string state) {
    const auto drop = [&state](const std::string& name, const char* ends) {
        const std::size_t at = state.find(name);
        if (at == std::string::npos) return;
        state.erase(at, state.find_first_of(ends, at + name.size()) - at);
    };
    drop("\"pressed\":", "]");
    drop("\"clickArmed\":", ",}");
    drop("\"backlogPages\":", ",}");
    return state;
}

// The page's bytes on screen now.
inline std::vector<std::uint8_t> revealed() {
    return {g_page.begin(), g_page.begin() + std::clamp(g_script.revealPos, 0, kPageBufferSize)};
}

} // namespace played_frames
