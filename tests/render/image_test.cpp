// Picture decoding: the two forms, the size read from headers, and damaged or hostile files.
#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_image.h>

#include <cstring>

#include "imagelib/image.h"

namespace {

// A small picture with an alpha channel, encoded to a file image in memory by `save`.
std::vector<std::uint8_t> encode(int width, int height, std::uint32_t argb,
                                 int (*save)(SDL_Surface*, SDL_RWops*)) {
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, width, height, 32, SDL_PIXELFORMAT_ARGB8888);
    SDL_FillRect(s, nullptr, argb);
    std::vector<std::uint8_t> bytes(1 << 20);
    SDL_RWops* rw = SDL_RWFromMem(bytes.data(), static_cast<int>(bytes.size()));
    EXPECT_EQ(save(s, rw), 0) << SDL_GetError();
    bytes.resize(static_cast<std::size_t>(SDL_RWtell(rw)));
    SDL_RWclose(rw);
    SDL_FreeSurface(s);
    return bytes;
}
int savePng(SDL_Surface* s, SDL_RWops* rw) {
    return IMG_SavePNG_RW(s, rw, 0);
}
int saveJpg(SDL_Surface* s, SDL_RWops* rw) {
    return IMG_SaveJPG_RW(s, rw, 0, 90);
}
int saveBmp(SDL_Surface* s, SDL_RWops* rw) {
    return SDL_SaveBMP_RW(s, rw, 0);
}

TEST(Image, KeyedTexelsKeepSixteenBitColourAndOneBitAlpha) {
    struct Case {
        std::uint32_t in, out;
    };
    const Case cases[] = {
        {0xFFFF00FFu, 0x00000000u}, // the key: transparent black
        {0xFFFE00FFu, 0xFFFF00FFu}, // near the key: opaque, and after 5 bits equal to it
        {0xFFFFFFFFu, 0xFFFFFFFFu}, {0xFF000000u, 0xFF000000u},
        {0xFF6496C8u, 0xFF6394C6u}, // each channel on the nearest of 32 levels
        {0x7FFFFFFFu, 0x00000000u}, // mostly transparent in the file: transparent
        {0x80102030u, 0xFF102131u},
    };
    for (const Case& c : cases)
        EXPECT_EQ(keyedTexel(c.in), c.out) << std::hex << c.in;
}

TEST(Image, HeadersGiveTypeAndSize) {
    const auto png = encode(7, 5, 0xFF112233u, savePng);
    const auto jpg = encode(9, 3, 0xFF112233u, saveJpg);
    const auto bmp = encode(6, 4, 0xFF112233u, saveBmp);
    struct Case {
        const std::vector<std::uint8_t>& bytes;
        PictureType type;
        int w, h;
    };
    for (const Case& c : {Case{png, PictureType::Png, 7, 5}, Case{jpg, PictureType::Jpeg, 9, 3},
                          Case{bmp, PictureType::Bmp, 6, 4}}) {
        const PictureHeader h = readPictureHeader(c.bytes);
        EXPECT_EQ(h.type, c.type);
        EXPECT_EQ(h.width, c.w);
        EXPECT_EQ(h.height, c.h);
        Picture p;
        std::string error;
        ASSERT_TRUE(decodePicture(c.bytes, PictureForm::Plain, p, error)) << error;
        EXPECT_EQ(p.width, c.w);
        EXPECT_EQ(p.argb.size(), static_cast<std::size_t>(c.w * c.h));
    }
}

TEST(Image, WebPHeadersGiveTheSizeOfEachKindOfFrame) {
    using namespace std::literals;
    struct Case {
        std::string_view bytes; // lossless, extended (lossy with alpha) and lossy files
        int w, h;
    };
    const Case cases[] = {
        {"\x52\x49\x46\x46\x1e\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x4c\x11\x00\x00\x00\x2f"
         "\x03\xc0\x00\x00\x07\x50\xb3\xce\x34\xb3\xff\x81\x88\xe8\x7f\x00\x00"sv,
         4, 4},
        {"\x52\x49\x46\x46\x62\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x58\x0a\x00\x00\x00\x10"
         "\x00\x00\x00\x02\x00\x00\x04\x00\x00"sv,
         3, 5},
        {"\x52\x49\x46\x46\x3c\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x20\x30\x00\x00\x00\x10"
         "\x02\x00\x9d\x01\x2a\x05\x00\x03\x00"sv,
         5, 3},
    };
    for (const Case& c : cases) {
        const PictureHeader h = readPictureHeader(
            std::span(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()));
        EXPECT_EQ(h.type, PictureType::WebP);
        EXPECT_EQ(h.width, c.w);
        EXPECT_EQ(h.height, c.h);
    }
}

TEST(Image, ThePlainFormIsOpaqueAndTheKeyedFormKeepsOneBit) {
    const auto png = encode(2, 2, 0x40336699u, savePng); // a quarter opaque
    Picture plain, keyed;
    std::string error;
    ASSERT_TRUE(decodePicture(png, PictureForm::Plain, plain, error)) << error;
    ASSERT_TRUE(decodePicture(png, PictureForm::Keyed, keyed, error)) << error;
    for (std::uint32_t p : plain.argb)
        EXPECT_EQ(p, 0xFF336699u);
    for (std::uint32_t p : keyed.argb)
        EXPECT_EQ(p, 0u);
}

TEST(Image, DamagedAndHostileFilesAreRefusedWithAReason) {
    auto bmp = encode(4, 4, 0xFF112233u, saveBmp);
    auto png = encode(4, 4, 0xFF112233u, savePng);
    auto hugeBmp = bmp;
    const std::int32_t side = 100000;
    std::memcpy(&hugeBmp[18], &side, 4); // little-endian, as the file
    std::memcpy(&hugeBmp[22], &side, 4);
    auto hugePng = png;
    std::memset(&hugePng[16], 0xFF, 8);
    // The chunk after the header claims 800 MB: the decoder alone would read on at the end
    // without ever stopping.
    auto longChunkPng = png;
    longChunkPng[33] = 0x30;
    const std::vector<std::uint8_t> cases[] = {
        {},
        {'B', 'M'},
        {'G', 'I', 'F', '8', '9', 'a'},
        std::vector<std::uint8_t>(bmp.begin(), bmp.begin() + 40),
        std::vector<std::uint8_t>(png.begin(), png.begin() + png.size() / 2),
        hugeBmp,
        hugePng,
        longChunkPng,
        std::vector<std::uint8_t>(png.begin(), png.end() - 12), // no IEND
        {0xFF, 0xD8, 0xFF, 0xC0, 0x00},
    };
    for (const auto& bytes : cases) {
        Picture p;
        p.width = 1;
        std::string error;
        EXPECT_FALSE(decodePicture(bytes, PictureForm::Plain, p, error)) << bytes.size();
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(p.width, 1); // untouched
    }
    std::string error;
    Picture p;
    decodePicture(hugeBmp, PictureForm::Plain, p, error);
    EXPECT_NE(error.find("100000 x 100000"), std::string::npos) << error;
}

} // namespace
