#include "app/arguments.h"

#include <climits>
#include <cstdio>

std::string excerpt(std::string_view text) {
    std::string shown;
    std::size_t count = 0;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (count >= 60 && (c & 0xC0) != 0x80) {
            shown += "...";
            break;
        }
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        } else {
            shown += ch;
        }
        ++count;
    }
    return shown;
}

std::string inQuotes(std::string_view text) {
    return "'" + excerpt(text) + "'";
}

NumberResult parseDecimal(std::string_view text, bool allowMinus, std::int64_t* value) {
    bool negative = false;
    if (allowMinus && !text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty()) return NumberResult::NotANumber;
    std::int64_t v = 0;
    bool tooLarge = false;
    for (const char c : text) {
        if (c < '0' || c > '9') return NumberResult::NotANumber;
        if (!tooLarge) v = v * 10 + (c - '0');
        if (v > std::int64_t{INT_MAX} + 1) tooLarge = true;
    }
    if (negative) v = -v;
    if (tooLarge || v < INT_MIN || v > INT_MAX) return NumberResult::OutOfRange;
    *value = v;
    return NumberResult::Ok;
}

bool parseFrame(std::string_view text, std::uint64_t* frame, std::string* why) {
    std::int64_t v = 0;
    const NumberResult r = parseDecimal(text, true, &v);
    if (r == NumberResult::NotANumber) {
        *why = inQuotes(text) + " is not a frame number";
    } else if (text.front() == '-' || (r == NumberResult::Ok && v == 0)) {
        *why = "frame " + excerpt(text) + ": frames count from 1";
    } else if (r == NumberResult::OutOfRange || v > kMaxFrame) {
        *why = "frame " + excerpt(text) + " is out of range (at most " + std::to_string(kMaxFrame) +
               ")";
    } else {
        *frame = static_cast<std::uint64_t>(v);
        return true;
    }
    return false;
}
