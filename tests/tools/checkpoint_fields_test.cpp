#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "script/script.h"
#include "tools/checkpoint_fields.h"

namespace {

// A checkpoint file as stored, from its plain record padded with zero bytes to 500.
std::vector<std::uint8_t> storedFromPlain(std::string plain, std::size_t size = 500) {
    plain.resize(size, '\0');
    std::vector<std::uint8_t> out;
    for (char c : plain)
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) + 30));
    return out;
}

TEST(CheckpointFields, ReadsWhatTheEngineWrites) {
    g_script.currentBlock = 1;
    currentBackground = 3;
    for (PictureLayer& layer : g_layers)
        layer.visible = false;
    g_layers[0] = {{}, 1, true};
    g_layers[5] = {{}, 12, true};
    currentBgm = 1;
    std::array<std::uint8_t, kCheckpointSize> plain = makeCheckpointRecord("scene2");
    std::vector<std::uint8_t> stored;
    for (std::uint8_t b : plain)
        stored.push_back(static_cast<std::uint8_t>(b + 30));

    CheckpointFields f = readCheckpointFields(stored);
    EXPECT_TRUE(f.damage.empty()) << f.damage[0].message;
    EXPECT_EQ(f.block, 1);
    EXPECT_EQ(f.label, "scene2");
    EXPECT_EQ(f.background, 3);
    EXPECT_EQ(f.pictures, (std::vector<int>{1, 12}));
    EXPECT_EQ(f.music, 1);
    ASSERT_EQ(f.notes.size(), 1u); // picture 12 has no file
    EXPECT_EQ(f.notes[0].offset, 19u);
    EXPECT_EQ(formatCheckpointFields(f),
              "block       1 (Scenario/end1.qv_)\n"
              "label       scene2\n"
              "background  3\n"
              "layers      2: picture 1 on layer 0, picture 12 on layer 1\n"
              "music       1\n");
}

TEST(CheckpointFields, ShowsAJapaneseLabelAndNoMusic) {
    CheckpointFields f = readCheckpointFields(storedFromPlain("000 \x8C\x88\x82\xDF 05 0 00"));
    EXPECT_TRUE(f.damage.empty());
    EXPECT_EQ(f.label, "決め");
    EXPECT_TRUE(f.pictures.empty());
    EXPECT_NE(formatCheckpointFields(f).find("music       0 (none)"), std::string::npos);
}

struct Damage {
    std::string plain;
    std::size_t size;
    const char* field;
    std::size_t offset;
    const char* message; // a part of it
};

TEST(CheckpointFields, NamesTheDamagedFieldAndOffset) {
    const std::string good = "000 scene2 03 1 01 01";
    const Damage cases[] = {
        {"", 0, "block", 0, "the file ends inside this field"},
        {"0x0 scene2 03 1 01 01", 500, "block", 1, "0x78 'x' where a digit belongs"},
        {"002 scene2 03 1 01 01", 500, "block", 0, "block 2 does not exist"},
        {"000-scene2 03 1 01 01", 500, "space after block", 3, "where a space belongs"},
        {"000  03 1 01 01", 500, "label", 4, "the label name is empty"},
        {"000 scene2", 10, "label", 4, "no space ends the label name"},
        {"000 scene2 0A 1 01 01", 500, "background", 12, "0x41 'A'"},
        {"000 scene2 12 1 01 01", 500, "background", 11, "background 12 does not exist"},
        {"000 scene2 03 x 01 01", 500, "layer count", 14, "where a digit belongs"},
        {"000 scene2 03 2 01 13 01", 500, "picture 2 of 2", 19, "picture 13 does not exist"},
        {"000 scene2 03 1 01_01", 500, "space after picture 1 of 1", 18, "0x5F '_'"},
        {"000 scene2 03 1 01 0", 20, "music", 20, "the file ends inside this field"},
        {"000 scene2 03 1 01 9x", 500, "music", 20, "where a digit belongs"},
    };
    for (const Damage& c : cases) {
        CheckpointFields f = readCheckpointFields(storedFromPlain(c.plain, c.size));
        ASSERT_FALSE(f.damage.empty()) << c.plain;
        const CheckpointProblem& p = f.damage.back(); // a short file is told first
        EXPECT_EQ(p.field, c.field) << c.plain;
        EXPECT_EQ(p.offset, c.offset) << c.plain;
        EXPECT_NE(p.message.find(c.message), std::string::npos) << c.plain << ": " << p.message;
    }
}

// The continue takes any file whose record is whole, whatever its length; so does the tool.
TEST(CheckpointFields, AFileOfAnyLengthWithAWholeRecordIsRead) {
    const std::string record = "001 scene2 03 1 01 01";
    for (std::size_t size : {record.size(), std::size_t{300}, std::size_t{499}, std::size_t{501},
                             std::size_t{1024}, std::size_t{5000}}) {
        CheckpointFields f = readCheckpointFields(storedFromPlain(record, size));
        EXPECT_TRUE(f.damage.empty()) << size << ": " << f.damage[0].message;
        EXPECT_EQ(f.block, 1) << size;
        EXPECT_EQ(f.label, "scene2") << size;
        EXPECT_EQ(f.pictures, std::vector<int>{1}) << size;
        EXPECT_EQ(f.music, 1) << size;
    }
}

// Run in a game folder, the label is looked up in the scenario as the continue looks it up.
TEST(CheckpointFields, TheLabelIsLookedUpInTheGameFolder) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tolvane-save-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    CheckpointFields outside = readCheckpointFields(storedFromPlain("000 scene2 03 0 00"));
    EXPECT_FALSE(checkCheckpointLabel(dir.string(), outside)); // no scenario: nothing checked
    fs::create_directories(dir / "Scenario");
    auto put = [&](const char* name, std::string plain) {
        for (char& c : plain)
            c = static_cast<char>(scrambleScenarioByte(static_cast<std::uint8_t>(c)));
        std::ofstream(dir / "Scenario" / name, std::ios::binary) << plain;
    };
    put("scenario0.qv_", "[ct]\r\n*scene2|\r\nA\r\n");
    put("end1.qv_", "*owari|\r\nB\r\n");
    struct Case {
        const char* record;
        bool found;
    };
    const Case cases[] = {
        {"000 scene2 03 0 00", true},   {"001 owari 03 0 00", true},
        {"001 scene2 03 0 00", false}, // in the other block
        {"000 scene 03 0 00", false},  // a prefix of a label is no label
        {"000 nowhere 03 0 00", false},
    };
    for (const Case& c : cases) {
        CheckpointFields f = readCheckpointFields(storedFromPlain(c.record));
        ASSERT_TRUE(f.damage.empty()) << c.record;
        EXPECT_TRUE(checkCheckpointLabel(dir.string(), f)) << c.record;
        EXPECT_EQ(f.damage.empty(), c.found) << c.record;
        if (!c.found) {
            ASSERT_EQ(f.damage.size(), 1u) << c.record;
            EXPECT_EQ(f.damage[0].field, "label");
            EXPECT_NE(f.damage[0].message.find("is not in block"), std::string::npos);
        }
    }
    fs::remove_all(dir);
}

} // namespace
