#include "base/places.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "base/files.h"
#include "base/message.h"

// Set by the build from its install layout: the demo's folder relative to the program's, and
// the demo's folder as installed.
#ifndef TOLVANE_DEMO_FROM_PROGRAM
#define TOLVANE_DEMO_FROM_PROGRAM ""
#endif
#ifndef TOLVANE_DEMO_DIR
#define TOLVANE_DEMO_DIR ""
#endif

namespace fs = std::filesystem;

namespace {

std::string homeFolder() {
    if (const char* h = std::getenv("HOME"); h && h[0] == '/') return h;
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return pw->pw_dir;
    return {};
}

// The pictures folder as the desktop's user-dirs.dirs names it: a line
// XDG_PICTURES_DIR="$HOME/Pictures" or one with an absolute path. Empty when it names none.
std::string userDirsPictures(const std::string& home) {
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        config = xdg;
    else if (!home.empty())
        config = home + "/.config";
    else
        return {};
    std::string text, reason;
    if (readRegularFile(config + "/user-dirs.dirs", 64 * 1024, &text, &reason) != FileRead::Read)
        return {};
    constexpr std::string_view kKey = "XDG_PICTURES_DIR=\"";
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        if (!line.starts_with(kKey)) continue;
        line.remove_prefix(kKey.size());
        const std::size_t close = line.find('"');
        if (close == std::string_view::npos) return {};
        line = line.substr(0, close);
        if (line.starts_with("$HOME")) {
            if (home.empty()) return {};
            return home + std::string(line.substr(5));
        }
        return line.starts_with("/") ? std::string(line) : std::string();
    }
    return {};
}

std::string canonical(const std::string& path) {
    std::error_code ec;
    const fs::path c = fs::canonical(path, ec);
    return ec ? std::string() : c.string();
}

bool isInside(const std::string& path, const std::string& folder) {
    if (path.empty() || folder.empty()) return false;
    if (path == folder) return true;
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    return path.compare(0, prefix.size(), prefix) == 0;
}

// Makes a file in the folder and lets it go at once. O_TMPFILE leaves no name behind even if the
// program dies here; file systems without it get a named file, removed straight away.
bool canMakeFileIn(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    std::string name = folder + "/.tolvane-XXXXXX";
    fd = ::mkstemp(name.data());
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(name.c_str());
    return true;
}

std::string currentFolder() {
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    return ec ? std::string(".") : here.string();
}

} // namespace

std::string installedDemoFolder() {
    const std::string besideProgram = TOLVANE_DEMO_FROM_PROGRAM;
    if (!besideProgram.empty()) {
        std::error_code ec;
        const fs::path program = fs::read_symlink("/proc/self/exe", ec);
        if (!ec) {
            const std::string folder = canonical((program.parent_path() / besideProgram).string());
            if (!folder.empty() && holdsGame(folder)) return folder;
        }
    }
    const std::string installed = canonical(TOLVANE_DEMO_DIR);
    if (!installed.empty() && holdsGame(installed)) return installed;
    return {};
}

bool holdsGame(const std::string& folder) {
    struct stat st;
    const std::string scenario = systemPath(folder + "/Scenario/scenario0.qv_");
    return ::stat(scenario.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool folderTakesSaves(const std::string& folder, const std::string& installedDemo) {
#ifdef __EMSCRIPTEN__
    // A web page's game folder lives in memory and is gone at the next load: its saves go to the
    // player's folder, which the page keeps in the browser's storage.
    (void)folder;
    (void)installedDemo;
    return false;
#endif
    const std::string here = canonical(folder);
    if (here.empty()) return false;
    if (isInside(here, canonical(installedDemo))) return false;
    return canMakeFileIn(here);
}

std::string saveFolderName(const std::string& folder) {
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a: the same name on every run and build
    for (const char c : folder) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    std::string base = fs::path(folder).lexically_normal().filename().string();
    if (base.empty()) base = fs::path(folder).lexically_normal().parent_path().filename().string();
    std::string name;
    for (const char c : base) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        name += plain ? c : '_';
    }
    if (name.empty() || name.find_first_not_of('.') == std::string::npos) name = "game";
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "-%016llx", static_cast<unsigned long long>(hash));
    return name.substr(0, 64) + suffix;
}

std::string userSaveFolder(const std::string& folder) {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        data = xdg;
    } else {
        const std::string home = homeFolder();
        if (home.empty()) return {};
        data = home + "/.local/share";
    }
    return data + "/tolvane/" + saveFolderName(folder);
}

std::string savePath(std::string_view name, SaveUse use) {
    const std::string here = currentFolder();
    if (folderTakesSaves(here, installedDemoFolder())) return systemPath(name);
    const std::string folder = userSaveFolder(here);
    if (folder.empty()) {
        reportProblem("the game folder cannot be written and there is no home folder: " +
                      std::string(name) + " stays in the game folder");
        return systemPath(name);
    }
    const std::string path = folder + "/" + std::string(name);
    if (use == SaveUse::Read) {
        std::error_code ec;
        return fs::exists(path, ec) ? path : systemPath(name);
    }
    // Made private to the player, as the base directory rules ask of a folder made for data.
    std::error_code ec;
    if (fs::create_directories(folder, ec)) ::chmod(folder.c_str(), 0700);
    if (ec) reportProblem(folder + ": " + ec.message());
    return path;
}

std::string picturesFolder() {
    if (const char* xdg = std::getenv("XDG_PICTURES_DIR"); xdg && xdg[0] == '/') return xdg;
    const std::string home = homeFolder();
    if (std::string named = userDirsPictures(home); !named.empty()) return named;
    return home.empty() ? std::string() : home + "/Pictures";
}
