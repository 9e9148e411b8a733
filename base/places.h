// Where the game's files are on this system: the demo game an installed package brought, and
// the folder the checkpoint goes to when the game folder is not the player's to write.
#pragma once

#include <string>
#include <string_view>

// The installed demo game's folder: the one beside the program as installed (so an install
// moved elsewhere, or unpacked into another root, still finds its own), else the one the build
// was configured to install to. Empty when neither holds a game.
std::string installedDemoFolder();

// True when `folder` holds a game a player can start: a scenario file for block 0.
bool holdsGame(const std::string& folder);

// Whether the game in `folder` keeps its saves in the folder itself. Not in the installed demo's
// folder, whoever runs it (the package manager owns those files, and root could write them);
// elsewhere only where a file can really be made, which is the one test that also holds for
// root, for read-only file systems and for access control lists.
bool folderTakesSaves(const std::string& folder, const std::string& installedDemo);

// A stable folder name for the game at `folder` (an absolute path): its last component made
// safe, and a hash of the whole path, so two games of the same name keep apart.
std::string saveFolderName(const std::string& folder);

// The player's own folder for the saves of the game at `folder`:
// $XDG_DATA_HOME/tolvane/<saveFolderName> (by default ~/.local/share/tolvane/...).
// Empty when the player has no home.
std::string userSaveFolder(const std::string& folder);

enum class SaveUse { Read, Write };

// The path of the save file `name` of the game in the current folder. In a folder that takes
// saves, the file in it (as the game has always had it). Elsewhere the file in userSaveFolder:
// for Write that folder is made when missing; for Read an old file left in the game folder is
// still read while the player's folder has none.
std::string savePath(std::string_view name, SaveUse use);

// The folder the player's pictures go to: $XDG_PICTURES_DIR, else the one the desktop's
// user-dirs.dirs names (in $XDG_CONFIG_HOME, by default ~/.config), else ~/Pictures. Empty when
// the player has no home and the desktop names none.
std::string picturesFolder();
