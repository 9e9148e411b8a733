// Screen pictures as PNG files: encoded in memory, then written through the checked output file,
// so that a full disk or an unwritable path is reported instead of passing unseen.
#include "render/png_file.h"

#include <SDL_image.h>

#include <vector>

#include "base/files.h"
#include "base/output_file.h"

namespace {

// An SDL stream that appends everything written to it to a byte vector.
size_t appendToVector(SDL_RWops* rw, const void* data, size_t size, size_t count) {
    auto* out = static_cast<std::vector<char>*>(rw->hidden.unknown.data1);
    const auto* bytes = static_cast<const char*>(data);
    out->insert(out->end(), bytes, bytes + size * count);
    return count;
}

int closeVectorStream(SDL_RWops* rw) {
    SDL_FreeRW(rw);
    return 0;
}

} // namespace

bool writePngFile(std::string_view path, SDL_Surface* surface) {
    const std::string systemName = systemPath(path);
    std::vector<char> png;
    SDL_RWops* rw = SDL_AllocRW();
    if (!rw) {
        reportOutputFailure(systemName, SDL_GetError());
        return false;
    }
    rw->write = appendToVector;
    rw->close = closeVectorStream;
    rw->hidden.unknown.data1 = &png;
    if (IMG_SavePNG_RW(surface, rw, 1) != 0) {
        reportOutputFailure(systemName,
                            std::string("cannot encode the picture: ") + IMG_GetError());
        return false;
    }
    return writeOutputFile(systemName, std::string_view(png.data(), png.size()));
}
