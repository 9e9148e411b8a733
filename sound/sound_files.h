// Which file plays for a sound the game names: the author may give a sound in a recorded
// format under the same name. No SDL here: the author's tools read the same lists.
#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

// The endings of the files that may stand in for a sound the game names and that is not there,
// in the order they are taken: for music (".mid" names) and for effects (".wav" names).
inline constexpr std::array<std::string_view, 3> kMusicStandIns = {".ogg", ".opus", ".flac"};
inline constexpr std::array<std::string_view, 4> kEffectStandIns = {".ogg", ".opus", ".flac",
                                                                    ".wav"};

// The endings a numbered effect's file (numbered_effects.h) may have.
inline constexpr std::array<std::string_view, 5> kNumberedEffectEndings = {".wav", ".mid", ".ogg",
                                                                           ".opus", ".flac"};

std::span<const std::string_view> soundStandIns(bool isMusic);

// The file that plays for a sound the game names: the name itself when it is there, else for
// a ".mid" (music) or ".wav" (effect) name the first of the same name with one of the stand-ins'
// endings in place of its own that is there (fileInUse). Empty when there is none.
std::string soundFileInUse(std::string_view gamePath, bool isMusic);
