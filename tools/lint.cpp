// The linter's page walk: every page the script can show is built by the engine's own page
// builder and stepped with the engine's own interpreter, from the start of block 0 and from
// every label a jump or a choice leads to. The walk only keeps the engine from acting on the
// world (no checkpoint file, no sound, no messages): it runs the page-changing tags itself.
#include "tools/lint.h"

#include <algorithm>
#include <map>
#include <set>
#include <sys/stat.h>
#include <tuple>

#include "base/files.h"
#include "imagelib/image.h"
#include "script/scenario_text.h"
#include "script/script.h"
#include "sound/numbered_effects.h"
#include "sound/sound_files.h"
#include "tools/lint_tags.h"

namespace {

constexpr std::uint8_t kLF = 0x0A;

struct Link {
    std::string target;
    std::int32_t place; // the [link] tag, absolute
};

// Where a page walk starts and the state it inherits.
struct Entry {
    std::int32_t source;
    int block;
    int column;
    bool first; // the start of block 0: startScenario's fill, not a landing on a label
    bool linkMode;
    std::vector<Link> links;
};

struct Linter {
    std::array<std::string, 2> plain;
    std::array<std::string, 2> files;
    std::set<std::tuple<std::int32_t, bool, std::string>> found; // absolute place, error, message
    std::set<std::int32_t> landed;                               // label landings, absolute
    std::set<std::tuple<std::int32_t, int, bool, std::size_t>> visited;
    std::vector<Entry> work;

    static int blockOf(std::int32_t pos) { return pos >= kBlockSize ? 1 : 0; }
    std::int32_t textEnd(int block) const {
        return block * kBlockSize + static_cast<std::int32_t>(plain[block].size());
    }
    void report(std::int32_t pos, bool error, std::string message) {
        found.insert({pos, error, std::move(message)});
    }
    // Start of the line holding pos: line starts are always character starts, since an LF is
    // never the second byte of a character.
    static std::int32_t lineStartOf(std::int32_t pos) {
        const std::int32_t first = blockOf(pos) * kBlockSize;
        while (pos > first && scenarioByte(pos - 1) != '\n')
            --pos;
        return pos;
    }
    // Reports once per line: a line of ASCII would otherwise give a finding a byte.
    void warnOnce(std::set<std::int32_t>& lines, std::int32_t pos, const std::string& message) {
        if (pos < lastLine.first || pos >= lastLine.second) {
            lastLine.first = lineStartOf(pos);
            lastLine.second = pos + 1;
            while (lastLine.second < textEnd(blockOf(pos)) &&
                   scenarioByte(lastLine.second - 1) != '\n')
                ++lastLine.second;
        }
        if (lines.insert(lastLine.first).second) report(pos, false, message);
    }
    std::pair<std::int32_t, std::int32_t> lastLine{0, 0};

    // Lands on a label as a jump or a chosen link does; false when the block has none.
    bool land(int block, const std::string& name, std::int32_t from, int column, bool linkMode,
              std::vector<Link> links, const std::string& what) {
        std::optional<bool> marked = findLabel(block, name);
        if (!marked) {
            report(from, true,
                   what + " *" + sjisToUtf8(name) + ": block " + std::to_string(block) +
                       " has no such label");
            return false;
        }
        landed.insert(g_script.source);
        work.push_back({g_script.source, block, column, false, linkMode, std::move(links)});
        return true;
    }

    std::pair<std::int32_t, std::int32_t> quiet{0, 0}; // bytes of a [ct] a bad page start shows

    // Page starts (a label's next line, or the page after a [ct]) that lead to another page
    // start without a character shown, a click wait or a choice: the game runs such a step in
    // one frame. A cycle of them never waits again.
    struct SilentStep {
        std::int32_t from;
        std::int32_t to;
        std::int32_t place; // the [jump] or [ct] that takes it
    };
    std::vector<SilentStep> silent;
    void reportSilentLoops();

    void walk(const Entry& e);
    // Walks every page waiting in `work`, each state once.
    void drain() {
        while (!work.empty() && visited.size() < 20000) {
            Entry e = std::move(work.back());
            work.pop_back();
            if (visited.insert({e.source, e.column, e.linkMode, e.links.size()}).second) walk(e);
        }
    }
    // False when the next page starts inside a character: what follows is garbled, and findings
    // about it would only repeat this one.
    bool checkNextPage(std::int32_t ctStart, std::int32_t ctEnd, std::int32_t next);
};

// The engine's next page after a [ct] must begin right behind it (or behind the line end that
// follows it, which the builder skips); anything else shows text twice, garbles it or drops it.
bool Linter::checkNextPage(std::int32_t ctStart, std::int32_t ctEnd, std::int32_t next) {
    auto byte = [](std::int32_t p) { return scenarioByte(p); };
    std::int32_t ideal = ctEnd;
    if (byte(ideal) == '\r' && byte(ideal + 1) == kLF) ideal += 1;
    while (byte(ideal) == kLF)
        ++ideal;
    std::int32_t real = next;
    while (byte(real) == kLF)
        ++real;
    if (real == ideal) return true;

    const int b = blockOf(ctStart);
    const std::string_view text = plain[b];
    const std::int32_t base = b * kBlockSize;
    TextPlace at =
        placeOfSjisOffset(text, std::clamp(real - base, 0, static_cast<int>(text.size())));
    std::string where = "line " + std::to_string(at.line) + ", column " + std::to_string(at.column);
    // Inside a character when one starts before `real` and ends behind it.
    bool inside = false;
    for (std::int32_t i = lineStartOf(real); i < real;) {
        const std::int32_t n = scenarioByte(i) >= 0x80 ? 2 : 1;
        if (i + n > real) inside = true;
        i += n;
    }
    const std::int32_t off = real - ideal;
    auto bytes = [](std::int32_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); };
    auto lines = [](std::int32_t n) {
        return std::to_string(n) + (n == 1 ? " comment line" : " comment lines");
    };
    const std::string why = " (the engine counts each line end on a page one byte short, and each "
                            "comment line and automatic line wrap one byte over; ";
    if (real == ctEnd && byte(real) == '\r') {
        report(ctStart, false,
               "the next page opens with an empty line and a click wait: write the "
               "[ct] at the start of the next page's first line");
    } else if (inside) {
        report(ctStart, true,
               "the next page starts inside a double-byte character, at " + where +
                   ": the text is garbled" + why +
                   (off < 0 ? "add " + lines(-off) : "remove " + lines(off)) + ")");
        return false;
    } else if (off < 0) {
        report(ctStart, true,
               "the next page starts " + bytes(-off) + " early, at " + where +
                   (real >= ctStart ? ", inside the [ct] tag: its bytes show as blank cells"
                                    : ": text already shown is shown again") +
                   why + "add " + lines(-off) + " to the page)");
        if (real >= ctStart) quiet = {real, ctEnd};
    } else {
        report(ctStart, true,
               "the next page starts " + bytes(off) + " late, at " + where +
                   ": the text before it is never shown" + why + "remove " + lines(off) +
                   " or shorten the lines that wrap)");
    }
    return true;
}

// Every strongly connected set of silent steps is a loop the game runs for ever, one pass a
// frame, never waiting for the player (and writing the checkpoint at each marked label in it).
// Told once a loop, at its first step in the text.
void Linter::reportSilentLoops() {
    std::map<std::int32_t, std::vector<std::size_t>> out; // page start -> its steps
    for (std::size_t i = 0; i < silent.size(); ++i)
        out[silent[i].from].push_back(i);
    // Tarjan's components, iteratively: a long chain of steps must not exhaust the stack.
    std::map<std::int32_t, int> index, low;
    std::set<std::int32_t> onStack;
    std::vector<std::int32_t> stack;
    int counter = 0;
    for (const auto& [root, unused] : out) {
        if (index.count(root)) continue;
        std::vector<std::pair<std::int32_t, std::size_t>> frames{{root, 0}};
        index[root] = low[root] = counter++;
        stack.push_back(root);
        onStack.insert(root);
        while (!frames.empty()) {
            auto& [v, edge] = frames.back();
            const std::vector<std::size_t>& edges = out[v];
            if (edge < edges.size()) {
                const std::int32_t w = silent[edges[edge++]].to;
                if (!index.count(w)) {
                    index[w] = low[w] = counter++;
                    stack.push_back(w);
                    onStack.insert(w);
                    frames.push_back({w, 0});
                } else if (onStack.count(w)) {
                    low[v] = std::min(low[v], index[w]);
                }
                continue;
            }
            const std::int32_t done = v;
            frames.pop_back();
            if (!frames.empty())
                low[frames.back().first] = std::min(low[frames.back().first], low[done]);
            if (low[done] != index[done]) continue;
            std::set<std::int32_t> component;
            std::int32_t w;
            do {
                w = stack.back();
                stack.pop_back();
                onStack.erase(w);
                component.insert(w);
            } while (w != done);
            std::int32_t first = -1;
            for (const SilentStep& step : silent)
                if (component.count(step.from) && component.count(step.to) &&
                    (first < 0 || step.place < first))
                    first = step.place;
            if (first >= 0)
                report(first, true,
                       "a loop of jumps runs through here without showing a character, waiting "
                       "for a click or offering a choice: the game never waits again");
        }
    }
}

void Linter::walk(const Entry& e) {
    ScriptState& s = g_script;
    s = {};
    s.charsPerLine = 25;
    s.currentBlock = e.block;
    s.source = e.source;
    s.column = e.column;
    s.linkMode = e.linkMode;
    clearLinks();
    std::vector<Link> links = e.links;
    s.linkCount = static_cast<std::int32_t>(links.size());
    if (e.first)
        fillPage();
    else
        buildNextPage();

    std::int32_t cursor = s.source; // the source byte of the item at the reveal position
    std::int32_t pageStart = s.source;
    std::int32_t node = s.source; // the page start this walk last came through
    bool waited = false;          // a character shown or a click waited for since `node`
    int built = 0;                // the item's index in the page as the builder laid it out
    int shownSinceWait = 0;
    std::int32_t pendingLink = -1; // a [link] still waiting for its [endlink]
    std::set<std::int32_t> blankLines;
    const std::int32_t end = textEnd(e.block);

    for (int steps = 0; steps < 200000; ++steps) {
        if (built >= kPageLimit) {
            report(pageStart, true,
                   "the page starting here is longer than 2048 bytes as the page "
                   "builder lays it out; end it sooner with [ct]");
            return;
        }
        if (cursor >= end) {
            std::int32_t last = std::max(end - 1, e.block * kBlockSize);
            while (last > e.block * kBlockSize &&
                   (scenarioByte(last) == kLF || scenarioByte(last) == '\r'))
                --last;
            report(last, true,
                   "the text reaches the end of its block without a jump, [reset] or a choice");
            return;
        }
        const int k = s.revealPos;
        const std::uint8_t c = g_page[k];
        if (c == '[') {
            int close = k + 1;
            while (close < kPageBufferSize && g_page[close] != ']')
                ++close;
            if (close >= kPageBufferSize) return; // told by the text scan
            const int length = close - k + 1;
            const std::string_view tagText(reinterpret_cast<const char*>(&g_page[k]), length);
            const bool fromLineEnd = tagText == "[l]" && scenarioByte(cursor) != '[';
            ParsedTag tag = fromLineEnd ? parseTag("[l]") : parseTag(tagText);
            if (!fromLineEnd)
                for (auto& [isError, message] : tag.problems)
                    report(cursor, isError, message);
            const std::int32_t tagPlace = cursor;
            const std::int32_t next =
                cursor + (fromLineEnd ? (scenarioByte(cursor) == kLF ? 0 : 1) : length);
            built += length;
            auto skipTag = [&] { // what the engine does with a tag it ignores: cut it out
                s.revealPos += length;
                removeFromPage(length, false);
                cursor = next;
            };
            const std::string& name = tag.name;
            if (!tag.known) {
                stepScript(); // shown as text
                cursor = next;
                waited = true;
            } else if (name == "ct" || name == "jump" || name == "reset") {
                if (shownSinceWait > 0 && tag.valid)
                    report(tagPlace, false,
                           "the text since the last click wait is taken off the "
                           "screen at once by [" +
                               name + "]; end its line first");
                if (pendingLink >= 0) report(pendingLink, true, "[link] without [endlink]");
                pendingLink = -1;
                if (name == "reset") return;
                if (name == "jump") {
                    if (!tag.valid) {
                        skipTag();
                        continue;
                    }
                    if (land(static_cast<int>(tag.block), tag.target, tagPlace, s.column,
                             s.linkMode, links, "[jump] to")) {
                        if (!waited) silent.push_back({node, g_script.source, tagPlace});
                        return;
                    }
                    skipTag(); // a jump to nowhere is cut out, and the text goes on
                    continue;
                }
                const std::int32_t engineNext = s.source + k + length + 1 + s.removedBytes;
                if (!checkNextPage(tagPlace, next, engineNext)) return;
                const int wrapStart = s.column; // the next page's wrap counter starts here
                stepScript();
                cursor = pageStart = s.source;
                if (!waited) silent.push_back({node, s.source, tagPlace});
                node = s.source;
                waited = false;
                // A page another walk has already played goes on as it did there.
                if (!visited.insert({s.source, wrapStart, s.linkMode, links.size()}).second) return;
                built = 0;
                shownSinceWait = 0;
            } else if (name == "image" || name == "playse" || name == "playbgm" ||
                       name == "stopbgm") {
                skipTag(); // their effects are the player's, not the page's
            } else if (name == "link") {
                if (pendingLink >= 0) report(pendingLink, true, "[link] without [endlink]");
                if (!tag.valid) {
                    skipTag();
                    continue;
                }
                if (s.linkCount >= kLinkCount) {
                    report(tagPlace, true,
                           "more than 10 links before [s]; the engine ignores this one");
                    skipTag();
                    continue;
                }
                int p = close + 1, n = 0;
                bool allWide = true, fits = true;
                while (p < kPageLimit && g_page[p] != '[') {
                    if (g_page[p] == kLF)
                        fits = false;
                    else if (g_page[p] < 0x80)
                        allWide = false;
                    p += g_page[p] >= 0x80 ? 2 : 1;
                    ++n;
                }
                if (!fits)
                    report(tagPlace, true,
                           "the link text does not fit on the rest of its display "
                           "line (25 double-byte characters)");
                else if (!allWide || n == 0)
                    report(tagPlace, true,
                           n == 0 ? "the link has no text"
                                  : "the link text must be double-byte characters only");
                links.push_back({tag.target, tagPlace});
                pendingLink = tagPlace;
                stepScript();
                cursor = next;
            } else if (name == "endlink") {
                pendingLink = -1;
                stepScript();
                cursor = next;
            } else if (name == "s") {
                if (pendingLink >= 0) report(pendingLink, true, "[link] without [endlink]");
                if (links.empty()) {
                    report(tagPlace, true, "[s] with no link: the game waits for ever");
                    return;
                }
                for (const Link& l : links)
                    land(e.block, l.target, l.place, s.column, false, {}, "a link to");
                return;
            } else { // "l"
                if (!s.linkMode) {
                    shownSinceWait = 0;
                    waited = true;
                }
                stepScript();
                cursor = next;
            }
            continue;
        }
        if (c != ';') waited = true; // every other item is shown, one a frame
        if (c >= 0x80) {
            built += 2;
            ++shownSinceWait;
            stepScript();
            cursor += 2;
        } else if (c == ';') {
            int lf = k + 1;
            while (lf < kPageBufferSize && g_page[lf] != kLF)
                ++lf;
            if (lf >= kPageBufferSize) return; // told by the text scan
            built += lf - k + 1;
            stepScript();
            while (cursor < end && scenarioByte(cursor) != kLF)
                ++cursor;
            ++cursor;
        } else if (c == kLF) {
            built += 1;
            stepScript();
            if (scenarioByte(cursor) == kLF) ++cursor; // a line end; otherwise the builder's wrap
        } else {
            built += 1;
            const std::uint8_t b = scenarioByte(cursor);
            const int blk = blockOf(cursor);
            bool lineStart = cursor == blk * kBlockSize || scenarioByte(cursor - 1) == kLF;
            if (cursor >= quiet.first && cursor < quiet.second)
                ; // told with the [ct] that started the page there
            else if (b == '*' && lineStart)
                warnOnce(blankLines, cursor,
                         "the text runs into this label line, which shows as blank cells");
            else if (b != 0)
                warnOnce(blankLines, cursor,
                         "a single-byte character shows as a blank cell; the text takes only "
                         "double-byte characters");
            stepScript();
            ++cursor;
        }
    }
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::stat(systemPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The game refuses a picture larger than kMaxPictureSide either way before decoding it; its
// size is read from the file's header alone. Empty when the picture is within the bounds or its
// header does not tell.
std::string pictureOverBounds(const std::string& path) {
    std::FILE* file = openGameFile(path, "rb");
    if (!file) return {};
    // Enough for a JPEG's frame header behind its largest metadata segments.
    std::vector<std::uint8_t> head(1 << 20);
    head.resize(std::fread(head.data(), 1, head.size(), file));
    std::fclose(file);
    const PictureHeader header = readPictureHeader(head);
    if (header.width <= kMaxPictureSide && header.height <= kMaxPictureSide) return {};
    return "the picture is " + std::to_string(header.width) + " x " +
           std::to_string(header.height) + " pixels, larger than the " +
           std::to_string(kMaxPictureSide) + " a side the game shows: it is refused when loaded";
}

} // namespace

LintResult lintScenarioText(std::string_view plain0, std::string_view plain1,
                            const std::string& file0, const std::string& file1) {
    Linter L;
    L.plain = {std::string(plain0.substr(0, kMaxScenarioText)),
               std::string(plain1.substr(0, kMaxScenarioText))};
    L.files = {file0, file1};
    for (int b = 0; b < 2; ++b)
        putBlockText(b, L.plain[b]);

    for (int b = 0; b < 2; ++b)
        for (const BlockFinding& f : scanBlockText(L.plain[b]))
            L.report(b * kBlockSize + static_cast<std::int32_t>(f.offset), f.error, f.message);

    L.work.push_back({0, 0, 0, true, false, {}});
    L.drain();

    // Labels nothing leads to are told, and their pages checked all the same, as if jumped to.
    const std::set<std::int32_t> reached = L.landed;
    for (int b = 0; b < 2; ++b)
        for (const LabelLine& l : findLabelLines(L.plain[b])) {
            const std::int32_t after = b * kBlockSize + static_cast<std::int32_t>(l.after);
            if (reached.count(after)) continue;
            L.report(b * kBlockSize + static_cast<std::int32_t>(l.offset), false,
                     "the label *" + sjisToUtf8(l.name) + " is never reached by a jump or a link");
            L.work.push_back({after, b, 0, false, false, {}});
        }
    L.drain();
    L.reportSilentLoops();

    LintResult result;
    for (const auto& [pos, error, message] : L.found) {
        int b = Linter::blockOf(pos);
        TextPlace at = placeOfSjisOffset(L.plain[b], pos - b * kBlockSize);
        result.diagnostics.push_back({L.files[b], at.line, at.column, error, message});
    }
    std::stable_sort(result.diagnostics.begin(), result.diagnostics.end(),
                     [&](const LintDiagnostic& a, const LintDiagnostic& b) {
                         int fa = a.file == L.files[0] ? 0 : 1, fb = b.file == L.files[0] ? 0 : 1;
                         bool wa = !a.error, wb = !b.error; // errors first at one place
                         return std::tie(fa, a.line, a.column, wa) <
                                std::tie(fb, b.line, b.column, wb);
                     });
    for (const LintDiagnostic& d : result.diagnostics)
        (d.error ? result.errors : result.warnings)++;
    return result;
}

std::array<std::string, 2> lintedScenarioFiles(const std::string& gameDir, bool sources) {
    const std::string dir = gameDir.empty() || gameDir.ends_with("/") ? gameDir : gameDir + "/";
    if (sources) return {dir + "Scenario/scenario0.txt", dir + "Scenario/end1.txt"};
    return {dir + "Scenario/scenario0.qv_", dir + "Scenario/end1.qv_"};
}

LintResult lintGameFolder(const std::string& gameDir, bool sources) {
    const std::string dir = gameDir.empty() || gameDir.ends_with("/") ? gameDir : gameDir + "/";
    std::array<std::string, 2> plain;
    const std::array<std::string, 2> names = lintedScenarioFiles(gameDir, sources);
    LintResult missing;
    bool encoded = true;
    for (int b = 0; b < 2; ++b) {
        std::string stored, reason;
        const FileRead read = readSourceFile(systemPath(names[b]), &stored, &reason);
        if (read != FileRead::Read) {
            missing.diagnostics.push_back({names[b], 0, 0, true,
                                           read == FileRead::Refused
                                               ? "the scenario file " + reason
                                               : "cannot read the scenario file: " + reason});
            encoded = encoded && !sources; // the game's --source would not start
            continue;
        }
        if (sources) {
            EncodeResult result = encodeScenario(stored, SourceEncoding::Utf8);
            for (const TextProblem& p : result.errors)
                missing.diagnostics.push_back(
                    {names[b], p.place.line, p.place.column, true, p.message});
            encoded = encoded && result.errors.empty();
            stored.assign(result.stored.begin(), result.stored.end());
        }
        plain[b] = plainScenarioText(
            {reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()});
    }
    static const char* const kAssets[] = {
        "CG/背景0.bmp",     "CG/背景1.bmp",         "CG/背景2.bmp",       "CG/背景3.bmp",
        "CG/背景5.bmp",     "CG/背景6.bmp",         "CG/背景7.bmp",       "CG/立ち絵0.bmp",
        "CG/立ち絵1.bmp",   "CG/テキスト背景.bmp",  "CG/icon.bmp",        "CG/click.bmp",
        "CG/選択背景.bmp",  "CG/title.bmp",         "Sound/morva_g0.mid", "Sound/brel_gm1.mid",
        "Sound/door50.wav", "Sound/gameover51.wav", "Sound/start52.wav"};
    for (const std::string asset : kAssets) {
        // A picture or a sound may be given in one of the formats that stand in for the file the
        // game names; the first there wins.
        const bool picture = asset.starts_with("CG/");
        const std::string_view ending = std::string_view(asset).substr(asset.rfind('.'));
        std::vector<std::string_view> standIns(kPictureStandIns.begin(), kPictureStandIns.end());
        if (!picture) {
            const std::span<const std::string_view> sounds = soundStandIns(ending == ".mid");
            standIns.assign(sounds.begin(), sounds.end());
        }
        std::vector<std::string> there;
        if (fileExists(dir + asset)) there.push_back(asset);
        for (const std::string_view other : standIns) {
            if (other == ending) continue;
            const std::string standIn =
                asset.substr(0, asset.size() - ending.size()) + std::string(other);
            if (fileExists(dir + standIn)) there.push_back(standIn);
        }
        if (there.empty())
            missing.diagnostics.push_back(
                {dir + asset, 0, 0, true, "missing: the game loads this file"});
        for (std::size_t i = 1; i < there.size(); ++i)
            missing.diagnostics.push_back(
                {dir + there[i], 0, 0, false,
                 "ignored: the game loads " + there[0] + " in its place"});
        if (picture && !there.empty())
            if (std::string tooLarge = pictureOverBounds(dir + there[0]); !tooLarge.empty())
                missing.diagnostics.push_back({dir + there[0], 0, 0, true, tooLarge});
    }
    std::vector<int> filled;
    for (const NumberedEffect& effect : findNumberedEffects(dir.empty() ? "." : dir)) {
        filled.push_back(effect.slot);
        for (const std::string& other : effect.ignored)
            missing.diagnostics.push_back(
                {dir + other, 0, 0, false,
                 "ignored: " + effect.file + " fills slot " + std::to_string(effect.slot)});
    }
    setNumberedSlotsFilled(filled);
    if (!encoded) { // the text the game would play is not there to be linted
        for (const LintDiagnostic& d : missing.diagnostics)
            ++(d.error ? missing.errors : missing.warnings);
        return missing;
    }
    LintResult result = lintScenarioText(plain[0], plain[1], names[0], names[1]);
    result.diagnostics.insert(result.diagnostics.begin(), missing.diagnostics.begin(),
                              missing.diagnostics.end());
    for (const LintDiagnostic& d : missing.diagnostics)
        ++(d.error ? result.errors : result.warnings);
    return result;
}

std::string formatDiagnostic(const LintDiagnostic& d) {
    std::string kind = d.error ? "error" : "warning";
    if (d.line == 0) return d.file + ": " + kind + ": " + d.message;
    return d.file + ":" + std::to_string(d.line) + ":" + std::to_string(d.column) + ": " + kind +
           ": " + d.message;
}
