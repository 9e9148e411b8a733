// The recorded sound decoders, on files made on the spot: each format gives back its tone, and
// every damaged file is refused with a reason, never read out of bounds.
#include "sound/recorded.h"
#include "support/recorded_encode.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <numbers>

namespace {
struct Closer {
    void operator()(RecordedDecoder* d) const { closeRecorded(d); }
};
using Decoder = std::unique_ptr<RecordedDecoder, Closer>;

// Everything the decoder gives, read in blocks of an odd size so that blocks and the stream's
// own frames never line up. Empty with the reason on failure.
std::vector<float> readAll(RecordedDecoder& d, std::string& reason, long block = 777) {
    std::vector<float> all, buffer(static_cast<std::size_t>(block * recordedChannels(d)));
    for (int calls = 0; calls < 100000; ++calls) {
        const long got = readRecorded(d, buffer.data(), block, reason);
        if (got < 0) return {};
        if (got == 0) return all;
        EXPECT_LE(got, block);
        all.insert(all.end(), buffer.begin(), buffer.begin() + got * recordedChannels(d));
    }
    ADD_FAILURE() << "the stream never ended";
    return {};
}

// Amplitude of one frequency in one channel (Goertzel), over the middle of the sound.
double toneLevel(const std::vector<float>& s, int channels, int channel, int rate,
                 double frequency) {
    const std::size_t frames = s.size() / static_cast<std::size_t>(channels);
    const std::size_t from = frames / 4, to = frames * 3 / 4;
    const double w = 2 * std::numbers::pi * frequency / rate;
    double s1 = 0, s2 = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double s0 =
            s[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)] +
            2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(to - from);
}

struct ToneCase {
    const char* name;
    RecordedFormat format;
    int channels;
    int rate;        // of the file made
    int decodedRate; // what the decoder gives
    std::function<std::vector<std::uint8_t>(std::span<const float>, int, int)> encode;
};

const ToneCase kToneCases[] = {
    {"vorbis mono", RecordedFormat::Vorbis, 1, 22050, 22050, encodeTestVorbis},
    {"vorbis stereo", RecordedFormat::Vorbis, 2, 44100, 44100, encodeTestVorbis},
    {"opus mono", RecordedFormat::Opus, 1, 48000, 48000, encodeTestOpus},
    {"opus stereo from 16 kHz", RecordedFormat::Opus, 2, 16000, 48000, encodeTestOpus},
    {"flac mono", RecordedFormat::Flac, 1, 8000, 8000,
     [](std::span<const float> s, int c, int r) { return encodeTestFlac(s, c, r); }},
    {"flac stereo", RecordedFormat::Flac, 2, 96000, 96000,
     [](std::span<const float> s, int c, int r) { return encodeTestFlac(s, c, r); }},
};
} // namespace

TEST(RecordedSound, EachFormatGivesItsToneAtItsRateChannelsLengthAndLevelAndRewinds) {
    constexpr double kSeconds = 0.5, kTone = 440.0, kLevel = 0.5;
    for (const ToneCase& c : kToneCases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> tone = testTone(kSeconds, kTone, kLevel, c.channels, c.rate);
        const std::vector<std::uint8_t> file = c.encode(tone, c.channels, c.rate);
        EXPECT_EQ(recordedFormatOf(file), c.format);
        std::string reason;
        Decoder d(openRecorded(file, reason));
        ASSERT_TRUE(d) << reason;
        EXPECT_EQ(recordedFormat(*d), c.format);
        EXPECT_EQ(recordedRate(*d), c.decodedRate);
        EXPECT_EQ(recordedChannels(*d), c.channels);
        const auto frames = static_cast<std::uint64_t>(kSeconds * c.decodedRate);
        EXPECT_EQ(recordedFrames(*d), frames);

        const std::vector<float> first = readAll(*d, reason);
        ASSERT_FALSE(first.empty()) << reason;
        EXPECT_EQ(first.size(), frames * static_cast<std::uint64_t>(c.channels));
        for (int ch = 0; ch < c.channels; ++ch)
            EXPECT_NEAR(toneLevel(first, c.channels, ch, c.decodedRate, kTone), kLevel, 0.05);
        float peak = 0;
        for (float v : first)
            peak = std::max(peak, std::abs(v));
        EXPECT_LT(peak, 0.6f) << "no clicks or wrong scaling";

        // Again from the start, for music that loops: the same samples.
        ASSERT_TRUE(rewindRecorded(*d));
        const std::vector<float> again = readAll(*d, reason, 1000);
        ASSERT_EQ(again.size(), first.size()) << reason;
        double largest = 0;
        for (std::size_t i = 0; i < first.size(); ++i)
            largest = std::max(largest, static_cast<double>(std::abs(first[i] - again[i])));
        EXPECT_LT(largest, 1e-6);
    }
}

TEST(RecordedSound, OtherFilesAreNoRecordedFormat) {
    const std::vector<std::vector<std::uint8_t>> others = {
        {},
        {'f', 'L', 'a'},
        {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'},
        {'M', 'T', 'h', 'd', 0, 0, 0, 6},
        {'O', 'g', 'g', 'S', 0, 2}, // a page cut short
    };
    for (const auto& bytes : others) {
        EXPECT_FALSE(recordedFormatOf(bytes));
        std::string reason;
        EXPECT_EQ(openRecorded(bytes, reason), nullptr);
        EXPECT_NE(reason.find("not Ogg Vorbis, Ogg Opus or FLAC"), std::string::npos);
    }
}

namespace {
// Where the first Ogg page's first packet begins.
std::size_t firstPacket(const std::vector<std::uint8_t>& b) {
    return 27 + std::size_t{b[26]};
}

std::vector<std::uint8_t> withOggByte(std::vector<std::uint8_t> b, std::size_t at, std::uint8_t v) {
    b[at] = v;
    resealOggPage(b, 0);
    return b;
}

void putLittle(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// FLAC's STREAMINFO packs rate (20 bits), channels - 1 (3), bits - 1 (5) and the total of
// samples (36) into the 8 bytes from 18.
std::vector<std::uint8_t> withFlacInfo(std::vector<std::uint8_t> b, std::uint64_t rate,
                                       std::uint64_t total) {
    std::uint64_t packed = 0;
    for (int i = 0; i < 8; ++i)
        packed = packed << 8 | b[18 + static_cast<std::size_t>(i)];
    packed = (rate << 44) | (packed & (0xFFull << 36)) | total;
    for (int i = 0; i < 8; ++i)
        b[18 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(packed >> (56 - 8 * i));
    return b;
}

// What the damaged file does: refused at open (with words of the reason), or opened and then
// refused by a read, or played out to its end; never a crash or a read past its bytes.
struct DamageCase {
    std::string name;
    std::vector<std::uint8_t> bytes;
    const char* openReason; // null when it may open
};

void expectRefusedOrPlayable(const DamageCase& c) {
    SCOPED_TRACE(c.name);
    std::string reason;
    Decoder d(openRecorded(c.bytes, reason));
    if (c.openReason) {
        ASSERT_FALSE(d);
        EXPECT_NE(reason.find(c.openReason), std::string::npos) << reason;
        return;
    }
    if (!d) {
        EXPECT_FALSE(reason.empty());
        return;
    }
    readAll(*d, reason);
    rewindRecorded(*d);
    readAll(*d, reason);
}
} // namespace

TEST(RecordedSound, DamagedFilesAreRefusedWithAReason) {
    const std::vector<float> tone = testTone(0.3, 440, 0.5, 1, 16000);
    const std::vector<std::uint8_t> vorbis = encodeTestVorbis(tone, 1, 16000);
    const std::vector<std::uint8_t> opus = encodeTestOpus(tone, 1, 16000);
    const std::vector<std::uint8_t> flac = encodeTestFlac(tone, 1, 16000);
    std::vector<DamageCase> cases;
    const auto cut = [](const std::vector<std::uint8_t>& b, std::size_t n) {
        return std::vector<std::uint8_t>(b.begin(), b.begin() + static_cast<long>(n));
    };
    for (const auto& [name, file] : {std::pair{"vorbis", vorbis}, {"opus", opus}, {"flac", flac}}) {
        const std::string n = name;
        cases.push_back({n + " cut in its header", cut(file, 40), nullptr});
        cases.push_back({n + " cut half-way", cut(file, file.size() / 2), nullptr});
        std::vector<std::uint8_t> wrongMagic = file;
        wrongMagic[1] ^= 0x20;
        cases.push_back({n + " wrong magic", wrongMagic, "not Ogg Vorbis, Ogg Opus or FLAC"});
        std::vector<std::uint8_t> scrambled = file;
        for (std::size_t i = scrambled.size() / 3; i < scrambled.size(); i += 7)
            scrambled[i] = static_cast<std::uint8_t>(scrambled[i] * 31 + 17);
        cases.push_back({n + " scrambled after its header", scrambled, nullptr});
    }
    const std::size_t vp = firstPacket(vorbis), op = firstPacket(opus);
    cases.push_back({"vorbis with 200 channels", withOggByte(vorbis, vp + 11, 200), "channels"});
    {
        std::vector<std::uint8_t> b = vorbis;
        putLittle(b, vp + 12, 1000000, 4);
        resealOggPage(b, 0);
        cases.push_back({"vorbis at 1 MHz", b, "rate of 1000000 Hz"});
        b = vorbis;
        putLittle(b, vp + 12, 4000, 4);
        resealOggPage(b, 0);
        cases.push_back({"vorbis at 4 kHz", b, "rate of 4000 Hz"});
    }
    cases.push_back({"opus with 9 channels, no mapping", withOggByte(opus, op + 9, 9), "Opus"});
    cases.push_back({"opus of version 16", withOggByte(opus, op + 8, 16), "version"});
    cases.push_back({"flac at 655 kHz", withFlacInfo(flac, 655350, 4800), "rate of 655350 Hz"});
    cases.push_back({"flac at 0 Hz", withFlacInfo(flac, 0, 4800), nullptr});
    {
        std::vector<std::uint8_t> b = flac;
        b[4] = 0x7F; // a block type that is not STREAMINFO, and the last
        cases.push_back({"flac without STREAMINFO", b, nullptr});
    }
    for (const DamageCase& c : cases)
        expectRefusedOrPlayable(c);

    // A tag some tools append after the last FLAC frame is skipped: the sound plays whole.
    std::vector<std::uint8_t> tagged = flac;
    tagged.insert(tagged.end(), {'T', 'A', 'G'});
    tagged.resize(tagged.size() + 125, ' ');
    std::string reason;
    Decoder d(openRecorded(tagged, reason));
    ASSERT_TRUE(d) << reason;
    EXPECT_EQ(readAll(*d, reason).size(), tone.size()) << reason;
}

TEST(RecordedSound, AHeaderClaimingHoursIsTakenAsALengthOnlyAndReadingStopsAtTheEnd) {
    // Long enough for several pages, so that the last page's granule is the end's alone.
    const std::vector<float> tone = testTone(3, 440, 0.5, 1, 48000);
    constexpr std::uint64_t kHours = 5ull * 3600 * 48000;
    std::vector<std::uint8_t> vorbis = encodeTestVorbis(tone, 1, 48000);
    putLittle(vorbis, lastOggPage(vorbis) + 6, kHours, 8);
    resealOggPage(vorbis, lastOggPage(vorbis));
    std::vector<std::uint8_t> opus = encodeTestOpus(tone, 1, 48000);
    putLittle(opus, lastOggPage(opus) + 6, kHours, 8);
    resealOggPage(opus, lastOggPage(opus));
    const std::vector<std::uint8_t> flac =
        withFlacInfo(encodeTestFlac(tone, 1, 48000), 48000, kHours);
    for (const auto& file : {vorbis, opus, flac}) {
        std::string reason;
        Decoder d(openRecorded(file, reason));
        ASSERT_TRUE(d) << reason;
        ASSERT_TRUE(recordedFrames(*d));
        EXPECT_GT(*recordedFrames(*d), 3600ull * 48000) << "the claim is passed on";
        const std::vector<float> all = readAll(*d, reason);
        // Without the end's trimming, the last packet is given whole.
        EXPECT_LE(all.size(), tone.size() + 4096) << "only what the file holds is read";
    }
}

// Vorbis keeps 5.1 as left, centre, right, back left, back right, low frequency; the decoder
// gives a WAV file's order (left, right, centre, low frequency, back left, back right), the
// order the device's conversion takes.
TEST(RecordedSound, SixVorbisChannelsComeInTheOrderOfAWavFile) {
    constexpr int kRate = 44100;
    const double tones[6] = {400, 1000, 1600, 2200, 2800, 200}; // by the file's own channel
    const std::size_t frames = kRate / 2;
    std::vector<float> file(frames * 6);
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < 6; ++c)
            file[i * 6 + static_cast<std::size_t>(c)] = static_cast<float>(
                0.3 * std::sin(2 * std::numbers::pi * tones[c] * static_cast<double>(i) / kRate));
    std::string reason;
    const std::vector<std::uint8_t> bytes = encodeTestVorbis(file, 6, kRate);
    Decoder d(openRecorded(bytes, reason));
    ASSERT_TRUE(d) << reason;
    const std::vector<float> all = readAll(*d, reason);
    ASSERT_EQ(all.size(), file.size()) << reason;
    const int fromFile[6] = {0, 2, 1, 5, 3, 4}; // WAV channel -> the file's
    for (int c = 0; c < 6; ++c) {
        EXPECT_GT(toneLevel(all, 6, c, kRate, tones[fromFile[c]]), 0.2) << "channel " << c;
        if (fromFile[c] != c) {
            EXPECT_LT(toneLevel(all, 6, c, kRate, tones[c]), 0.05) << "channel " << c;
        }
    }
}
