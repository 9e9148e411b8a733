// Makes the formats game from the demo game's files: the same interface, a short scenario of its
// own, and pictures and sounds in the formats an author may give in place of BMP, MIDI and WAV.
//   make_formats_game DEMO_GAME_DIR GAME_DIR
// writes GAME_DIR/CG and GAME_DIR/Sound (the scenario is encoded by the build):
//   背景0.jpg    a JPEG background
//   背景1.webp   a lossy WebP background
//   立ち絵0.png  a character with its own alpha, soft at the edges
//   立ち絵1.png  a character on the magenta key, without alpha
//   brel_gm1.ogg the game's music in Ogg Vorbis
//   chime53.wav  an author's effect in slot 53
//   bell54.opus  an author's effect in slot 54, in Ogg Opus
// Every other picture and sound is the demo's own.
#include <SDL.h>
#include <SDL_image.h>
#include <webp/encode.h>

#include "support/recorded_encode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/music_render.h"

namespace fs = std::filesystem;

namespace {

bool writeBytes(const fs::path& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// The demo's picture, converted to `format`; null when it cannot be read.
SDL_Surface* loadAs(const fs::path& bmp, Uint32 format) {
    SDL_Surface* read = SDL_LoadBMP(bmp.c_str());
    if (!read) return nullptr;
    SDL_Surface* converted = SDL_ConvertSurfaceFormat(read, format, 0);
    SDL_FreeSurface(read);
    return converted;
}

bool saveJpeg(const fs::path& bmp, const fs::path& out) {
    SDL_Surface* s = loadAs(bmp, SDL_PIXELFORMAT_RGB24);
    const bool ok = s && IMG_SaveJPG(s, out.c_str(), 85) == 0;
    SDL_FreeSurface(s);
    return ok;
}

bool saveWebP(const fs::path& bmp, const fs::path& out) {
    SDL_Surface* s = loadAs(bmp, SDL_PIXELFORMAT_RGB24);
    if (!s) return false;
    std::uint8_t* encoded = nullptr;
    const std::size_t size = WebPEncodeRGB(static_cast<const std::uint8_t*>(s->pixels), s->w, s->h,
                                           s->pitch, 80, &encoded);
    const bool ok = size > 0 && writeBytes(out, encoded, size);
    WebPFree(encoded);
    SDL_FreeSurface(s);
    return ok;
}

bool isKey(const std::uint8_t* p) {
    return p[0] == 255 && p[1] == 0 && p[2] == 255;
}

// The figure with an alpha of its own: the share of figure pixels in the 5 x 5 square around
// each pixel, so that the outline fades over some four pixels; a pixel of the key that the fade
// reaches takes the colour of the nearest figure pixel, so that no magenta shows through.
bool saveSoftPng(const fs::path& bmp, const fs::path& out) {
    SDL_Surface* s = loadAs(bmp, SDL_PIXELFORMAT_RGBA32);
    if (!s) return false;
    const int w = s->w, h = s->h;
    auto* pixels = static_cast<std::uint8_t*>(s->pixels);
    const std::vector<std::uint8_t> source(pixels, pixels + static_cast<std::size_t>(s->pitch) * h);
    const auto at = [&](int x, int y) { return source.data() + y * s->pitch + x * 4; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int figure = 0, nearest = 1 << 30;
            const std::uint8_t* colour = nullptr;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx) {
                    const int sx = std::clamp(x + dx, 0, w - 1), sy = std::clamp(y + dy, 0, h - 1);
                    if (isKey(at(sx, sy))) continue;
                    ++figure;
                    if (dx * dx + dy * dy < nearest) {
                        nearest = dx * dx + dy * dy;
                        colour = at(sx, sy);
                    }
                }
            std::uint8_t* p = pixels + y * s->pitch + x * 4;
            if (colour) std::copy(colour, colour + 3, p);
            p[3] = static_cast<std::uint8_t>(isKey(at(x, y)) ? figure * 255 / 50
                                                             : 128 + figure * 127 / 25);
            if (!colour) p[0] = p[1] = p[2] = 0;
        }
    const bool ok = IMG_SavePNG(s, out.c_str()) == 0;
    SDL_FreeSurface(s);
    return ok;
}

bool saveKeyedPng(const fs::path& bmp, const fs::path& out) {
    SDL_Surface* s = loadAs(bmp, SDL_PIXELFORMAT_RGB24);
    const bool ok = s && IMG_SavePNG(s, out.c_str()) == 0;
    SDL_FreeSurface(s);
    return ok;
}

// Eight seconds of slow chords in stereo, which loop without a click: every partial makes whole
// cycles in the piece.
bool saveMusic(const fs::path& out) {
    constexpr int kSeconds = 8;
    constexpr double kPi = 3.14159265358979;
    const double chords[4][3] = {
        {220, 277.5, 330}, {196, 247.5, 294}, {174.5, 220, 261.5}, {196, 247, 293.5}};
    RenderedPiece piece;
    piece.samples.resize(static_cast<std::size_t>(kRenderRate) * kSeconds * kRenderChannels);
    for (long i = 0; i < piece.frames(); ++i) {
        const double t = static_cast<double>(i) / kRenderRate;
        const double* chord = chords[std::min(3, static_cast<int>(t / 2))];
        const double within = std::fmod(t, 2.0);
        const double envelope = std::min(1.0, within * 8) * std::min(1.0, (2.0 - within) * 8);
        double left = 0, right = 0;
        for (int k = 0; k < 3; ++k) {
            const double v = std::sin(2 * kPi * chord[k] * t);
            left += v * (k == 2 ? 0.5 : 1.0);
            right += v * (k == 0 ? 0.5 : 1.0);
        }
        piece.samples[2 * i] = static_cast<float>(0.12 * envelope * left);
        piece.samples[2 * i + 1] = static_cast<float>(0.12 * envelope * right);
    }
    std::string reason;
    const auto encoded = encodeOggVorbis(piece, kRenderQuality, reason);
    if (!encoded) std::fprintf(stderr, "make_formats_game: %s\n", reason.c_str());
    return encoded && writeBytes(out, encoded->data(), encoded->size());
}

// A small bell: a decaying tone with an overtone, at Opus's own rate.
bool saveBell(const fs::path& out) {
    constexpr int kRate = 48000;
    std::vector<float> samples(kRate * 6 / 10);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        samples[i] = static_cast<float>(std::exp(-t * 6) * (0.3 * std::sin(2 * M_PI * 1320 * t) +
                                                            0.1 * std::sin(2 * M_PI * 3960 * t)));
    }
    const std::vector<std::uint8_t> opus = encodeTestOpus(samples, 1, kRate);
    return !opus.empty() && writeBytes(out, opus.data(), opus.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_formats_game DEMO_GAME_DIR GAME_DIR\n");
        return 2;
    }
    const fs::path demo = argv[1], game = argv[2];
    std::error_code ec;
    for (const char* folder : {"CG", "Sound"}) {
        fs::remove_all(game / folder, ec);
        fs::create_directories(game / folder, ec);
        if (!ec) fs::copy(demo / folder, game / folder, ec);
        if (ec) {
            std::fprintf(stderr, "make_formats_game: cannot copy %s: %s\n", folder,
                         ec.message().c_str());
            return 1;
        }
    }
    const fs::path cg = game / "CG", sound = game / "Sound";
    struct Step {
        const char* what;
        bool done;
    } steps[] = {
        {"CG/背景0.jpg", saveJpeg(cg / "背景0.bmp", cg / "背景0.jpg")},
        {"CG/背景1.webp", saveWebP(cg / "背景1.bmp", cg / "背景1.webp")},
        {"CG/立ち絵0.png", saveSoftPng(cg / "立ち絵0.bmp", cg / "立ち絵0.png")},
        {"CG/立ち絵1.png", saveKeyedPng(cg / "立ち絵1.bmp", cg / "立ち絵1.png")},
        {"Sound/brel_gm1.ogg", saveMusic(sound / "brel_gm1.ogg")},
        {"Sound/chime53.wav", fs::copy_file(sound / "start52.wav", sound / "chime53.wav", ec)},
        {"Sound/bell54.opus", saveBell(sound / "bell54.opus")},
    };
    for (const Step& step : steps)
        if (!step.done) {
            std::fprintf(stderr, "make_formats_game: cannot write %s: %s\n", step.what,
                         SDL_GetError());
            return 1;
        }
    // The files the new ones stand in for go, so that the game reads the new ones.
    for (const fs::path& replaced : {cg / "背景0.bmp", cg / "背景1.bmp", cg / "立ち絵0.bmp",
                                     cg / "立ち絵1.bmp", sound / "brel_gm1.mid"})
        fs::remove(replaced, ec);
    return 0;
}
