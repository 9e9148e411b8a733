// File names and text encodings: the one place where the game's Windows-style names become
// this system's paths, and where Shift-JIS text meets UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Turns a game path as the game names it (".\CG\背景0.bmp": backslashes, and a name in UTF-8 or
// in Shift-JIS bytes) into this system's path ("./CG/背景0.bmp", UTF-8). When that path does not
// exist, each component is matched case-insensitively against the folder, since game data copied
// from Windows may differ in letter case; the first match wins.
std::string systemPath(std::string_view gamePath);

// fopen on systemPath(gamePath). Null when the file cannot be opened, or is not a regular file.
// A file opened for reading is opened without waiting, so a pipe by that name never blocks.
std::FILE* openGameFile(std::string_view gamePath, const char* mode);

// The file that stands for one the game names: the name itself when it is there, else, for a
// name ending in `namedEnding` (in any letter case), the first there of the same name with one
// of `standIns` in place of its ending. Empty when there is none. An author may give a picture
// or a sound in another format than the game names.
std::string fileInUse(std::string_view gamePath, std::string_view namedEnding,
                      std::span<const std::string_view> standIns);

enum class FileRead {
    Read,       // the whole file is in the bytes
    Unreadable, // missing, or the system refused it (permissions, an I/O error)
    Refused,    // there, but not a regular file or larger than the bound
};

// Reads a whole regular file of at most maxBytes. It is opened without waiting (a pipe by that
// name would block the open) and checked once open, so a pipe, a device or a folder is never
// read, and the reason given is the true one for the file that was opened. Unless it is read,
// *reason tells why, to follow the file's name: "is not a regular file", "is a folder",
// "is 5000000 bytes, over the bound of 4194304"; for an unreadable file, the system's reason.
FileRead readRegularFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                         std::string* reason);

// Shift-JIS (code page 932) to UTF-8. Bytes that are not valid Shift-JIS become U+FFFD, and a
// lead byte cut off at the end is dropped, so the conversion never stalls.
std::string sjisToUtf8(std::string_view sjis);

// UTF-8 to Shift-JIS (code page 932). On a character that code page 932 cannot hold, or on
// malformed UTF-8, returns nothing and sets *badOffset to the byte offset of that character.
// A few characters go to a look-alike (U+00A5 YEN SIGN to 0x5C, U+2212 MINUS SIGN to 0x817C),
// and Unicode's language tags (U+E0000-U+E007F) are dropped.
std::optional<std::string> utf8ToSjis(std::string_view utf8, std::size_t* badOffset = nullptr);

// The length of the well-formed UTF-8 character at byte `i` (< text.size()), its code point in
// *cp; 0 when the bytes there are malformed or cut off.
std::size_t utf8CharAt(std::string_view text, std::size_t i, std::uint32_t* cp);

// True when the bytes are well-formed UTF-8.
bool isValidUtf8(std::string_view text);
