// The save file: what it keeps and the bound it keeps within, the files a load must refuse (and
// leave as they are), and the place that finds its page again after an author's edit.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/scene_number.h"
#include "player/player.h"
#include "player/save_file.h"
#include "script/script.h"

namespace fs = std::filesystem;

namespace {

Moment sampleMoment() {
    Moment m{};
    m.scene = kSceneGame;
    m.script.source = 12;
    m.script.revealPos = 4;
    m.script.charsPerLine = 25;
    m.script.textRunning = true;
    m.background = 2;
    m.music = 1;
    m.musicPlaying = 1;
    m.pointer = {{10, 10, 790, 590}, 100, 200, 2, 40, 40, {}, false};
    m.scenarioHash = scenarioIdentity();
    return m;
}

std::uint32_t noise(std::uint32_t& seed) {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
}

SaveRecord sampleRecord(int pages, int pageBytes, bool noisy) {
    SaveRecord r;
    r.savedAt = 1'800'000'000;
    r.preview = "雨が降っていた。";
    r.place = {0, "start", 3, 0, 40, 0x1234};
    r.moment = sampleMoment();
    std::uint32_t seed = 7;
    for (int p = 0; p < pages; ++p) {
        std::vector<std::uint8_t> page(static_cast<std::size_t>(pageBytes));
        for (std::uint8_t& b : page)
            b = noisy ? static_cast<std::uint8_t>(noise(seed)) : static_cast<std::uint8_t>(p);
        r.backlog.push_back(page);
    }
    r.shown = {0x82, 0xA0};
    r.thumbnail.width = kThumbnailWidth;
    r.thumbnail.height = kThumbnailHeight;
    for (int i = 0; i < kThumbnailWidth * kThumbnailHeight; ++i)
        r.thumbnail.argb.push_back(noisy ? 0xFF000000u | noise(seed) : 0xFF204080u);
    return r;
}

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class SaveFolder : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tolvane-save-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        back_ = fs::current_path();
        fs::current_path(dir_);
        putBlockText(0, utf8ToSjis("*start\r\nあいう[l]\r\n").value());
        putBlockText(1, "");
    }
    void TearDown() override {
        fs::current_path(back_);
        fs::remove_all(dir_);
    }
    fs::path dir_, back_;
};

} // namespace

TEST(SaveFile, KeepsTheRecordAndStaysWithinItsBound) {
    // A small save keeps every page and the whole thumbnail (at 16 bits a pixel).
    const SaveRecord small = sampleRecord(5, 300, false);
    const std::vector<std::uint8_t> bytes = encodeSave(small);
    SaveRecord back;
    std::string reason;
    ASSERT_TRUE(decodeSave(bytes, &back, &reason)) << reason;
    EXPECT_EQ(back.savedAt, small.savedAt);
    EXPECT_EQ(back.preview, small.preview);
    EXPECT_EQ(back.place.label, "start");
    EXPECT_EQ(back.place.lineOffset, 3);
    EXPECT_EQ(back.place.pageHash, 0x1234u);
    EXPECT_EQ(encodeMoment(back.moment), encodeMoment(small.moment));
    EXPECT_EQ(back.backlog, small.backlog);
    EXPECT_EQ(back.shown, small.shown);
    ASSERT_EQ(back.thumbnail.width, kThumbnailWidth);
    EXPECT_EQ(back.thumbnail.argb[0], 0xFF214184u); // 0x204080 through 5-6-5 bits

    // The most a save can hold, none of it compressible: the newest pages are kept, within 64 KB.
    const SaveRecord full = sampleRecord(kBacklogPages, 2000, true);
    const std::vector<std::uint8_t> fullBytes = encodeSave(full);
    EXPECT_LE(fullBytes.size(), kMaxSaveBytes);
    ASSERT_TRUE(decodeSave(fullBytes, &back, &reason)) << reason;
    ASSERT_FALSE(back.backlog.empty());
    EXPECT_EQ(back.backlog.back(), full.backlog.back());
    EXPECT_EQ(encodeMoment(back.moment), encodeMoment(full.moment));
}

TEST_F(SaveFolder, FilesALoadMustRefuseAreShownAndLeftAsTheyAre) {
    const std::vector<std::uint8_t> good = encodeSave(sampleRecord(3, 100, false));
    auto with = [&good](std::size_t at, std::uint8_t v) {
        std::vector<std::uint8_t> b = good;
        b[at] = v;
        return b;
    };
    auto cut = [&good](std::size_t n) {
        return std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n));
    };
    std::vector<std::uint8_t> longer = good;
    longer.push_back(0);
    const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0};
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        SlotState state;
        const char* reason;
    } cases[] = {
        {"zero-length", {}, SlotState::Damaged, "empty"},
        {"cut inside the header", cut(10), SlotState::Damaged, "cut short"},
        {"cut inside the body", cut(good.size() - 5), SlotState::Damaged, "cut short"},
        {"a byte after its end", longer, SlotState::Damaged, "after its end"},
        {"a flipped body byte", with(good.size() - 3, good[good.size() - 3] ^ 0x55),
         SlotState::Damaged, "damaged"},
        {"a newer version", with(8, 2), SlotState::Newer, "newer version"},
        {"a version field of junk", with(11, 0x64), SlotState::Damaged, "version field"},
        {"another kind of file", png, SlotState::Damaged, "another kind"},
        {"an inflated length past the bound", with(19, 0x7F), SlotState::Damaged, "bound"},
        {"over 64 KB", std::vector<std::uint8_t>(kMaxSaveBytes + 1, 'T'), SlotState::Damaged,
         "bound"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(slotFileName(1), c.bytes);
        const fs::file_time_type before = fs::last_write_time(slotFileName(1));
        const SlotInfo info = readSlot(1);
        EXPECT_EQ(info.state, c.state);
        EXPECT_NE(info.reason.find(c.reason), std::string::npos) << info.reason;
        EXPECT_EQ(bytesOf(slotFileName(1)), c.bytes);
        EXPECT_EQ(fs::last_write_time(slotFileName(1)), before);
    }

    // A folder by a slot's name is refused, and a save to it fails with its reason.
    fs::create_directory(slotFileName(2));
    EXPECT_EQ(readSlot(2).state, SlotState::Damaged);
    EXPECT_NE(writeSlot(2, sampleRecord(1, 10, false)), "");
    EXPECT_TRUE(fs::is_directory(slotFileName(2)));

    // A good file loads; one of a scenario that holds neither its page nor its label is foreign.
    EXPECT_EQ(writeSlot(3, sampleRecord(1, 10, false)), "");
    EXPECT_EQ(readSlot(3).state, SlotState::Ready);
    putBlockText(0, utf8ToSjis("*elsewhere\r\nかきく[l]\r\n").value());
    const SlotInfo foreign = readSlot(3);
    EXPECT_EQ(foreign.state, SlotState::Foreign);
    EXPECT_NE(foreign.reason.find("another game"), std::string::npos);
    EXPECT_EQ(readSlot(4).state, SlotState::Empty);
}

TEST(SaveSlot, NamesOnTheCommandLine) {
    EXPECT_EQ(parseSlotName("1"), 1);
    EXPECT_EQ(parseSlotName("60"), 60);
    EXPECT_EQ(parseSlotName("quick"), kQuickSlot);
    EXPECT_EQ(parseSlotName("quit"), kQuitSlot);
    for (const char* bad : {"0", "61", "-1", "1x", "", " 1", "Quick"})
        EXPECT_FALSE(parseSlotName(bad)) << bad;
    EXPECT_EQ(slotFileName(7), "Save07.sav");
    EXPECT_EQ(slotFileName(kQuitSlot), "QuitSave.sav");
}

namespace {

// The scenario's Shift-JIS for a UTF-8 text.
std::string sjis(const std::string& utf8) {
    return utf8ToSjis(utf8).value();
}

// The page that begins at `text`'s byte `at`, in block 0.
SavePlace placeAt(const std::string& text, std::size_t at) {
    putBlockText(0, text);
    g_script.currentBlock = 0;
    g_script.source = static_cast<std::int32_t>(at);
    return currentPlace();
}

} // namespace

TEST(SavePlace, FindsItsPageThroughAnEdit) {
    const std::string page = sjis("かきくけこ[l]\r\nさしす[ct]");
    const std::string before =
        sjis("*start\r\nあいう[ct]\r\n*middle|\r\nたち[l]\r\n") + page + "\r\n";
    const SavePlace place = placeAt(before, before.find(sjis("かきく")));
    EXPECT_EQ(place.label, "middle");
    EXPECT_EQ(place.lineOffset, 2);
    EXPECT_EQ(place.length, static_cast<std::int32_t>(page.size()));

    struct Case {
        const char* what;
        std::string after;
        bool found;
        bool samePage;
        std::string at; // where the page starts again: the text that follows
    } cases[] = {
        {"lines added above the label",
         "*start\r\nあ[l]\r\nい[l]\r\nう[ct]\r\n*middle|\r\nたち[l]\r\nかきくけこ[l]\r\nさしす[ct]"
         "\r\n",
         true, true, "かきく"},
        {"the line above the page edited",
         "*start\r\nあいう[ct]\r\n*middle|\r\nたちつてと[l]\r\nかきくけこ[l]\r\nさしす[ct]\r\n",
         true, true, "かきく"},
        {"moved under another label",
         "*other\r\nかきくけこ[l]\r\nさしす[ct]\r\n*middle|\r\nたち[l]\r\n", true, true, "かきく"},
        {"the page itself edited",
         "*start\r\nあいう[ct]\r\n*middle|\r\nたち[l]\r\nかきく[l]\r\nさしす[ct]\r\n", true, false,
         "たち"},
        {"the page and its label gone", "*start\r\nあいう[ct]\r\n", false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string after = sjis(c.after);
        putBlockText(0, after);
        const std::optional<FoundPlace> found = findPlace(place);
        ASSERT_EQ(found.has_value(), c.found);
        if (!found) continue;
        EXPECT_EQ(found->samePage, c.samePage);
        EXPECT_EQ(static_cast<std::size_t>(found->source), after.find(sjis(c.at)));
    }
}
