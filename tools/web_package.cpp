#include "tools/web_package.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "base/message.h"
#include "base/places.h"
#include "render/render.h"
#include "scenes/comforts.h"
#include "script/scenario_text.h"
#include "sound/midi_synth.h"
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

bool readBytes(const fs::path& path, Bytes& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool writeBytes(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    return !out.fail();
}

// Adds a file, as a zlib stream when that makes it smaller by a twentieth (pictures in BMP,
// sounds in WAV and the font shrink; compressed music would not).
void addFile(Package& package, const std::string& path, const Bytes& bytes) {
    PackedFile file{path, package.pak.size(), bytes.size(), bytes.size(), false};
    uLongf packedSize = compressBound(static_cast<uLong>(bytes.size()));
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, bytes.data(), static_cast<uLong>(bytes.size()),
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

std::string sizeText(std::uint64_t bytes) {
    char text[32];
    if (bytes >= 1024 * 1024)
        std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    else
        std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(bytes) / 1024.0);
    return text;
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
    for (const char* name : kRuntimeFiles)
        if (!fs::is_regular_file(runtime / name, ec)) {
            std::fprintf(log,
                         "tolvane-script: the browser build is not in %s (no %s): build it with "
                         "scripts/web.sh, or name it with --runtime DIR\n",
                         terminalText(runtime.string()).c_str(), name);
            return 2;
        }

    // The game's files, in a stable order; not the player's checkpoint, nor hidden files.
    std::vector<fs::path> files;
    for (auto it = fs::recursive_directory_iterator(game, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with(".")) {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file(ec)) continue;
        std::string lower = name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (lower == "data.sav" || lower == "data.sav.new") continue;
        files.push_back(it->path());
    }
    if (ec) {
        std::fprintf(log, "tolvane-script: cannot read the folder %s: %s\n",
                     terminalText(game.string()).c_str(), ec.message().c_str());
        return 2;
    }
    std::sort(files.begin(), files.end());

    const std::string soundFonts =
        options.soundFonts.empty() ? chooseSoundFonts().fonts : options.soundFonts;
    Package package;
    std::set<char32_t> characters;
    addCodePoints(comfortCharacters(), characters);
    for (char32_t c = 0x20; c < 0x7F; ++c)
        characters.insert(c);
    std::uint64_t gameBytes = 0, musicBytes = 0;
    int warnings = 0;
    for (const fs::path& file : files) {
        Bytes bytes;
        if (!readBytes(file, bytes)) {
            std::fprintf(log, "tolvane-script: cannot read %s: %s\n",
                         terminalText(file.string()).c_str(), std::strerror(errno));
            return 2;
        }
        const std::string relative = fs::relative(file, game, ec).generic_string();
        addFile(package, "game/" + relative, bytes);
        gameBytes += package.files.back().stored;
        if (file.extension() == ".qv_")
            addCodePoints(sjisToUtf8(plainScenarioText(bytes)), characters);
        if (isMidi(bytes)) {
            std::string reason;
            const std::optional<Bytes> rendered = renderMidi(bytes, soundFonts, reason);
            if (!rendered) {
                std::fprintf(
                    log,
                    "%s: warning: the music cannot be rendered (%s); the page plays it silent\n",
                    terminalText(file.string()).c_str(), terminalText(reason).c_str());
                ++warnings;
                continue;
            }
            addFile(package, "music/" + renderedMidiName(bytes), *rendered);
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
    if (!readBytes(fontPath, font)) {
        std::fprintf(log, "tolvane-script: cannot read the font %s: %s\n",
                     terminalText(fontPath).c_str(), std::strerror(errno));
        return 2;
    }
    const std::vector<char32_t> wanted(characters.begin(), characters.end());
    std::string reason;
    if (std::optional<Bytes> subset = subsetFont(font, faceIndex, wanted, reason)) {
        addFile(package, "font/game.ttf", *subset);
    } else if (faceIndex == 0) {
        std::fprintf(log,
                     "%s: warning: the font cannot be cut down (%s); the page holds all of it\n",
                     terminalText(fontPath).c_str(), terminalText(reason).c_str());
        ++warnings;
        addFile(package, "font/game.ttf", font);
    } else {
        std::fprintf(log, "tolvane-script: %s: face %d of the collection cannot be taken out: %s\n",
                     terminalText(fontPath).c_str(), faceIndex, terminalText(reason).c_str());
        return 1;
    }
    fontBytes = package.files.back().stored;

    fs::create_directories(out, ec);
    if (ec) {
        std::fprintf(log, "tolvane-script: cannot make the folder %s: %s\n",
                     terminalText(out.string()).c_str(), ec.message().c_str());
        return 2;
    }
    const std::string json = manifest(package);
    std::uint64_t runtimeBytes = 0;
    bool written =
        writeBytes(out / "game.pak", package.pak) &&
        writeBytes(out / "game.json",
                   std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()));
    for (const char* name : kRuntimeFiles) {
        written = written && fs::copy_file(runtime / name, out / name,
                                           fs::copy_options::overwrite_existing, ec);
        runtimeBytes += fs::file_size(out / name, ec);
    }
    if (!written) {
        std::fprintf(log, "tolvane-script: cannot write the page into %s\n",
                     terminalText(out.string()).c_str());
        return 2;
    }
    const std::uint64_t total = runtimeBytes + package.pak.size() + json.size();
    std::fprintf(log,
                 "%s: the page for %s\n"
                 "  program and page  %s\n"
                 "  game files        %s (%zu files)\n"
                 "  music             %s\n"
                 "  font              %s (%zu characters)\n"
                 "  in all            %s%s\n"
                 "Serve the folder over HTTP (a page opened from file:// cannot load its files).\n",
                 terminalText(out.string()).c_str(), terminalText(game.string()).c_str(),
                 sizeText(runtimeBytes).c_str(), sizeText(gameBytes).c_str(), files.size(),
                 sizeText(musicBytes).c_str(), sizeText(fontBytes).c_str(), wanted.size(),
                 sizeText(total).c_str(), warnings ? ", with warnings" : "");
    return 0;
}
