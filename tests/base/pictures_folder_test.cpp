// Where the player's screenshots go: the variable, the desktop's own user-dirs.dirs, the default.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/places.h"

namespace fs = std::filesystem;

namespace {

// Sets (or, for nullptr, unsets) a variable for the test's length.
struct Variable {
    Variable(const char* name, const char* value) : name(name) {
        if (const char* old = std::getenv(name)) before = old, had = true;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~Variable() { had ? ::setenv(name, before.c_str(), 1) : ::unsetenv(name); }
    const char* name;
    std::string before;
    bool had = false;
};

} // namespace

TEST(PicturesFolder, TheVariableThenTheDesktopsNameThenPictures) {
    const fs::path home =
        fs::temp_directory_path() / ("tolvane-pictures-" + std::to_string(::getpid()));
    fs::create_directories(home / ".config");
    const Variable h("HOME", home.c_str());
    const Variable config("XDG_CONFIG_HOME", nullptr);
    struct Case {
        const char* variable; // XDG_PICTURES_DIR, or none
        const char* userDirs; // the line in ~/.config/user-dirs.dirs, or no file
        std::string expected;
    };
    const Case cases[] = {
        {"/srv/shots", "XDG_PICTURES_DIR=\"$HOME/画像\"", "/srv/shots"},
        {nullptr, "XDG_PICTURES_DIR=\"$HOME/画像\"", home.string() + "/画像"},
        {nullptr, "# a comment\nXDG_MUSIC_DIR=\"$HOME/Music\"\nXDG_PICTURES_DIR=\"/data/pics\"",
         "/data/pics"},
        {nullptr, "XDG_PICTURES_DIR=\"relative/pics\"", home.string() + "/Pictures"},
        {nullptr, "XDG_PICTURES_DIR=\"$HOME/unclosed", home.string() + "/Pictures"},
        {"relative", nullptr, home.string() + "/Pictures"},
        {nullptr, nullptr, home.string() + "/Pictures"},
    };
    for (const Case& c : cases) {
        fs::remove(home / ".config" / "user-dirs.dirs");
        if (c.userDirs) std::ofstream(home / ".config" / "user-dirs.dirs") << c.userDirs << "\n";
        const Variable pictures("XDG_PICTURES_DIR", c.variable);
        EXPECT_EQ(picturesFolder(), c.expected) << (c.userDirs ? c.userDirs : "no user-dirs.dirs");
    }
    fs::remove_all(home);
}
