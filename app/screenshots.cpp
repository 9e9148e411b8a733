#include "app/screenshots.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

#include "base/message.h"
#include "base/places.h"
#include "base/replace_file.h"
#include "player/player.h"
#include "render/render.h"

namespace fs = std::filesystem;

namespace {

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

// The folder written with the player's home as ~, as the player knows it.
std::string shortened(const std::string& path) {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        const std::string h = fs::path(home).lexically_normal().string();
        if (path.size() > h.size() && path.compare(0, h.size(), h) == 0 && path[h.size()] == '/')
            return "~" + path.substr(h.size());
    }
    return path;
}

#ifdef __EMSCRIPTEN__
void download(const std::vector<char>& png, const std::string& name) {
    EM_ASM(
        {
            const bytes = HEAPU8.slice($0, $0 + $1);
            const link = document.createElement('a');
            link.href = URL.createObjectURL(new Blob([bytes], {
                type:
                    'image/png'
            }));
            link.download = UTF8ToString($2);
            link.click();
            setTimeout(
                function() { URL.revokeObjectURL(link.href); }, 10000);
        },
        png.data(), png.size(), name.c_str());
}
#endif

// Where the picture went, or the reason it did not (then *where is empty).
std::string writeScreenshot(const std::vector<char>& png, std::string* where) {
    const std::tm local = localNow();
#ifdef __EMSCRIPTEN__
    const std::string name = screenshotName(local, 1);
    download(png, name);
    *where = name;
    return {};
#else
    // Ten a second at most; more within one second is a key held by something other than a hand.
    constexpr int kNamesPerSecond = 10;
    const std::string folder = picturesFolder();
    if (folder.empty()) return "there is no home folder and no XDG_PICTURES_DIR";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return folder + ": " + ec.message();
    for (int n = 1; n <= kNamesPerSecond; ++n) {
        const std::string path = folder + "/" + screenshotName(local, n);
        if (fs::exists(fs::symlink_status(path, ec))) continue;
        if (std::string failed = replaceFile(path, std::string_view(png.data(), png.size()));
            !failed.empty())
            return failed;
        *where = path;
        return {};
    }
    return folder + ": " + std::to_string(kNamesPerSecond) + " screenshots this second already";
#endif
}

} // namespace

std::string screenshotName(const std::tm& local, int n) {
    char name[64];
    std::snprintf(name, sizeof name, "tolvane-%04d-%02d-%02d-%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    std::string result = name;
    if (n > 1) result += "-" + std::to_string(n);
    return result + ".png";
}

void takePlayerScreenshot() {
    std::vector<char> png;
    std::string where, failed;
    if (encodeFramePng(&png, &failed)) failed = writeScreenshot(png, &where);
    if (!failed.empty()) {
        reportProblem("the screenshot was not saved: " + failed);
        comfortsScreenshotTaken({}, failed);
        return;
    }
    std::printf("tolvane: screenshot saved: %s\n", terminalText(where).c_str());
    std::fflush(stdout);
    comfortsScreenshotTaken(shortened(where), {});
}
