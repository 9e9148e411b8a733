#include "app/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include "base/message.h"
#include "base/replace_file.h"

namespace {

constexpr std::size_t kMaxSettingsFile = 64 * 1024; // a settings file is a few lines

// What the game made of the settings file it read at start-up.
enum class FileState : std::uint8_t {
    Writable,   // missing, or every line read: the game's settings replace it
    Unreadable, // not a settings file, or it cannot be read: kept as it is
    Damaged,    // some lines could not be read: kept as it is, for the player to mend
};

struct SettingsFile {
    std::string path;
    FileState state = FileState::Writable;
    bool told = false; // that changes are not kept was said
};

SettingsFile g_file;

// Which of the player's own files this is: loading another one forgets the last.
SettingsFile& fileState(const std::string& path) {
    if (g_file.path != path) g_file = SettingsFile{path};
    return g_file;
}

// The player (or a dotfiles repository) made the file, or the one its link leads to, read-only.
bool isReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

// Says once why the settings are not written.
void tellOnce(SettingsFile& file, const std::string& text) {
    if (file.told) return;
    file.told = true;
    reportProblem(text);
}

std::string trim(std::string_view s) {
    const std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    const std::size_t e = s.find_last_not_of(" \t\r");
    return std::string(s.substr(b, e - b + 1));
}

bool readNumber(const std::string& text, int lo, int hi, int* out) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int v = std::atoi(text.c_str());
    if (v < lo || v > hi) return false;
    *out = v;
    return true;
}

const char* speedName(TextSpeed speed) {
    switch (speed) {
    case TextSpeed::Faster:
        return "faster";
    case TextSpeed::InstantPage:
        return "instant-page";
    default:
        return "as-is";
    }
}

// One "key = value" line into the settings; false with the reason when it cannot be taken.
bool takeLine(const std::string& key, const std::string& value, ComfortSettings* s,
              std::string* why) {
    if (key == "fullscreen") {
        if (value != "0" && value != "1") return *why = "expected 0 or 1", false;
        s->fullscreen = value == "1";
    } else if (key == "self_voicing") {
        if (value != "0" && value != "1") return *why = "expected 0 or 1", false;
        s->selfVoicing = value == "1";
    } else if (key == "music_volume" || key == "effect_volume") {
        if (!readNumber(value, 0, 100, key == "music_volume" ? &s->musicVolume : &s->effectVolume))
            return *why = "expected a number from 0 to 100", false;
    } else if (key == "text_speed") {
        if (value == "as-is")
            s->textSpeed = TextSpeed::AsIs;
        else if (value == "faster")
            s->textSpeed = TextSpeed::Faster;
        else if (value == "instant-page")
            s->textSpeed = TextSpeed::InstantPage;
        else
            return *why = "expected as-is, faster or instant-page", false;
    } else if (key == "auto_base_ms" || key == "auto_per_char_ms") {
        if (!readNumber(value, 0, 60000,
                        key == "auto_base_ms" ? &s->autoBaseMs : &s->autoPerCharMs))
            return *why = "expected milliseconds from 0 to 60000", false;
    } else {
        return *why = "unknown setting", false;
    }
    return true;
}

} // namespace

std::string defaultSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/tolvane/settings.ini";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config/tolvane/settings.ini";
    return {};
}

void loadSettings(const std::string& path, ComfortSettings* out) {
    if (path.empty()) return;
    g_file = SettingsFile{path};
    SettingsFile& state = g_file;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return;
    if (!std::filesystem::is_regular_file(path, ec) ||
        std::filesystem::file_size(path, ec) > kMaxSettingsFile || ec) {
        reportProblem(path + ": not a settings file; the default settings are used");
        state.state = FileState::Unreadable;
        return;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        reportProblem(path + ": cannot be read (" + std::strerror(errno) +
                      "); the default settings are used");
        state.state = FileState::Unreadable;
        return;
    }
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        // Editors on Windows like to start a text file with a byte-order mark.
        if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        const std::string text = trim(line.substr(0, line.find('#')));
        if (text.empty() || (text.front() == '[' && text.back() == ']')) continue;
        const std::size_t eq = text.find('=');
        std::string why = "expected key = value";
        if (eq != std::string::npos &&
            takeLine(trim(text.substr(0, eq)), trim(text.substr(eq + 1)), out, &why))
            continue;
        reportProblem(path + ":" + std::to_string(number) + ": " + why +
                      "; that setting keeps its default");
        state.state = FileState::Damaged;
    }
    if (file.bad()) {
        reportProblem(path + ": cannot be read (" + std::strerror(errno) +
                      "); the settings after what was read keep their defaults");
        state.state = FileState::Unreadable;
    }
}

std::string settingsText(const ComfortSettings& s) {
    std::ostringstream out;
    out << "# Tolvane's settings, written by the game; edit while it is not running.\n"
        << "[tolvane]\n"
        << "fullscreen = " << (s.fullscreen ? 1 : 0) << "\n"
        << "music_volume = " << s.musicVolume << "\n"
        << "effect_volume = " << s.effectVolume << "\n"
        << "text_speed = " << speedName(s.textSpeed) << "\n"
        << "auto_base_ms = " << s.autoBaseMs << "\n"
        << "auto_per_char_ms = " << s.autoPerCharMs << "\n"
        << "self_voicing = " << (s.selfVoicing ? 1 : 0) << "\n";
    return out.str();
}

bool saveSettings(const std::string& path, const ComfortSettings& settings) {
    if (path.empty()) return false;
    SettingsFile& state = fileState(path);
    // The player's file stays as the player left it, whatever the game could not make of it.
    if (state.state == FileState::Unreadable) {
        tellOnce(state, path + ": the game could not read this file and leaves it as it is; " +
                            "changes to the settings are not kept after this run");
        return false;
    }
    if (state.state == FileState::Damaged) {
        tellOnce(state, path + ": the game could not read every line of this file and leaves it " +
                            "as it is, for you to mend; changes to the settings are not kept " +
                            "after this run");
        return false;
    }
    if (isReadOnly(path)) {
        tellOnce(
            state,
            path + ": the file is read-only; changes to the settings are not kept after this run");
        return false;
    }
    const std::string text = settingsText(settings);
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code ec;
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    const std::string reason = replaceFile(path, text);
    if (!reason.empty()) {
        tellOnce(state, path + ": the settings cannot be written: " + reason);
        return false;
    }
    state.told = false;
    return true;
}
