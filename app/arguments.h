// Words the user typed, on the command line or in a replay file: frame numbers read strictly,
// and text quoted back safely in a one-line message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The highest frame number a command line or a replay file may name.
inline constexpr std::int64_t kMaxFrame = 2147483647;

// The user's text made fit for a one-line message: control bytes shown as \xNN, and long text
// cut (at a character boundary) so that a stray binary file cannot flood the terminal.
std::string excerpt(std::string_view text);

// excerpt() in single quotes.
std::string inQuotes(std::string_view text);

enum class NumberResult { Ok, NotANumber, OutOfRange };

// Plain decimal digits, with one leading '-' where allowed; no '+', spaces, hex or exponents.
// Ok only for a value that fits an int.
NumberResult parseDecimal(std::string_view text, bool allowMinus, std::int64_t* value);

// A frame number, 1 to kMaxFrame; on false *why says what is wrong with the text.
bool parseFrame(std::string_view text, std::uint64_t* frame, std::string* why);
