// The save reader: the input as a whole file, and as a body deflated behind a header whose
// lengths and checksum agree with it, so that the fields are reached past the checksum. A save
// read back is written again to bytes that read back to the same record.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <zlib.h>

#include "fuzz/fuzz_engine.h"
#include "player/save_file.h"

namespace {

void putLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Decodes; a record read is encoded again, and that encoding reads back and encodes the same.
void decodeAndCompare(std::span<const std::uint8_t> bytes, bool madeByEncoder) {
    SaveRecord record;
    std::string reason;
    if (!decodeSave(bytes, &record, &reason)) {
        FUZZ_CHECK(!reason.empty());
        return;
    }
    const std::vector<std::uint8_t> again = encodeSave(record);
    FUZZ_CHECK(again.size() <= kMaxSaveBytes);
    if (madeByEncoder) FUZZ_CHECK(std::vector<std::uint8_t>(bytes.begin(), bytes.end()) == again);
    SaveRecord back;
    FUZZ_CHECK(decodeSave(again, &back, &reason));
    FUZZ_CHECK(encodeSave(back) == again);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    decodeAndCompare(input, false);

    // The input as the inflated body, deflated as the writer deflates it.
    uLongf stored = compressBound(static_cast<uLong>(size));
    std::vector<std::uint8_t> packed(stored);
    if (compress2(packed.data(), &stored, data, static_cast<uLong>(size), 6) != Z_OK) return 0;
    packed.resize(stored);
    std::vector<std::uint8_t> file = {'T', 'V', 'S', 'A', 'V', 'E', '0', '1'};
    putLe32(file, kSaveVersion);
    putLe32(file, static_cast<std::uint32_t>(stored));
    putLe32(file, static_cast<std::uint32_t>(size));
    putLe32(file, static_cast<std::uint32_t>(::crc32(0L, data, static_cast<uInt>(size))));
    file.insert(file.end(), packed.begin(), packed.end());
    if (file.size() <= kMaxSaveBytes) decodeAndCompare(file, true);
    return 0;
}
