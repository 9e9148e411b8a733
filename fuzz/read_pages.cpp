// The read pages reader: the input as a whole file, and as entries behind a header whose count
// and checksum agree with them, so that the entries are reached past the checksum. Entries read
// back are written again to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/fuzz_engine.h"
#include "player/shared.h"

namespace {

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void decodeAndCompare(std::span<const std::uint8_t> bytes) {
    std::set<PageKey> pages;
    std::string reason;
    if (!decodeReadPages(bytes, &pages, &reason)) {
        FUZZ_CHECK(!reason.empty());
        return;
    }
    FUZZ_CHECK(std::vector<std::uint8_t>(bytes.begin(), bytes.end()) == encodeReadPages(pages));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    decodeAndCompare(input);

    const std::size_t entries = size / 12 * 12;
    std::vector<std::uint8_t> file = {'T', 'V', 'R', 'E', 'A', 'D', 'P', 'G'};
    putLe32(file, 1);
    putLe32(file, static_cast<std::uint32_t>(entries / 12));
    putLe32(file, static_cast<std::uint32_t>(::crc32(0L, data, static_cast<uInt>(entries))));
    file.insert(file.end(), data, data + entries);
    decodeAndCompare(file);
    return 0;
}
