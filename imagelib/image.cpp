#include "imagelib/image.h"

#include <SDL.h>
#include <SDL_image.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "base/files.h"

namespace {

// A picture of the largest accepted size as 32-bit pixels, plus room for headers and palettes;
// anything longer cannot be a picture this engine takes and is not read into memory.
constexpr long kMaxFileBytes = long{kMaxPictureSide} * kMaxPictureSide * 4 + (1 << 20);

std::uint32_t le16(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}
std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return le16(b, at) | (le16(b, at + 2) << 16);
}
std::uint32_t be16(std::span<const std::uint8_t> b, std::size_t at) {
    return (b[at] << 8) | b[at + 1];
}
std::uint32_t be32(std::span<const std::uint8_t> b, std::size_t at) {
    return (be16(b, at) << 16) | be16(b, at + 2);
}

// Header sizes can be anything a file claims; keep them in int without wrapping.
int clampSide(std::int64_t v) {
    if (v < 0) v = -v;
    return static_cast<int>(std::min<std::int64_t>(v, INT_MAX));
}

void readBmpSize(std::span<const std::uint8_t> b, PictureHeader& h) {
    if (b.size() < 18) return;
    const std::uint32_t infoSize = le32(b, 14);
    if (infoSize == 12) { // the old OS/2 header keeps 16-bit sizes
        if (b.size() < 22) return;
        h.width = clampSide(le16(b, 18));
        h.height = clampSide(le16(b, 20));
    } else {
        if (b.size() < 26) return;
        h.width = clampSide(static_cast<std::int32_t>(le32(b, 18)));
        // Negative heights mark top-down rows; the size is the magnitude.
        h.height = clampSide(static_cast<std::int32_t>(le32(b, 22)));
    }
}

void readJpegSize(std::span<const std::uint8_t> b, PictureHeader& h) {
    std::size_t i = 2;
    while (i + 1 < b.size()) {
        if (b[i] != 0xFF) return; // not at a marker: damaged, let the decoder say so
        while (i < b.size() && b[i] == 0xFF)
            ++i;
        if (i >= b.size()) return;
        const std::uint8_t m = b[i++];
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD8)) continue; // markers without a length
        if (m == 0xD9 || m == 0xDA) return;                  // end or scan before any frame
        if (i + 2 > b.size()) return;
        const std::size_t length = be16(b, i);
        if (length < 2) return;
        const bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (frame) {
            if (i + 7 > b.size()) return;
            h.height = clampSide(be16(b, i + 3));
            h.width = clampSide(be16(b, i + 5));
            return;
        }
        i += length;
    }
}

// An uncompressed BMP must hold every row its header promises: the decoder makes the whole
// picture before it reads a row, so a header alone must not cost the memory of its size.
// Empty when the data suffices (or the rows are compressed); else why not.
std::string bmpDataShortfall(std::span<const std::uint8_t> b, const PictureHeader& h) {
    if (b.size() < 30 || h.width <= 0 || h.height <= 0) return {}; // the decoder refuses it
    const std::uint32_t dataOffset = le32(b, 10);
    const std::uint32_t infoSize = le32(b, 14);
    std::uint32_t bits = 0, compression = 0;
    if (infoSize == 12) {
        bits = le16(b, 24);
    } else {
        if (b.size() < 34) return {};
        bits = le16(b, 28);
        compression = le32(b, 30);
    }
    // 0: plain rows, 3 and 6: plain rows with bit masks; the run-length forms can fill any
    // picture from a few bytes and are bounded by the size limit alone.
    if (compression != 0 && compression != 3 && compression != 6) return {};
    const std::uint64_t rowBytes =
        (std::uint64_t{static_cast<std::uint32_t>(h.width)} * bits + 31) / 32 * 4;
    const std::uint64_t needed = rowBytes * static_cast<std::uint32_t>(h.height);
    const std::uint64_t held = dataOffset < b.size() ? b.size() - dataOffset : 0;
    if (held >= needed) return {};
    return "the file holds " + std::to_string(held) + " bytes of pixels where a " +
           std::to_string(h.width) + " x " + std::to_string(h.height) + " picture of " +
           std::to_string(bits) + " bits needs " + std::to_string(needed);
}

// WebP's size is in its first chunk: the extended header's canvas, or the lossless or lossy
// frame's own.
void readWebPSize(std::span<const std::uint8_t> b, PictureHeader& h) {
    if (b.size() < 30) return;
    const std::uint32_t chunk = be32(b, 12);
    if (chunk == 0x56503858u) { // "VP8X": 24-bit sizes less one
        h.width = clampSide(std::int64_t{le16(b, 24) | (b[26] << 16)} + 1);
        h.height = clampSide(std::int64_t{le16(b, 27) | (b[29] << 16)} + 1);
    } else if (chunk == 0x5650384Cu && b[20] == 0x2F) { // "VP8L": 14-bit sizes less one
        const std::uint32_t bits = le32(b, 21);
        h.width = clampSide(std::int64_t{bits & 0x3FFF} + 1);
        h.height = clampSide(std::int64_t{(bits >> 14) & 0x3FFF} + 1);
    } else if (chunk == 0x56503820u && b[23] == 0x9D && b[24] == 0x01 && b[25] == 0x2A) {
        h.width = clampSide(le16(b, 26) & 0x3FFF); // "VP8 ": after the frame's start code
        h.height = clampSide(le16(b, 28) & 0x3FFF);
    }
}

// Every chunk of a PNG must end inside the file, up to its last (IEND). The decoder, handed a
// chunk that claims more bytes than the file has, warns and reads on at the end of the data
// without end; a picture that does so would freeze the game's frame for good.
std::string pngStructureProblem(std::span<const std::uint8_t> b) {
    std::size_t at = 8;
    while (at + 8 <= b.size()) {
        const std::uint64_t length = be32(b, at);
        const std::string type(reinterpret_cast<const char*>(b.data() + at + 4), 4);
        if (at + 12 + length > b.size())
            return "its " + type + " chunk of " + std::to_string(length) +
                   " bytes runs past the end of the file";
        if (type == "IEND") return {};
        at += 12 + length;
    }
    return "the file ends before its last chunk";
}

std::uint8_t quantise5(std::uint32_t c) {
    const std::uint32_t c5 = (c * 31 + 127) / 255;
    return static_cast<std::uint8_t>((c5 << 3) | (c5 >> 2));
}

// The decoder of the type the header names, and no other: the image library's own guess from
// the bytes would hand a file to any decoder it has (an SVG, a TIFF) that finds its mark in it.
SDL_Surface* decodeAs(PictureType t, SDL_RWops* rw) {
    switch (t) {
    case PictureType::Bmp:
        return IMG_LoadBMP_RW(rw);
    case PictureType::Png:
        return IMG_LoadPNG_RW(rw);
    case PictureType::Jpeg:
        return IMG_LoadJPG_RW(rw);
    case PictureType::WebP:
        return IMG_LoadWEBP_RW(rw);
    case PictureType::Unknown:
        break;
    }
    return nullptr;
}

std::string sizeText(int w, int h) {
    return std::to_string(w) + " x " + std::to_string(h);
}

} // namespace

PictureHeader readPictureHeader(std::span<const std::uint8_t> b) {
    PictureHeader h;
    static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (b.size() >= 2 && b[0] == 'B' && b[1] == 'M') {
        h.type = PictureType::Bmp;
        readBmpSize(b, h);
    } else if (b.size() >= 8 && std::equal(kPng, kPng + 8, b.begin())) {
        h.type = PictureType::Png;
        if (b.size() >= 24) {
            h.width = clampSide(be32(b, 16));
            h.height = clampSide(be32(b, 20));
        }
    } else if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) {
        h.type = PictureType::Jpeg;
        readJpegSize(b, h);
    } else if (b.size() >= 12 && std::equal(b.begin(), b.begin() + 4, "RIFF") &&
               std::equal(b.begin() + 8, b.begin() + 12, "WEBP")) {
        h.type = PictureType::WebP;
        readWebPSize(b, h);
    }
    return h;
}

std::uint32_t keyedTexel(std::uint32_t argb) {
    if (argb == 0xFFFF00FFu) return 0;
    if ((argb >> 24) < 128) return 0;
    return 0xFF000000u | (std::uint32_t{quantise5((argb >> 16) & 0xFF)} << 16) |
           (std::uint32_t{quantise5((argb >> 8) & 0xFF)} << 8) | quantise5(argb & 0xFF);
}

bool decodePicture(std::span<const std::uint8_t> bytes, PictureForm form, Picture& out,
                   std::string& error, bool keepOwnAlpha) {
    const PictureHeader header = readPictureHeader(bytes);
    if (header.type == PictureType::Unknown) {
        error = "not a BMP, PNG, JPEG or WebP picture";
        return false;
    }
    auto tooLarge = [&](int w, int h) {
        error = "the picture is " + sizeText(w, h) + " pixels, larger than the limit of " +
                sizeText(kMaxPictureSide, kMaxPictureSide);
        return false;
    };
    // Refused from the header, so that a damaged or hostile size is never allocated.
    if (header.width > kMaxPictureSide || header.height > kMaxPictureSide)
        return tooLarge(header.width, header.height);
    if (header.type == PictureType::Bmp) {
        if (std::string shortfall = bmpDataShortfall(bytes, header); !shortfall.empty()) {
            error = "damaged picture: " + shortfall;
            return false;
        }
    }
    if (header.type == PictureType::Png) {
        if (std::string problem = pngStructureProblem(bytes); !problem.empty()) {
            error = "damaged picture: " + problem;
            return false;
        }
    }
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        error = "the file is too large";
        return false;
    }

    SDL_RWops* rw = SDL_RWFromConstMem(bytes.data(), static_cast<int>(bytes.size()));
    if (!rw) {
        error = SDL_GetError();
        return false;
    }
    SDL_Surface* decoded = decodeAs(header.type, rw);
    SDL_RWclose(rw);
    if (!decoded) {
        error = std::string("damaged picture: ") + IMG_GetError();
        return false;
    }
    if (decoded->w > kMaxPictureSide || decoded->h > kMaxPictureSide) {
        const int w = decoded->w, h = decoded->h;
        SDL_FreeSurface(decoded);
        return tooLarge(w, h);
    }
    const bool ownAlpha =
        keepOwnAlpha && header.type != PictureType::Bmp &&
        (SDL_ISPIXELFORMAT_ALPHA(decoded->format->format) || SDL_HasColorKey(decoded) ||
         (decoded->format->palette && SDL_ISPIXELFORMAT_INDEXED(decoded->format->format) &&
          std::any_of(decoded->format->palette->colors,
                      decoded->format->palette->colors + decoded->format->palette->ncolors,
                      [](const SDL_Color& c) { return c.a != SDL_ALPHA_OPAQUE; })));
    SDL_Surface* surface = SDL_ConvertSurfaceFormat(decoded, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(decoded);
    if (!surface) {
        error = SDL_GetError();
        return false;
    }
    if (surface->w <= 0 || surface->h <= 0) {
        SDL_FreeSurface(surface);
        error = "the picture has no pixels";
        return false;
    }

    Picture picture;
    picture.width = surface->w;
    picture.height = surface->h;
    picture.argb.resize(static_cast<std::size_t>(surface->w) * surface->h);
    SDL_LockSurface(surface);
    for (int y = 0; y < surface->h; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            static_cast<const std::uint8_t*>(surface->pixels) +
            static_cast<std::size_t>(y) * surface->pitch);
        std::uint32_t* dst = picture.argb.data() + static_cast<std::size_t>(y) * surface->w;
        for (int x = 0; x < surface->w; ++x)
            dst[x] = ownAlpha                     ? row[x]
                     : form == PictureForm::Plain ? (row[x] | 0xFF000000u)
                                                  : keyedTexel(row[x]);
    }
    SDL_UnlockSurface(surface);
    SDL_FreeSurface(surface);
    out = std::move(picture);
    return true;
}

std::string pictureFileInUse(std::string_view gamePath) {
    return fileInUse(gamePath, ".bmp", kPictureStandIns);
}

bool loadPictureFile(std::string_view gamePath, PictureForm form, Picture& out,
                     std::string& error) {
    const std::string inUse = pictureFileInUse(gamePath);
    const bool standIn = !inUse.empty() && inUse != gamePath;
    // The failures of a file standing in for the one named say which file was read.
    const auto failed = [&](std::string why) {
        error = standIn ? "read from " + systemPath(inUse) + ": " + why : std::move(why);
        return false;
    };
    std::FILE* f = inUse.empty() ? nullptr : openGameFile(inUse, "rb");
    if (!f) return failed("the file cannot be opened");
    std::vector<std::uint8_t> bytes;
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        return failed("the file cannot be read");
    }
    if (size > kMaxFileBytes) {
        std::fclose(f);
        return failed("the file is too large for a picture of at most " +
                      sizeText(kMaxPictureSide, kMaxPictureSide));
    }
    bytes.resize(static_cast<std::size_t>(size));
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (got != bytes.size()) return failed("the file cannot be read");
    std::string why;
    if (!decodePicture(bytes, form, out, why, standIn)) return failed(std::move(why));
    return true;
}
