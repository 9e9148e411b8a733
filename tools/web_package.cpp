#include "tools/web_package.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "base/message.h"
#include "base/places.h"
#include "imagelib/image.h"
#include "player/player.h"
#include "render/render.h"
#include "script/scenario_text.h"
#include "sound/midi_synth.h"
#include "sound/sound_files.h"
#include "sound/sound_files.h"
#include "tools/font_subset.h"
#include "tools/music_render.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::array<const char*, 3> kRuntimeFiles = {"index.html", "tolvane.js", "tolvane.wasm"};

// One file of the package, at `path` in the program's file system.
struct PackedFile {
    std::string path;
    std::uint64_t offset = 0;
    std::uint64_t stored = 0;
    std::uint64_t size = 0;
    bool deflated = false;
};

struct Package {
    std::vector<PackedFile> files;
    Bytes pak;
};

std::string sizeText(std::uint64_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1024.0);
    return text;
}

// The largest file the game reads: a picture of kMaxPictureSide pixels square, four bytes each,
// with room for its header (the engine refuses music and sounds at or below that). A larger one
// could never be shown or played, and reading it would only cost memory.
constexpr std::uint64_t kMaxGameFileBytes =
    std::uint64_t{kMaxPictureSide} * kMaxPictureSide * 4 + (1u << 20);
// The author's own font and browser build, read whole; far above any there is.
constexpr std::uint64_t kMaxFontBytes = 256u << 20;
constexpr std::uint64_t kMaxRuntimeBytes = 256u << 20;
// A visitor's browser holds the whole package and then its files unpacked in memory before the
// title shows.
constexpr std::uint64_t kMaxGameBytes = 512u << 20;

// What the engine opens in a game folder: these folders' own files of these kinds, looked up as
// the engine looks them up, without regard to ASCII letter case. Nothing deeper, nothing else:
// not the scenario sources, the player's checkpoint or an editor's leftovers.
struct GameFolder {
    std::string_view name;
    std::array<std::string_view, 5> kinds; // file name endings; an empty one is no kind
};
constexpr std::array<GameFolder, 3> kGameFolders = {{
    {"CG", {".bmp", ".png", ".webp", ".jpg", ".jpeg"}},
    {"Sound", {".mid", ".wav", ".ogg", ".opus", ".flac"}},
    {"Scenario", {".qv_", "", "", "", ""}},
}};

// The game names each picture ".bmp" and each sound ".mid" or ".wav"; a file of the same name
// with another ending stands in for it only when the named file is not there, and of those the
// first in the engine's own order is taken. A later one can never be read.
struct StandIns {
    std::string_view folder;
    std::array<std::string_view, 2> named; // an empty one is none
    std::span<const std::string_view> order;
};
constexpr std::array<StandIns, 2> kStandIns = {{
    {"CG", {".bmp", ""}, kPictureStandIns},
    {"Sound", {".mid", ".wav"}, kMusicStandIns}, // an effect's are these, after its ".wav"
}};

// Endings of files compressed in their own format: zlib would make them no smaller.
constexpr std::array<std::string_view, 7> kCompressedKinds = {".png", ".webp", ".jpg", ".jpeg",
                                                              ".ogg", ".opus", ".flac"};

bool sameLetters(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool endsWith(std::string_view name, std::string_view ending) {
    return !ending.empty() && name.size() > ending.size() &&
           sameLetters(name.substr(name.size() - ending.size()), ending);
}

template <std::size_t N>
bool endsWithAny(std::string_view name, const std::array<std::string_view, N>& endings) {
    return std::any_of(endings.begin(), endings.end(),
                       [&](std::string_view ending) { return endsWith(name, ending); });
}

const GameFolder* gameFolderNamed(std::string_view name) {
    for (const GameFolder& folder : kGameFolders)
        if (sameLetters(folder.name, name)) return &folder;
    return nullptr;
}

bool isOfKind(const GameFolder& folder, std::string_view name) {
    return endsWithAny(name, folder.kinds);
}

bool isInside(const fs::path& path, const fs::path& folder) {
    const auto [end, at] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return end == folder.end();
}

// Opens `path` for reading only when it is a regular file itself: not through a link at its last
// component, and without waiting on a FIFO or a device, which is never read. -1 otherwise.
int openRegular(const fs::path& path, struct stat& st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Reads a regular file of at most `limit` bytes, no more than its size says: a file of the
// kernel's that calls itself empty gives nothing.
bool readRegular(const fs::path& path, std::uint64_t limit, Bytes& out, std::string& reason) {
    struct stat st;
    const int fd = openRegular(path, st);
    if (fd < 0) {
        reason = errno == EINVAL || errno == ELOOP ? "not a regular file" : std::strerror(errno);
        return false;
    }
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if (size > limit) {
        ::close(fd);
        reason = "larger than " + std::to_string(limit >> 20) + " MB";
        return false;
    }
    out.resize(size);
    std::size_t got = 0;
    int readError = 0;
    while (got < out.size() && readError == 0) {
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (n == 0)
            break;
        else if (errno != EINTR)
            readError = errno;
    }
    ::close(fd);
    if (got != out.size()) {
        reason = readError != 0 ? std::strerror(readError) : "the file changed while it was read";
        return false;
    }
    return true;
}

// An output of the page, written under a name of its own beside where it goes.
struct PendingOutput {
    fs::path made;
    fs::path final;
};

// Writes a new file in `folder` that nothing else names, so that a link or a file already at the
// page's names is replaced by the rename, never written through.
bool writeNew(const fs::path& folder, const char* name, std::span<const std::uint8_t> bytes,
              std::vector<PendingOutput>& pending, std::string& reason) {
    int fd = -1;
    fs::path made;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        made = folder / ("." + std::string(name) + ".new-" + std::to_string(::getpid()) + "-" +
                         std::to_string(attempt));
        fd = ::open(made.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    std::size_t put = 0;
    int writeError = 0;
    while (put < bytes.size() && writeError == 0) {
        const ssize_t n = ::write(fd, bytes.data() + put, bytes.size() - put);
        if (n > 0)
            put += static_cast<std::size_t>(n);
        else if (n == 0)
            writeError = EIO;
        else if (errno != EINTR)
            writeError = errno;
    }
    if (::close(fd) != 0 && writeError == 0) writeError = errno;
    if (writeError != 0) {
        reason = std::strerror(writeError);
        ::unlink(made.c_str());
        return false;
    }
    pending.push_back({made, folder / name});
    return true;
}

void dropPending(std::vector<PendingOutput>& pending, std::size_t from) {
    for (std::size_t i = from; i < pending.size(); ++i)
        ::unlink(pending[i].made.c_str());
}

// One file the page publishes: its path in the game folder under the names the game looks up
// (a link's own name), and where its bytes are, with no link on the way.
struct GameFile {
    std::string relative;
    fs::path real;
    std::uint64_t size = 0;
};

struct GameWalk {
    std::vector<GameFile> files;
    int warnings = 0;
    int leftOut = 0;         // files the game never reads
    bool failed = false;     // a file the game reads cannot be published as it is
    bool unreadable = false; // the folder cannot be read
};

// Where an entry of the game folder leads, when that is inside the folder; a warning otherwise.
std::optional<fs::path> followInside(const fs::directory_entry& entry, const fs::path& root,
                                     const std::string& shown, GameWalk& walk, std::FILE* log) {
    std::error_code ec;
    if (!entry.is_symlink(ec)) return entry.path();
    const fs::path target = fs::canonical(entry.path(), ec);
    const char* why = nullptr;
    if (ec)
        why = "a link that leads nowhere";
    else if (!isInside(target, root) || target == root)
        why = "a link that leads outside the game folder";
    if (!why) return target;
    std::fprintf(log, "%s: warning: %s; it is left out of the page\n", shown.c_str(), why);
    ++walk.warnings;
    return std::nullopt;
}

void walkGameFolder(const fs::path& game, const fs::path& root, std::FILE* log, GameWalk& walk) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(root, ec); !ec && it != fs::end(it); it.increment(ec)) {
        const fs::directory_entry& top = *it;
        const std::string topName = top.path().filename().string();
        const GameFolder* kind = gameFolderNamed(topName);
        if (!kind) {
            ++walk.leftOut;
            continue;
        }
        const std::string shownTop = terminalText((game / topName).string());
        const std::optional<fs::path> folder = followInside(top, root, shownTop, walk, log);
        if (!folder) continue;
        std::error_code notFolder;
        if (!fs::is_directory(*folder, notFolder)) {
            std::fprintf(log, "%s: warning: not a folder; it is left out of the page\n",
                         shownTop.c_str());
            ++walk.warnings;
            continue;
        }
        for (auto inner = fs::directory_iterator(*folder, ec); !ec && inner != fs::end(inner);
             inner.increment(ec)) {
            const fs::directory_entry& entry = *inner;
            const std::string name = entry.path().filename().string();
            if (name.starts_with(".") || !isOfKind(*kind, name)) {
                ++walk.leftOut;
                continue;
            }
            const std::string shown = terminalText((game / topName / name).string());
            // The engine names its files in UTF-8, and the page's list of files is UTF-8 text.
            if (!isValidUtf8(name)) {
                std::fprintf(log,
                             "%s: warning: a name that is not UTF-8, which the game never opens; "
                             "it is left out of the page\n",
                             shown.c_str());
                ++walk.warnings;
                continue;
            }
            const std::optional<fs::path> real = followInside(entry, root, shown, walk, log);
            if (!real) continue;
            struct stat st;
            const int fd = openRegular(*real, st);
            if (fd < 0 && (errno == EINVAL || errno == ELOOP)) {
                std::fprintf(log, "%s: warning: not a regular file; it is left out of the page\n",
                             shown.c_str());
                ++walk.warnings;
                continue;
            }
            if (fd < 0) {
                std::fprintf(log, "tolvane-script: cannot read %s: %s\n", shown.c_str(),
                             std::strerror(errno));
                walk.unreadable = true;
                continue;
            }
            ::close(fd);
            const auto size = static_cast<std::uint64_t>(st.st_size);
            if (size > kMaxGameFileBytes) {
                std::fprintf(log,
                             "tolvane-script: %s is %s, larger than the %llu MB of the largest "
                             "file the game reads\n",
                             shown.c_str(), sizeText(size).c_str(),
                             static_cast<unsigned long long>(kMaxGameFileBytes >> 20));
                walk.failed = true;
                continue;
            }
            walk.files.push_back({topName + "/" + name, *real, size});
        }
    }
    if (ec) {
        std::fprintf(log, "tolvane-script: cannot read the folder %s: %s\n",
                     terminalText(game.string()).c_str(), ec.message().c_str());
        walk.unreadable = true;
    }
    std::sort(walk.files.begin(), walk.files.end(),
              [](const GameFile& a, const GameFile& b) { return a.relative < b.relative; });
}

// A path as the engine matches it: without regard to ASCII letter case.
std::string foldedPath(std::string_view path) {
    std::string folded(path);
    for (char& c : folded)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

using FilesByName = std::map<std::string, const GameFile*>; // by foldedPath

// The file taken in place of `file` whenever the game asks for its name: one the game names
// itself, or a stand-in earlier in the order. Null when `file` may be read.
const GameFile* shadowOf(const FilesByName& files, const GameFile& file) {
    const std::string path = foldedPath(file.relative);
    const std::size_t slash = path.find('/');
    const std::string_view folder = std::string_view(path).substr(0, slash);
    const std::string_view name = std::string_view(path).substr(slash + 1);
    const auto there = [&](std::string_view stem, std::string_view ending) -> const GameFile* {
        if (ending.empty()) return nullptr;
        const auto found =
            files.find(std::string(folder) + "/" + std::string(stem) + std::string(ending));
        return found == files.end() ? nullptr : found->second;
    };
    for (const StandIns& kind : kStandIns) {
        if (!sameLetters(kind.folder, folder)) continue;
        const auto at =
            std::find_if(kind.order.begin(), kind.order.end(),
                         [&](std::string_view ending) { return endsWith(name, ending); });
        if (at == kind.order.end()) return nullptr;
        const std::string_view stem = name.substr(0, name.size() - at->size());
        for (const std::string_view named : kind.named)
            if (const GameFile* taken = there(stem, named)) return taken;
        for (auto before = kind.order.begin(); before != at; ++before)
            if (const GameFile* taken = there(stem, *before)) return taken;
    }
    return nullptr;
}

// Leaves out, with a note, every stand-in the game can never read.
void dropShadowed(const fs::path& game, std::FILE* log, GameWalk& walk) {
    FilesByName byName;
    for (const GameFile& file : walk.files)
        byName.emplace(foldedPath(file.relative), &file);
    std::vector<GameFile> kept;
    for (const GameFile& file : walk.files) {
        if (const GameFile* taken = shadowOf(byName, file)) {
            std::fprintf(log,
                         "%s: note: the game reads %s in its place; it is left out of the page\n",
                         terminalText((game / file.relative).string()).c_str(),
                         terminalText(taken->relative).c_str());
            ++walk.leftOut;
            continue;
        }
        kept.push_back(file);
    }
    walk.files = std::move(kept);
}

// Adds a file, as a zlib stream when that makes it smaller by a twentieth (pictures in BMP,
// sounds in WAV and the font shrink). A file compressed in its own format (`compressed`) is
// stored as it is, without the cost of trying.
void addFile(Package& package, const std::string& path, const Bytes& bytes, bool compressed) {
    PackedFile file{path, package.pak.size(), bytes.size(), bytes.size(), false};
    uLongf packedSize = compressed ? 0 : compressBound(static_cast<uLong>(bytes.size()));
    Bytes packed(packedSize);
    if (!compressed &&
        compress2(packed.data(), &packedSize, bytes.data(), static_cast<uLong>(bytes.size()),
                  Z_BEST_COMPRESSION) == Z_OK &&
        packedSize < bytes.size() - bytes.size() / 20) {
        packed.resize(packedSize);
        file.stored = packed.size();
        file.deflated = true;
        package.pak.insert(package.pak.end(), packed.begin(), packed.end());
    } else {
        package.pak.insert(package.pak.end(), bytes.begin(), bytes.end());
    }
    package.files.push_back(file);
}

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string manifest(const Package& package) {
    std::string json = "{\n  \"files\": [\n";
    for (std::size_t i = 0; i < package.files.size(); ++i) {
        const PackedFile& f = package.files[i];
        json +=
            "    {\"path\": " + jsonString(f.path) + ", \"offset\": " + std::to_string(f.offset) +
            ", \"stored\": " + std::to_string(f.stored) + ", \"size\": " + std::to_string(f.size) +
            ", \"deflated\": " + (f.deflated ? "true" : "false") + "}" +
            (i + 1 < package.files.size() ? ",\n" : "\n");
    }
    return json + "  ]\n}\n";
}

// The code points of UTF-8 text; a byte that starts no character is skipped.
void addCodePoints(std::string_view utf8, std::set<char32_t>& out) {
    for (std::size_t i = 0; i < utf8.size();) {
        std::uint32_t cp = 0;
        const std::size_t length = utf8CharAt(utf8, i, &cp);
        if (length != 0) out.insert(cp);
        i += length != 0 ? length : 1;
    }
}

bool isMidi(const Bytes& bytes) {
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "MThd", 4) == 0;
}

} // namespace

std::string defaultWebRuntime() {
    if (const char* named = std::getenv("TOLVANE_WEB_RUNTIME"); named && *named) return named;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const fs::path beside = self.parent_path().parent_path() / "share" / "tolvane" / "web";
    return fs::exists(beside / "tolvane.wasm", ec) ? beside.string() : std::string();
}

int packageWebGame(const WebPackageOptions& options, std::FILE* log) {
    const fs::path game = options.gameDir;
    const fs::path out = options.outDir;
    const fs::path runtime = options.runtimeDir;
    std::error_code ec;
    if (!holdsGame(game.string())) {
        std::fprintf(log, "tolvane-script: %s is not a game folder (no Scenario/scenario0.qv_)\n",
                     terminalText(game.string()).c_str());
        return 2;
    }
    const fs::path root = fs::canonical(game, ec);
    if (ec) {
        std::fprintf(log, "tolvane-script: cannot read the folder %s: %s\n",
                     terminalText(game.string()).c_str(), ec.message().c_str());
        return 2;
    }
    // Each run would pack the page before it into the next.
    if (const fs::path outReal = fs::weakly_canonical(out, ec); !ec && isInside(outReal, root)) {
        std::fprintf(log,
                     "tolvane-script: the page cannot go into %s, which is inside the game folder "
                     "%s: name a folder outside it\n",
                     terminalText(out.string()).c_str(), terminalText(game.string()).c_str());
        return 2;
    }
    for (const char* name : kRuntimeFiles)
        if (!fs::is_regular_file(runtime / name, ec)) {
            std::fprintf(log,
                         "tolvane-script: the browser build is not in %s (no %s): build it with "
                         "scripts/web.sh, or name it with --runtime DIR\n",
                         terminalText(runtime.string()).c_str(), name);
            return 2;
        }

    GameWalk walk;
    walkGameFolder(game, root, log, walk);
    dropShadowed(game, log, walk);
    if (walk.unreadable) return 2;
    std::uint64_t unpacked = 0;
    for (const GameFile& file : walk.files)
        unpacked += file.size;
    if (unpacked > kMaxGameBytes) {
        std::fprintf(log,
                     "tolvane-script: the game's files are %s in all, more than the %llu MB a "
                     "visitor's browser can be asked to hold\n",
                     sizeText(unpacked).c_str(),
                     static_cast<unsigned long long>(kMaxGameBytes >> 20));
        walk.failed = true;
    }
    // The game folder was recognised by a scenario file that the page may have left out.
    if (std::none_of(walk.files.begin(), walk.files.end(), [](const GameFile& file) {
            return sameLetters(file.relative, "Scenario/scenario0.qv_");
        })) {
        std::fprintf(log, "tolvane-script: %s: the page would have no Scenario/scenario0.qv_\n",
                     terminalText(game.string()).c_str());
        walk.failed = true;
    }
    if (walk.failed) return 1;

    const std::string soundFonts =
        options.soundFonts.empty() ? chooseSoundFonts().fonts : options.soundFonts;
    Package package;
    std::set<char32_t> characters;
    addCodePoints(comfortCharacters(), characters);
    for (char32_t c = 0x20; c < 0x7F; ++c)
        characters.insert(c);
    std::uint64_t gameBytes = 0, musicBytes = 0;
    int warnings = walk.warnings;
    for (const GameFile& file : walk.files) {
        Bytes bytes;
        std::string reason;
        const std::string shown = terminalText((game / file.relative).string());
        if (!readRegular(file.real, kMaxGameFileBytes, bytes, reason)) {
            std::fprintf(log, "tolvane-script: cannot read %s: %s\n", shown.c_str(),
                         reason.c_str());
            return 2;
        }
        addFile(package, "game/" + file.relative, bytes,
                endsWithAny(file.relative, kCompressedKinds));
        gameBytes += package.files.back().stored;
        if (isOfKind(kGameFolders[2], file.relative))
            addCodePoints(sjisToUtf8(plainScenarioText(bytes)), characters);
        // Music is read only from files the game names ".mid"; a MIDI effect is synthesised by
        // the browser's mixer.
        if (endsWith(file.relative, ".mid") && isMidi(bytes)) {
            if (bytes.size() > kMaxMidiFileBytes) {
                std::fprintf(log,
                             "%s: warning: larger than the %zu MB of the largest piece the game "
                             "reads; it is not rendered\n",
                             shown.c_str(), kMaxMidiFileBytes >> 20);
                ++warnings;
                continue;
            }
            const std::optional<Bytes> rendered = renderMidi(bytes, soundFonts, reason);
            if (!rendered) {
                std::fprintf(
                    log,
                    "%s: warning: the music cannot be rendered (%s); the page plays it silent\n",
                    shown.c_str(), terminalText(reason).c_str());
                ++warnings;
                continue;
            }
            addFile(package, "music/" + renderedMidiName(bytes), *rendered, true);
            musicBytes += package.files.back().stored;
        }
    }

    // The font, cut down to the characters the game and the engine draw.
    std::string fontPath;
    int faceIndex = 0;
    std::uint64_t fontBytes = 0;
    if (!textFontFile(&fontPath, &faceIndex)) {
        std::fprintf(log, "tolvane-script: no Japanese gothic font found: install the IPAGothic "
                          "font (Debian package fonts-ipafont-gothic)\n");
        return 2;
    }
    Bytes font;
    std::string reason;
    if (!readRegular(fs::canonical(fontPath, ec), kMaxFontBytes, font, reason)) {
        std::fprintf(log, "tolvane-script: cannot read the font %s: %s\n",
                     terminalText(fontPath).c_str(), reason.c_str());
        return 2;
    }
    const std::vector<char32_t> wanted(characters.begin(), characters.end());
    if (std::optional<Bytes> subset = subsetFont(font, faceIndex, wanted, reason)) {
        addFile(package, "font/game.ttf", *subset, false);
    } else if (faceIndex == 0) {
        std::fprintf(log,
                     "%s: warning: the font cannot be cut down (%s); the page holds all of it\n",
                     terminalText(fontPath).c_str(), terminalText(reason).c_str());
        ++warnings;
        addFile(package, "font/game.ttf", font, false);
    } else {
        std::fprintf(log, "tolvane-script: %s: face %d of the collection cannot be taken out: %s\n",
                     terminalText(fontPath).c_str(), faceIndex, terminalText(reason).c_str());
        return 1;
    }
    fontBytes = package.files.back().stored;

    // Every file of the page is made new, and renamed into place once all of them are written.
    std::vector<std::pair<const char*, Bytes>> runtimeFiles;
    for (const char* name : kRuntimeFiles) {
        Bytes bytes;
        if (!readRegular(fs::canonical(runtime / name, ec), kMaxRuntimeBytes, bytes, reason)) {
            std::fprintf(log, "tolvane-script: cannot read %s: %s\n",
                         terminalText((runtime / name).string()).c_str(), reason.c_str());
            return 2;
        }
        runtimeFiles.emplace_back(name, std::move(bytes));
    }
    fs::create_directories(out, ec);
    if (ec) {
        std::fprintf(log, "tolvane-script: cannot make the folder %s: %s\n",
                     terminalText(out.string()).c_str(), ec.message().c_str());
        return 2;
    }
    const std::string json = manifest(package);
    std::vector<PendingOutput> pending;
    bool written =
        writeNew(out, "game.pak", package.pak, pending, reason) &&
        writeNew(out, "game.json",
                 std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()),
                 pending, reason);
    std::uint64_t runtimeBytes = 0;
    for (const auto& [name, bytes] : runtimeFiles) {
        written = written && writeNew(out, name, bytes, pending, reason);
        runtimeBytes += bytes.size();
    }
    std::size_t renamed = 0;
    for (; written && renamed < pending.size(); ++renamed)
        if (::rename(pending[renamed].made.c_str(), pending[renamed].final.c_str()) != 0) {
            reason = terminalText(pending[renamed].final.filename().string()) + ": " +
                     std::strerror(errno);
            written = false;
            break;
        }
    if (!written) {
        dropPending(pending, renamed);
        std::fprintf(log, "tolvane-script: cannot write the page into %s: %s\n",
                     terminalText(out.string()).c_str(), reason.c_str());
        return 2;
    }
    const std::uint64_t total = runtimeBytes + package.pak.size() + json.size();
    std::fprintf(log,
                 "%s: the page for %s\n"
                 "  program and page  %s\n"
                 "  game files        %s (%zu files; %d the game never reads left out)\n"
                 "  music             %s\n"
                 "  font              %s (%zu characters)\n"
                 "  in all            %s%s\n"
                 "Serve the folder over HTTP (a page opened from file:// cannot load its files).\n",
                 terminalText(out.string()).c_str(), terminalText(game.string()).c_str(),
                 sizeText(runtimeBytes).c_str(), sizeText(gameBytes).c_str(), walk.files.size(),
                 walk.leftOut, sizeText(musicBytes).c_str(), sizeText(fontBytes).c_str(),
                 wanted.size(), sizeText(total).c_str(), warnings ? ", with warnings" : "");
    return 0;
}
