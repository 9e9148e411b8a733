// The title's own menu on the right button.
#include "player/player.h"
#include "player/shared.h"

bool comfortsHoldTitle() {
    return false;
}
