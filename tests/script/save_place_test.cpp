// Where the checkpoint lives: in the game folder when the player can write it, else in the
// player's own data folder.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <functional>

#include "base/places.h"
#include "engine_fixture.h"

using namespace fixture;
namespace fs = std::filesystem;

namespace {

const std::string kBlock0 = "[ct]\r\n*scene2|\r\n\x82\xa0\r\n*other|\r\n\x82\xa2";

std::string scrambled(const std::string& plain) {
    std::string bytes = plain;
    for (char& c : bytes)
        c = static_cast<char>(c + 30);
    return bytes;
}

std::string plainOf(const std::string& bytes) {
    std::string plain;
    for (char c : bytes)
        plain += static_cast<char>(c - 30);
    return plain;
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace

class SavePlace : public GameFolderTest {
protected:
    void SetUp() override {
        GameFolderTest::SetUp();
        data_ = folder_.string() + "-data";
        fs::create_directories(data_);
        xdg_.emplace("XDG_DATA_HOME", data_.c_str());
    }
    void TearDown() override {
        xdg_.reset();
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(data_);
        GameFolderTest::TearDown();
    }

    fs::path userFile() const {
        return fs::path(userSaveFolder(fs::current_path().string())) / "Data.sav";
    }

    // Runs `body` in a child process that cannot write the game folder: the folder is made
    // read-only, and as root, who may write any folder whatever its mode, the child also becomes
    // the unprivileged "nobody". The child prints its own failures; its exit status says whether
    // there were any.
    void withoutWriteAccess(const std::function<void()>& body) {
        fs::permissions(folder_,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        const passwd* nobody = ::getpwnam("nobody");
        if (::geteuid() == 0) {
            ASSERT_NE(nobody, nullptr) << "no user 'nobody' to play without root's rights";
            ASSERT_EQ(::chown(data_.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        std::fflush(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 ||
                 ::setuid(nobody->pw_uid) != 0))
                std::_Exit(3);
            body();
            std::fflush(nullptr);
            std::_Exit(::testing::Test::HasFailure() ? 1 : 0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the player's process died";
        EXPECT_EQ(WEXITSTATUS(status), 0) << "see the player's process's failures above";
    }

    std::string data_;
    std::optional<ScopedEnv> xdg_;
};

TEST_F(SavePlace, AWritableFolderKeepsItsCheckpoint) {
    currentBackground = 3;
    writeCheckpoint("scene2");
    EXPECT_TRUE(g_script.saveWritten);
    EXPECT_EQ(readFile("Data.sav").size(), 500u);
    EXPECT_TRUE(fs::is_empty(data_)); // nothing made in the player's folder
    startFromMemory(kBlock0);
    restoreCheckpoint();
    EXPECT_EQ(currentBackground, 3);
    EXPECT_TRUE(messages().empty());
}

TEST_F(SavePlace, AReadOnlyFolderReadsItsOldCheckpointAndSavesInThePlayersFolder) {
    const std::string old = scrambled("000 scene2 03 0 00");
    writeFile("Data.sav", old);
    const fs::path user = userFile();
    withoutWriteAccess([&] {
        // The old file in the game folder is still read, and the continue's rewrite of it goes
        // to the player's folder, made on this first write.
        startFromMemory(kBlock0);
        restoreCheckpoint();
        EXPECT_EQ(currentBackground, 3);
        EXPECT_TRUE(g_script.saveWritten);
        EXPECT_EQ(plainOf(readFile(user)).substr(0, 18), "000 scene2 03 0 00");

        // From then on the player's file is the one read and written.
        currentBackground = 5;
        writeCheckpoint("other");
        resetEngine();
        startFromMemory(kBlock0);
        restoreCheckpoint();
        EXPECT_EQ(currentBackground, 5);
        EXPECT_EQ(pageBytes(0, 2), "\x82\xa2");
        EXPECT_TRUE(messages().empty());
    });
    EXPECT_EQ(readFile(folder_ / "Data.sav"), old);
    EXPECT_FALSE(fs::exists(folder_ / "Data.sav.new"));
    EXPECT_FALSE(fs::exists(user.string() + ".new"));
    EXPECT_EQ(fs::status(user.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
}

TEST_F(SavePlace, APlayersFolderThatCannotBeMadeFailsLikeAnyWrite) {
    writeFile(fs::path(data_) / "tolvane", "a file where the folder should be");
    withoutWriteAccess([&] {
        writeCheckpoint("scene2");
        EXPECT_FALSE(g_script.saveWritten);
        ASSERT_EQ(messages().size(), 1u);
        EXPECT_EQ(messages()[0], "Data.sav の書き込みに失敗");
        // No checkpoint anywhere: the continue keeps the fresh game, with its usual message.
        startFromMemory(kBlock0);
        restoreCheckpoint();
        EXPECT_EQ(currentBackground, 0);
        EXPECT_EQ(messages().size(), 2u);
    });
}

TEST_F(SavePlace, TheInstalledDemoNeverTakesSavesEvenWhenWritable) {
    const std::string here = folder_.string();
    fs::create_directories(folder_ / "sub");
    EXPECT_TRUE(folderTakesSaves(here, ""));
    EXPECT_TRUE(folderTakesSaves(here, data_));
    EXPECT_FALSE(folderTakesSaves(here, here));
    EXPECT_FALSE(folderTakesSaves(here + "/sub", here));
    EXPECT_FALSE(folderTakesSaves(here + "/missing", ""));
    EXPECT_TRUE(fs::is_empty(folder_ / "sub")); // the probe leaves nothing behind
}

TEST(SaveFolderName, IsStableReadableAndKeepsGamesApart) {
    // A saved game is found again only while this name never changes.
    EXPECT_EQ(saveFolderName("/usr/share/games/tolvane"), "tolvane-b40d1d2133954070");
    EXPECT_EQ(saveFolderName("/home/a/my game!/").substr(0, 9), "my_game_-");
    EXPECT_EQ(saveFolderName("/").substr(0, 5), "game-");
    EXPECT_NE(saveFolderName("/a/game"), saveFolderName("/b/game"));
}

TEST(UserSaveFolder, FollowsXdgDataHomeElseTheHomeFolder) {
    const std::string name = saveFolderName("/g/demo");
    {
        ScopedEnv xdg("XDG_DATA_HOME", "/x/data");
        EXPECT_EQ(userSaveFolder("/g/demo"), "/x/data/tolvane/" + name);
    }
    ScopedEnv home("HOME", "/home/player");
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/data"}) {
        ScopedEnv xdg("XDG_DATA_HOME", ignored);
        EXPECT_EQ(userSaveFolder("/g/demo"), "/home/player/.local/share/tolvane/" + name);
    }
}
