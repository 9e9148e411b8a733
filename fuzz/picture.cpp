// The picture decoder: any bytes, in both forms, with and without a picture's own alpha taken.
// What decodes must hold the pixels its size says, within the side limit, and a refusal says why.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "fuzz/fuzz_engine.h"
#include "imagelib/image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const PictureHeader header = readPictureHeader(input);
    FUZZ_CHECK(header.width >= 0 && header.height >= 0);
    for (const PictureForm form : {PictureForm::Plain, PictureForm::Keyed})
        for (const bool ownAlpha : {false, true}) {
            Picture picture;
            std::string error;
            if (!decodePicture(input, form, picture, error, ownAlpha)) {
                FUZZ_CHECK(!error.empty());
                FUZZ_CHECK(picture.argb.empty());
                continue;
            }
            FUZZ_CHECK(header.type != PictureType::Unknown);
            FUZZ_CHECK(picture.width > 0 && picture.width <= kMaxPictureSide);
            FUZZ_CHECK(picture.height > 0 && picture.height <= kMaxPictureSide);
            FUZZ_CHECK(picture.argb.size() ==
                       static_cast<std::size_t>(picture.width) * picture.height);
        }
    return 0;
}
