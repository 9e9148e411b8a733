// Where music's files are found, the same in every build: the sound fonts of the native
// synthesiser, and the names under which the author's tool stores each piece rendered ahead of
// time for the browser. No SDL here: the tool links it without opening sound.
#include "sound/midi_synth.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {
// The General MIDI sound font for the synthesiser, first found wins.
constexpr std::array<const char*, 2> kGeneralMidiFonts = {
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/default-GM.sf2",
};

bool isFile(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}
} // namespace

SoundFontChoice chooseSoundFonts() {
    SoundFontChoice choice;
    const char* fromEnvironment = std::getenv("SDL_SOUNDFONTS");
    if (fromEnvironment && *fromEnvironment) {
        choice.fonts = fromEnvironment;
        choice.fromEnvironment = true;
        std::string_view rest = choice.fonts;
        while (!rest.empty() && !choice.found) {
            const std::size_t end = std::min(rest.find_first_of(":;"), rest.size());
            choice.found = isFile(std::string(rest.substr(0, end)));
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
        return choice;
    }
    for (const char* font : kGeneralMidiFonts) {
        if (!isFile(font)) continue;
        choice.fonts = font;
        choice.found = true;
        return choice;
    }
    for (const char* font : kGeneralMidiFonts)
        choice.fonts += (choice.fonts.empty() ? "" : ":") + std::string(font);
    return choice;
}

std::string renderedMidiName(std::span<const std::uint8_t> midi) {
    // 64-bit FNV-1a: fixed by its published constants, so the name never changes between
    // builds, compilers or machines.
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::uint8_t byte : midi) {
        hash ^= byte;
        hash *= 0x100000001b3u;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string name(16, '0');
    for (int k = 15; k >= 0; --k, hash >>= 4)
        name[k] = kDigits[hash & 0xF];
    return name + ".ogg";
}
