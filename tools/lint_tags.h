// The linter's reading of tags and its checks on the bare text of a scenario block: things that
// need no page layout. Private to the linter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One finding at a byte offset of a block's plain text.
struct BlockFinding {
    std::size_t offset = 0;
    bool error = true;
    std::string message;
};

// A tag as the engine reads it, checked against the tag syntax. Numbers are -1 when absent.
struct ParsedTag {
    std::string name; // as the engine reads it: up to the first space or ']'
    bool known = false;
    std::vector<std::pair<bool, std::string>> problems; // (is an error, message)
    bool valid = false; // the engine runs it as meant (problems may still hold warnings)
    bool background = false;
    std::int64_t picture = -1, layer = -1, slot = -1, block = -1;
    std::string target; // jump and link: the label name, without the '*'
};

// Reads a tag from '[' through ']' (Shift-JIS bytes).
ParsedTag parseTag(std::string_view tag);

// The slots from 53 to 99 the game folder's own effects fill (numbered_effects.h), for the
// warning on a tag that plays an empty slot; none until set.
void setNumberedSlotsFilled(std::vector<int> slots);

// A label line: "*name" or "*name|" at the start of a line.
struct LabelLine {
    std::size_t offset = 0; // the '*'
    std::size_t after = 0;  // the first byte of the next line: where a jump lands
    std::string name;
    bool checkpoint = false;
};

std::vector<LabelLine> findLabelLines(std::string_view plain);

// Bare LF line ends, half-width katakana in the text, tags without ']' (or cut short by a
// byte 0x5D inside a double-byte character), comments without a line end, label line faults.
std::vector<BlockFinding> scanBlockText(std::string_view plain);
