// The player's settings file: fullscreen, volumes, text speed and the auto mode's timings, kept
// between runs in $XDG_CONFIG_HOME/tolvane/settings.ini (~/.config/tolvane/settings.ini).
#pragma once

#include <string>

#include "scenes/comforts.h"

// The default place of the settings file; empty when the player has no home folder.
std::string defaultSettingsPath();

// Reads the settings in the file into *out. A missing file leaves *out as it is; a line that
// cannot be read is reported on standard error with its number and leaves its setting at the
// default. Never fails.
void loadSettings(const std::string& path, ComfortSettings* out);

// The file's text for the settings.
std::string settingsText(const ComfortSettings& settings);

// Writes the settings by atomic replace (a temporary file beside it, synced, then renamed), making
// the folder when missing. False after a message on standard error; the old file stays whole.
bool saveSettings(const std::string& path, const ComfortSettings& settings);
