// The player's settings file: what the game could not read, or may not write, stays as the
// player left it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/settings.h"

namespace fs = std::filesystem;

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tolvane-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "settings.ini").string();
    }
    void TearDown() override {
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(dir_);
    }

    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void write(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    static mode_t mode(const fs::path& p) {
        struct stat st {};
        ::stat(p.c_str(), &st);
        return st.st_mode & 07777;
    }

    // Loads the file, then changes a setting twice as the menu would; what standard error said.
    std::string loadAndChangeTwice(ComfortSettings* settings, bool* saved) {
        ::testing::internal::CaptureStderr();
        loadSettings(path_, settings);
        settings->musicVolume = 25;
        *saved = saveSettings(path_, *settings);
        settings->musicVolume = 50;
        *saved = saveSettings(path_, *settings) || *saved;
        return ::testing::internal::GetCapturedStderr();
    }

    fs::path dir_;
    std::string path_;
};

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The player's volume and text speed are never lost to the defaults: a file the game could not
// make out, or that the player made read-only, is left whole, and standard error says once that
// changes are not kept.
TEST_F(Settings, AFileTheGameCouldNotReadOrMayNotWriteIsKept) {
    struct Case {
        const char* what;
        std::string text;
        mode_t mode;
        const char* loadSays; // at start-up; empty: nothing
        const char* saveSays; // once, at the first change
    };
    const std::string player = "music_volume = 30\ntext_speed = faster\n";
    const Case cases[] = {
        {"not a settings file", std::string(70 * 1024, '#'), 0644, "not a settings file",
         "could not read this file"},
        {"a line the game cannot read", player + "music_volume = loud\n", 0644,
         "settings.ini:3: expected a number", "could not read every line"},
        {"read-only", player, 0444, "", "is read-only"},
        // As root the file is read, and stays unwritten as read-only; else it cannot be read.
        {"no access", player, 0000, "", "not kept"},
    };
    for (const Case& c : cases) {
        fs::remove(path_);
        write(path_, c.text);
        fs::permissions(path_, static_cast<fs::perms>(c.mode));
        ComfortSettings settings;
        bool saved = true;
        const std::string err = loadAndChangeTwice(&settings, &saved);
        EXPECT_EQ(mode(path_), c.mode) << c.what; // the player's file, not a new one
        fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_FALSE(saved) << c.what;
        EXPECT_EQ(read(path_), c.text) << c.what;
        if (*c.loadSays) {
            EXPECT_NE(err.find(c.loadSays), std::string::npos) << c.what << "\n" << err;
        }
        EXPECT_EQ(count(err, c.saveSays), 1u) << c.what << "\n" << err;
        EXPECT_EQ(count(err, "not kept"), 1u) << c.what << "\n" << err;
    }
}

// A byte-order mark, as Windows editors write one, is not part of the first setting.
TEST_F(Settings, AByteOrderMarkIsNotPartOfTheFirstLine) {
    write(path_, "\xEF\xBB\xBFmusic_volume = 40\r\ntext_speed = instant-page\r\n");
    ComfortSettings settings;
    bool saved = false;
    const std::string err = loadAndChangeTwice(&settings, &saved);
    EXPECT_EQ(settings.textSpeed, TextSpeed::InstantPage);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(saved);
    EXPECT_NE(read(path_).find("music_volume = 50\n"), std::string::npos) << read(path_);
}

// A settings file kept in a dotfiles repository stays a link, and the repository's file is
// written.
TEST_F(Settings, ASettingsFileThatIsALinkStaysALink) {
    fs::create_directory(dir_ / "dotfiles");
    write(dir_ / "dotfiles" / "settings.ini", "effect_volume = 20\n");
    fs::create_symlink("dotfiles/settings.ini", path_);
    ComfortSettings settings;
    bool saved = false;
    const std::string err = loadAndChangeTwice(&settings, &saved);
    EXPECT_TRUE(saved) << err;
    EXPECT_EQ(settings.effectVolume, 20);
    EXPECT_TRUE(fs::is_symlink(path_));
    const std::string kept = read(dir_ / "dotfiles" / "settings.ini");
    EXPECT_NE(kept.find("music_volume = 50\n"), std::string::npos) << kept;
    EXPECT_NE(kept.find("effect_volume = 20\n"), std::string::npos) << kept;
}

} // namespace
