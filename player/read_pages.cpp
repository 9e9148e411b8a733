// The pages read, remembered across runs.
#include "player/player.h"
#include "player/shared.h"

void keepReadPages() {}
