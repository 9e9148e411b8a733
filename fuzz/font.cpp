// The font subsetter, on any bytes as a font file.
//
// Input: the font file. A collection is cut at its second face.
// - A font that is cut down is whole (its checksums hold) and cutting it again to the same
//   characters gives the same bytes: every table the subsetter writes reads back as it wrote it.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz/fuzz_engine.h"
#include "tools/font_subset.h"

namespace {

std::uint32_t wordAt(std::span<const std::uint8_t> b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

bool checksumsHold(std::span<const std::uint8_t> font) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 4 <= font.size(); i += 4)
        sum += wordAt(font, i);
    return font.size() % 4 == 0 && sum == 0xB1B0AFBA;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const char32_t kChars[] = {U' ',  U'A',  U'B',  U'C',          U'D',     U'M',
                                      U'あ', U'漢', U'。', U'\U00020B9F', U'\uFE00'};
    const std::span<const std::uint8_t> font(data, size);
    const bool collection = size >= 4 && wordAt(font, 0) == 0x74746366; // "ttcf"
    std::string reason;
    const auto cut = subsetFont(font, collection ? 1 : 0, kChars, reason);
    FUZZ_CHECK(cut.has_value() == reason.empty());
    if (!cut) return 0;
    FUZZ_CHECK(checksumsHold(*cut));
    const auto again = subsetFont(*cut, 0, kChars, reason);
    FUZZ_CHECK(again && *again == *cut);
    return 0;
}
