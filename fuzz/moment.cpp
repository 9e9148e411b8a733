// The moment reader: the input as a whole file, and as a body behind a header whose length and
// checksum agree with it, so that the fields are reached past the checksum. A moment read back
// is encoded again to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/fuzz_engine.h"
#include "player/moment.h"

namespace {

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void decodeAndCompare(std::span<const std::uint8_t> bytes) {
    Moment moment{};
    std::string reason;
    if (!decodeMoment(bytes, &moment, &reason)) {
        FUZZ_CHECK(!reason.empty());
        return;
    }
    const std::vector<std::uint8_t> again = encodeMoment(moment);
    FUZZ_CHECK(std::vector<std::uint8_t>(bytes.begin(), bytes.end()) == again);
}

} // namespace

// The reader touches no file; the work folder is every target's start, and links the support.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    decodeAndCompare(input);

    std::vector<std::uint8_t> file = {'T', 'V', 'M', 'O', 'M', 'E', 'N', 'T'};
    putLe32(file, kMomentVersion);
    putLe32(file, static_cast<std::uint32_t>(size));
    putLe32(file, static_cast<std::uint32_t>(::crc32(0L, data, static_cast<uInt>(size))));
    file.insert(file.end(), input.begin(), input.end());
    decodeAndCompare(file);
    return 0;
}
