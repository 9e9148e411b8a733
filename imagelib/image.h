// Picture files turned into pixels: the image library behind the renderer's textures. Decodes
// BMP, PNG, JPEG and WebP into ARGB8888 in one of the two forms the game loads its pictures in.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The largest width or height accepted; larger pictures are refused before they are decoded.
// The game's pictures are 800 x 600; a side of 4096 keeps the largest picture's decoded forms
// (file, surface, pixels, texture) well under 256 MB together.
inline constexpr int kMaxPictureSide = 4096;

// Decoded pixels, ARGB8888 (alpha in the top byte), rows top to bottom without padding.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
};

// Plain: colours as in the file, every pixel opaque. Keyed: opaque magenta becomes fully
// transparent black, other colours keep 5 bits a channel and one bit of alpha. A picture that
// stands in for a BMP the game names (pictureFileInUse) and carries its own transparency (an
// alpha channel, a transparent palette entry) keeps its colours and its alpha as they are in
// either form: its author drew the edges it wants.
enum class PictureForm { Plain, Keyed };

enum class PictureType { Unknown, Bmp, Png, Jpeg, WebP };

// What the first bytes of a file say: its type and, when the header holds them, its size.
// width and height stay 0 when the header is cut short or does not give them.
struct PictureHeader {
    PictureType type = PictureType::Unknown;
    int width = 0;
    int height = 0;
};
PictureHeader readPictureHeader(std::span<const std::uint8_t> bytes);

// Decodes a whole file held in memory. False with a reason in `error` when the data is not a
// BMP, PNG, JPEG or WebP picture, is damaged, is larger than kMaxPictureSide either way, or (an
// uncompressed BMP) holds fewer pixel bytes than its header's size needs.
// With keepOwnAlpha, a picture that carries its own transparency keeps it as it is (above); a
// BMP never does, so that the game's own pictures show as they always have.
bool decodePicture(std::span<const std::uint8_t> bytes, PictureForm form, Picture& out,
                   std::string& error, bool keepOwnAlpha = false);

// The endings of the files that may stand in for a ".bmp" picture, in the order they are taken.
inline constexpr std::array<std::string_view, 4> kPictureStandIns = {".png", ".webp", ".jpg",
                                                                     ".jpeg"};

// The file that stands for a picture the game names: the name itself when it is there, else for a
// ".bmp" name the first of the same name ending in one of kPictureStandIns that is there. Empty
// when there is none.
std::string pictureFileInUse(std::string_view gamePath);

// Reads and decodes a picture named as the game names it (the file pictureFileInUse gives).
// False when the file is missing (error then says so) or cannot be decoded; `out` is left
// untouched on failure.
bool loadPictureFile(std::string_view gamePath, PictureForm form, Picture& out, std::string& error);

// One ARGB pixel as the keyed form stores it: 16-bit colour with a one-bit alpha.
std::uint32_t keyedTexel(std::uint32_t argb);
