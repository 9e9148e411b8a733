// Pictures in an author's own formats standing in for the BMPs the game names: which file wins,
// and how each is drawn (soft edges by their alpha, the colour key on pictures without one).
#include "render_fixture.h"

#include <SDL_image.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

using namespace rendertest;
using namespace std::literals;

namespace {

// Lossless WebP files made for these tests: four pixels of 0x336699, and four of red at half
// alpha.
constexpr std::string_view kSolidWebP =
    "\x52\x49\x46\x46\x1e\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x4c\x11\x00\x00\x00\x2f\x03\xc0"
    "\x00\x00\x07\x50\xb3\xce\x34\xb3\xff\x81\x88\xe8\x7f\x00\x00"sv;
constexpr std::string_view kHalfRedWebP =
    "\x52\x49\x46\x46\x1c\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x4c\x0f\x00\x00\x00\x2f\x03\x00"
    "\x00\x10\x07\x10\xfd\x8f\xfe\x05\x22\xa2\xff\x01\x00"sv;

void writeFile(const std::string& name, std::string_view bytes) {
    std::filesystem::create_directories(std::filesystem::path(name).parent_path());
    std::FILE* f = std::fopen(name.c_str(), "wb");
    ASSERT_NE(f, nullptr) << name;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// A picture of `width` x 1 pixels, each given as 0xAARRGGBB, saved by SDL_image; rgbOnly drops
// the alpha channel from the file.
void writePicture(const std::string& name, const std::vector<std::uint32_t>& argb, bool jpeg,
                  bool rgbOnly = false) {
    std::filesystem::create_directories(std::filesystem::path(name).parent_path());
    const int width = static_cast<int>(argb.size());
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, width, 1, 32, SDL_PIXELFORMAT_ARGB8888);
    ASSERT_NE(s, nullptr);
    std::copy(argb.begin(), argb.end(), static_cast<std::uint32_t*>(s->pixels));
    SDL_Surface* saved = rgbOnly ? SDL_ConvertSurfaceFormat(s, SDL_PIXELFORMAT_RGB24, 0) : s;
    EXPECT_EQ(jpeg ? IMG_SaveJPG(saved, name.c_str(), 95) : IMG_SavePNG(saved, name.c_str()), 0)
        << IMG_GetError();
    if (saved != s) SDL_FreeSurface(saved);
    SDL_FreeSurface(s);
}

// Draws the background picture over the screen and the character picture over the top 100 lines,
// each source pixel 100 screen pixels wide, and reads the screen back.
std::vector<std::uint32_t> drawn(Texture* background, Texture* character) {
    beginFrame();
    drawQuad(background, quadAt(255, 0, 0, 800, 600));
    if (character) {
        drawQuad(character, quadAt(255, 0, 0, static_cast<float>(character->width * 100), 100));
    }
    std::vector<std::uint32_t> screen = readScreen();
    endFrame(); // lets go of the textures the frame drew
    return screen;
}

void expectNear(std::uint32_t got, std::uint32_t want, int tolerance, const std::string& what) {
    EXPECT_NEAR(red(got), red(want), tolerance) << what << std::hex << " got " << got;
    EXPECT_NEAR(green(got), green(want), tolerance) << what << std::hex << " got " << got;
    EXPECT_NEAR(blue(got), blue(want), tolerance) << what << std::hex << " got " << got;
}

class PictureFormats : public ::testing::Test {
protected:
    void SetUp() override {
        if (!device.ready) GTEST_SKIP() << "no software renderer here";
        writeSolidBmp("CG/背景0.bmp", 4, 4, 0x0000FF);
    }
    void TearDown() override {
        releaseImageTables();
        releaseFixedTextures();
        // The last frame drew them: an empty frame lets them go.
        beginFrame();
        endFrame();
    }
    TempFolder folder;
    Device device{"software"};
};

} // namespace

TEST_F(PictureFormats, TheBmpWinsThenPngWebPJpgAndJpegInThatOrder) {
    struct Case {
        std::vector<const char*> present;
        const char* wins; // empty: none
    };
    const Case cases[] = {
        {{".bmp", ".png", ".jpg"}, ".bmp"},
        {{".jpg", ".png"}, ".png"},
        {{".jpeg", ".webp"}, ".webp"},
        {{".jpeg", ".jpg"}, ".jpg"},
        {{".jpeg"}, ".jpeg"},
        {{".gif", ".tga"}, ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all("CG");
        for (const char* extension : c.present)
            writeFile(std::string("CG/立ち絵1") + extension, "x");
        const std::string want = *c.wins ? std::string(".\\CG\\立ち絵1") + c.wins : "";
        EXPECT_EQ(pictureFileInUse(".\\CG\\立ち絵1.bmp"), want) << c.present.size();
    }
    // A name the game gives in another form is taken as it is.
    writeFile("CG/title.png", "x");
    EXPECT_EQ(pictureFileInUse(".\\CG\\title.jpg"), "");
}

TEST_F(PictureFormats, EachFormatDrawsAsItsAlphaOrTheColourKeySays) {
    Texture* background = nullptr;
    ASSERT_EQ(loadTexturePlain(".\\CG\\背景0.bmp", background), 0);
    struct Case {
        const char* what;
        std::function<void()> write;     // writes CG/立ち絵0 in one format
        std::vector<std::uint32_t> want; // each pixel as drawn over the blue background
        int tolerance;
    };
    const Case cases[] = {
        {"a PNG with soft edges",
         [] {
             writePicture("CG/立ち絵0.png", {0x00FF0000u, 0x55FF0000u, 0xAAFF0000u, 0xFFFF00FFu},
                          false);
         },
         // Blended as its alpha says; the key's magenta, opaque in this file, stays magenta.
         {0xFF0000FFu, 0xFF5500AAu, 0xFFAA0055u, 0xFFFF00FFu},
         2},
        {"a PNG without alpha",
         [] {
             writePicture("CG/立ち絵0.png", {0xFFFF00FFu, 0xFF6496C8u}, false, true);
         },
         // Keyed as a BMP is: magenta shows what is under it, colours keep 5 bits.
         {0xFF0000FFu, 0xFF6394C6u},
         0},
        {"a JPEG",
         [] {
             writePicture("CG/立ち絵0.jpg", {0xFF336699u, 0xFF336699u}, true);
         },
         {0xFF31639Cu, 0xFF31639Cu},
         8},
        {"a WebP with half alpha",
         [] { writeFile("CG/立ち絵0.webp", kHalfRedWebP); },
         {0xFF80007Fu, 0xFF80007Fu, 0xFF80007Fu, 0xFF80007Fu},
         2},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all("CG/立ち絵0.png");
        std::filesystem::remove_all("CG/立ち絵0.jpg");
        std::filesystem::remove_all("CG/立ち絵0.webp");
        c.write();
        Texture* character = nullptr;
        ASSERT_EQ(loadTextureKeyed(".\\CG\\立ち絵0.bmp", character), 0) << c.what;
        const std::vector<std::uint32_t> screen = drawn(background, character);
        for (std::size_t i = 0; i < c.want.size(); ++i)
            expectNear(at(screen, static_cast<int>(i) * 100 + 50, 50), c.want[i], c.tolerance,
                       std::string(c.what) + ", pixel " + std::to_string(i));
        expectNear(at(screen, 50, 300), 0xFF0000FFu, 0, c.what); // the background below
        releaseTexture(character);
    }
    releaseTexture(background);
}

TEST_F(PictureFormats, AWebPBackgroundIsDrawnWhole) {
    writeFile("CG/背景1.webp", kSolidWebP);
    Texture* background = nullptr;
    ASSERT_EQ(loadTexturePlain(".\\CG\\背景1.bmp", background), 0);
    const std::vector<std::uint32_t> screen = drawn(background, nullptr);
    for (const auto& [x, y] : {std::pair{0, 0}, {799, 599}, {400, 300}})
        EXPECT_EQ(at(screen, x, y), 0xFF336699u) << x << "," << y;
    releaseTexture(background);
}

TEST_F(PictureFormats, ADamagedStandInFailsAsAMissingBmpWouldWithItsReason) {
    std::string png;
    {
        writePicture("CG/x.png", {0xFF336699u, 0xFF336699u}, false);
        std::FILE* f = std::fopen("CG/x.png", "rb");
        char buffer[4096];
        png.assign(buffer, std::fread(buffer, 1, sizeof buffer, f));
        std::fclose(f);
    }
    std::string hugeWebP(kSolidWebP);
    hugeWebP[21] = hugeWebP[22] = '\xFF'; // a lossless header of 16384 pixels a side
    hugeWebP[23] = hugeWebP[24] = '\xFF';
    const std::pair<const char*, std::string> cases[] = {
        {"CG/背景2.png", png.substr(0, png.size() / 2)},
        {"CG/背景2.webp", std::string(kSolidWebP.substr(0, 24))},
        {"CG/背景2.webp", hugeWebP},
        {"CG/背景2.jpg", "\xFF\xD8\xFF\xC0 cut short"},
        {"CG/背景2.png", "not a picture at all"},
    };
    for (const auto& [name, bytes] : cases) {
        std::filesystem::remove_all("CG");
        writeSolidBmp("CG/背景0.bmp", 4, 4, 0x0000FF);
        writeSolidBmp("CG/背景1.bmp", 4, 4, 0x0000FF);
        writeFile(name, bytes);
        MessageLog log;
        ::testing::internal::CaptureStderr();
        loadImageSet();
        const std::string diagnostics = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(log.texts, std::vector<std::string>{"背景2.bmp の読み込み失敗"}) << name;
        // The file that was read is named, and why it was refused.
        EXPECT_NE(diagnostics.find(std::string(name).substr(3)), std::string::npos) << diagnostics;
        EXPECT_EQ(g_bgTex[2], nullptr);
        releaseImageTables();
    }
}
