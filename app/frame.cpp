#include "app/frame.h"

std::uint8_t g_frameNo = kSceneTitleInit;
