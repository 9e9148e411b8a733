#include "sound/sound_files.h"

#include "base/files.h"

#include <cctype>
#include <cstdio>

namespace {
bool there(std::string_view path) {
    std::FILE* f = openGameFile(path, "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

bool sameEnding(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}
} // namespace

std::span<const std::string_view> soundStandIns(bool isMusic) {
    if (isMusic) return kMusicStandIns;
    return kEffectStandIns;
}

std::string soundFileInUse(std::string_view gamePath, bool isMusic) {
    if (there(gamePath)) return std::string(gamePath);
    const std::size_t slash = gamePath.find_last_of("\\/");
    const std::size_t dot = gamePath.rfind('.');
    const bool hasEnding =
        dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash);
    const std::string_view stem = hasEnding ? gamePath.substr(0, dot) : gamePath;
    const std::string_view ending = hasEnding ? gamePath.substr(dot) : std::string_view{};
    for (const std::string_view other : soundStandIns(isMusic)) {
        if (sameEnding(other, ending)) continue; // the name itself, not there
        const std::string path = std::string(stem) + std::string(other);
        if (there(path)) return path;
    }
    return {};
}
