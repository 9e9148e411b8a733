// The player's settings; what they hold and who writes them is in player.h.
#include "player/player.h"

ComfortSettings g_comfortSettings;
