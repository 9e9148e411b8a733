#include "player/moment.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <tuple>

#include "base/scene_number.h"
#include "player/byte_io.h"
#include "render/render.h"
#include "script/checkpoint_record.h"
#include "sound/sound.h"

// A layer's picture and the background are numbers into the texture tables; a moment that
// names one outside them is refused, so the tables and the script's ranges must agree.
static_assert(std::tuple_size_v<decltype(g_charTex)> == kCharPictureCount);
static_assert(std::tuple_size_v<decltype(g_bgTex)> == kBackgroundCount);

namespace {

using namespace byte_io;

constexpr std::array<std::uint8_t, 8> kMagic = {'T', 'V', 'M', 'O', 'M', 'E', 'N', 'T'};
constexpr std::size_t kHeaderBytes = kMagic.size() + 4 + 4 + 4; // magic, version, length, crc

// The flags of a moment as read, before they are checked to be 0 or 1.
struct ReadFlags {
    std::uint8_t textRunning, linkMode, choiceWait, saveWritten, continueGame, pageEnded;
    std::array<std::uint8_t, kLayerCount> layerVisible;
    std::array<std::uint8_t, kLinkCount> linkActive, linkHovered;
    std::uint8_t clickArmed;
    std::uint8_t hasCheckpoint;
};

void writeBody(Writer& w, const Moment& m) {
    w.u64(m.scenarioHash);
    w.u8(m.scene);
    const ScriptState& s = m.script;
    w.i32(s.source);
    w.i32(s.revealPos);
    w.i32(s.removedBytes);
    w.i32(s.column);
    w.i32(s.line);
    w.i32(s.charsPerLine);
    w.flag(s.textRunning);
    w.flag(s.linkMode);
    w.flag(s.choiceWait);
    w.i32(s.linkCount);
    w.i32(s.currentBlock);
    w.flag(s.saveWritten);
    w.flag(s.continueGame);
    w.flag(s.pageEnded);
    w.bytes(m.page);
    for (const std::int32_t origin : m.pageOrigin)
        w.i32(origin);
    w.bytes({reinterpret_cast<const std::uint8_t*>(m.lastTag.text.data()), m.lastTag.text.size()});
    w.i32(m.lastTag.length);
    w.i32(m.lastTag.origin);
    for (const PictureLayer& layer : m.layers) {
        w.quad(layer.quad);
        w.i32(layer.imageNo);
        w.flag(layer.visible);
    }
    w.i32(m.background);
    w.i32(m.music);
    w.i32(m.musicPlaying);
    for (const LinkEntry& link : m.links) {
        w.quad(link.quad);
        w.bytes({reinterpret_cast<const std::uint8_t*>(link.target.data()), link.target.size()});
        w.flag(link.active);
        w.flag(link.hovered);
    }
    w.quad(m.clickQuad);
    const MomentPointer& p = m.pointer;
    w.i32(p.bounds.left);
    w.i32(p.bounds.top);
    w.i32(p.bounds.right);
    w.i32(p.bounds.bottom);
    w.i32(p.x);
    w.i32(p.y);
    w.i32(p.speed);
    w.i32(p.width);
    w.i32(p.height);
    w.quad(p.quad);
    w.flag(p.clickArmed);
    w.flag(m.hasCheckpoint);
    w.bytes(m.checkpoint);
}

void readBody(Reader& r, Moment& m, ReadFlags& f) {
    m.scenarioHash = r.u64("scenario");
    m.scene = r.u8("scene");
    ScriptState& s = m.script;
    s.source = r.i32("source");
    s.revealPos = r.i32("revealPos");
    s.removedBytes = r.i32("removedBytes");
    s.column = r.i32("column");
    s.line = r.i32("line");
    s.charsPerLine = r.i32("charsPerLine");
    f.textRunning = r.flag("textRunning");
    f.linkMode = r.flag("linkMode");
    f.choiceWait = r.flag("choiceWait");
    s.linkCount = r.i32("linkCount");
    s.currentBlock = r.i32("currentBlock");
    f.saveWritten = r.flag("saveWritten");
    f.continueGame = r.flag("continueGame");
    f.pageEnded = r.flag("pageEnded");
    r.bytes(m.page, "page");
    for (std::int32_t& origin : m.pageOrigin)
        origin = r.i32("pageOrigin");
    r.bytes({reinterpret_cast<std::uint8_t*>(m.lastTag.text.data()), m.lastTag.text.size()},
            "lastTag");
    m.lastTag.length = r.i32("lastTag");
    m.lastTag.origin = r.i32("lastTag");
    for (std::size_t i = 0; i < m.layers.size(); ++i) {
        r.quad(m.layers[i].quad, "layer");
        m.layers[i].imageNo = r.i32("layer");
        f.layerVisible[i] = r.flag("layer");
    }
    m.background = r.i32("background");
    m.music = r.i32("music");
    m.musicPlaying = r.i32("musicPlaying");
    for (std::size_t i = 0; i < m.links.size(); ++i) {
        LinkEntry& link = m.links[i];
        r.quad(link.quad, "link");
        r.bytes({reinterpret_cast<std::uint8_t*>(link.target.data()), link.target.size()}, "link");
        f.linkActive[i] = r.flag("link");
        f.linkHovered[i] = r.flag("link");
    }
    r.quad(m.clickQuad, "clickIcon");
    MomentPointer& p = m.pointer;
    p.bounds.left = r.i32("pointer");
    p.bounds.top = r.i32("pointer");
    p.bounds.right = r.i32("pointer");
    p.bounds.bottom = r.i32("pointer");
    p.x = r.i32("pointer");
    p.y = r.i32("pointer");
    p.speed = r.i32("pointer");
    p.width = r.i32("pointer");
    p.height = r.i32("pointer");
    r.quad(p.quad, "pointer");
    f.clickArmed = r.flag("pointer");
    f.hasCheckpoint = r.flag("checkpoint");
    r.bytes(m.checkpoint, "checkpoint");
}

// ---- Checking ------------------------------------------------------------------------------

// The first field outside its range, as "FIELD is out of range (VALUE)".
struct Check {
    std::string why;

    bool range(std::int64_t v, std::int64_t lo, std::int64_t hi, std::string_view field) {
        if (why.empty() && (v < lo || v > hi))
            why = std::string(field) + " is out of range (" + std::to_string(v) + ", not " +
                  std::to_string(lo) + ".." + std::to_string(hi) + ")";
        return why.empty();
    }
    bool flag(std::uint8_t v, std::string_view field) { return range(v, 0, 1, field); }
    bool quad(const ScreenQuad& q, std::string_view field) {
        for (const QuadVertex& v : q.v)
            for (const float c : {v.x, v.y, v.z, v.rhw, v.u, v.v})
                if (why.empty() && !std::isfinite(c))
                    why = std::string(field) + " holds a coordinate that is not a number";
        return why.empty();
    }
};

std::string checkMoment(const Moment& m, const ReadFlags& f) {
    Check c;
    if (m.scene != kSceneTitleInit && m.scene != kSceneTitle && m.scene != kSceneGameInit &&
        m.scene != kSceneGame)
        return "scene is not a scene number (" + std::to_string(m.scene) + ")";
    const ScriptState& s = m.script;
    c.range(s.source, 0, kScenarioSize, "source");
    c.range(s.revealPos, 0, kPageBufferSize, "revealPos");
    c.range(s.removedBytes, -kPageBufferSize, kScenarioSize, "removedBytes");
    c.range(s.column, 0, kPageBufferSize, "column");
    c.range(s.line, 0, kPageBufferSize, "line");
    c.range(s.charsPerLine, 0, kPageLimit, "charsPerLine");
    c.range(s.linkCount, 0, kLinkCount, "linkCount");
    c.range(s.currentBlock, 0, kBlockCount - 1, "currentBlock");
    for (const std::uint8_t flag : {f.textRunning, f.linkMode, f.choiceWait, f.saveWritten,
                                    f.continueGame, f.pageEnded, f.hasCheckpoint, f.clickArmed})
        c.flag(flag, "a flag of the script");
    for (const std::int32_t origin : m.pageOrigin)
        c.range(origin, 0, kScenarioSize, "pageOrigin");
    c.range(m.lastTag.length, 0, static_cast<std::int64_t>(m.lastTag.text.size()), "lastTag");
    c.range(m.lastTag.origin, 0, kScenarioSize, "lastTag");
    for (std::size_t i = 0; i < m.layers.size(); ++i) {
        c.quad(m.layers[i].quad, "layer");
        c.range(m.layers[i].imageNo, 0, kCharPictureCount - 1, "layer picture");
        c.flag(f.layerVisible[i], "layer");
    }
    c.range(m.background, 0, kBackgroundCount - 1, "background");
    c.range(m.music, -1, kSoundSlotCount - 1, "music");
    c.range(m.musicPlaying, -1, kSoundSlotCount - 1, "musicPlaying");
    for (std::size_t i = 0; i < m.links.size(); ++i) {
        const LinkEntry& link = m.links[i];
        c.quad(link.quad, "link");
        if (c.why.empty() &&
            std::find(link.target.begin(), link.target.end(), '\0') == link.target.end())
            c.why = "link target has no end";
        c.flag(f.linkActive[i], "link");
        c.flag(f.linkHovered[i], "link");
    }
    c.quad(m.clickQuad, "clickIcon");
    const MomentPointer& p = m.pointer;
    c.range(p.bounds.left, 0, kScreenWidth, "pointer bounds");
    c.range(p.bounds.right, p.bounds.left, kScreenWidth, "pointer bounds");
    c.range(p.bounds.top, 0, kScreenHeight, "pointer bounds");
    c.range(p.bounds.bottom, p.bounds.top, kScreenHeight, "pointer bounds");
    c.range(p.width, 0, kScreenWidth, "pointer width");
    c.range(p.height, 0, kScreenHeight, "pointer height");
    c.range(p.x, p.bounds.left, std::max(p.bounds.left, p.bounds.right - p.width), "pointer x");
    c.range(p.y, p.bounds.top, std::max(p.bounds.top, p.bounds.bottom - p.height), "pointer y");
    c.range(p.speed, 0, 1000, "pointer speed");
    c.quad(p.quad, "pointer");
    if (!c.why.empty()) return c.why;
    if (f.hasCheckpoint) {
        // The checkpoint's own reader judges it, as a continue would read it from the file.
        std::array<std::uint8_t, kCheckpointSize> stored = m.checkpoint;
        for (std::uint8_t& b : stored)
            b = static_cast<std::uint8_t>(b + kCheckpointByteOffset);
        CheckpointRecord record;
        CheckpointDamage damage;
        if (!readCheckpointRecord(stored, &record, &damage))
            return "checkpoint is damaged at byte " + std::to_string(damage.offset) + " (" +
                   damage.field + "): " + damage.message;
    }
    return {};
}

// Whether every texture the moment draws is loaded. The numbers are clamped as the game's draw
// clamps them: a moment made in the program, not read, has not been checked.
bool picturesLoaded(const Moment& m) {
    const auto background =
        static_cast<std::size_t>(std::clamp(m.background, 0, kBackgroundCount - 1));
    if (!g_bgTex[background] || !g_textBoxTex || !g_pointerTex || !g_clickTex || !g_choiceTex)
        return false;
    for (const PictureLayer& layer : m.layers) {
        const auto picture =
            static_cast<std::size_t>(std::clamp(layer.imageNo, 0, kCharPictureCount - 1));
        if (layer.visible && !g_charTex[picture]) return false;
    }
    return true;
}

} // namespace

std::uint64_t scenarioIdentity() {
    // FNV-1a over each block's length and text: the bytes behind a block's zero byte are left
    // from a longer load and no part of the game.
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](std::uint8_t b) {
        h ^= b;
        h *= 0x100000001b3ull;
    };
    for (int b = 0; b < kBlockCount; ++b) {
        const int length =
            std::clamp(g_blockLength[static_cast<std::size_t>(b)], 0, kMaxScenarioText);
        for (int shift = 0; shift < 32; shift += 8)
            mix(static_cast<std::uint8_t>(static_cast<std::uint32_t>(length) >> shift));
        const std::size_t start = static_cast<std::size_t>(b) * kBlockSize;
        for (std::size_t i = 0; i < static_cast<std::size_t>(length); ++i)
            mix(g_scenario[start + i]);
    }
    return h;
}

Moment captureMoment() {
    Moment m{};
    m.scenarioHash = scenarioIdentity();
    m.scene = g_frameNo;
    m.script = g_script;
    m.page = g_page;
    m.pageOrigin = g_pageOrigin;
    m.lastTag = g_lastTag;
    m.layers = g_layers;
    m.background = currentBackground;
    m.music = currentBgm;
    m.musicPlaying = primarySoundSlot();
    m.links = g_links;
    m.clickQuad = g_clickQuad;
    const PointerState& p = g_pointer;
    m.pointer = {p.bounds, p.x, p.y, p.speed, p.width, p.height, g_pointerQuad, p.clickArmed};
    if (const auto written = lastCheckpointWrite()) {
        m.hasCheckpoint = true;
        m.checkpoint = *written;
    }
    return m;
}

std::vector<std::uint8_t> encodeMoment(const Moment& moment) {
    Writer body;
    writeBody(body, moment);
    Writer w;
    w.bytes(kMagic);
    w.u32(kMomentVersion);
    w.u32(static_cast<std::uint32_t>(body.out.size()));
    w.u32(crcOf(body.out));
    w.bytes(body.out);
    return w.out;
}

bool decodeMoment(std::span<const std::uint8_t> bytes, Moment* moment, std::string* reason) {
    auto refuse = [reason](std::string why) {
        if (reason) *reason = std::move(why);
        return false;
    };
    if (bytes.empty()) return refuse("the file is empty");
    const std::size_t magicSeen = std::min(bytes.size(), kMagic.size());
    if (!std::equal(kMagic.begin(), kMagic.begin() + static_cast<std::ptrdiff_t>(magicSeen),
                    bytes.begin()))
        return refuse("not a saved moment of this engine (another kind of file)");
    if (bytes.size() < kHeaderBytes)
        return refuse("cut short: " + std::to_string(bytes.size()) + " bytes, fewer than its " +
                      std::to_string(kHeaderBytes) + "-byte header");
    if (bytes.size() > kMaxMomentBytes) return refuse("longer than 64 KB");
    const std::uint32_t version = readLe32(bytes, 8);
    if (version > kMomentVersion)
        return refuse("made by a newer version of the engine (format " + std::to_string(version) +
                      "; this one reads " + std::to_string(kMomentVersion) + ")");
    if (version < kMomentVersion)
        return refuse("of an unknown format version " + std::to_string(version));
    const std::uint32_t length = readLe32(bytes, 12);
    const std::size_t held = bytes.size() - kHeaderBytes;
    if (length > held)
        return refuse("cut short: holds " + std::to_string(held) + " of its " +
                      std::to_string(length) + " bytes");
    if (length < held)
        return refuse("damaged: " + std::to_string(held - length) + " bytes after its end");
    const std::span<const std::uint8_t> body = bytes.subspan(kHeaderBytes);
    if (crcOf(body) != readLe32(bytes, 16)) return refuse("damaged: its checksum does not match");

    Moment m{};
    ReadFlags f{};
    Reader r{body};
    readBody(r, m, f);
    if (r.cutAt) return refuse(std::string("damaged: it ends inside ") + r.cutAt);
    if (r.at != body.size())
        return refuse("damaged: " + std::to_string(body.size() - r.at) +
                      " bytes after its last field");
    if (std::string why = checkMoment(m, f); !why.empty()) return refuse("damaged: " + why);
    m.script.textRunning = f.textRunning != 0;
    m.script.linkMode = f.linkMode != 0;
    m.script.choiceWait = f.choiceWait != 0;
    m.script.saveWritten = f.saveWritten != 0;
    m.script.continueGame = f.continueGame != 0;
    m.script.pageEnded = f.pageEnded != 0;
    for (std::size_t i = 0; i < m.layers.size(); ++i)
        m.layers[i].visible = f.layerVisible[i] != 0;
    for (std::size_t i = 0; i < m.links.size(); ++i) {
        m.links[i].active = f.linkActive[i] != 0;
        m.links[i].hovered = f.linkHovered[i] != 0;
    }
    m.hasCheckpoint = f.hasCheckpoint != 0;
    m.pointer.clickArmed = f.clickArmed != 0;
    if (moment) *moment = m;
    return true;
}

namespace {

// Everything of the moment but the script's place in the scenario, which the callers set.
void putBackAllButPlace(const Moment& m) {
    g_lastTag = m.lastTag;
    g_layers = m.layers;
    currentBackground = m.background;
    currentBgm = m.music;
    g_clickQuad = m.clickQuad;
    PointerState& p = g_pointer;
    p.bounds = m.pointer.bounds;
    p.x = m.pointer.x;
    p.y = m.pointer.y;
    p.speed = m.pointer.speed;
    p.width = m.pointer.width;
    p.height = m.pointer.height;
    p.clickArmed = m.pointer.clickArmed;
    g_pointerQuad = m.pointer.quad;
    g_frameNo = m.scene;

    // The [image] tags only choose among pictures the game init loaded as one set; a moment
    // whose pictures are not loaded has them loaded by that same loader.
    if (!picturesLoaded(m)) loadImageSet();

    // A continue from this moment reads the checkpoint the run had written by then.
    if (m.hasCheckpoint)
        rewriteCheckpoint(m.checkpoint);
    else
        forgetCheckpointWrites();

    // The piece that sounded starts again from its beginning: where a piece was is not kept.
    stopAllSound();
    if (m.musicPlaying >= 0) playSlotPrimary(m.musicPlaying);
}

} // namespace

bool restoreMoment(const Moment& m, std::string* reason) {
    auto refuse = [reason](std::string why) {
        if (reason) *reason = std::move(why);
        return false;
    };
    if (m.scene != kSceneGame) return refuse("the moment is not of a game in play");
    if (m.scenarioHash != scenarioIdentity()) return refuse("the moment is of another game");
    g_script = m.script;
    g_page = m.page;
    g_pageOrigin = m.pageOrigin;
    g_links = m.links;
    putBackAllButPlace(m);
    return true;
}

bool restoreMomentAt(const Moment& m, std::int32_t source, std::string* reason) {
    if (m.scene != kSceneGame) {
        if (reason) *reason = "the moment is not of a game in play";
        return false;
    }
    // The run's flags are the moment's; the page is the edited scenario's, started afresh.
    g_script = m.script;
    putBackAllButPlace(m);
    restartPageAt(source);
    return true;
}
