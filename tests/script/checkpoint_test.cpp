#include "engine_fixture.h"

#include <sys/stat.h>

using namespace fixture;

namespace {

std::string plainRecord() {
    const std::string bytes = readFile("Data.sav");
    std::string plain;
    for (char c : bytes)
        plain += static_cast<char>(c - 30);
    return plain;
}

void writeRecord(const std::string& plain) {
    std::string bytes = plain;
    for (char& c : bytes)
        c = static_cast<char>(c + 30);
    writeFile("Data.sav", bytes);
}

const std::string kBlock0 = "[ct]\r\n*scene2|\r\n\x82\xa0\r\n*other|\r\n\x82\xa2";

} // namespace

class Checkpoint : public GameFolderTest {};

TEST_F(Checkpoint, WritesTheRecordByteForByte) {
    currentBackground = 3;
    g_layers[0].visible = true;
    g_layers[0].imageNo = 1;
    currentBgm = 1;
    writeCheckpoint("scene2");
    EXPECT_TRUE(g_script.saveWritten);
    const std::string bytes = readFile("Data.sav");
    ASSERT_EQ(bytes.size(), 500u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0x4E); // '0' + 30
    EXPECT_EQ(static_cast<unsigned char>(bytes[3]), 0x3E); // ' ' + 30
    const std::string record = "000 scene2 03 1 01 01";
    EXPECT_EQ(plainRecord(), record + std::string(500 - record.size(), '\0'));
    EXPECT_FALSE(std::filesystem::exists("Data.sav.new"));
}

TEST_F(Checkpoint, RecordsVisibleLayersInOrderAndMusicAsTwoDigits) {
    struct Case {
        std::vector<std::pair<int, int>> layers; // layer, picture
        int bgm;
        std::string record;
    };
    const Case cases[] = {
        {{{0, 1}, {5, 12}}, -1, "001 x 07 2 01 12 00"},
        {{}, 0, "001 x 07 0 00"},
        {{{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9}},
         51,
         "001 x 07 9 00 01 02 03 04 05 06 07 08 51"},
    };
    for (const Case& c : cases) {
        resetEngine();
        g_script.currentBlock = 1;
        currentBackground = 7;
        currentBgm = c.bgm;
        for (auto [layer, picture] : c.layers) {
            g_layers[layer].visible = true;
            g_layers[layer].imageNo = picture;
        }
        const auto record = makeCheckpointRecord("x");
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data()), c.record.size() + 1),
                  c.record + '\0');
    }
}

TEST_F(Checkpoint, ContinueRestoresPlacePicturesAndMusic) {
    writeRecord("000 scene2 03 2 01 12 01");
    startFromMemory(kBlock0);
    g_layers[1].imageNo = 5;
    restoreCheckpoint();
    EXPECT_EQ(g_script.currentBlock, 0);
    EXPECT_EQ(pageBytes(0, 6), "\x82\xa0[l]\n");
    EXPECT_EQ(currentBackground, 3);
    EXPECT_TRUE(g_layers[0].visible);
    EXPECT_EQ(g_layers[0].imageNo, 1);
    EXPECT_TRUE(g_layers[1].visible); // the second listed picture goes to layer 1
    EXPECT_EQ(g_layers[1].imageNo, 12);
    EXPECT_EQ(g_layers[1].quad.v[0].x, 150.0f);
    EXPECT_EQ(currentBgm, 1);
    // The continue lands on the marked label and so writes the restored state again.
    EXPECT_TRUE(g_script.saveWritten);
    EXPECT_EQ(plainRecord().substr(0, 24), "000 scene2 03 2 01 12 01");
}

TEST_F(Checkpoint, MusicZeroStartsNoMusic) {
    writeRecord("000 other 00 0 00");
    startFromMemory(kBlock0);
    currentBgm = 1;
    restoreCheckpoint();
    EXPECT_EQ(currentBgm, -1);
    EXPECT_EQ(pageBytes(0, 2), "\x82\xa2");
}

TEST_F(Checkpoint, ADamagedCheckpointKeepsTheFreshGame) {
    struct Case {
        const char* what;
        std::optional<std::string> record; // nothing: no file at all
    };
    const Case cases[] = {
        {"missing", std::nullopt},
        {"empty", std::string()},
        {"short", std::string("000 scene2 03")},
        {"non-digit block", std::string("0x0 scene2 03 0 00")},
        {"non-digit background", std::string("000 scene2 0x 0 00")},
        {"block 7", std::string("007 scene2 03 0 00")},
        {"picture 13", std::string("000 scene2 03 1 13 00")},
        {"label not in the block", std::string("000 nowhere 03 0 00")},
        {"no space after the label", std::string("000 scene2")},
    };
    for (const Case& c : cases) {
        resetEngine();
        std::filesystem::remove("Data.sav");
        if (c.record) writeRecord(*c.record);
        startFromMemory(kBlock0);
        const auto page = g_page;
        restoreCheckpoint();
        EXPECT_EQ(g_script.source, 0) << c.what;
        EXPECT_EQ(g_page, page) << c.what;
        EXPECT_EQ(currentBackground, 0) << c.what;
        EXPECT_FALSE(g_layers[0].visible) << c.what;
        EXPECT_FALSE(g_script.saveWritten) << c.what;
        EXPECT_EQ(messages().size(), 1u) << c.what;
    }
}

TEST_F(Checkpoint, ALongerFileIsReadForItsRecord) {
    writeRecord("000 scene2 03 0 00" + std::string(600, '\0'));
    startFromMemory(kBlock0);
    restoreCheckpoint();
    EXPECT_EQ(currentBackground, 3);
}

TEST_F(Checkpoint, AFailedWriteKeepsThePreviousFileAndArmsNothing) {
    writeRecord("000 scene2 03 0 00");
    const std::string before = readFile("Data.sav");
    std::filesystem::create_directory("Data.sav.new"); // the new file cannot be made
    writeCheckpoint("other");
    EXPECT_FALSE(g_script.saveWritten);
    EXPECT_EQ(readFile("Data.sav"), before);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0], "Data.sav の書き込みに失敗");
}

// A link planted at the temporary name must not redirect the write: the link goes, the file
// it points at keeps its bytes, and the checkpoint lands in Data.sav.
TEST_F(Checkpoint, TheTemporaryFileNeverFollowsALink) {
    struct Case {
        const char* what;
        std::string target;
    };
    const std::string elsewhere = (folder_ / "elsewhere.txt").string();
    std::vector<Case> cases = {{"a file elsewhere", elsewhere},
                               {"a link to nowhere", (folder_ / "missing").string()}};
    if (std::filesystem::exists("/dev/full")) cases.push_back({"/dev/full", "/dev/full"});
    for (const Case& c : cases) {
        resetEngine();
        std::filesystem::remove("Data.sav");
        writeFile("elsewhere.txt", "keep me");
        std::filesystem::create_symlink(c.target, "Data.sav.new");
        currentBackground = 3;
        writeCheckpoint("scene2");
        EXPECT_EQ(readFile("elsewhere.txt"), "keep me") << c.what;
        EXPECT_FALSE(std::filesystem::exists(folder_ / "missing")) << c.what;
        EXPECT_TRUE(g_script.saveWritten) << c.what;
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status("Data.sav")))
            << c.what;
        EXPECT_EQ(plainRecord().substr(0, 18), "000 scene2 03 0 00") << c.what;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status("Data.sav.new")))
            << c.what;
        EXPECT_TRUE(messages().empty()) << c.what;
    }
}

// A checkpoint that is a link (the player keeps it elsewhere) is replaced through the link, and
// an unchanged record is recognised through it, not written again.
TEST_F(Checkpoint, ACheckpointThatIsALinkIsWrittenAndComparedThroughIt) {
    writeFile("kept.sav", "");
    std::filesystem::remove("Data.sav");
    std::filesystem::create_symlink("kept.sav", "Data.sav");
    auto inode = [] {
        struct stat st {};
        return ::stat("kept.sav", &st) == 0 ? st.st_ino : ino_t{0};
    };
    writeCheckpoint("scene2");
    const ino_t first = inode();
    writeCheckpoint("scene2");
    EXPECT_EQ(inode(), first) << "the unchanged record was written again";
    EXPECT_TRUE(std::filesystem::is_symlink("Data.sav"));
    EXPECT_EQ(readFile("kept.sav").size(), 500u);
    EXPECT_TRUE(messages().empty());
}

// The same record again is not written again while the file still holds it; any change to the
// record or to the file on disk writes it anew.
TEST_F(Checkpoint, TheSameRecordIsWrittenOnceWhileTheFileHoldsIt) {
    auto inode = [] {
        struct stat st {};
        return ::stat("Data.sav", &st) == 0 ? st.st_ino : ino_t{0};
    };
    writeCheckpoint("scene2");
    const ino_t first = inode();
    ASSERT_NE(first, 0u);
    for (int frame = 0; frame < 10; ++frame)
        writeCheckpoint("scene2");
    EXPECT_EQ(inode(), first) << "the unchanged record was written again";
    EXPECT_TRUE(g_script.saveWritten);

    struct Step {
        const char* what;
        void (*change)();
    };
    const Step steps[] = {
        {"another background", [] { currentBackground = 5; }},
        {"the file was removed", [] { std::filesystem::remove("Data.sav"); }},
        {"the file was changed", [] { writeFile("Data.sav", std::string(500, 'x')); }},
    };
    for (const Step& step : steps) {
        step.change();
        writeCheckpoint("scene2");
        EXPECT_EQ(plainRecord().substr(0, 13), "000 scene2 05") << step.what;
    }
}

// A write that keeps failing is shown once; once a write has succeeded, the next failure is
// shown again.
TEST_F(Checkpoint, AFailingWriteIsShownOnceUntilAWriteSucceeds) {
    std::filesystem::create_directory("Data.sav.new");
    for (int frame = 0; frame < 30; ++frame)
        writeCheckpoint("scene2");
    EXPECT_EQ(messages().size(), 1u);
    EXPECT_FALSE(g_script.saveWritten);

    std::filesystem::remove("Data.sav.new");
    writeCheckpoint("scene2");
    EXPECT_TRUE(g_script.saveWritten);
    EXPECT_EQ(messages().size(), 1u);

    std::filesystem::create_directory("Data.sav.new");
    currentBackground = 2;
    writeCheckpoint("scene2");
    writeCheckpoint("scene2");
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages()[1], "Data.sav の書き込みに失敗");
}

// Standard error gives the true reason a continue cannot read the file; the box keeps its text.
TEST_F(Checkpoint, TheReasonAContinueFailsIsTheTrueOne) {
    struct Case {
        const char* what;
        void (*make)();
        const char* reason;
    };
    const Case cases[] = {
        {"missing", [] {}, "Data.sav there is no such file"},
        {"a directory", [] { std::filesystem::create_directory("Data.sav"); },
         "Data.sav is a directory"},
        {"a pipe", [] { ::mkfifo("Data.sav", 0600); }, "Data.sav is not a regular file"},
        {"damaged", [] { writeRecord("0x0 scene2 03 0 00"); },
         "Data.sav is damaged at byte 1 (block)"},
        {"a bad picture", [] { writeRecord("000 scene2 03 1 13 00"); },
         "Data.sav is damaged at byte 16 (picture 1 of 1)"},
    };
    for (const Case& c : cases) {
        resetEngine();
        std::filesystem::remove_all("Data.sav");
        c.make();
        startFromMemory(kBlock0);
        ::testing::internal::CaptureStderr();
        restoreCheckpoint();
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.what << ": " << err;
        EXPECT_EQ(messages(), std::vector<std::string>{"Data.sav の読み込み失敗"}) << c.what;
    }
}

// A checkpoint that cannot replace Data.sav says why.
TEST_F(Checkpoint, TheReasonAWriteFailsIsTheTrueOne) {
    std::filesystem::create_directory("Data.sav");
    ::testing::internal::CaptureStderr();
    writeCheckpoint("scene2");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Is a directory"), std::string::npos) << err;
    EXPECT_EQ(err.find("No such file"), std::string::npos) << err;
    EXPECT_EQ(messages(), std::vector<std::string>{"Data.sav の書き込みに失敗"});
}
