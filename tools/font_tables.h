// Private to the font subsetter: reading a font's big-endian records without leaving their
// bytes, and the tables it rewrites besides glyf and loca.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// A piece of the font. A read outside the piece gives 0 and raises the flag the piece was made
// with, which every piece of one parse shares: a parser reads a whole record and checks once.
struct FontBytes {
    std::span<const std::uint8_t> data;
    bool* outside = nullptr;

    std::uint32_t u8(std::size_t at) const;
    std::uint32_t u16(std::size_t at) const;
    std::uint32_t u24(std::size_t at) const;
    std::uint32_t u32(std::size_t at) const;
    // The bytes from `at` to the end of the piece (empty, and the flag raised, past the end).
    FontBytes from(std::size_t at) const;
    // `length` bytes from `at` (empty, and the flag raised, when they are not all there).
    FontBytes piece(std::size_t at, std::size_t length) const;
    std::size_t size() const { return data.size(); }
};

void put16(std::vector<std::uint8_t>& out, std::uint32_t v);
void put32(std::vector<std::uint8_t>& out, std::uint32_t v);
void set16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v);
void set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v);

// Marks in `kept` the glyphs the Unicode maps give the wanted code points (sorted, unique), and
// returns the cmap with its Unicode maps of formats 4 and 12 cut down to them. Other maps are
// copied. False, with `reason`, when a map does not read or there is no Unicode map.
bool cutCharacterMap(FontBytes cmap, std::span<const char32_t> wanted, std::vector<bool>& kept,
                     std::vector<std::uint8_t>& out, std::string& reason);

// Marks in `kept` every glyph a substitution can put in place of kept glyphs, whatever feature
// or context calls it; `added` tells whether any was new. False, with `reason`, when the table
// does not read.
bool keepSubstitutes(FontBytes gsub, std::vector<bool>& kept, bool& added, std::string& reason);

// The post table with the names of glyph format 2 kept for the kept glyphs only (the others
// take the name of glyph 0); any other post table, or one that does not read, as it is.
std::vector<std::uint8_t> cutGlyphNames(FontBytes post, const std::vector<bool>& kept);
