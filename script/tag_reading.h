// The arguments of the tags that take any, read from a tag's bytes ('[' through ']') the way
// the engine plays them: numbers are the digits of their field, other bytes passed over; keys
// are looked for where the fields before them end. The tag handlers and the linter read with
// these, so that what lint says a tag does is what the game does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Reads a decimal number backwards from bytes[last] down to (not including) bytes[stop],
// passing over non-digits; indices outside the bytes read nothing. digits receives the number of
// digits read. Values saturate far beyond every table (kTagNumberTooLarge).
inline constexpr std::int64_t kTagNumberTooLarge = std::int64_t{1} << 40;
std::int64_t readNumberBackwards(std::string_view bytes, std::int64_t last, std::int64_t stop,
                                 int* digits = nullptr);

// Picture positions beyond this are refused; far off the screen either way.
inline constexpr std::int64_t kMaxPosition = 100000;

// [image N layer=L left=X top=Y] or [image N layer=base ...]. ok is false, with why, when
// obeying the tag would leave its table or the tag (a field that is not there, a number out of
// range); a key that is not the expected one reads as 0, its value taken as one byte long.
struct ImageTag {
    bool ok = false;
    std::string why;
    bool background = false; // layer=base: picture is the background number
    std::int64_t picture = 0;
    std::int64_t layer = 0;
    std::int64_t x = 0;
    std::int64_t y = 0;
};
ImageTag readImageTag(std::string_view tag);

// [playse N] / [playbgm N]: the digits between the space behind the name and the ']'.
struct SlotTag {
    bool ok = false;
    std::string why;
    std::int64_t slot = 0;
};
SlotTag readSlotTag(std::string_view tag);

// [jump B target=*NAME] / [link target=*NAME]: the byte after '=' is the label marker, passed
// over unread. A key other than target is refused.
struct TargetTag {
    bool ok = false;
    std::string why;
    std::int64_t block = 0; // jump only
    std::string_view name;  // within the tag's bytes, without the marker
};
TargetTag readJumpTag(std::string_view tag);
TargetTag readLinkTag(std::string_view tag);

// The tag's text for a message: up to its first line end (a tag without ']' on its line runs on
// through the lines behind it), with "..." where it was cut.
std::string_view quotedTagPart(std::string_view tag, bool* cut = nullptr);
