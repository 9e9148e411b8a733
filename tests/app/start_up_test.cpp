// Start-up failures reach the player through the window's message box, the graphics device's
// own failure too.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "app/app.h"
#include "base/message.h"
#include "render/render.h"

namespace {

MessageSink g_sinkAtDeviceCreation = nullptr;
std::vector<std::string> g_messages;

void collectAndForward(std::string_view text) {
    g_messages.emplace_back(text);
    if (g_sinkAtDeviceCreation) g_sinkAtDeviceCreation(text);
}

// Fails the device, watching what the window layer installed to show messages by then.
bool failTheDevice() {
    g_sinkAtDeviceCreation = messageSink();
    setMessageSink(collectAndForward);
    return false;
}

TEST(StartUp, AGraphicsDeviceThatCannotBeMadeShowsItsMessageBox) {
    g_messages.clear();
    setDeviceCreationHook(failTheDevice);
    ProgramOptions options; // a window on the screen, as from the desktop
    options.frames = 1;
    ::testing::internal::CaptureStderr();
    const int status = runProgram(options);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    setDeviceCreationHook(nullptr);

    EXPECT_EQ(status, 1);
    EXPECT_NE(g_sinkAtDeviceCreation, nullptr) << "no message box in place when the device fails";
    EXPECT_EQ(g_messages, std::vector<std::string>{"DirectXデバイス生成失敗"});
    // The window's box also writes the message to standard error, for a terminal.
    EXPECT_NE(errors.find("ERROR: DirectXデバイス生成失敗"), std::string::npos) << errors;
    EXPECT_EQ(messageSink(), nullptr) << "the sink went with the window";
}

} // namespace
