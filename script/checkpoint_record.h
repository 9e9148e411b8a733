// The one reader of checkpoint files: the continue restores from it, and the author's tool
// prints what it read, so the two can never disagree about a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// Every stored byte of a checkpoint file is the plain byte + 30.
inline constexpr std::uint8_t kCheckpointByteOffset = 30;

// The fields of a checkpoint record. A field that was not reached is -1 (the label empty).
struct CheckpointRecord {
    int block = -1;
    std::string label; // Shift-JIS bytes as in the file
    int background = -1;
    int layerCount = -1;
    std::array<int, 9> pictures{}; // the first layerCount are read, in file order
    int music = -1;
};

// What is wrong with a file: the field, the byte offset (into the file) and what was found.
struct CheckpointDamage {
    std::string field;
    std::size_t offset = 0;
    std::string message;
};

// How much of a file the reader looks at: the longest record fits many times over, and a
// longer file is read no further.
inline constexpr std::size_t kCheckpointReadBytes = 1024;

// Reads a checkpoint's stored (scrambled) bytes strictly: a damaged or hand-edited file is
// refused as a whole rather than read into a state the game cannot be in. Only the record is
// read; a file shorter or longer than 500 bytes is taken when its record is whole. True when
// the record is whole; otherwise `damage` tells the first fault.
bool readCheckpointRecord(std::span<const std::uint8_t> stored, CheckpointRecord* record,
                          CheckpointDamage* damage);

// Reads the first kCheckpointReadBytes of the checkpoint file at `path` (a path of this system).
// False with the true reason when it cannot: "there is no such file", "is a directory", "is not
// a regular file", or "cannot be read: " and the system's reason.
bool readCheckpointBytes(const std::string& path, std::string* bytes, std::string* reason);
