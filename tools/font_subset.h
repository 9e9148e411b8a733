// The text font cut down to the characters a game uses, for the web page, which must stay light.
// Glyph numbers do not change: the glyphs of other characters only lose their outlines, so the
// hinting programs, the metrics and every table that names glyphs stay valid, and a kept
// character is rasterised exactly as from the whole font.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The font (a TrueType file, or a collection with the face at `faceIndex`) with only the outlines
// of glyph 0, of the glyphs the code points map to, of the components those glyphs are made of,
// and of what the substitution table (GSUB) can turn them into. The result is always a single
// face (open it at index 0). Outside the kept set a character draws the missing-glyph box.
//
// What changes: glyf holds the kept outlines only, loca follows (short when the kept outlines
// allow it), the Unicode character maps of formats 4 and 12 list only the kept characters, the
// glyph names of post format 2 only the kept glyphs, head its loca format and checksum, and a
// digital signature (DSIG), which the change would break, is dropped. Every other table is copied
// as it is, embedded bitmaps included.
//
// 'M' and U+3042 are always kept: the engine measures them to fit the face to its grid.
//
// Nullopt, with `reason` set, when the font cannot be cut down: CFF outlines, a face that is not
// there, no Unicode character map, or damage (a table outside the file, a kept outline outside
// glyf, a composite glyph made of itself, a character map or substitution table that does not
// read). The caller then ships the whole font.
std::optional<std::vector<std::uint8_t>> subsetFont(std::span<const std::uint8_t> font,
                                                    int faceIndex,
                                                    std::span<const char32_t> codePoints,
                                                    std::string& reason);
