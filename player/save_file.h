// The player's save files: one file a slot, holding a whole moment of the game, the backlog that
// led to it, a thumbnail of the frame, when it was made, the page's first characters and a place
// in the scenario that survives the author's edits. Written whole or not at all; read strictly,
// so a damaged, cut-short, foreign or newer file is shown as what it is and never loaded. The
// game and the script tool read them with this one reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "player/moment.h"

// The numbered slots, 1..kSaveSlots; and the two the game writes by itself.
inline constexpr int kSaveSlots = 60;
inline constexpr int kQuickSlot = 0; // F6 and F9
inline constexpr int kQuitSlot = -1; // written when the player quits, taken by つづきから

// The save format's version; a file of a later one is refused, not guessed at.
inline constexpr std::uint32_t kSaveVersion = 1;
// No save file is longer, thumbnail included.
inline constexpr std::size_t kMaxSaveBytes = 64 * 1024;
// The thumbnail's size: the game's 4:3 frame a quarter across.
inline constexpr int kThumbnailWidth = 200;
inline constexpr int kThumbnailHeight = 150;
// How many characters of the page a slot shows.
inline constexpr int kPreviewCharacters = 24;

// "Save01.sav" .. "Save60.sav", "QuickSave.sav", "QuitSave.sav"; empty for any other number.
std::string slotFileName(int slot);
// A slot as the command line names it: "1".."60", "quick" or "quit".
std::optional<int> parseSlotName(std::string_view text);

// A picture of the game as it was saved, ARGB8888 (opaque); empty when the save has none.
struct Thumbnail {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;
};

// Where the saved page stands in its block, in words an edit elsewhere leaves true: the last
// label line above the page's first byte, how many lines below that label line the page's
// first byte is and where in its line, and the length and a hash of the page's source bytes.
struct SavePlace {
    std::int32_t block = 0;
    std::string label;           // without the '*'; empty when no label stands above the page
    std::int32_t lineOffset = 0; // lines from the label line (or from the block's first line)
    std::int32_t byte = 0;       // the page's first byte within its line
    std::int32_t length = 0;     // the page's source bytes
    std::uint64_t pageHash = 0;  // pageSourceHash() of the page
};

struct SaveRecord {
    std::int64_t savedAt = 0; // seconds since 1970-01-01 UTC
    std::string preview;      // the page's first characters, UTF-8
    SavePlace place;
    Moment moment{}; // moment.scenarioHash names the game's scenario
    // The backlog at the moment: the pages left behind (oldest first) and the page on screen as
    // far as it was revealed, Shift-JIS as drawn. The oldest pages are left out when the whole
    // would not fit the file.
    std::vector<std::vector<std::uint8_t>> backlog;
    std::vector<std::uint8_t> shown;
    Thumbnail thumbnail;
};

// The record as the bytes of one file: magic "TVSAVE01", version, the length of the body as
// stored and as inflated, the crc32 of the inflated body, then the body deflated. Never longer
// than kMaxSaveBytes: the oldest backlog pages go first, then the thumbnail's detail.
std::vector<std::uint8_t> encodeSave(const SaveRecord& record);

// Reads bytes encodeSave made. False, with a reason a player can read, when they are empty, cut
// short, of another kind, of a newer version, fail their checksum or hold a field outside its
// range; *record is then left as it was.
bool decodeSave(std::span<const std::uint8_t> bytes, SaveRecord* record, std::string* reason);

// What a slot holds, as its screen shows it.
enum class SlotState {
    Empty,   // no file
    Ready,   // of this game as it is: loads exactly
    Edited,  // of this game before an edit: loads at its page, or the label above it
    Foreign, // of another game: refused
    Damaged, // unreadable, cut short, damaged or not a save: refused, left as it is
    Newer,   // of a newer version of the engine: refused, left as it is
};

struct SlotInfo {
    SlotState state = SlotState::Empty;
    std::string reason; // for Foreign, Damaged and Newer: why, for the slot and standard error
    SaveRecord record;  // for Ready and Edited
};

// Where a slot's file is: beside the checkpoint (savePath's rules).
std::string slotPath(int slot, bool forWriting);
// Reads a slot's file and judges it against the scenario loaded now (both blocks must be).
SlotInfo readSlot(int slot);
// Reads any save file by its path, with the same reader (the script tool).
SlotInfo readSaveFile(const std::string& path);
// Writes the record to the slot through the one atomic replace. Empty on success, else the
// reason (the file and the system's words).
std::string writeSlot(int slot, const SaveRecord& record);

// ---- Places that survive an edit -----------------------------------------------------------

// The current page's source bytes: from where the page begins to one past the last source byte
// its fill used (at least one byte), within its block.
struct PageSpan {
    std::int32_t begin = 0;
    std::int32_t length = 0;
};
PageSpan pageSourceSpan();
// A hash (FNV-1a) of the current page's source bytes and their block. The same page keeps it
// through an edit elsewhere in the scenario; read pages are known by it.
std::uint64_t pageSourceHash();
// The place of the page on screen now.
SavePlace currentPlace();

// Where a saved place is in the scenario loaded now.
struct FoundPlace {
    std::int32_t source = 0; // a g_scenario position to start the page at
    bool samePage = false;   // the page itself was found; false: the landing of the label above
};
// The page when its source bytes (by their hash) still stand at the saved offset from its label,
// or else anywhere in the block; else where a jump to the saved label lands; else nothing (the
// page and its label are both gone: the save is of another game).
std::optional<FoundPlace> findPlace(const SavePlace& place);
