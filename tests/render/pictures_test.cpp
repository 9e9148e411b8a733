// The picture set and the texture slots: the fixed loading order with its messages, reloads and
// releases, refused pictures, and the device's creation and release.
#include "render_fixture.h"

#include <array>
#include <filesystem>

#include "base/message.h"

using namespace rendertest;

namespace {

struct Row {
    const char* file; // as written into the temporary folder
    Texture* const* slot;
    const char* message;
};

// The thirteen pictures of the set, in the game's order.
const std::array<Row, 13> kRows = {{
    {"CG/背景0.bmp", &g_bgTex[0], "背景0.bmp の読み込み失敗"},
    {"CG/背景1.bmp", &g_bgTex[1], "背景1.bmp の読み込み失敗"},
    {"CG/背景2.bmp", &g_bgTex[2], "背景2.bmp の読み込み失敗"},
    {"CG/背景3.bmp", &g_bgTex[3], ".\\CG\\背景3.bmp の読み込み失敗"},
    {"CG/背景5.bmp", &g_bgTex[5], "背景5.bmp の読み込み失敗"},
    {"CG/背景6.bmp", &g_bgTex[6], ".\\CG\\背景6.bmp の読み込み失敗"},
    {"CG/背景7.bmp", &g_bgTex[7], ".\\CG\\背景7.bmp の読み込み失敗"},
    {"CG/立ち絵0.bmp", &g_charTex[0], "立ち絵0.bmp の読み込み失敗"},
    {"CG/立ち絵1.bmp", &g_charTex[1], "立ち絵1.bmp の読み込み失敗"},
    {"CG/テキスト背景.bmp", &g_textBoxTex, "テキスト背景.bmp の読み込み失敗"},
    {"CG/icon.bmp", &g_pointerTex, "icon.bmp の読み込み失敗"},
    {"CG/click.bmp", &g_clickTex, "click.bmp の読み込み失敗"},
    {"CG/選択背景.bmp", &g_choiceTex, "選択背景.bmp の読み込み失敗"},
}};

class Pictures : public ::testing::Test {
protected:
    void SetUp() override {
        if (!device.ready) GTEST_SKIP() << "no software renderer here";
        for (const Row& row : kRows)
            writeSolidBmp(row.file, 4, 4, 0x808080);
    }
    TempFolder folder;
    Device device{"software"};
};

TEST_F(Pictures, TheFirstMissingPictureShowsItsMessageOnceAndEndsTheSet) {
    for (std::size_t missing = 0; missing < kRows.size(); ++missing) {
        SCOPED_TRACE(kRows[missing].file);
        ASSERT_EQ(std::rename(kRows[missing].file, "aside.bmp"), 0);
        MessageLog log;
        loadImageSet();
        EXPECT_EQ(log.texts, std::vector<std::string>{kRows[missing].message});
        for (std::size_t k = 0; k < kRows.size(); ++k)
            EXPECT_EQ(*kRows[k].slot != nullptr, k < missing) << kRows[k].file;
        ASSERT_EQ(std::rename("aside.bmp", kRows[missing].file), 0);
        releaseImageTables();
        releaseFixedTextures();
    }
    EXPECT_EQ(liveTextureCount(), 0);
}

TEST_F(Pictures, TheWholeSetLoadsAndReloadsWithoutPilingUp) {
    MessageLog log;
    loadImageSet();
    EXPECT_TRUE(log.texts.empty());
    for (const Row& row : kRows)
        EXPECT_NE(*row.slot, nullptr) << row.file;
    for (int n : {4, 8, 9})
        EXPECT_EQ(g_bgTex[n], nullptr);
    for (int n = 2; n < 13; ++n)
        EXPECT_EQ(g_charTex[n], nullptr);
    EXPECT_EQ(liveTextureCount(), 13);

    loadImageSet(); // every entry into the game loads the set again
    EXPECT_EQ(liveTextureCount(), 13);

    releaseImageTables();
    for (const Texture* t : g_bgTex)
        EXPECT_EQ(t, nullptr);
    for (const Texture* t : g_charTex)
        EXPECT_EQ(t, nullptr);
    EXPECT_NE(g_textBoxTex, nullptr); // the single slots are the shut-down's to release
    EXPECT_EQ(liveTextureCount(), 4);
    releaseFixedTextures();
    EXPECT_EQ(liveTextureCount(), 0);
}

TEST_F(Pictures, AFailedLoadLeavesTheSlotAsItWas) {
    Texture* slot = nullptr;
    ASSERT_EQ(loadTexturePlain(".\\CG\\icon.bmp", slot), 0);
    Texture* held = slot;
    EXPECT_LT(loadTexturePlain(".\\CG\\none.bmp", slot), 0);
    EXPECT_EQ(slot, held);
    std::FILE* junk = std::fopen("CG/junk.bmp", "wb");
    ASSERT_NE(junk, nullptr);
    std::fputs("BM this is not a picture", junk);
    std::fclose(junk);
    EXPECT_LT(loadTextureKeyed(".\\CG\\junk.bmp", slot), 0);
    EXPECT_EQ(slot, held);
    std::filesystem::create_directory("CG/folder.bmp"); // a folder by a picture's name
    EXPECT_LT(loadTexturePlain(".\\CG\\folder.bmp", slot), 0);
    EXPECT_EQ(slot, held);
    releaseTexture(slot);
    EXPECT_EQ(slot, nullptr);
}

TEST_F(Pictures, APictureOverTheSizeLimitIsRefusedWithItsRowMessage) {
    writeSolidBmp("CG/背景0.bmp", kMaxPictureSide + 1, 2, 0x808080);
    MessageLog log;
    ::testing::internal::CaptureStderr();
    loadImageSet();
    const std::string diagnostics = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(log.texts, std::vector<std::string>{"背景0.bmp の読み込み失敗"});
    EXPECT_NE(diagnostics.find(std::to_string(kMaxPictureSide)), std::string::npos) << diagnostics;
    EXPECT_EQ(g_bgTex[0], nullptr);

    writeSolidBmp("CG/背景0.bmp", kMaxPictureSide, 1, 0x808080); // the limit itself is fine
    Texture* slot = nullptr;
    EXPECT_EQ(loadTexturePlain(".\\CG\\背景0.bmp", slot), 0);
    releaseTexture(slot);
}

TEST(GraphicsDevice, WithoutAWindowOnlyAHeadlessDeviceCanBeMade) {
    {
        MessageLog log;
        EXPECT_LT(createGraphicsDevice(), 0);
        EXPECT_EQ(log.texts, std::vector<std::string>{"DirectXデバイス生成失敗"});
        EXPECT_FALSE(graphicsReady());
        releaseGraphics(); // safe after a failed creation
    }
    ASSERT_EQ(createGraphicsDevice(GraphicsOptions{.headless = true}), 0);
    EXPECT_TRUE(graphicsReady());
    EXPECT_FALSE(presentWaitsForRetrace());
    EXPECT_GT(displayRefreshRate(), 0);
    beginFrame();
    ScreenQuad grey = quadAt(255, 0, 0, 10, 10);
    for (QuadVertex& v : grey.v)
        v.diffuse = 0xFF808080u;
    drawQuad(nullptr, grey);
    endFrame();
    std::vector<std::uint32_t> pixels(800 * 600);
    EXPECT_TRUE(readPixels(pixels.data(), 800 * 4));
    EXPECT_EQ(pixels[0], 0xFF808080u);
    EXPECT_EQ(pixels[10], 0xFFFFFFFFu);
    EXPECT_FALSE(readPixels(pixels.data(), 100)); // a pitch too small for a row
    {
        TempFolder folder;
        ASSERT_TRUE(saveScreenshot("shot.png"));
        Picture shot;
        std::string error;
        ASSERT_TRUE(loadPictureFile("shot.png", PictureForm::Plain, shot, error)) << error;
        EXPECT_TRUE(shot.argb == pixels);
    }
    releaseGraphics();
    releaseGraphics();
    EXPECT_FALSE(graphicsReady());
    EXPECT_FALSE(readPixels(pixels.data(), 800 * 4));
}

TEST(GraphicsDevice, OffscreenWindowsDoNotWaitForTheRetrace) {
    for (const char* driver : {"software", "opengl"}) {
        Device device(driver);
        if (!device.ready) continue;
        EXPECT_FALSE(presentWaitsForRetrace()) << driver;
        EXPECT_EQ(displayRefreshRate(), 60) << driver; // offscreen reports no rate
        resetGraphicsDevice();
        EXPECT_TRUE(graphicsReady());
    }
}

TEST(TextFont, AMissingFontIsNamedAndDrawsNothing) {
    TempFolder folder;
    Device device("software");
    ASSERT_TRUE(device.ready);
    static constexpr std::array<const char*, 1> kNoSuchFace = {"Tolvane No Such Face"};
    setTextFontPatterns(kNoSuchFace);
    ::testing::internal::CaptureStderr();
    createTextFont();
    EXPECT_FALSE(fontReady()); // the face is looked for when the text first needs it
    const std::string diagnostics = ::testing::internal::GetCapturedStderr();
    setTextFontPatterns({});
    EXPECT_NE(diagnostics.find("IPAGothic"), std::string::npos) << diagnostics;
    beginFrame();
    const auto text = sjis("漢字");
    drawText(text.data(), static_cast<int>(text.size()), Rect{0, 0, 800, 600}, 0xFF000000u);
    for (std::uint32_t p : readScreen())
        ASSERT_EQ(p, 0xFFFFFFFFu);
    createTextFont(); // the default faces again
    EXPECT_TRUE(fontReady());
}

} // namespace
