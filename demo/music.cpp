// The two pieces of music as Standard MIDI Files (format 1, General MIDI): a calm title theme
// and the game theme. Each is an exact number of bars, so that it loops without a seam.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "demo/assets.h"

namespace {

constexpr int kTicksPerBeat = 480;

struct Note {
    float beat;
    float length;
    int pitch;
    int velocity;
};

struct Part {
    int channel;
    int program; // General MIDI, 0-based; ignored on the drum channel
    int volume;
    int pan;
    std::vector<Note> notes;
};

void putVarLen(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t bytes[5];
    int n = 0;
    bytes[n++] = v & 0x7F;
    while (v >>= 7)
        bytes[n++] = static_cast<std::uint8_t>((v & 0x7F) | 0x80);
    while (n)
        out.push_back(bytes[--n]);
}

void putBig(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int k = bytes - 1; k >= 0; --k)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

struct Event {
    std::uint32_t tick;
    int order; // at one tick: note-offs before note-ons
    std::vector<std::uint8_t> data;
};

void putTrack(std::vector<std::uint8_t>& file, std::vector<Event> events, std::uint32_t end) {
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    std::vector<std::uint8_t> body;
    std::uint32_t now = 0;
    for (const Event& e : events) {
        putVarLen(body, e.tick - now);
        now = e.tick;
        body.insert(body.end(), e.data.begin(), e.data.end());
    }
    putVarLen(body, end - now);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    putBig(file, static_cast<std::uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
}

bool writeSmf(const std::string& path, int bpm, int beats, const std::vector<Part>& parts) {
    const std::uint32_t end = static_cast<std::uint32_t>(beats * kTicksPerBeat);
    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    putBig(file, static_cast<std::uint32_t>(parts.size() + 1), 2);
    putBig(file, kTicksPerBeat, 2);

    std::uint32_t tempo = 60000000u / static_cast<std::uint32_t>(bpm);
    putTrack(file,
             {{0,
               0,
               {0xFF, 0x51, 0x03, std::uint8_t(tempo >> 16), std::uint8_t(tempo >> 8),
                std::uint8_t(tempo)}},
              {0, 0, {0xFF, 0x58, 0x04, 4, 2, 24, 8}}},
             end);
    for (const Part& p : parts) {
        std::vector<Event> events;
        std::uint8_t ch = static_cast<std::uint8_t>(p.channel);
        if (p.channel != 9)
            events.push_back({0, 0, {std::uint8_t(0xC0 | ch), std::uint8_t(p.program)}});
        events.push_back({0, 0, {std::uint8_t(0xB0 | ch), 7, std::uint8_t(p.volume)}});
        events.push_back({0, 0, {std::uint8_t(0xB0 | ch), 10, std::uint8_t(p.pan)}});
        events.push_back({0, 0, {std::uint8_t(0xB0 | ch), 91, 40}});
        for (const Note& n : p.notes) {
            auto on = static_cast<std::uint32_t>(n.beat * kTicksPerBeat + 0.5f);
            auto off =
                std::min(end, static_cast<std::uint32_t>((n.beat + n.length) * kTicksPerBeat - 10));
            events.push_back(
                {on,
                 2,
                 {std::uint8_t(0x90 | ch), std::uint8_t(n.pitch), std::uint8_t(n.velocity)}});
            events.push_back({off, 1, {std::uint8_t(0x80 | ch), std::uint8_t(n.pitch), 64}});
        }
        putTrack(file, std::move(events), end);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

// A melody written as (pitch, beats) pairs one after another; pitch 0 is a rest.
std::vector<Note> melody(std::initializer_list<std::pair<int, float>> line, int velocity) {
    std::vector<Note> out;
    float beat = 0;
    for (auto [pitch, length] : line) {
        if (pitch) out.push_back({beat, length, pitch, velocity});
        beat += length;
    }
    return out;
}

using Chord = std::vector<int>;

// The title: F major, slow, flute over piano, strings and bass; eight bars.
bool titleTheme(const std::string& path) {
    const Chord F{53, 57, 60}, Dm{50, 53, 57}, Bb{50, 53, 58}, C{52, 55, 60}, Am{52, 57, 60};
    const Chord bars[] = {F, Dm, Bb, C, F, Am, Bb, C};
    const int roots[] = {41, 38, 34, 36, 41, 33, 34, 36};
    Part lead{0, 73, 100, 64,
              melody({{69, 1.5f}, {67, .5f}, {65, 1}, {72, 1}, {74, 2}, {72, 1}, {69, 1},
                      {70, 1.5f}, {69, .5f}, {67, 1}, {65, 1}, {67, 3}, {0, 1},  {69, 1.5f},
                      {67, .5f},  {65, 1},   {72, 1}, {76, 2}, {74, 1}, {72, 1}, {74, 1},
                      {72, 1},    {70, 1},   {67, 1}, {65, 3}, {0, 1}},
                     88)};
    Part pad{1, 49, 70, 40, {}}, piano{2, 0, 80, 88, {}}, bass{3, 32, 96, 64, {}};
    for (int bar = 0; bar < 8; ++bar) {
        float b = bar * 4.0f;
        for (int p : bars[bar])
            pad.notes.push_back({b, 4, p, 56});
        for (int k = 0; k < 4; ++k)
            piano.notes.push_back({b + k, 1, bars[bar][k % 3] + 12, 52});
        bass.notes.push_back({b, 2, roots[bar], 80});
        bass.notes.push_back({b + 2, 2, roots[bar] + 7, 70});
    }
    return writeSmf(path, 66, 32, {lead, pad, piano, bass});
}

// The game theme: A minor, a walking pace, flute over electric piano arpeggios, bass and a soft
// hi-hat; twelve bars.
bool gameTheme(const std::string& path) {
    const Chord Am{45, 52, 57, 60}, F{41, 48, 53, 57}, C{48, 55, 60, 64}, G{43, 50, 55, 59},
        E{40, 47, 52, 56};
    const Chord bars[] = {Am, F, C, G, Am, F, G, E, F, G, Am, Am};
    Part lead{0, 73, 96, 64,
              melody({{76, 1},    {72, .5f}, {71, .5f}, {69, 1},    {64, 1},   {65, .5f}, {69, .5f},
                      {72, 1},    {71, 1},   {69, 1},   {67, 1},    {76, 1},   {74, .5f}, {72, .5f},
                      {67, 1},    {71, 2},   {74, 1},   {71, 1},    {72, 1},   {71, .5f}, {69, .5f},
                      {76, 1.5f}, {74, .5f}, {72, 1},   {69, 1},    {65, 1},   {69, 1},   {71, 1},
                      {74, 1},    {79, 1},   {77, .5f}, {74, .5f},  {76, 2},   {74, 1},   {71, .5f},
                      {68, .5f},  {69, 1},   {72, 1},   {77, 1.5f}, {76, .5f}, {74, 1},   {71, 1},
                      {67, 1},    {71, 1},   {69, 1},   {72, 1},    {76, 1},   {74, 1},   {69, 3},
                      {0, 1}},
                     92)};
    Part keys{1, 4, 84, 44, {}}, bass{2, 33, 100, 64, {}}, hat{9, 0, 60, 80, {}};
    const int pattern[] = {0, 1, 2, 3, 2, 1, 2, 1};
    for (int bar = 0; bar < 12; ++bar) {
        float b = bar * 4.0f;
        for (int k = 0; k < 8; ++k) {
            keys.notes.push_back({b + k * 0.5f, 0.5f, bars[bar][pattern[k]] + 12, k % 2 ? 48 : 60});
            hat.notes.push_back({b + k * 0.5f, 0.25f, 42, k % 2 ? 24 : 40});
        }
        bass.notes.push_back({b, 2, bars[bar][0] - 12, 84});
        bass.notes.push_back({b + 2, 1.5f, bars[bar][0] - 12, 70});
        bass.notes.push_back({b + 3.5f, 0.5f, bars[bar][1] - 12, 64});
    }
    return writeSmf(path, 100, 48, {lead, keys, bass, hat});
}

} // namespace

bool makeMusic(const std::string& soundDir) {
    return titleTheme(soundDir + "/morva_g0.mid") && gameTheme(soundDir + "/brel_gm1.mid");
}
