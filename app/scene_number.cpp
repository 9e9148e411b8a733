// The scene number lives apart from the frame driver, so that the scenario engine, which sets
// it on [reset], links without the platform layer.
#include "app/frame.h"

std::uint8_t g_frameNo = kSceneTitleInit;
