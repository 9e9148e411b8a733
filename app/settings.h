// The player's settings file: fullscreen, volumes, text speed, the auto mode's timings and
// self-voicing, kept between runs in $XDG_CONFIG_HOME/tolvane/settings.ini
// (~/.config/tolvane/settings.ini).
#pragma once

#include <string>

#include "player/player.h"

// The default place of the settings file; empty when the player has no home folder.
std::string defaultSettingsPath();

// Reads the settings in the file into *out. A missing file leaves *out as it is; a line that
// cannot be read is reported on standard error with its number and leaves its setting at the
// default. Never fails. A file that could not be read whole is the player's to mend: it is
// remembered, and saveSettings leaves it as it is.
void loadSettings(const std::string& path, ComfortSettings* out);

// The file's text for the settings.
std::string settingsText(const ComfortSettings& settings);

// Writes the settings by atomic replace (a temporary file beside it, synced, then renamed), making
// the folder when missing; through a link, the file it leads to is replaced and the link kept.
// A file that loadSettings could not read whole, or that is read-only, is never written: false,
// and standard error says once that changes are not kept. False too after a failed write, said
// once until a write succeeds; the old file stays whole.
bool saveSettings(const std::string& path, const ComfortSettings& settings);
