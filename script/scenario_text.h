// Scenario files as an author sees them: UTF-8 (or Shift-JIS) text with LF line ends on one
// side, the scrambled code page 932 bytes the engine loads on the other. The author's tool
// encodes and decodes with it, and the game plays an author's sources through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.h"

// A place in a text file: line and column both count from 1, and a column counts characters
// (one for a double-byte character, as an editor shows it), not bytes.
struct TextPlace {
    int line = 1;
    int column = 1;
};

// One finding about a file, for messages of the form "file:line:col: error: message".
struct TextProblem {
    TextPlace place;
    std::string message;
};

enum class SourceEncoding { Utf8, ShiftJis };

// The outcome of an encode: the stored bytes, or the reasons it was refused.
struct EncodeResult {
    std::vector<std::uint8_t> stored; // empty when refused
    std::vector<TextProblem> errors;  // every refusal, in file order
};

// The outcome of a decode: UTF-8 text with LF line ends, and what a re-encode would not give
// back (bytes behind a stored 0xFF, lone CR or LF line ends, bytes that are not Shift-JIS).
struct DecodeResult {
    std::string text;
    std::vector<TextProblem> warnings;
};

// Text to a scenario file: line ends become CR LF, the text becomes code page 932 and every
// byte is scrambled. Refuses characters code page 932 cannot hold, characters holding a byte
// 0x7E (the stored 0xFF would end the file), a CR that ends no line, and text over the block's
// capacity. Shift-JIS input is read through UTF-8, so the output is the same either way.
EncodeResult encodeScenario(std::string_view text, SourceEncoding encoding);

// Scenario file to text, reading as the engine does: stops at the first stored 0xFF.
DecodeResult decodeScenario(std::span<const std::uint8_t> stored);

// The plain Shift-JIS text of a scenario file as the engine loads it: descrambled up to the
// end or the first stored 0xFF, cut to the block's capacity.
std::string plainScenarioText(std::span<const std::uint8_t> stored);

// Where a byte offset of plain Shift-JIS text lies, counting lines by LF and columns by
// Shift-JIS characters (an offset inside a character names that character).
TextPlace placeOfSjisOffset(std::string_view sjis, std::size_t offset);

// The most bytes a scenario source or scenario file is read of. A block holds 65534 bytes of
// Shift-JIS, at most about 100 KB of UTF-8 with LF line ends; anything much larger is not a
// scenario, and reading it (a link to a device, a log file) would only cost memory and a flood
// of findings.
inline constexpr std::size_t kMaxSourceBytes = 4 * 1024 * 1024;

// Reads a whole regular file, without waiting on a pipe; false when it cannot be read or is not
// a regular file.
bool readWholeFile(const std::string& path, std::string& out);

// Reads a scenario source or file as readRegularFile does, held to kMaxSourceBytes.
FileRead readSourceFile(const std::string& path, std::string* bytes, std::string* reason);
// Writes a whole file; false when it cannot be written.
bool writeWholeFile(const std::string& path, std::string_view data);
