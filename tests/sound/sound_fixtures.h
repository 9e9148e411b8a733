// Fixtures for the sound tests: a scratch game folder to load from, sound files written on the
// spot, the message boxes shown, and what the disk audio driver recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A mono 16-bit PCM WAV file (22050 Hz) holding a sine at half of full scale.
std::vector<std::uint8_t> sineWav(double seconds, double frequency);

// One note of a test MIDI file, in milliseconds (the file's tick is 5 ms).
struct TestNote {
    int startMs;
    int lengthMs;
    int key;
};

// A format-0 Standard MIDI File with the notes, on the General MIDI program (0 is the piano);
// its one track ends at endMs. With gmReset it begins with a General MIDI system-on message,
// as many files do.
std::vector<std::uint8_t> standardMidi(std::span<const TestNote> notes, int endMs, int program = 0,
                                       bool gmReset = false);

// A Standard MIDI File of the given track bodies, as written (format 1), with the header's time
// division.
std::vector<std::uint8_t> midiFile(std::uint16_t division,
                                   const std::vector<std::vector<std::uint8_t>>& tracks);
// One track body: a note of `ticks` on key 60, then the end of the track.
std::vector<std::uint8_t> noteTrack(std::uint32_t ticks);

void writeFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// Runs each test in a scratch folder with a Sound subfolder, so that game paths such as
// ".\Sound\door50.wav" resolve there; collects message boxes; and closes sound and puts the
// audio environment back afterwards.
class SoundTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Game path ".\Sound\<name>" after writing the bytes to Sound/<name>.
    std::string putSound(const std::string& name, std::span<const std::uint8_t> bytes);
    // Selects the disk audio driver, recording into a file of the scratch folder.
    void recordToDisk();

    std::filesystem::path folder;
    std::filesystem::path recordingFile;
    std::filesystem::path previousFolder;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment;
};

// Message boxes shown since the test began.
std::vector<std::string>& shownMessages();

// The disk driver's output: interleaved signed 16-bit frames.
struct Recording {
    int rate = 0;
    int channels = 0;
    std::vector<std::int16_t> samples;

    long frames() const { return channels ? static_cast<long>(samples.size()) / channels : 0; }
    long framesIn(double seconds) const { return static_cast<long>(seconds * rate); }
    // Largest absolute sample over all channels in [from, to), clipped to the recording.
    int peak(long from, long to) const;
    // The largest step between neighbouring samples of the first channel in [from, to): a
    // click where a sound repeats stands out against the sound's own steps.
    int largestStep(long from, long to) const;
    // The first frame from `from` on whose first channel is past `level`, or -1.
    long firstAbove(long from, int level) const;
    // Amplitude of one frequency in the first channel over [from, to) (Goertzel).
    double toneLevel(long from, long to, double frequency) const;
};

// The open device's format; the tests ask for signed 16-bit samples and check they got them.
struct OutputFormat {
    int rate = 0;
    int channels = 0;
    bool signed16 = false;
};
OutputFormat outputFormat();

// Frames written so far to the disk driver's file, for marking when something happened.
long recordedFrames(const std::filesystem::path& file, const OutputFormat& format);

// Reads the whole file (after closeDownSound, which flushes it).
Recording readRecording(const std::filesystem::path& file, const OutputFormat& format);

// Sleeps for the given milliseconds.
void waitMs(int ms);

// Waits until the disk driver has written `seconds` more of sound than it had, so that a test
// acts after so much of the recording whatever the machine's load (the driver keeps time with
// the clock only when it gets the processor). False after a generous deadline.
bool waitRecorded(const std::filesystem::path& file, const OutputFormat& format, double seconds);

// Waits until the condition holds, polling; false after a generous deadline.
bool waitUntil(const std::function<bool()>& condition);
