// Checks the chunk layout of a Standard MIDI File before the synthesiser sees it, so that a
// broken or foreign file fails at load time with a reason instead of playing silence later.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// Empty when the bytes hold a header chunk and at least as many track chunks as the header
// names, every chunk inside the file; else a short English reason. Reads only inside the span.
std::string_view standardMidiProblem(std::span<const std::uint8_t> bytes);
