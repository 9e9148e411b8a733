// Files the game keeps for the player (the checkpoint, the settings): replaced whole or not at all.
#pragma once

#include <string>
#include <string_view>

// Writes the bytes beside the old file and renames them into place, so that a crash or a full
// disk never leaves a torn or empty file behind. The temporary file ("PATH.new") is made afresh
// and never opened through a link, which could point anywhere; it is synced before the rename.
// When PATH is a link (a player who keeps the file in a dotfiles repository), the file it leads
// to is the one replaced, the same way, and the link stays; a link that leads to something other
// than a regular file (or nothing) is refused. Empty on success, else the reason (the step, the
// file and the system's words).
std::string replaceFile(const std::string& path, std::string_view bytes);
