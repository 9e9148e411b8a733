// Screen pictures as PNG (or BMP) files: encoded in memory, then written through the checked output
// file, so that a full disk or an unwritable path is reported instead of passing unseen.
#include "render/picture_file.h"

#include <SDL_image.h>

#include <algorithm>
#include <vector>

#include "base/files.h"
#include "base/output_file.h"

namespace {

// An SDL stream into a byte vector. BMP's writer goes back to fill in its header's sizes, so
// the stream has a position and can seek.
struct VectorStream {
    std::vector<char> bytes;
    std::size_t at = 0;
};

size_t writeToVector(SDL_RWops* rw, const void* data, size_t size, size_t count) {
    auto* out = static_cast<VectorStream*>(rw->hidden.unknown.data1);
    const auto* from = static_cast<const char*>(data);
    const std::size_t n = size * count;
    if (out->bytes.size() < out->at + n) out->bytes.resize(out->at + n);
    std::copy(from, from + n, out->bytes.begin() + static_cast<std::ptrdiff_t>(out->at));
    out->at += n;
    return count;
}

Sint64 seekInVector(SDL_RWops* rw, Sint64 offset, int whence) {
    auto* out = static_cast<VectorStream*>(rw->hidden.unknown.data1);
    const Sint64 base = whence == RW_SEEK_SET   ? 0
                        : whence == RW_SEEK_CUR ? static_cast<Sint64>(out->at)
                                                : static_cast<Sint64>(out->bytes.size());
    if (base + offset < 0) return -1;
    out->at = static_cast<std::size_t>(base + offset);
    return base + offset;
}

Sint64 sizeOfVector(SDL_RWops* rw) {
    return static_cast<Sint64>(static_cast<VectorStream*>(rw->hidden.unknown.data1)->bytes.size());
}

int closeVectorStream(SDL_RWops* rw) {
    SDL_FreeRW(rw);
    return 0;
}

} // namespace

bool encodePicture(SDL_Surface* surface, bool bmp, std::vector<char>* bytes, std::string* why) {
    VectorStream picture;
    SDL_RWops* rw = SDL_AllocRW();
    if (!rw) {
        *why = SDL_GetError();
        return false;
    }
    rw->write = writeToVector;
    rw->seek = seekInVector;
    rw->size = sizeOfVector;
    rw->close = closeVectorStream;
    rw->hidden.unknown.data1 = &picture;
    if ((bmp ? SDL_SaveBMP_RW(surface, rw, 1) : IMG_SavePNG_RW(surface, rw, 1)) != 0) {
        *why = std::string("cannot encode the picture: ") + IMG_GetError();
        return false;
    }
    *bytes = std::move(picture.bytes);
    return true;
}

bool writePictureFile(std::string_view path, SDL_Surface* surface) {
    const std::string systemName = systemPath(path);
    // A BMP is written at once; PNG's compression costs tens of milliseconds a picture.
    const bool bmp = path.size() >= 4 && (path.substr(path.size() - 4) == ".bmp" ||
                                          path.substr(path.size() - 4) == ".BMP");
    std::vector<char> bytes;
    std::string why;
    if (!encodePicture(surface, bmp, &bytes, &why)) {
        reportOutputFailure(systemName, why);
        return false;
    }
    return writeOutputFile(systemName, std::string_view(bytes.data(), bytes.size()));
}
