#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // Tests run without a display or sound card; a test that wants another driver sets it itself.
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
