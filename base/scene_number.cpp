#include "base/scene_number.h"

std::uint8_t g_frameNo = kSceneTitleInit;
