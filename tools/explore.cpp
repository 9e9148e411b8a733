// The story explorer. Each moment is the engine's own state, stepped by the engine's own
// interpreter; the explorer only stands in for the player (a click, a choice) and for the world
// (a checkpoint is noted, not written; a picture or sound is looked for, not loaded), and it
// takes the page-changing steps whose engine code would write the checkpoint file.
#include "tools/explore.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <unordered_map>

#include "base/files.h"
#include "base/message.h"
#include "base/scene_number.h"
#include "imagelib/image.h"
#include "script/scenario_text.h"
#include "script/script.h"
#include "script/tag_reading.h"
#include "sound/numbered_effects.h"
#include "sound/sound_files.h"
#include "tools/lint_tags.h"

bool ExploreArrow::operator<(const ExploreArrow& o) const {
    return std::tie(from, to, step, text) < std::tie(o.from, o.to, o.step, o.text);
}

namespace {

constexpr std::uint8_t kLF = 0x0A;
// Far beyond any story written by hand (the benchmark's 2000 pages make some 2200), and some
// 100 MB of moments: a generated story far larger would otherwise eat the machine.
constexpr std::size_t kMaxMoments = 500'000;
// Steps between two waits; a page takes at most some 2000, a chain of pages without a wait more,
// and a loop is caught by its repeated state long before.
constexpr std::int64_t kMaxSilentSteps = 50'000'000;

// A state key: two independent 64-bit hashes, so that two different moments never pass as one.
struct Key {
    std::uint64_t a = 0, b = 0;
    bool operator==(const Key&) const = default;
};
struct KeyHash {
    std::size_t operator()(const Key& k) const { return static_cast<std::size_t>(k.a ^ k.b); }
};

struct Hasher {
    std::uint64_t a = 0x9E3779B97F4A7C15ull, b = 0xC2B2AE3D27D4EB4Full;
    static std::uint64_t mix(std::uint64_t x) {
        x ^= x >> 31;
        x *= 0x7FB5D329728EA185ull;
        x ^= x >> 27;
        x *= 0x81DADEF4BC2DD44Dull;
        x ^= x >> 33;
        return x;
    }
    void add(std::uint64_t v) {
        a = mix(a ^ v) + 0x165667B19E3779F9ull;
        b = mix(b + v * 0xD6E8FEB86659FD93ull) ^ 0x27D4EB2F165667C5ull;
    }
    void bytes(const void* data, std::size_t n) {
        const auto* p = static_cast<const std::uint8_t*>(data);
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t v;
            std::memcpy(&v, p + i, 8);
            add(v);
        }
        std::uint64_t tail = n;
        for (; i < n; ++i)
            tail = tail << 8 | p[i];
        add(tail);
    }
};

// Everything of the engine a moment is made of, to come back to it for the next link.
struct Moment {
    ScriptState script;
    std::array<std::uint8_t, kPageBufferSize> page;
    std::array<std::int32_t, kPageBufferSize> origin;
    std::array<LinkEntry, kLinkCount> links;
    std::array<PictureLayer, kLayerCount> layers;
    std::int32_t background;
    std::int32_t bgm;
    // The explorer's own notes on the pending links: the [link] tag and the link's text.
    std::array<std::int32_t, kLinkCount> linkTag;
    std::array<std::string, kLinkCount> linkText;
    int pageIndex;
};

enum class NodeKind { Root, Click, Choice, Ending };

struct Node {
    NodeKind kind;
    int parent = -1;      // the node this one was first reached from
    std::string via;      // the link text taken from the parent, if a choice
    std::string rootName; // for a root: "the start" or "a continue at *label"
};

struct Edge {
    int from, to;
    ExploreWay cost;
};

struct StaticTag {
    std::int32_t pos, end; // absolute, '[' and behind ']'
    std::string name;
};

struct Task {
    std::shared_ptr<const Moment> moment;
    int node;
    int link; // the link to take; -1 for a continue's root
    int block;
    std::string label;
};

struct Explorer {
    std::array<std::string, 2> plain;
    std::array<std::string, 2> files;
    std::optional<std::string> gameDir;
    std::vector<NumberedEffect> numberedEffects; // the folder's own effects, 53 to 99

    std::set<std::tuple<std::int32_t, bool, std::string>> found;
    std::unordered_map<Key, int, KeyHash> moments;
    std::vector<Node> nodes;
    std::vector<Edge> edges;
    std::map<std::int32_t, int> endingNode; // [reset] place -> node
    std::vector<Task> work;
    std::set<std::pair<int, std::string>> checkpoints;
    std::set<std::int32_t> landed, offered, taken;
    std::set<std::pair<std::int32_t, std::string>> assetsTold;
    std::map<std::int32_t, int> pageOf; // page start -> page index
    std::vector<ExplorePage> pages;
    std::vector<std::int32_t> pageStart;
    std::set<ExploreArrow> arrows;
    std::vector<StaticTag> tags;
    bool cutShort = false;

    // The node the path being played last came through, and the link taken out of it if any:
    // the way a finding about the path names.
    int wayNode = -1;
    std::string wayVia;
    std::set<std::int32_t> pathTold;
    std::string currentWay() const {
        return wayTo(wayNode) + (wayVia.empty() ? "" : ", 「" + wayVia + "」");
    }
    // A finding about a path, told once a place, with the first way that meets it.
    void onPath(std::int32_t place, const std::string& message) {
        if (pathTold.insert(place).second)
            report(place, true, message + "; on the way from " + currentWay());
    }

    // The explorer's notes beside the engine's state for the moment being played.
    std::array<std::int32_t, kLinkCount> linkTag{};
    std::array<std::string, kLinkCount> linkText{};
    int page = -1;

    static int blockOf(std::int32_t pos) { return pos >= kBlockSize ? 1 : 0; }
    std::int32_t textEnd(int block) const {
        return block * kBlockSize + static_cast<std::int32_t>(plain[block].size());
    }
    void report(std::int32_t pos, bool error, std::string message) {
        found.insert({pos, error, std::move(message)});
    }
    std::string placeText(std::int32_t pos) const {
        const int b = blockOf(pos);
        const TextPlace at = placeOfSjisOffset(plain[b], pos - b * kBlockSize);
        return files[b] + ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
    }

    void scanText();
    int pageAt(std::int32_t start, bool inText);
    std::string firstCharacters(std::int32_t pos) const;

    void capture(Moment& m) const;
    void restore(const Moment& m);
    Key stateKey() const;
    int addNode(NodeKind kind, int parent, std::string via);
    std::string wayTo(int node) const;

    void startGame();
    void recordCheckpoint(int block, const std::string& label);
    bool landOn(int block, const std::string& label, bool marked);
    bool newPage(ExploreStep step, std::string text,
                 std::vector<std::pair<Key, std::int32_t>>& seen, std::int32_t place);
    void checkPicture(std::int32_t place, const ImageTag& tag, const std::string& way);
    void checkSound(std::int32_t place, std::int64_t slot, const std::string& way);
    void run(int from, ExploreWay cost, std::string via = {});
    bool choose(int link, int from);
    void drain();
};

// The text's pages and tags, read as the page builder reads items: a comment runs to its line
// end, a tag to its ']', a double-byte character is two bytes.
void Explorer::scanText() {
    for (int b = 0; b < 2; ++b) {
        const std::string_view text = plain[b];
        const std::int32_t base = b * kBlockSize;
        auto skipLineEnds = [&](std::size_t i) {
            while (i < text.size() && text[i] == '\n')
                ++i;
            return i;
        };
        if (b == 0) pageAt(static_cast<std::int32_t>(skipLineEnds(0)), true);
        for (const LabelLine& l : findLabelLines(text)) {
            const int p = pageAt(base + static_cast<std::int32_t>(skipLineEnds(l.after)), true);
            pages[p].label = sjisToUtf8(l.name);
            pages[p].checkpoint = l.checkpoint;
        }
        bool lineStart = true;
        for (std::size_t i = 0; i < text.size();) {
            const auto c = static_cast<std::uint8_t>(text[i]);
            if (lineStart && c == '*') { // a label line is no text
                while (i < text.size() && text[i] != '\n')
                    ++i;
                continue;
            }
            lineStart = c == '\n';
            if (c >= 0x80) {
                i += 2;
            } else if (c == ';') {
                while (i < text.size() && text[i] != '\n')
                    ++i;
            } else if (c == '[') {
                std::size_t close = text.find(']', i + 1);
                if (close == std::string_view::npos) break;
                std::size_t nameEnd = i + 1;
                while (nameEnd < close && text[nameEnd] != ' ')
                    ++nameEnd;
                const std::string name(text.substr(i + 1, nameEnd - i - 1));
                tags.push_back({base + static_cast<std::int32_t>(i),
                                base + static_cast<std::int32_t>(close + 1), name});
                if (name == "ct") {
                    std::size_t next = close + 1;
                    if (next + 1 < text.size() && text[next] == '\r' && text[next + 1] == '\n')
                        ++next;
                    next = skipLineEnds(next);
                    if (next < text.size()) pageAt(base + static_cast<std::int32_t>(next), true);
                }
                i = close + 1;
            } else {
                ++i;
            }
        }
    }
}

int Explorer::pageAt(std::int32_t start, bool inText) {
    const auto [it, added] = pageOf.try_emplace(start, static_cast<int>(pages.size()));
    if (added) {
        ExplorePage p;
        const int b = blockOf(start);
        const TextPlace at = placeOfSjisOffset(plain[b], start - b * kBlockSize);
        p.file = files[b];
        p.line = at.line;
        p.column = at.column;
        p.text = firstCharacters(start);
        p.inText = inText;
        pages.push_back(std::move(p));
        pageStart.push_back(start);
    }
    return it->second;
}

std::string Explorer::firstCharacters(std::int32_t pos) const {
    std::string sjis;
    int count = 0;
    const std::int32_t end = textEnd(blockOf(pos));
    bool lineStart = true;
    while (pos < end && count < 12) {
        const std::uint8_t c = scenarioByte(pos);
        if (lineStart && c == '*') {
            while (pos < end && scenarioByte(pos) != kLF)
                ++pos;
            continue;
        }
        lineStart = c == kLF;
        if (c >= 0x80) {
            sjis += static_cast<char>(c);
            sjis += static_cast<char>(scenarioByte(pos + 1));
            pos += 2;
            ++count;
        } else if (c == '[' || c == ';') {
            const std::uint8_t stop = c == '[' ? ']' : kLF;
            while (pos < end && scenarioByte(pos) != stop)
                ++pos;
            ++pos;
        } else {
            ++pos;
        }
    }
    return sjisToUtf8(sjis);
}

void Explorer::capture(Moment& m) const {
    m.script = g_script;
    m.page = g_page;
    m.origin = g_pageOrigin;
    m.links = g_links;
    m.layers = g_layers;
    m.background = currentBackground;
    m.bgm = currentBgm;
    m.linkTag = linkTag;
    m.linkText = linkText;
    m.pageIndex = page;
}

void Explorer::restore(const Moment& m) {
    g_script = m.script;
    g_page = m.page;
    g_pageOrigin = m.origin;
    g_links = m.links;
    g_layers = m.layers;
    currentBackground = m.background;
    currentBgm = m.bgm;
    linkTag = m.linkTag;
    linkText = m.linkText;
    page = m.pageIndex;
    g_frameNo = kSceneGame;
}

// What decides what follows: the interpreter's state, the page from the reveal on (and where its
// bytes came from, which names the places of what follows) and the pending links. Pictures and
// music decide nothing of the flow and are left out.
Key Explorer::stateKey() const {
    const ScriptState& s = g_script;
    Hasher h;
    for (const std::int64_t v :
         {std::int64_t{s.source}, std::int64_t{s.revealPos}, std::int64_t{s.removedBytes},
          std::int64_t{s.column}, std::int64_t{s.line}, std::int64_t{s.charsPerLine},
          std::int64_t{s.linkCount}, std::int64_t{s.currentBlock}})
        h.add(static_cast<std::uint64_t>(v));
    h.add(std::uint64_t{s.textRunning} | std::uint64_t{s.linkMode} << 1 |
          std::uint64_t{s.choiceWait} << 2 | std::uint64_t{s.saveWritten} << 3 |
          std::uint64_t{s.pageEnded} << 4);
    const int from = std::clamp(s.revealPos, 0, kPageBufferSize);
    h.bytes(g_page.data() + from, static_cast<std::size_t>(kPageBufferSize - from));
    h.bytes(g_pageOrigin.data() + from,
            static_cast<std::size_t>(kPageBufferSize - from) * sizeof(std::int32_t));
    for (int i = 0; i < kLinkCount; ++i) {
        const LinkEntry& l = g_links[i];
        if (!l.active) continue;
        h.add(static_cast<std::uint64_t>(i) << 32 | static_cast<std::uint32_t>(linkTag[i]));
        h.bytes(l.target.data(), ::strnlen(l.target.data(), l.target.size()));
    }
    return {h.a, h.b};
}

int Explorer::addNode(NodeKind kind, int parent, std::string via) {
    nodes.push_back({kind, parent, std::move(via), {}});
    return static_cast<int>(nodes.size()) - 1;
}

// The choices that first led to a node, for a finding about what a path asks for.
std::string Explorer::wayTo(int node) const {
    std::vector<const std::string*> choices;
    int n = node;
    while (n >= 0 && nodes[n].kind != NodeKind::Root) {
        if (!nodes[n].via.empty()) choices.push_back(&nodes[n].via);
        n = nodes[n].parent;
    }
    std::string way = n >= 0 ? nodes[n].rootName : "the start";
    for (auto it = choices.rbegin(); it != choices.rend(); ++it)
        way += ", 「" + **it + "」";
    return way;
}

// A new game, as its start does it, from the text already in the blocks.
void Explorer::startGame() {
    g_frameNo = kSceneGame;
    g_script = {};
    currentBgm = -1;
    g_layers = {};
    prepareScenarioForGame();
    ScriptState& s = g_script;
    s.source = 0;
    s.revealPos = 0;
    s.removedBytes = 0;
    fillPage();
    s.textRunning = true;
    linkTag.fill(-1);
    for (std::string& t : linkText)
        t.clear();
    page = pageAt(s.source, false);
    pages[page].reached = true;
}

void Explorer::recordCheckpoint(int block, const std::string& label) {
    g_script.saveWritten = true; // as a written checkpoint leaves it
    if (!checkpoints.insert({block, label}).second) return;
    const int root = addNode(NodeKind::Root, -1, {});
    nodes[root].rootName = "a continue at *" + sjisToUtf8(label);
    work.push_back({nullptr, root, -1, block, label});
}

// Lands on a label found in the block (source already behind it) as a jump or a link does:
// the checkpoint first when the label is marked, then the new page.
bool Explorer::landOn(int block, const std::string& label, bool marked) {
    ScriptState& s = g_script;
    s.currentBlock = block;
    landed.insert(s.source);
    if (marked) recordCheckpoint(block, label);
    s.revealPos = 0;
    s.removedBytes = 0;
    buildNextPage();
    return true;
}

// A page has started: the flow is noted, and a page state seen before since the last wait is a
// loop that never waits. False when the path ends there.
bool Explorer::newPage(ExploreStep step, std::string text,
                       std::vector<std::pair<Key, std::int32_t>>& seen, std::int32_t place) {
    const int next = pageAt(g_script.source, false);
    pages[next].reached = true;
    if (page >= 0) arrows.insert({page, next, step, std::move(text)});
    page = next;
    const Key key = stateKey();
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (!(seen[i].first == key)) continue;
        // The step into the state seen before leads into the loop; the loop is the steps after.
        std::int32_t first = place;
        for (std::size_t j = i + 1; j < seen.size(); ++j)
            first = std::min(first, seen[j].second);
        onPath(first, "a loop of pages runs through here without waiting for a click or offering a "
                      "choice: the game never waits again");
        return false;
    }
    seen.push_back({key, place});
    return true;
}

std::string folderPath(const std::string& dir, const std::string& name) {
    return dir.empty() || dir.ends_with("/") ? dir + name : dir + "/" + name;
}

void Explorer::checkPicture(std::int32_t place, const ImageTag& tag, const std::string& way) {
    // The pictures the game loads: backgrounds 0-3 and 5-7, character pictures 0 and 1.
    const std::int64_t n = tag.picture;
    const bool loaded = tag.background ? (n >= 0 && n <= 7 && n != 4) : (n == 0 || n == 1);
    std::string file = tag.background ? "CG/背景" + std::to_string(n) + ".bmp"
                                      : "CG/立ち絵" + std::to_string(n) + ".bmp";
    std::string message;
    if (!loaded)
        message = (tag.background ? "background " : "character picture ") + std::to_string(n) +
                  " is no picture the game loads (" +
                  (tag.background ? "backgrounds 0-3 and 5-7" : "pictures 0 and 1") +
                  "): nothing is drawn";
    else if (gameDir && pictureFileInUse(folderPath(*gameDir, file)).empty())
        message = file + " is missing from the game folder";
    if (message.empty() || !assetsTold.insert({place, message}).second) return;
    report(place, true, message + "; asked for on the way from " + way);
}

void Explorer::checkSound(std::int32_t place, std::int64_t slot, const std::string& way) {
    static const std::pair<int, const char*> kSounds[] = {{0, "Sound/morva_g0.mid"},
                                                          {1, "Sound/brel_gm1.mid"},
                                                          {50, "Sound/door50.wav"},
                                                          {51, "Sound/gameover51.wav"},
                                                          {52, "Sound/start52.wav"}};
    const char* file = nullptr;
    for (const auto& [n, name] : kSounds)
        if (n == slot) file = name;
    const bool numbered = slot >= kFirstNumberedSlot && slot <= kLastNumberedSlot;
    std::string message;
    if (numbered) {
        if (gameDir && std::none_of(numberedEffects.begin(), numberedEffects.end(),
                                    [&](const NumberedEffect& e) { return e.slot == slot; })) {
            message = "sound slot " + std::to_string(slot) + " is empty: no file in Sound/ " +
                      "ends in " + std::to_string(slot) + " (rain" + std::to_string(slot) +
                      ".wav, say): nothing plays";
        }
    } else if (!file) {
        message = "sound slot " + std::to_string(slot) +
                  " holds no sound the game loads (0, 1, 50, 51, 52, or an author's file for 53 "
                  "to 99): nothing plays";
    } else if (gameDir && soundFileInUse(folderPath(*gameDir, file), slot < 2).empty())
        message = std::string(file) + " is missing from the game folder";
    if (message.empty() || !assetsTold.insert({place, message}).second) return;
    report(place, true, message + "; asked for on the way from " + way);
}

// Plays from a moment on, clicking every click wait, until a choice, an ending, a moment already
// played, or a path that never ends. `from` is the node of the moment, `cost` what the step out
// of it took.
void Explorer::run(int from, ExploreWay cost, std::string via) {
    ScriptState& s = g_script;
    wayNode = from;
    wayVia = via;
    std::vector<std::pair<Key, std::int32_t>> seen;
    auto arrive = [&](NodeKind kind, std::optional<Key> key, std::int32_t endPlace) {
        int id;
        bool added = false;
        if (kind == NodeKind::Ending) {
            const auto [it, isNew] = endingNode.try_emplace(endPlace, -1);
            if (isNew) it->second = addNode(kind, from, via);
            id = it->second;
            added = isNew;
        } else {
            const auto [it, isNew] = moments.try_emplace(*key, -1);
            if (isNew) it->second = addNode(kind, from, via);
            id = it->second;
            added = isNew;
        }
        edges.push_back({from, id, cost});
        return std::pair{id, added};
    };

    for (std::int64_t steps = 0;; ++steps) {
        if (g_frameNo != kSceneGame) { // [reset]
            const std::int32_t place = g_lastTag.origin;
            arrive(NodeKind::Ending, std::nullopt, place);
            arrows.insert({page, place, ExploreStep::Ending, {}}); // renumbered at the end
            return;
        }
        if (s.choiceWait) {
            bool any = false;
            for (const LinkEntry& l : g_links)
                any = any || l.active;
            if (!any) {
                onPath(g_lastTag.origin, "[s] with no link: the game waits for ever");
                return;
            }
            const auto [id, added] = arrive(NodeKind::Choice, stateKey(), 0);
            if (!added) return;
            bool leads = false;
            const std::int32_t source = s.source;
            for (const LinkEntry& l : g_links)
                leads = leads ||
                        (l.active &&
                         findLabel(s.currentBlock,
                                   {l.target.data(), ::strnlen(l.target.data(), l.target.size())}));
            s.source = source;
            if (!leads)
                onPath(g_lastTag.origin,
                       "no link of this choice leads to a label: the game waits for ever");
            auto m = std::make_shared<Moment>();
            capture(*m);
            for (int i = kLinkCount - 1; i >= 0; --i)
                if (g_links[i].active) work.push_back({m, id, i, 0, {}});
            return;
        }
        if (!s.textRunning) { // a click wait: clicked at once, the path goes on
            const auto [id, added] = arrive(NodeKind::Click, stateKey(), 0);
            if (!added) return;
            if (moments.size() >= kMaxMoments) {
                cutShort = true;
                return;
            }
            from = wayNode = id;
            via.clear();
            wayVia.clear();
            cost = {1, 0, 0};
            seen.clear();
            steps = 0;
            signalClick();
            continue;
        }
        if (steps > kMaxSilentSteps) {
            onPath(s.source, "the text runs on without waiting and without end");
            return;
        }
        const int k = s.revealPos;
        if (k < 0 || k >= kPageLimit) {
            onPath(s.source,
                   "the page starting here is longer than 2048 bytes: the text stops at its end "
                   "and the game waits for ever; end it sooner with [ct]");
            return;
        }
        const std::uint8_t c = g_page[k];
        const std::int32_t place = g_pageOrigin[k];
        const int block = blockOf(s.source);
        if (place >= textEnd(block) && c != '[' && c != ';') {
            std::int32_t last = std::max(textEnd(block) - 1, block * kBlockSize);
            while (last > block * kBlockSize &&
                   (scenarioByte(last) == kLF || scenarioByte(last) == '\r'))
                --last;
            onPath(last,
                   "the text runs off the end of its block without a jump, [reset] or a choice: "
                   "the game waits for ever");
            return;
        }
        if (c >= 0x80) {
            ++cost.characters;
            stepScript();
            continue;
        }
        if (c == ';') {
            if (std::find(g_page.begin() + k + 1, g_page.end(), kLF) == g_page.end()) {
                onPath(place, "a comment without a line end at the end of the page: the "
                              "text stops there for ever");
                return;
            }
            stepScript();
            continue;
        }
        if (c != '[') {
            stepScript();
            continue;
        }

        // A tag, its name and end read as the interpreter reads them.
        const auto [nameEnd, close] = tagSpanAt(k);
        if (close < 0) {
            onPath(place, "a tag without ']' at the end of the page: the text stops there "
                          "for ever");
            return;
        }
        const int length = close - k + 1;
        const std::string name(reinterpret_cast<const char*>(&g_page[k + 1]),
                               static_cast<std::size_t>(nameEnd - k - 1));
        const std::string_view tag(reinterpret_cast<const char*>(&g_page[k]),
                                   static_cast<std::size_t>(length));
        // What the engine does with a tag it ignores (after a line on standard error).
        auto cutTag = [&] {
            s.revealPos = k + length;
            removeFromPage(length, false);
        };
        if (name == "jump") {
            const TargetTag jump = readJumpTag(tag);
            if (!jump.ok) {
                cutTag();
                continue;
            }
            const std::string label(jump.name);
            const int target = static_cast<int>(jump.block);
            const std::optional<bool> marked = findLabel(target, label);
            if (!marked) {
                onPath(place,
                       "[jump] to *" + sjisToUtf8(label) + ": block " + std::to_string(target) +
                           " has no such label (the engine shows a message and goes on behind "
                           "the tag)");
                cutTag();
                continue;
            }
            landOn(target, label, *marked);
            if (!newPage(ExploreStep::Jump, {}, seen, place)) return;
        } else if (name == "ct") {
            stepScript();
            if (!newPage(ExploreStep::Next, {}, seen, place)) return;
        } else if (name == "image") {
            const ImageTag image = readImageTag(tag);
            if (!image.ok) {
                cutTag();
                continue;
            }
            checkPicture(place, image, currentWay());
            stepScript();
        } else if (name == "playse" || name == "playbgm") {
            const SlotTag slot = readSlotTag(tag);
            if (!slot.ok) {
                cutTag();
                continue;
            }
            checkSound(place, slot.slot, currentWay());
            stepScript();
        } else if (name == "link") {
            const TargetTag link = readLinkTag(tag);
            if (!link.ok || s.linkCount < 0 || s.linkCount >= kLinkCount) {
                cutTag();
                continue;
            }
            const int before = s.linkCount;
            stepScript();
            if (s.linkCount != before + 1) continue;
            const int i = before;
            linkTag[i] = place;
            std::string text;
            for (int p = s.revealPos; p < kPageLimit && g_page[p] != '[' && g_page[p] != kLF;
                 p += g_page[p] >= 0x80 ? 2 : 1)
                text.append(reinterpret_cast<const char*>(&g_page[p]), g_page[p] >= 0x80 ? 2 : 1);
            linkText[i] = sjisToUtf8(text);
            offered.insert(place);
        } else {
            stepScript(); // [l], [s], [endlink], [stopbgm], [reset], and text in brackets
        }
    }
}

// Takes a pending link as a click on it does; false when its label is missing (the choice
// stays pending then, and this path ends).
bool Explorer::choose(int link, int from) {
    ScriptState& s = g_script;
    const LinkEntry& entry = g_links[link];
    const std::string label(entry.target.data(),
                            ::strnlen(entry.target.data(), entry.target.size()));
    const std::int32_t place = linkTag[link];
    const std::optional<bool> marked = findLabel(s.currentBlock, label);
    if (!marked) {
        wayNode = from;
        wayVia.clear();
        onPath(place, "a link to *" + sjisToUtf8(label) + ": block " +
                          std::to_string(s.currentBlock) +
                          " has no such label (the choice stays open when it is clicked)");
        return false;
    }
    taken.insert(place);
    const std::string text = linkText[link];
    s.linkCount = link;
    landOn(s.currentBlock, label, *marked);
    s.choiceWait = false;
    s.linkMode = false;
    clearLinks();
    linkTag.fill(-1);
    for (std::string& t : linkText)
        t.clear();
    std::vector<std::pair<Key, std::int32_t>> seen;
    newPage(ExploreStep::Link, text, seen, place);
    run(from, {0, 1, 0}, text);
    return true;
}

void Explorer::drain() {
    std::shared_ptr<const Moment> start;
    while (!work.empty()) {
        Task t = std::move(work.back());
        work.pop_back();
        if (moments.size() >= kMaxMoments) {
            cutShort = true;
            break;
        }
        if (t.link >= 0) {
            restore(*t.moment);
            choose(t.link, t.node);
            continue;
        }
        // A continue: a new game, then the checkpoint's label, as the restore lands on it.
        startGame();
        const std::optional<bool> marked = findLabel(t.block, t.label);
        if (!marked) continue;
        ScriptState& s = g_script;
        s.currentBlock = t.block;
        s.saveWritten = true;
        landed.insert(s.source);
        s.revealPos = 0;
        s.removedBytes = 0;
        buildNextPage();
        page = pageAt(s.source, false);
        pages[page].reached = true;
        run(t.node, {});
    }
}

// Ways to every ending from the start: the shortest by Dijkstra over (characters, clicks,
// choices), the longest over the graph's components, where a component with a loop in it makes
// every ending behind it endless.
void computeWays(const std::vector<Node>& nodes, const std::vector<Edge>& edges, int start,
                 std::vector<ExploreWay>& shortest, std::vector<ExploreWay>& longest,
                 std::vector<bool>& endless, std::vector<bool>& reached) {
    const std::size_t n = nodes.size();
    std::vector<std::vector<int>> out(n);
    for (std::size_t e = 0; e < edges.size(); ++e)
        out[static_cast<std::size_t>(edges[e].from)].push_back(static_cast<int>(e));
    auto order = [](const ExploreWay& w) { return std::tuple(w.characters, w.clicks, w.choices); };
    auto plus = [](ExploreWay a, const ExploreWay& b) {
        a.clicks += b.clicks;
        a.choices += b.choices;
        a.characters += b.characters;
        return a;
    };

    shortest.assign(n, {});
    reached.assign(n, false);
    std::set<std::pair<std::tuple<std::int64_t, std::int64_t, std::int64_t>, int>> queue;
    reached[start] = true;
    queue.insert({order(shortest[start]), start});
    while (!queue.empty()) {
        const int v = queue.begin()->second;
        queue.erase(queue.begin());
        for (const int e : out[v]) {
            const int w = edges[e].to;
            const ExploreWay via = plus(shortest[v], edges[e].cost);
            if (reached[w] && order(via) >= order(shortest[w])) continue;
            if (reached[w]) queue.erase({order(shortest[w]), w});
            reached[w] = true;
            shortest[w] = via;
            queue.insert({order(via), w});
        }
    }

    // Tarjan's components, iteratively, over what the start reaches; they come out sinks first.
    std::vector<int> index(n, -1), low(n, 0), component(n, -1);
    std::vector<char> onStack(n, 0);
    std::vector<int> stack;
    std::vector<std::vector<int>> components;
    int counter = 0;
    std::vector<std::pair<int, std::size_t>> frames{{start, 0}};
    index[start] = low[start] = counter++;
    stack.push_back(start);
    onStack[start] = 1;
    while (!frames.empty()) {
        auto& [v, next] = frames.back();
        if (next < out[v].size()) {
            const int w = edges[out[v][next++]].to;
            if (index[w] < 0) {
                index[w] = low[w] = counter++;
                stack.push_back(w);
                onStack[w] = 1;
                frames.push_back({w, 0});
            } else if (onStack[w]) {
                low[v] = std::min(low[v], index[w]);
            }
            continue;
        }
        const int done = v;
        frames.pop_back();
        if (!frames.empty())
            low[frames.back().first] = std::min(low[frames.back().first], low[done]);
        if (low[done] != index[done]) continue;
        components.emplace_back();
        int w;
        do {
            w = stack.back();
            stack.pop_back();
            onStack[w] = 0;
            component[w] = static_cast<int>(components.size()) - 1;
            components.back().push_back(w);
        } while (w != done);
    }
    longest.assign(n, {});
    endless.assign(n, false);
    std::vector<bool> seen(n, false);
    seen[start] = true;
    for (auto c = components.rbegin(); c != components.rend(); ++c) {
        bool loop = c->size() > 1;
        for (const int v : *c)
            for (const int e : out[v])
                loop = loop || edges[e].to == v;
        // Inside a loop every member is as far as the player cares to go round: all are reached
        // once one is, and all are endless.
        bool any = false;
        for (const int v : *c)
            any = any || seen[v];
        for (const int v : *c)
            if (loop) {
                endless[v] = true;
                seen[v] = any;
            }
        for (const int v : *c) {
            if (!seen[v]) continue;
            for (const int e : out[v]) {
                const int w = edges[e].to;
                if (component[w] == component[v]) continue;
                const ExploreWay via = plus(longest[v], edges[e].cost);
                if (!seen[w] || order(via) > order(longest[w])) longest[w] = via;
                seen[w] = true;
                endless[w] = endless[w] || endless[v];
            }
        }
    }
}

std::string plural(std::int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string wayText(const ExploreWay& w) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", w.seconds());
    return plural(w.clicks, "click", "clicks") + ", " + plural(w.choices, "choice", "choices") +
           ", " + plural(w.characters, "character", "characters") + " (" + seconds + " s)";
}

} // namespace

ExploreReport exploreScenarioText(std::string_view plain0, std::string_view plain1,
                                  const std::string& file0, const std::string& file1,
                                  const std::optional<std::string>& gameDir) {
    Explorer X;
    X.plain = {std::string(plain0.substr(0, kMaxScenarioText)),
               std::string(plain1.substr(0, kMaxScenarioText))};
    X.files = {file0, file1};
    X.gameDir = gameDir;
    if (gameDir) X.numberedEffects = findNumberedEffects(*gameDir);
    for (int b = 0; b < 2; ++b)
        putBlockText(b, X.plain[b]);
    X.scanText();

    // The engine's messages (a missing label) would only repeat the findings.
    const MessageSink sink = messageSink();
    setMessageSink([](std::string_view) {});
    const std::uint8_t frame = g_frameNo;

    const int start = X.addNode(NodeKind::Root, -1, {});
    X.nodes[start].rootName = "the start";
    X.startGame();
    X.run(start, {});
    X.drain();

    setMessageSink(sink);
    g_frameNo = frame;

    ExploreReport r;
    r.moments = X.moments.size();
    r.cutShort = X.cutShort;
    if (X.cutShort)
        X.report(0, false,
                 "the story has more than " + std::to_string(kMaxMoments) +
                     " moments; only those were explored");

    // What no path reaches: labels, the text's pages, links. A page or link inside a page that is
    // not reached is told with that page only.
    std::vector<int> order(X.pages.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = static_cast<int>(i);
    std::sort(order.begin(), order.end(),
              [&](int a, int b) { return X.pageStart[a] < X.pageStart[b]; });
    auto textPageOf = [&](std::int32_t pos) { // the text's page holding pos, or -1
        int holder = -1;
        for (const int p : order)
            if (X.pages[p].inText && X.pageStart[p] <= pos &&
                Explorer::blockOf(X.pageStart[p]) == Explorer::blockOf(pos))
                holder = p;
        return holder;
    };
    for (int b = 0; b < 2; ++b)
        for (const LabelLine& l : findLabelLines(X.plain[b])) {
            const std::int32_t after = b * kBlockSize + static_cast<std::int32_t>(l.after);
            if (X.landed.count(after)) continue;
            X.report(b * kBlockSize + static_cast<std::int32_t>(l.offset), false,
                     "no path reaches the label *" + sjisToUtf8(l.name));
        }
    for (const int p : order) {
        const ExplorePage& page = X.pages[p];
        if (!page.inText) continue;
        ++r.pagesInText;
        if (page.reached) {
            ++r.pagesReached;
            continue;
        }
        if (!page.label.empty() || X.pageStart[p] < 0) continue; // told with its label
        const int before = textPageOf(X.pageStart[p] - 1);
        if (before >= 0 && !X.pages[before].reached) continue;
        X.report(X.pageStart[p], false, "no path reaches this page");
    }
    for (const StaticTag& t : X.tags) {
        if (t.name != "link") continue;
        ++r.linksInText;
        if (X.offered.count(t.pos)) continue;
        const int holder = textPageOf(t.pos);
        if (holder >= 0 && !X.pages[holder].reached) continue;
        X.report(t.pos, false, "no choice offers this link");
    }
    r.linksOffered = static_cast<int>(X.offered.size());
    r.linksTaken = static_cast<int>(X.taken.size());

    std::vector<ExploreWay> shortest, longest;
    std::vector<bool> endless, reached;
    computeWays(X.nodes, X.edges, start, shortest, longest, endless, reached);
    for (const auto& [place, node] : X.endingNode) {
        ExploreEnding e;
        const int b = Explorer::blockOf(place);
        const TextPlace at = placeOfSjisOffset(X.plain[b], place - b * kBlockSize);
        e.file = X.files[b];
        e.line = at.line;
        e.column = at.column;
        e.fromStart = reached[node];
        e.shortest = shortest[node];
        e.longest = longest[node];
        e.endless = endless[node];
        r.endings.push_back(std::move(e));
    }

    for (const auto& [pos, error, message] : X.found) {
        const int b = Explorer::blockOf(pos);
        const TextPlace at = placeOfSjisOffset(X.plain[b], pos - b * kBlockSize);
        r.diagnostics.push_back({X.files[b], at.line, at.column, error, message});
        (error ? r.errors : r.warnings)++;
    }
    // Pages in file order for the map; arrows follow the new numbers.
    std::vector<int> renumber(X.pages.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        renumber[order[i]] = static_cast<int>(i);
    for (const int p : order)
        r.pages.push_back(X.pages[p]);
    for (ExploreArrow a : X.arrows) {
        a.from = renumber[a.from];
        if (a.step == ExploreStep::Ending)
            a.to = static_cast<int>(std::distance(X.endingNode.begin(), X.endingNode.find(a.to)));
        else
            a.to = renumber[a.to];
        r.arrows.push_back(std::move(a));
    }
    return r;
}

ExploreReport exploreGameFolder(const std::string& gameDir, bool sources) {
    const std::array<std::string, 2> names = lintedScenarioFiles(gameDir, sources);
    std::array<std::string, 2> plain;
    ExploreReport failed;
    for (int b = 0; b < 2; ++b) {
        std::string stored, reason;
        const FileRead read = readSourceFile(systemPath(names[b]), &stored, &reason);
        if (read != FileRead::Read) {
            failed.diagnostics.push_back({names[b], 0, 0, true,
                                          read == FileRead::Refused
                                              ? "the scenario file " + reason
                                              : "cannot read the scenario file: " + reason});
            continue;
        }
        if (sources) {
            EncodeResult result = encodeScenario(stored, SourceEncoding::Utf8);
            for (const TextProblem& p : result.errors)
                failed.diagnostics.push_back(
                    {names[b], p.place.line, p.place.column, true, p.message});
            stored.assign(result.stored.begin(), result.stored.end());
        }
        plain[b] = plainScenarioText(
            {reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()});
    }
    if (!failed.diagnostics.empty()) {
        failed.errors = static_cast<int>(failed.diagnostics.size());
        return failed;
    }
    return exploreScenarioText(plain[0], plain[1], names[0], names[1],
                               gameDir.empty() ? "." : gameDir);
}

std::string formatExploreText(const ExploreReport& r) {
    std::string out;
    for (const LintDiagnostic& d : r.diagnostics)
        out += formatDiagnostic(d) + "\n";
    for (const ExploreEnding& e : r.endings) {
        out += e.file + ":" + std::to_string(e.line) + ":" + std::to_string(e.column) +
               ": note: an ending";
        if (!e.fromStart) {
            out += ", reached only by a continue\n";
            continue;
        }
        out += "; the shortest way: " + wayText(e.shortest) + "; the longest: " +
               (e.endless ? "none (a loop of choices can go round for ever)" : wayText(e.longest)) +
               "\n";
    }
    auto percent = [](int part, int whole) {
        return whole == 0 ? std::string("100") : std::to_string(part * 100 / whole);
    };
    out += "coverage: " + std::to_string(r.pagesReached) + " of " + std::to_string(r.pagesInText) +
           " pages reached (" + percent(r.pagesReached, r.pagesInText) + " %), " +
           std::to_string(r.linksTaken) + " of " + std::to_string(r.linksOffered) +
           " links offered taken (" + std::to_string(r.linksOffered) + " of " +
           std::to_string(r.linksInText) + " in the text offered), " +
           std::to_string(r.endings.size()) + (r.endings.size() == 1 ? " ending, " : " endings, ") +
           std::to_string(r.moments) + " moments played\n";
    return out;
}

std::string formatExploreJson(const ExploreReport& r) {
    std::string j = "{\"diagnostics\":[";
    auto place = [&](const std::string& file, int line, int column) {
        j += "\"file\":";
        appendJsonString(j, file);
        j += ",\"line\":" + std::to_string(line) + ",\"column\":" + std::to_string(column);
    };
    for (std::size_t i = 0; i < r.diagnostics.size(); ++i) {
        const LintDiagnostic& d = r.diagnostics[i];
        j += i ? ",{" : "{";
        place(d.file, d.line, d.column);
        j += ",\"severity\":";
        j += d.error ? "\"error\"" : "\"warning\"";
        j += ",\"message\":";
        appendJsonString(j, d.message);
        j += "}";
    }
    auto way = [&](const ExploreWay& w) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", w.seconds());
        j += "{\"clicks\":" + std::to_string(w.clicks) +
             ",\"choices\":" + std::to_string(w.choices) +
             ",\"characters\":" + std::to_string(w.characters) + ",\"seconds\":" + seconds + "}";
    };
    j += "],\"endings\":[";
    for (std::size_t i = 0; i < r.endings.size(); ++i) {
        const ExploreEnding& e = r.endings[i];
        j += i ? ",{" : "{";
        place(e.file, e.line, e.column);
        j += ",\"from_start\":";
        j += e.fromStart ? "true" : "false";
        j += ",\"shortest\":";
        if (e.fromStart)
            way(e.shortest);
        else
            j += "null";
        j += ",\"longest\":";
        if (e.fromStart && !e.endless)
            way(e.longest);
        else
            j += "null";
        j += ",\"endless\":";
        j += e.endless ? "true" : "false";
        j += "}";
    }
    j += "],\"coverage\":{\"pages\":{\"reached\":" + std::to_string(r.pagesReached) +
         ",\"in_text\":" + std::to_string(r.pagesInText) +
         "},\"links\":{\"taken\":" + std::to_string(r.linksTaken) +
         ",\"offered\":" + std::to_string(r.linksOffered) +
         ",\"in_text\":" + std::to_string(r.linksInText) + "}}";
    j += ",\"moments\":" + std::to_string(r.moments);
    j += ",\"errors\":" + std::to_string(r.errors) + ",\"warnings\":" + std::to_string(r.warnings);
    j += ",\"cut_short\":";
    j += r.cutShort ? "true" : "false";
    j += "}\n";
    return j;
}
