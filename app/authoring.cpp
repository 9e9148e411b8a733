#include "app/authoring.h"

#include <SDL.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "app/frame.h"
#include "base/files.h"
#include "base/message.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "render/render.h"
#include "scenes/scenes.h"
#include "script/scenario_text.h"
#include "script/script.h"
#include "sound/sound.h"

namespace {

constexpr std::array<const char*, kBlockCount> kSourceNames = {"Scenario/scenario0.txt",
                                                               "Scenario/end1.txt"};
constexpr std::array<const char*, kBlockCount> kScenarioNames = {"Scenario/scenario0.qv_",
                                                                 "Scenario/end1.qv_"};
// How often the watch looks at the sources.
constexpr std::uint32_t kWatchPeriodMs = 500;

struct FileStamp {
    bool exists = false;
    std::int64_t size = 0;
    std::int64_t modified = 0; // nanoseconds
    bool operator==(const FileStamp&) const = default;
};

// The author's state. Set by startAuthoring, changed by the keys and the watch; reset by
// stopAuthoring.
struct Authoring {
    bool source = false; // the sources are played
    bool overlay = false;
    std::array<FileStamp, kBlockCount> loaded{}; // the sources as last encoded
    std::uint32_t lastWatch = 0;
    std::string notice; // one line shown over the game (a change on disk, a failed reload)
};
Authoring g_authoring;

FileStamp stampOf(const char* name) {
    struct stat st;
    if (::stat(systemPath(name).c_str(), &st) != 0) return {};
    return {true, static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

// Reads and encodes both sources; every error is on standard error. False when any failed.
bool encodeSources(std::array<std::vector<std::uint8_t>, kBlockCount>* stored,
                   std::string* firstError) {
    bool ok = true;
    for (int b = 0; b < kBlockCount; ++b) {
        const char* name = kSourceNames[static_cast<std::size_t>(b)];
        std::string text, reason;
        const FileRead read = readSourceFile(systemPath(name), &text, &reason);
        if (read != FileRead::Read) {
            const std::string line = read == FileRead::Refused
                                         ? std::string(name) + " " + reason
                                         : std::string("cannot read ") + name + ": " + reason;
            std::fprintf(stderr, "tolvane: %s\n", terminalText(line).c_str());
            if (firstError->empty()) *firstError = line;
            ok = false;
            continue;
        }
        EncodeResult result = encodeScenario(text, SourceEncoding::Utf8);
        for (const TextProblem& p : result.errors) {
            const std::string line = std::string(name) + ":" + std::to_string(p.place.line) + ":" +
                                     std::to_string(p.place.column) + ": error: " + p.message;
            std::fprintf(stderr, "%s\n", terminalText(line).c_str());
            if (firstError->empty()) *firstError = line;
        }
        if (!result.errors.empty()) ok = false;
        (*stored)[static_cast<std::size_t>(b)] = std::move(result.stored);
    }
    return ok;
}

// The sources as last encoded, for the --start check.
std::array<std::vector<std::uint8_t>, kBlockCount> g_encoded;

bool provideSources() {
    std::array<FileStamp, kBlockCount> stamps = {stampOf(kSourceNames[0]),
                                                 stampOf(kSourceNames[1])};
    std::array<std::vector<std::uint8_t>, kBlockCount> stored;
    std::string firstError;
    if (!encodeSources(&stored, &firstError)) {
        g_authoring.notice = "reload failed: " + firstError;
        g_authoring.loaded = stamps; // told once; the next change is announced again
        return false;
    }
    g_encoded = stored;
    for (int b = 0; b < kBlockCount; ++b)
        provideScenario(b, std::move(stored[static_cast<std::size_t>(b)]),
                        kSourceNames[static_cast<std::size_t>(b)]);
    g_authoring.loaded = stamps;
    g_authoring.notice.clear();
    return true;
}

// Where the page shown now starts again in the edited text: the same line, and the same byte
// of it when the line still begins with the same bytes (a page that starts behind a [ct]);
// when the line is gone, the landing of the nearest label above it; else the block's start.
std::int32_t placeInEditedText(const SourcePlace& place, std::string_view oldLineStart) {
    if (const std::optional<std::string_view> line = sourceLine(place.block, place.line)) {
        const std::int32_t start = *positionOfLine(place.block, place.line);
        const bool same = line->substr(0, oldLineStart.size()) == oldLineStart &&
                          line->size() >= oldLineStart.size();
        return start + (same ? static_cast<std::int32_t>(oldLineStart.size()) : 0);
    }
    if (const std::optional<std::int32_t> landing = landingBeforeLine(place.block, place.line))
        return *landing;
    return place.block * kBlockSize;
}

void reload() {
    const SourcePlace place = sourcePlaceOf(g_script.source);
    const std::string oldLineStart(
        sourceLine(place.block, place.line).value_or(std::string_view()).substr(0, place.byte));
    if (!provideSources()) return;
    if (g_frameNo == kSceneTitle) {
        g_frameNo = kSceneTitleInit; // the title loads its picture and music again
        return;
    }
    if (g_frameNo != kSceneGame) return; // a game init is due and loads the sources itself

    const bool musicWasPlaying = musicPlaying();
    loadScenarioBlocks();
    loadGameAssets();
    restartPageAt(placeInEditedText(place, oldLineStart));
    if (musicWasPlaying && currentBgm >= 0) playSlotPrimary(currentBgm);
    if (traceEnabled()) traceEvent("reload", {{"at", sourceAt(g_script.source)}});
}

void watchSources() {
    const std::uint32_t now = SDL_GetTicks();
    if (now - g_authoring.lastWatch < kWatchPeriodMs) return;
    g_authoring.lastWatch = now;
    for (int b = 0; b < kBlockCount; ++b) {
        const std::size_t i = static_cast<std::size_t>(b);
        const FileStamp stamp = stampOf(kSourceNames[i]);
        if (stamp == g_authoring.loaded[i]) continue;
        g_authoring.loaded[i] = stamp; // announced once a change
        g_authoring.notice = std::string(kSourceNames[i]) + " changed: F5 reloads it";
        reportProblem(g_authoring.notice);
    }
}

// Shift-JIS for the font; what has no form there shows as '?'.
std::string forFont(std::string_view utf8) {
    if (std::optional<std::string> sjis = utf8ToSjis(utf8)) return *sjis;
    std::string ascii;
    for (char c : utf8)
        ascii += static_cast<unsigned char>(c) < 0x80 ? c : '?';
    return ascii;
}

std::string placeText(std::int64_t pos) {
    const SourcePlace place = sourcePlaceOf(pos);
    std::string name(scenarioSourceName(place.block));
    if (name.empty()) name = kScenarioNames[static_cast<std::size_t>(place.block)];
    return name + ":" + std::to_string(place.line);
}

// Lines of text over a dark band, from the top-left of the rectangle.
void drawPanel(const std::vector<std::string>& lines, int top) {
    const int height = static_cast<int>(lines.size()) * kLineHeight + 10;
    ScreenQuad band;
    buildQuad(band, 255, 0, static_cast<float>(top), static_cast<float>(kScreenWidth),
              static_cast<float>(top + height), 0, 0, 64, 64);
    for (QuadVertex& v : band.v)
        v.diffuse = 0xC0000000u;
    drawQuad(nullptr, band);
    std::string text;
    for (const std::string& line : lines)
        text += forFont(line) + "\n";
    const Rect rect{8, top + 5, kScreenWidth - 8, top + height};
    drawText(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()),
             rect, 0xFFFFFF80u);
}

void drawOverlay() {
    std::vector<std::string> lines;
    const ScriptState& s = g_script;
    const bool inGame = g_frameNo == kSceneGame || g_frameNo == kSceneGameInit;
    lines.push_back("scene " + std::to_string(int{g_frameNo}) + "  " + std::to_string(g_frameRate) +
                    " fps  block " + std::to_string(s.currentBlock));
    if (inGame) {
        const int reveal = std::clamp(s.revealPos, 0, kPageBufferSize - 1);
        lines.push_back("page   " + placeText(s.source));
        lines.push_back("reveal " + placeText(g_pageOrigin[static_cast<std::size_t>(reveal)]));
        std::string tag = "(none)";
        if (g_lastTag.length > 0) {
            const std::string_view bytes(g_lastTag.text.data(),
                                         static_cast<std::size_t>(g_lastTag.length));
            tag = sjisToUtf8(bytes.substr(0, bytes.find_first_of("\r\n"))) + " at " +
                  placeText(g_lastTag.origin);
        }
        lines.push_back("tag    " + tag);
    }
    lines.push_back(std::string("checkpoint ") +
                    (s.saveWritten ? "written this run" : "not written") +
                    (s.continueGame ? ", continue armed" : ""));
    // The font's cells are 14 pixels: 56 of them fit the band.
    for (std::string& line : lines)
        if (line.size() > 56) line = line.substr(0, 53) + "...";
    const int height = static_cast<int>(lines.size()) * kLineHeight + 10;
    drawPanel(lines, kScreenHeight - height);
}

// Whether the block the game will play holds the label, found by the engine's own search in
// the text as the game loads it. The scenario memory it searches is filled again when the game
// starts. False, with the reason on standard error, when it does not or the block cannot be read.
bool startLabelIsThere(const ProgramOptions& options, const std::string& label) {
    const auto b = static_cast<std::size_t>(options.startBlock);
    const char* name = options.source ? kSourceNames[b] : kScenarioNames[b];
    std::string read, reason;
    if (!options.source && readSourceFile(systemPath(name), &read, &reason) != FileRead::Read) {
        std::fprintf(stderr, "tolvane: --start: cannot read %s: %s\n", name,
                     terminalText(reason).c_str());
        return false;
    }
    const std::span<const std::uint8_t> stored =
        options.source ? std::span<const std::uint8_t>(g_encoded[b])
                       : std::span(reinterpret_cast<const std::uint8_t*>(read.data()), read.size());
    putBlockText(options.startBlock, plainScenarioText(stored));
    const std::int32_t source = g_script.source;
    const bool found = findLabel(options.startBlock, label).has_value();
    g_script.source = source;
    if (!found)
        std::fprintf(stderr, "tolvane: --start %d:*%s: %s has no such label\n", options.startBlock,
                     terminalText(options.startLabel).c_str(), name);
    return found;
}

} // namespace

bool startAuthoring(const ProgramOptions& options) {
    stopAuthoring();
    g_authoring.source = options.source;
    if (options.source && !provideSources()) return false;
    if (options.startBlock >= 0) {
        // Label names are compared as the scenario holds them: in Shift-JIS.
        const std::string label = utf8ToSjis(options.startLabel).value_or(options.startLabel);
        // A start that cannot happen ends the program, rather than playing from the start.
        if (!startLabelIsThere(options, label)) return false;
        setStartPlace(options.startBlock, label);
        setUpPointer(); // as the title would have
        g_frameNo = kSceneGameInit;
    }
    return true;
}

void authoringFrame() {
    Authoring& a = g_authoring;
    if (keyPressed(kKeyF3)) a.overlay = !a.overlay;
    if (keyPressed(kKeyF5) && a.source) reload();
    if (a.source) watchSources();

    if (a.overlay) drawOverlay();
    if (!a.notice.empty()) drawPanel({a.notice.substr(0, 56)}, 0);
}

void stopAuthoring() {
    g_authoring = {};
    g_encoded = {};
    forgetProvidedScenario();
}
