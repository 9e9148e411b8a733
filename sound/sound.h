// Music and sound effects, by slot number. Music slots loop without end; effects play once.
#pragma once

#include <string_view>

// Holds every sound call from now on, to be made by releaseHeldSound: the program's first
// picture goes on screen before the audio device opens and the music loads.
void holdSound();
// Makes the held calls, in order, and stops holding.
void releaseHeldSound();

// Slot numbers 0..kSoundSlotCount-1; the game uses 0, 1, 50, 51 and 52, and an author's own
// effects 53 to 99 (numbered_effects.h).
inline constexpr int kSoundSlotCount = 100;

// Opens the audio device and the players. False (after its message) when sound is unavailable;
// every other call then does nothing, and loads return false without a message.
bool startSound();

// Loads a file into a slot, replacing (and releasing) what it held; a failed load leaves the
// slot empty. The path is a game path (see systemPath).
bool loadSoundSlot(int slot, std::string_view path, bool isMusic);

// Reads a piece of music the game will load later and has it rendered now (see midi_synth.h),
// so that its load then finds it rendered and the game's start costs no synthesis. Nothing for
// recorded music or a file that cannot be read; nothing changes in what plays.
void renderMusicAhead(std::string_view path);

// Plays the slot as the one primary piece: it replaces the primary that plays (music or an
// effect played as primary) and restarts the slot if it already plays.
void playSlotPrimary(int slot);

// Plays the slot over the primary piece, which goes on: an effect once, music repeating without
// end until stopAllSound (a later primary play leaves it sounding).
void playSlotSecondary(int slot);

// Stops the primary piece, every piece of music over it and every effect at once.
void stopAllSound();

// Shut-down: stops everything and empties every slot, then closes the audio device.
bool stopAndReleaseSlots();
bool closeDownSound();

// For the state dump and tests: the slot last started as primary while it still plays, or -1;
// and whether a slot holds a loaded sound.
int primarySoundSlot();
bool soundSlotLoaded(int slot);
// The player's volumes, in percent of the game's own level (100, the default); kept for the run.
void setMusicVolume(int percent);
void setEffectVolume(int percent);
// Whether a piece of music plays as the primary piece; how many play over it.
bool musicPlaying();
int musicPlayingOverPrimary();
bool soundStarted();
