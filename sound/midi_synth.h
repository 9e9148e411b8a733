// The MIDI synthesiser: one General MIDI synthesiser for every music slot, its sound font loaded
// once, rendered into the mixer's music stream. A piece plays through a player on it, on MIDI
// channels of its own: the primary piece, and a few pieces over it. Starting another primary
// piece replaces the primary player, never the synthesiser nor the pieces over it. Private to
// sound/, but for the sound fonts and the names of rendered pieces, which the author's tool
// shares.
//
// In the browser there is no synthesiser: every piece was rendered by it ahead of time, when the
// game was packaged for the web, and is played from the rendering with the same behaviour.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// How many pieces may sound over the primary piece at once.
inline constexpr int kPiecesOverPrimary = 4;

// Makes the synthesiser for the mixer's output and loads the sound fonts (a list separated by
// ':' or ';', each loaded over the ones before). False with the reason when none loads. In the
// browser the fonts are not needed: false when there are no renderings.
bool startSynth(const std::string& soundFonts, std::string& reason);
// Stops every piece and frees the synthesiser; before the mixer closes, after the music hook
// has been taken away.
void stopSynth();
// The pieces' next frames, over what `out` holds (interleaved signed 16-bit at the device's
// rate and channels). Called by the mixer's music hook, on the audio thread; nothing in the
// browser, whose pieces play on mixer channels.
void mixMidiMusic(std::int16_t* out, int frames, int channels);
bool synthReady();

// Whether the synthesiser can play the standard MIDI file, as it is loaded: the reader's checks
// (playableMidi), then natively a trial on a synthesiser of its own, since the synthesiser reads
// a piece only once it plays it, on the audio thread. False with the reason.
bool midiPlayable(std::span<const std::uint8_t> midi, std::string& reason);

// A piece a slot now holds (prepare) or no longer holds (forget). The native build renders a
// piece once, on a thread of its own, as soon as a slot holds it, and plays and loops the
// rendering from then on, so the synthesiser works only while it renders; a piece longer than
// a rendering may be is synthesised as it plays. The browser's pieces are rendered already.
// A piece rendered ahead of its load (forSlot false) is held by no slot until one loads it.
void prepareMidi(std::span<const std::uint8_t> midi, bool forSlot = true);
void forgetMidi(std::span<const std::uint8_t> midi);
// For tests and benchmarks: renderings not yet whole, and the frames the synthesisers have
// written since start-up (the renderings' and what was synthesised as it played).
int midiRenderingsPending();
std::uint64_t midiFramesSynthesised();

// Plays a standard MIDI file from its start, repeating without end, in place of the piece that
// plays. The bytes are copied. False with the reason when the synthesiser cannot read it (in the
// browser: when the piece has no rendering).
bool playMidi(std::span<const std::uint8_t> midi, std::string& reason);
// Plays a standard MIDI file from its start over the primary piece, repeating without end, until
// haltAllMidi. When kPiecesOverPrimary already sound, the one started first gives way.
bool playMidiOverPrimary(std::span<const std::uint8_t> midi, std::string& reason);
// Stops the primary piece at once; the pieces over it go on.
void haltMidi();
// Stops every piece at once: the next output is silence.
void haltAllMidi();
// Whether the primary piece plays, and how many pieces play over it.
bool midiPlaying();
// The music's level, in percent of full gain.
void setMidiVolume(int percent);
int midiPlayingOverPrimary();

// What is said when startSynth failed, in each build's own terms: the player is told once, at
// start-up, how music comes back; each piece of music that then fails to load says why.
struct NoSynthMessages {
    const char* advice; // on standard error, after startSynth's reason
    const char* box;    // the message box
};
extern const NoSynthMessages kNoSynthMessages;
// The reason each load of music gives, with the sound fonts startSynth was given.
std::string noSynthLoadReason(const std::string& soundFonts);

// While held, what the synthesiser's libraries write to standard error goes nowhere (the
// sound font reader writes its own lines there, with the file's raw bytes); release gives back
// the first error the synthesiser reported meanwhile, made safe for a terminal, for the caller
// to give with its reason. On the main thread; empty in the browser.
void holdSynthOutput();
std::string releaseSynthOutput();

// The sound fonts the synthesiser loads: the list in SDL_SOUNDFONTS when it is set (the
// player's choice), else the first of the system's General MIDI fonts that exists.
struct SoundFontChoice {
    std::string fonts;            // ':'-separated; when none is found, every place looked at
    bool found = false;           // a file of the list exists
    bool fromEnvironment = false; // the list is SDL_SOUNDFONTS
};
SoundFontChoice chooseSoundFonts();

// The browser's folder of rendered pieces (in its in-memory file system), where the page puts
// what the packager rendered; a piece's file there is renderedMidiName of its bytes.
inline constexpr std::string_view kRenderedMusicFolder = "/music/";
// A piece's rendering's file name: a stable 64-bit hash of the MIDI file's bytes as 16 lowercase
// hexadecimal digits, then ".ogg". The packager and the browser build must agree on it, and a
// changed file gets a new name.
std::string renderedMidiName(std::span<const std::uint8_t> midi);
