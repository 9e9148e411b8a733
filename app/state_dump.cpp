#include "app/state_dump.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <zlib.h>

#include "base/files.h"
#include "base/message.h"
#include "base/output_file.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "render/render.h"
#include "script/script.h"
#include "sound/sound.h"

namespace {

struct Json {
    std::string out;
    bool first = true;

    void key(const char* k) {
        if (!first) out += ',';
        first = false;
        appendJsonString(out, k);
        out += ':';
    }
    void open(const char* k, char bracket) {
        if (k)
            key(k);
        else if (!first)
            out += ',';
        out += bracket;
        first = true;
    }
    void close(char bracket) {
        out += bracket;
        first = false;
    }
    void number(const char* k, std::int64_t v) {
        key(k);
        out += std::to_string(v);
    }
    void real(const char* k, float v) {
        key(k);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
        out += buf;
    }
    void boolean(const char* k, bool v) {
        key(k);
        out += v ? "true" : "false";
    }
    void text(const char* k, std::string_view v) {
        key(k);
        appendJsonString(out, v);
    }
    void corners(const ScreenQuad& q) {
        real("x0", q.v[0].x);
        real("y0", q.v[0].y);
        real("x1", q.v[2].x);
        real("y1", q.v[2].y);
    }
};

// The revealed page as the player reads it: zero bytes take no room on screen.
std::string revealedText() {
    const int count = std::clamp(g_script.revealPos, 0, kPageBufferSize);
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        if (g_page[i] != 0) bytes += static_cast<char>(g_page[i]);
    return sjisToUtf8(bytes);
}

// The frame's picture as one number, so that two runs can be shown to draw the same frames
// without a screenshot of each: crc32 of its 800 x 600 ARGB pixels, 0 when it cannot be read.
std::uint32_t pictureChecksum() {
    static std::vector<std::uint32_t> argb(static_cast<std::size_t>(kScreenWidth) * kScreenHeight);
    if (!readPixels(argb.data(), kScreenWidth * 4)) return 0;
    return static_cast<std::uint32_t>(::crc32(0L, reinterpret_cast<const Bytef*>(argb.data()),
                                              static_cast<uInt>(argb.size() * 4)));
}

} // namespace

std::string gameStateJson(std::uint64_t frame) {
    const ScriptState& s = g_script;
    Json j;
    j.open(nullptr, '{');
    j.number("frame", static_cast<std::int64_t>(frame));
    j.number("scene", g_frameNo);
    j.open("script", '{');
    j.number("source", s.source);
    j.number("revealPos", s.revealPos);
    j.number("removedBytes", s.removedBytes);
    j.number("column", s.column);
    j.number("line", s.line);
    j.number("charsPerLine", s.charsPerLine);
    j.boolean("textRunning", s.textRunning);
    j.boolean("linkMode", s.linkMode);
    j.boolean("choiceWait", s.choiceWait);
    j.number("linkCount", s.linkCount);
    j.number("currentBlock", s.currentBlock);
    j.boolean("saveWritten", s.saveWritten);
    j.boolean("continueGame", s.continueGame);
    j.close('}');
    j.text("text", revealedText());
    j.number("currentBackground", currentBackground);
    j.number("currentBgm", currentBgm);
    j.open("layers", '[');
    for (const PictureLayer& layer : g_layers) {
        j.open(nullptr, '{');
        j.number("imageNo", layer.imageNo);
        j.boolean("visible", layer.visible);
        j.corners(layer.quad);
        j.close('}');
    }
    j.close(']');
    j.open("links", '[');
    for (const LinkEntry& link : g_links) {
        j.open(nullptr, '{');
        j.text("target",
               sjisToUtf8({link.target.data(), ::strnlen(link.target.data(), link.target.size())}));
        j.boolean("active", link.active);
        j.boolean("hovered", link.hovered);
        j.corners(link.quad);
        j.close('}');
    }
    j.close(']');
    j.open("pointer", '{');
    j.number("x", g_pointer.x);
    j.number("y", g_pointer.y);
    j.key("pressed");
    j.out += "[" + std::to_string(g_pointer.pressed[0]) + "," +
             std::to_string(g_pointer.pressed[1]) + "," + std::to_string(g_pointer.pressed[2]) +
             "]";
    j.boolean("clickArmed", g_pointer.clickArmed);
    j.close('}');
    j.open("clickIcon", '{');
    j.real("x0", g_clickQuad.v[0].x);
    j.real("y0", g_clickQuad.v[0].y);
    j.close('}');
    j.open("sound", '{');
    j.number("primary", primarySoundSlot());
    j.key("loaded");
    j.out += '[';
    bool firstSlot = true;
    for (int slot = 0; slot < kSoundSlotCount; ++slot) {
        if (!soundSlotLoaded(slot)) continue;
        if (!firstSlot) j.out += ',';
        firstSlot = false;
        j.out += std::to_string(slot);
    }
    j.out += ']';
    j.close('}');
    j.open("comforts", '{');
    j.boolean("autoMode", g_comforts.autoMode);
    j.boolean("skipRead", g_comforts.skipRead);
    j.boolean("backlogOpen", g_comforts.backlogOpen);
    j.number("backlogTop", g_comforts.backlogTop);
    j.number("backlogPages", backlogPageCount());
    j.boolean("menuOpen", g_comforts.menuOpen);
    j.number("menuItem", g_comforts.menuItem);
    j.boolean("textHidden", g_comforts.textHidden);
    j.number("musicVolume", g_comfortSettings.musicVolume);
    j.number("effectVolume", g_comfortSettings.effectVolume);
    j.number("textSpeed", static_cast<int>(g_comfortSettings.textSpeed));
    j.close('}');
    j.close('}');
    return j.out + "\n";
}

bool writeGameState(const std::string& path, std::uint64_t frame) {
    std::string json = gameStateJson(frame);
    // The file ends "}\n": the picture goes in as the object's last field.
    json.insert(json.size() - 2, ",\"picture\":" + std::to_string(pictureChecksum()));
    return writeOutputFile(path, json);
}
