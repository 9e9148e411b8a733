#include "sound/sound_fixtures.h"

#include "base/message.h"
#include "sound/sound.h"

#include <SDL_mixer.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <thread>
#include <unistd.h>

namespace {
void putLittle(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putBig(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void putVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t groups[5];
    int count = 0;
    groups[count++] = value & 0x7F;
    while (value >>= 7)
        groups[count++] = 0x80 | (value & 0x7F);
    while (count > 0)
        out.push_back(groups[--count]);
}

void collectMessage(std::string_view text) {
    shownMessages().emplace_back(text);
}

constexpr const char* kAudioVariables[] = {"SDL_AUDIODRIVER", "SDL_DISKAUDIOFILE",
                                           "SDL_SOUNDFONTS"};
} // namespace

std::vector<std::uint8_t> sineWav(double seconds, double frequency) {
    constexpr std::uint32_t kRate = 22050;
    const auto count = static_cast<std::uint32_t>(seconds * kRate);
    std::vector<std::uint8_t> out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    putLittle(out, 36 + count * 2, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putLittle(out, 16, 4);
    putLittle(out, 1, 2); // PCM
    putLittle(out, 1, 2); // mono
    putLittle(out, kRate, 4);
    putLittle(out, kRate * 2, 4);
    putLittle(out, 2, 2);
    putLittle(out, 16, 2);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    putLittle(out, count * 2, 4);
    for (std::uint32_t i = 0; i < count; ++i) {
        const double v = 16000.0 * std::sin(2 * std::numbers::pi * frequency * i / kRate);
        putLittle(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)), 2);
    }
    return out;
}

std::vector<std::uint8_t> standardMidi(std::span<const TestNote> notes, int endMs, int program,
                                       bool gmReset) {
    struct Event {
        int tick;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Event> events;
    events.push_back({0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}}); // 120 beats a minute
    if (gmReset) events.push_back({0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}});
    events.push_back({0, {0xC0, static_cast<std::uint8_t>(program)}});
    for (const TestNote& n : notes) {
        const auto key = static_cast<std::uint8_t>(n.key);
        events.push_back({n.startMs / 5, {0x90, key, 100}});
        events.push_back({(n.startMs + n.lengthMs) / 5, {0x80, key, 64}});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.tick < b.tick; });
    events.push_back({endMs / 5, {0xFF, 0x2F, 0x00}});

    std::vector<std::uint8_t> track;
    int now = 0;
    for (const Event& e : events) {
        putVariableLength(track, static_cast<std::uint32_t>(e.tick - now));
        track.insert(track.end(), e.bytes.begin(), e.bytes.end());
        now = e.tick;
    }
    // 100 ticks a beat at 500 ms a beat: a tick is 5 ms.
    std::vector<std::uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 100};
    out.insert(out.end(), {'M', 'T', 'r', 'k'});
    putBig(out, static_cast<std::uint32_t>(track.size()), 4);
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

std::vector<std::uint8_t> midiFile(std::uint16_t division,
                                   const std::vector<std::vector<std::uint8_t>>& tracks) {
    std::vector<std::uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    putBig(out, static_cast<std::uint32_t>(tracks.size()), 2);
    putBig(out, division, 2);
    for (const std::vector<std::uint8_t>& body : tracks) {
        out.insert(out.end(), {'M', 'T', 'r', 'k'});
        putBig(out, static_cast<std::uint32_t>(body.size()), 4);
        out.insert(out.end(), body.begin(), body.end());
    }
    return out;
}

std::vector<std::uint8_t> noteTrack(std::uint32_t ticks) {
    std::vector<std::uint8_t> out = {0x00, 0x90, 60, 100};
    putVariableLength(out, ticks);
    out.insert(out.end(), {0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00});
    return out;
}

void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

std::vector<std::string>& shownMessages() {
    static std::vector<std::string> messages;
    return messages;
}

void SoundTest::SetUp() {
    for (const char* name : kAudioVariables) {
        const char* value = std::getenv(name);
        savedEnvironment.emplace_back(name,
                                      value ? std::optional<std::string>(value) : std::nullopt);
    }
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder = std::filesystem::temp_directory_path() /
             ("tolvane_sound_" + std::to_string(getpid()) + "_" + info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder / "Sound");
    previousFolder = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    recordingFile = folder / "output.raw";
    shownMessages().clear();
    setMessageSink(collectMessage);
}

void SoundTest::TearDown() {
    closeDownSound();
    setMessageSink(nullptr);
    for (const auto& [name, value] : savedEnvironment) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    std::filesystem::current_path(previousFolder);
    std::filesystem::remove_all(folder);
}

std::string SoundTest::putSound(const std::string& name, std::span<const std::uint8_t> bytes) {
    writeFile(folder / "Sound" / name, bytes);
    return ".\\Sound\\" + name;
}

void SoundTest::recordToDisk() {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", recordingFile.c_str(), 1);
}

int Recording::peak(long from, long to) const {
    from = std::clamp(from, 0L, frames());
    to = std::clamp(to, from, frames());
    int best = 0;
    for (long i = from * channels; i < to * channels; ++i)
        best = std::max(best, std::abs(static_cast<int>(samples[i])));
    return best;
}

int Recording::largestStep(long from, long to) const {
    int largest = 0;
    for (long i = std::max(from, 1L); i < std::min(to, frames()); ++i)
        largest = std::max(largest, std::abs(samples[i * channels] - samples[(i - 1) * channels]));
    return largest;
}

long Recording::firstAbove(long from, int level) const {
    for (long i = std::max(from, 0L); i < frames(); ++i)
        if (std::abs(samples[i * channels]) > level) return i;
    return -1;
}

double Recording::toneLevel(long from, long to, double frequency) const {
    from = std::clamp(from, 0L, frames());
    to = std::clamp(to, from, frames());
    if (to == from) return 0;
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / rate);
    double previous = 0, beforePrevious = 0;
    for (long i = from; i < to; ++i) {
        const double now = samples[i * channels] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = now;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(to - from);
}

OutputFormat outputFormat() {
    OutputFormat f;
    Uint16 format = 0;
    if (Mix_QuerySpec(&f.rate, &format, &f.channels) == 0) return {};
    f.signed16 = format == AUDIO_S16SYS;
    return f;
}

long recordedFrames(const std::filesystem::path& file, const OutputFormat& format) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    return error || format.channels == 0 ? 0 : static_cast<long>(size / (2 * format.channels));
}

Recording readRecording(const std::filesystem::path& file, const OutputFormat& format) {
    Recording r;
    r.rate = format.rate;
    r.channels = format.channels;
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    r.samples.resize(bytes.size() / 2);
    std::copy_n(bytes.data(), r.samples.size() * 2, reinterpret_cast<char*>(r.samples.data()));
    return r;
}

void waitMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {
constexpr auto kDeadline = std::chrono::seconds(20);
}

bool waitRecorded(const std::filesystem::path& file, const OutputFormat& format, double seconds) {
    const long target = recordedFrames(file, format) + static_cast<long>(seconds * format.rate);
    return waitUntil([&] { return recordedFrames(file, format) >= target; });
}

bool waitUntil(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + kDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
