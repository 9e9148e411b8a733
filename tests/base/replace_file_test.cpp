// The one atomic replace of the player's files, where the file is reached through a link.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/replace_file.h"

namespace fs = std::filesystem;

namespace {

class ReplaceFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tolvane-replace-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        fs::create_directory(dir_ / "dotfiles");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void write(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }

    fs::path dir_;
};

// A player who keeps the file elsewhere (a dotfiles repository) keeps the link: the file it
// leads to is the one replaced, and only it.
TEST_F(ReplaceFile, ThroughALinkTheFileItLeadsToIsReplacedAndTheLinkKept) {
    struct Case {
        const char* what;
        const char* linkText; // "DIR" stands for the test's folder
        const char* target;   // where the bytes must land, in the test's folder
        bool targetExists;
    };
    const Case cases[] = {
        {"an absolute link", "DIR/dotfiles/settings.ini", "dotfiles/settings.ini", true},
        {"a relative link", "dotfiles/settings.ini", "dotfiles/settings.ini", true},
        {"a link to a link", "chain", "dotfiles/settings.ini", true},
        {"a link to a file not made yet", "dotfiles/new.ini", "dotfiles/new.ini", false},
    };
    for (const Case& c : cases) {
        fs::remove(dir_ / "settings.ini");
        fs::remove(dir_ / "chain");
        fs::remove(dir_ / "dotfiles" / "new.ini");
        write(dir_ / "dotfiles" / "settings.ini", "old");
        fs::create_symlink("dotfiles/settings.ini", dir_ / "chain");
        std::string text = c.linkText;
        if (text.starts_with("DIR")) text = dir_.string() + text.substr(3);
        fs::create_symlink(text, dir_ / "settings.ini");
        ASSERT_EQ(fs::exists(dir_ / c.target), c.targetExists) << c.what;

        EXPECT_EQ(replaceFile((dir_ / "settings.ini").string(), "new"), "") << c.what;
        EXPECT_TRUE(fs::is_symlink(dir_ / "settings.ini")) << c.what;
        EXPECT_EQ(fs::read_symlink(dir_ / "settings.ini").string(), text) << c.what;
        EXPECT_EQ(read(dir_ / c.target), "new") << c.what;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / c.target))) << c.what;
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / (std::string(c.target) + ".new"))))
            << c.what;
        if (std::string(c.target) != "dotfiles/settings.ini") {
            EXPECT_EQ(read(dir_ / "dotfiles" / "settings.ini"), "old") << c.what;
        }
    }
}

// A link to something that cannot hold the bytes is refused and left as it was.
TEST_F(ReplaceFile, ALinkThatLeadsNowhereAFileCanBeIsRefused) {
    ASSERT_EQ(::mkfifo((dir_ / "pipe").c_str(), 0600), 0);
    struct Case {
        const char* what;
        const char* linkText;
        const char* reason;
    };
    const Case cases[] = {
        {"a pipe", "pipe", "is not a regular file"},
        {"a loop", "loop", "Too many levels of symbolic links"},
    };
    for (const Case& c : cases) {
        fs::remove(dir_ / "loop");
        fs::create_symlink(c.linkText, dir_ / "loop");
        const std::string reason = replaceFile((dir_ / "loop").string(), "new");
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
        EXPECT_TRUE(fs::is_symlink(dir_ / "loop")) << c.what;
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir_ / "pipe"))) << c.what;
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "pipe.new"))) << c.what;
    }
}

} // namespace
