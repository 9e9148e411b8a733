// The three sound effects, synthesised: a knock and a creaking door, a low chime for the sad
// ending, a bright chime for the start of a game. 22050 Hz, 16-bit mono PCM.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "demo/assets.h"

namespace {

constexpr int kRate = 22050;
constexpr float kTwoPi = 6.2831853f;

using Samples = std::vector<float>;

bool writeWav(const std::string& path, Samples s) {
    float peak = 1e-6f;
    for (float v : s)
        peak = std::max(peak, std::abs(v));
    std::vector<std::uint8_t> file;
    auto put = [&](std::uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            file.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    };
    const std::uint32_t data = static_cast<std::uint32_t>(s.size() * 2);
    file.insert(file.end(), {'R', 'I', 'F', 'F'});
    put(36 + data, 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4);
    put(1, 2); // PCM
    put(1, 2); // mono
    put(kRate, 4);
    put(kRate * 2, 4);
    put(2, 2);
    put(16, 2);
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    put(data, 4);
    for (float v : s) {
        auto q = static_cast<std::int16_t>(
            std::lround(std::clamp(v / peak * 0.8f, -1.0f, 1.0f) * 32767));
        put(static_cast<std::uint16_t>(q), 2);
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
    return std::fclose(f) == 0 && ok;
}

// A struck bell: inharmonic partials, each with its own decay.
void bell(Samples& s, float start, float freq, float gain, float decay) {
    const float ratios[] = {1.0f, 2.0f, 2.76f, 4.07f, 5.4f};
    const float amps[] = {1.0f, 0.55f, 0.35f, 0.2f, 0.12f};
    for (std::size_t i = static_cast<std::size_t>(start * kRate); i < s.size(); ++i) {
        float t = static_cast<float>(i) / kRate - start;
        float attack = std::min(1.0f, t * 400);
        for (int k = 0; k < 5; ++k)
            s[i] += gain * amps[k] * attack * std::exp(-t * (k + 1) / decay) *
                    std::sin(kTwoPi * freq * ratios[k] * t);
    }
}

Samples doorKnockAndCreak() {
    Samples s(static_cast<std::size_t>(2.4f * kRate), 0.0f);
    Random rnd{50};
    for (float start : {0.05f, 0.33f, 0.61f}) { // three knocks on wood
        float lowpass = 0;
        for (std::size_t i = static_cast<std::size_t>(start * kRate); i < s.size(); ++i) {
            float t = static_cast<float>(i) / kRate - start;
            if (t > 0.25f) break;
            lowpass += 0.25f * ((rnd.unit() * 2 - 1) - lowpass);
            s[i] += std::exp(-t * 28) *
                        (0.8f * std::sin(kTwoPi * 96 * t) + 0.4f * std::sin(kTwoPi * 210 * t)) +
                    std::exp(-t * 90) * lowpass * 1.5f;
        }
    }
    // The creak: a stick-slip train of clicks, its rate wandering, ringing a wooden resonance.
    float y1 = 0, y2 = 0, phase = 0;
    const float r = 0.995f, w = kTwoPi * 620 / kRate;
    for (std::size_t i = static_cast<std::size_t>(1.0f * kRate); i < s.size(); ++i) {
        float t = static_cast<float>(i) / kRate - 1.0f;
        float rate = 45 + 30 * std::sin(t * 3.1f) + 12 * std::sin(t * 11.0f);
        phase += rate / kRate;
        float impulse = 0;
        if (phase >= 1) {
            phase -= 1;
            impulse = 0.6f + 0.4f * rnd.unit();
        }
        float env = std::min(1.0f, t * 6) * std::max(0.0f, 1 - t / 1.35f);
        float y = impulse * env + 2 * r * std::cos(w) * y1 - r * r * y2;
        y2 = y1;
        y1 = y;
        s[i] += y * 0.12f;
    }
    return s;
}

Samples lowChime() {
    Samples s(static_cast<std::size_t>(3.6f * kRate), 0.0f);
    bell(s, 0.0f, 196.0f, 1.0f, 1.4f);  // G3
    bell(s, 0.55f, 146.8f, 0.9f, 1.6f); // D3
    return s;
}

Samples startChime() {
    Samples s(static_cast<std::size_t>(1.4f * kRate), 0.0f);
    const float notes[] = {1046.5f, 1318.5f, 1568.0f, 2093.0f}; // C6 E6 G6 C7
    for (int k = 0; k < 4; ++k)
        bell(s, 0.07f * k, notes[k], 1.0f - 0.1f * k, 0.35f);
    return s;
}

} // namespace

bool makeEffects(const std::string& soundDir) {
    return writeWav(soundDir + "/door50.wav", doorKnockAndCreak()) &&
           writeWav(soundDir + "/gameover51.wav", lowChime()) &&
           writeWav(soundDir + "/start52.wav", startChime());
}
