#include "sound/sound_files.h"

#include "base/files.h"

std::span<const std::string_view> soundStandIns(bool isMusic) {
    if (isMusic) return kMusicStandIns;
    return kEffectStandIns;
}

std::string soundFileInUse(std::string_view gamePath, bool isMusic) {
    return fileInUse(gamePath, isMusic ? ".mid" : ".wav", soundStandIns(isMusic));
}
