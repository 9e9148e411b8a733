// The whole moment of a game: everything that decides what the game shows and does next, taken
// from the engine's records, written as bytes of a stable format, read back strictly, and put
// back so that the game goes on exactly as it would have gone on from there.
//
// Not in a moment, and why:
// - the input devices' snapshots and the pointer's buttons as pressed: they are the
//   player's hand at the time of the load, not the game's; the pointer's place is the game's
//   (it is drawn in the frame, moves by relative steps and decides which link is under it), so
//   it is in the moment;
// - the backlog, skip and auto mode and the player's settings: the comforts keep their own;
// - sound effects that were still sounding, and music played over the primary piece;
// - the game scene's fixed quads (background and text box), which every game init builds alike,
//   and the author's overlay.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "input/input.h"
#include "render/quad.h"
#include "script/script.h"

// The format's version; a file of a later one is refused, not guessed at.
inline constexpr std::uint32_t kMomentVersion = 1;
// No encoding is longer: a save file, thumbnail included, stays within 64 KB.
inline constexpr std::size_t kMaxMomentBytes = 64 * 1024;

// The pointer as far as it is the game's: its place, its bounds, its speed and size, and the
// quad it is drawn with.
struct MomentPointer {
    Rect bounds;
    std::int32_t x;
    std::int32_t y;
    std::int32_t speed;
    std::int32_t width;
    std::int32_t height;
    ScreenQuad quad;
    // Whether the left button was seen up since the last press the game took: a press in the
    // next frame is a click exactly when it is set, whoever's hand it is.
    bool clickArmed;
};

// One moment of the game. Every field is a copy of the engine record named beside it.
struct Moment {
    std::uint64_t scenarioHash; // scenarioIdentity() of the blocks the moment was taken with
    std::uint8_t scene;         // g_frameNo
    ScriptState script;         // g_script, the checkpoint flags saveWritten and continueGame too
    std::array<std::uint8_t, kPageBufferSize> page;       // g_page
    std::array<std::int32_t, kPageBufferSize> pageOrigin; // g_pageOrigin
    LastTag lastTag;                                      // g_lastTag
    std::array<PictureLayer, kLayerCount> layers;         // g_layers
    std::int32_t background;                              // currentBackground
    std::int32_t music;        // currentBgm: the slot the checkpoint names, -1 for none
    std::int32_t musicPlaying; // primarySoundSlot(): the slot sounding as primary, -1 for none
    std::array<LinkEntry, kLinkCount> links; // g_links
    ScreenQuad clickQuad;                    // g_clickQuad
    MomentPointer pointer;                   // g_pointer and g_pointerQuad
    // The checkpoint record this run last wrote (lastCheckpointWrite), which a continue from
    // this moment reads back; hasCheckpoint is false when this run had written none.
    bool hasCheckpoint;
    std::array<std::uint8_t, kCheckpointSize> checkpoint;
};

// A hash of both blocks' loaded text (their lengths and their bytes): the game a moment belongs
// to. Two games with the same scenario text are the same game to a moment.
std::uint64_t scenarioIdentity();

// The engine's moment now.
Moment captureMoment();

// The moment as bytes: magic, version, length, crc32 of the body, then the body, every field
// little-endian and of a fixed width. Encodes whatever the record holds; decode checks it.
std::vector<std::uint8_t> encodeMoment(const Moment& moment);

// Reads bytes encodeMoment made. False, with a reason for the player and the author, when the
// bytes are empty, cut short, too long, of another format or a newer version, fail their
// checksum, or hold a field outside its range; *moment is then left as it was.
bool decodeMoment(std::span<const std::uint8_t> bytes, Moment* moment, std::string* reason);

// Puts the engine back at the moment: the script, the page, the pictures (loaded again when
// the picture set is not), the links, the pointer's place, the checkpoint the run would continue
// from, and the music slot, whose piece starts again from its beginning (a piece's position is
// not kept). Meant for the game scene once its init has run (the quads and sounds a game init
// makes are not in a moment). False, with its reason and the engine untouched, when the moment
// is not of the game scene or belongs to another scenario than the one loaded.
bool restoreMoment(const Moment& moment, std::string* reason);

// The same for a moment of an earlier text of this scenario (an author's edit): everything but
// the page, which starts afresh at `source` of the scenario loaded now, no choice pending. False,
// with its reason and the engine untouched, when the moment is not of the game scene.
bool restoreMomentAt(const Moment& moment, std::int32_t source, std::string* reason);
