// The checkpoint reader: random "Data.sav" contents restored against a fixed scenario, then a
// few frames of play, through the [reset] that continues once more from the rewritten file.
//
// Input: the plain record. The file holds every byte + 30, as the engine writes it, so that
// the fuzzer's digits, spaces and label names land in the file as the engine reads them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_engine.h"

namespace {

constexpr int kFrames = 400;

// Labels of every kind the record can name: marked and not, in both blocks, an empty name,
// a name of the longest length, two alike, and one that a tag holds.
std::string block0() {
    const std::string a = "\x82\xa0"; // a two-byte character
    return ";fixed scenario\r\n" + a + a + "\r\n[jump 1 target=*cp]\r\n" + "*start\r\n" + a +
           "[image 1 layer=0 left=150 top=20]\r\n[reset]\r\n" + "*scene2|\r\n" + a + a +
           "[image 3 layer=base left=0 top=0][playbgm 1]\r\n[reset]\r\n" + "*scene2|second\r\n" +
           a + "\r\n" + "*|\r\n" + a + "\r\n[reset]\r\n" + "*" + std::string(255, 'n') + "|\r\n" +
           a + "[link target=*start]" + a + "[endlink]\r\n[s]\r\n" + "*bare\n" + a + "[reset]";
}

std::string block1() {
    const std::string a = "\x82\xa2";
    return "*cp|\r\n[image 1 layer=1 left=100 top=20]" + a + "\r\n[reset]\r\n" + "*last\r\n" + a +
           "[jump 0 target=*scene2]\r\n" + "[jump 0 target=*x]";
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string kBlock0 = block0();
    static const std::string kBlock1 = block1();

    fuzz::resetEngine();
    fuzz::putBlock(0, kBlock0);
    fuzz::putBlock(1, kBlock1);

    std::string stored(reinterpret_cast<const char*>(data), size);
    for (char& c : stored)
        c = static_cast<char>(static_cast<std::uint8_t>(c) + 30);
    if (std::FILE* f = std::fopen(std::string(kCheckpointPath).c_str(), "wb")) {
        std::fwrite(stored.data(), 1, stored.size(), f);
        std::fclose(f);
    }

    // A checkpoint was written in this run and [reset] armed the continue.
    g_script.saveWritten = true;
    g_script.continueGame = true;
    fuzz::titleInit();
    fuzz::gameInit();
    fuzz::checkInvariants();
    int games = 1;
    for (int frame = 0; frame < kFrames && games < 4; ++frame) {
        if (g_frameNo != kSceneGame) {
            fuzz::titleInit();
            fuzz::gameInit();
            ++games;
        } else {
            fuzz::gameFrame(0, frame % 16 < 8 ? 9 : -9, frame % 2 == 0);
        }
        fuzz::checkInvariants();
    }
    return 0;
}
