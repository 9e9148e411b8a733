// Opens an empty buffer with each recorded-sound decoder: each must refuse it, and the program
// must link with the engine and its mixer.
#include <FLAC/stream_decoder.h>
#include <SDL_mixer.h>
#include <opusfile.h>
#include <vorbis/vorbisfile.h>

#include <cstdio>

int main() {
    OggVorbis_File vorbis;
    const bool vorbisRefused =
        ov_open_callbacks(nullptr, &vorbis, nullptr, 0, OV_CALLBACKS_NOCLOSE) != 0;
    int opusError = 0;
    const unsigned char empty[1] = {0};
    OggOpusFile* opus = op_open_memory(empty, 0, &opusError);
    FLAC__StreamDecoder* flac = FLAC__stream_decoder_new();
    const bool ok =
        vorbisRefused && opus == nullptr && flac != nullptr && Mix_Linked_Version() != nullptr;
    if (flac != nullptr) FLAC__stream_decoder_delete(flac);
    std::printf("decoders %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
