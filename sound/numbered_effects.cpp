#include "sound/numbered_effects.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string_view>
#include <system_error>

#include "base/files.h"
#include "sound/sound_files.h"

namespace fs = std::filesystem;

namespace {

// The slot a file's name gives, or -1.
int slotOfName(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return -1;
    std::string extension(name.substr(dot));
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::find(kNumberedEffectEndings.begin(), kNumberedEffectEndings.end(), extension) ==
        kNumberedEffectEndings.end())
        return -1;
    const std::string_view stem = name.substr(0, dot);
    std::size_t digits = stem.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(stem[digits - 1])))
        --digits;
    const std::string_view number = stem.substr(digits);
    if (number.size() != 2) return -1; // 53 to 99 have two digits, and no leading zero
    const int slot = (number[0] - '0') * 10 + (number[1] - '0');
    return slot >= kFirstNumberedSlot && slot <= kLastNumberedSlot ? slot : -1;
}

} // namespace

std::vector<NumberedEffect> findNumberedEffects(const std::string& gameFolder) {
    std::error_code ec;
    const fs::path folder = fs::path(systemPath(gameFolder + "/Sound"));
    std::map<int, std::vector<std::string>> bySlot;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const int slot = slotOfName(name);
        std::error_code typeError;
        if (slot < 0 || !it->is_regular_file(typeError)) continue;
        bySlot[slot].push_back(name);
    }
    std::vector<NumberedEffect> effects;
    for (auto& [slot, names] : bySlot) {
        std::sort(names.begin(), names.end());
        NumberedEffect effect;
        effect.slot = slot;
        effect.file = "Sound/" + names.front();
        for (std::size_t i = 1; i < names.size(); ++i)
            effect.ignored.push_back("Sound/" + names[i]);
        effects.push_back(std::move(effect));
    }
    return effects;
}
