#include "base/files.h"

#include <cctype>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Finds an entry of `dir` whose name equals `name` ignoring ASCII letter case.
std::optional<std::string> findCaseInsensitive(const std::string& dir, const std::string& name) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return std::nullopt;
    std::optional<std::string> found;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

// Made at build time by tools/make_cp932_table from the build machine's iconv, so that every
// build converts alike, also where the C library has no code page 932.
#include "cp932_table.inc"

// The code point the pair (lead, trail) stands for; 0 when it stands for nothing.
std::uint16_t cp932Pair(unsigned char lead, unsigned char trail) {
    const std::uint8_t row = kCp932RowOfLead[lead];
    if (row == 0xFF || trail < kCp932TrailFirst || trail >= kCp932TrailFirst + kCp932Trails)
        return 0;
    return kCp932Pairs[row][trail - kCp932TrailFirst];
}

// The code of each code point of the first plane (a byte, a pair, kCp932None or
// kCp932Dropped), built at first use from the decoding tables rather than stored twice.
const std::uint16_t* cp932Codes() {
    static std::uint16_t codes[0x10000];
    static const bool built = [] {
        std::fill(std::begin(codes), std::end(codes), kCp932None);
        for (int b = 0; b < 256; ++b)
            if (kCp932Single[b] < kCp932Lead && codes[kCp932Single[b]] == kCp932None)
                codes[kCp932Single[b]] = static_cast<std::uint16_t>(b);
        for (int row = 0; row < kCp932Rows; ++row)
            for (int i = 0; i < kCp932Trails; ++i) {
                const std::uint16_t cp = kCp932Pairs[row][i];
                if (cp != 0 && codes[cp] == kCp932None)
                    codes[cp] = static_cast<std::uint16_t>(kCp932LeadOfRow[row] << 8 |
                                                           (kCp932TrailFirst + i));
            }
        for (const auto& e : kCp932EncodeExceptions)
            codes[e[0]] = e[1];
        return true;
    }();
    (void)built;
    return codes;
}

// Beyond the first plane nothing has a code, but the language tags are dropped without a fault,
// as iconv's encoder drops them.
std::uint16_t cp932Code(std::uint32_t cp) {
    if (cp <= 0xFFFF) return cp932Codes()[cp];
    for (const auto& range : kCp932DroppedRanges)
        if (cp >= range[0] && cp <= range[1]) return kCp932Dropped;
    return kCp932None;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

std::string systemPath(std::string_view gamePath) {
    std::string path = isValidUtf8(gamePath) ? std::string(gamePath) : sjisToUtf8(gamePath);
    for (char& c : path)
        if (c == '\\') c = '/';
    if (path.empty() || exists(path)) return path;

    // Walk the components, matching each case-insensitively where the exact one is missing.
    std::string resolved = path[0] == '/' ? "/" : "";
    std::size_t pos = path[0] == '/' ? 1 : 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        std::string part = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty()) continue;
        std::string candidate = resolved + part;
        if (part != "." && part != ".." && !exists(candidate)) {
            auto match = findCaseInsensitive(resolved, part);
            if (!match) return path; // nothing matches: the exact path, which fails as it should
            candidate = resolved + *match;
        }
        resolved = candidate + (slash < path.size() ? "/" : "");
    }
    return resolved;
}

std::FILE* openGameFile(std::string_view gamePath, const char* mode) {
    std::string path = systemPath(gamePath);
    if (mode[0] != 'r' || std::strchr(mode, '+')) return std::fopen(path.c_str(), mode);
    // Checked once open, not before: what is read is what was checked.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, mode);
    if (!file) ::close(fd);
    return file;
}

std::string fileInUse(std::string_view gamePath, std::string_view namedEnding,
                      std::span<const std::string_view> standIns) {
    const auto there = [](std::string_view path) {
        std::FILE* f = openGameFile(path, "rb");
        if (f) std::fclose(f);
        return f != nullptr;
    };
    const auto sameLetters = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    if (there(gamePath)) return std::string(gamePath);
    if (gamePath.size() <= namedEnding.size() ||
        !sameLetters(gamePath.substr(gamePath.size() - namedEnding.size()), namedEnding))
        return {};
    const std::string_view stem = gamePath.substr(0, gamePath.size() - namedEnding.size());
    for (const std::string_view other : standIns) {
        if (sameLetters(other, namedEnding)) continue; // the name itself, not there
        std::string path = std::string(stem) + std::string(other);
        if (there(path)) return path;
    }
    return {};
}

FileRead readRegularFile(const std::string& path, std::size_t maxBytes, std::string* bytes,
                         std::string* reason) {
    bytes->clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return FileRead::Unreadable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        *reason = std::strerror(errno);
        ::close(fd);
        return FileRead::Unreadable;
    }
    auto refuse = [&](std::uintmax_t size) {
        if (!S_ISREG(st.st_mode))
            *reason = S_ISDIR(st.st_mode) ? "is a folder" : "is not a regular file";
        else
            *reason = "is " + std::to_string(size) + " bytes, over the bound of " +
                      std::to_string(maxBytes);
        bytes->clear();
        return FileRead::Refused;
    };
    if (!S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > maxBytes) {
        ::close(fd);
        return refuse(static_cast<std::uintmax_t>(st.st_size));
    }
    // A file that grows while it is read is held to the bound all the same: one byte more than
    // the bound is read, to tell.
    const std::size_t limit = maxBytes < SIZE_MAX ? maxBytes + 1 : maxBytes;
    bytes->resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (true) {
        if (got == bytes->size()) {
            if (got >= limit) break;
            bytes->resize(got + std::min<std::size_t>(limit - got, 65536));
        }
        const ssize_t n = ::read(fd, bytes->data() + got, bytes->size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *reason = std::strerror(errno);
            ::close(fd);
            bytes->clear();
            return FileRead::Unreadable;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes->resize(got);
    if (got > maxBytes) return refuse(got);
    return FileRead::Read;
}

std::size_t utf8CharAt(std::string_view text, std::size_t i, std::uint32_t* cp) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char c = s[i];
    std::size_t extra;
    if (c < 0x80) {
        *cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        extra = 1;
        *cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        extra = 2;
        *cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        extra = 3;
        *cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + extra >= text.size()) return 0;
    for (std::size_t k = 1; k <= extra; ++k) {
        const unsigned char cc = s[i + k];
        if ((cc & 0xC0) != 0x80) return 0;
        *cp = (*cp << 6) | (cc & 0x3F);
    }
    if ((extra == 2 && (*cp < 0x800 || (*cp >= 0xD800 && *cp <= 0xDFFF))) ||
        (extra == 3 && (*cp < 0x10000 || *cp > 0x10FFFF)))
        return 0;
    return extra + 1;
}

std::string sjisToUtf8(std::string_view sjis) {
    std::string out;
    out.reserve(sjis.size() * 3 / 2);
    const auto* s = reinterpret_cast<const unsigned char*>(sjis.data());
    std::size_t i = 0;
    while (i < sjis.size()) {
        const std::uint16_t single = kCp932Single[s[i]];
        if (single != kCp932Lead) {
            appendUtf8(out, single == kCp932None ? 0xFFFD : single);
            ++i;
        } else if (i + 1 == sjis.size()) {
            break; // a pair cut off at the end: dropped
        } else if (const std::uint16_t cp = cp932Pair(s[i], s[i + 1])) {
            appendUtf8(out, cp);
            i += 2;
        } else {
            // Only the lead byte is lost: the byte after it is read again on its own.
            appendUtf8(out, 0xFFFD);
            ++i;
        }
    }
    return out;
}

std::optional<std::string> utf8ToSjis(std::string_view utf8, std::size_t* badOffset) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::uint32_t cp = 0;
        const std::size_t length = utf8CharAt(utf8, i, &cp);
        const std::uint16_t code = length ? cp932Code(cp) : kCp932None;
        if (code == kCp932None) {
            if (badOffset) *badOffset = i;
            return std::nullopt;
        }
        if (code != kCp932Dropped) {
            if (code > 0xFF) out += static_cast<char>(code >> 8);
            out += static_cast<char>(code & 0xFF);
        }
        i += length;
    }
    return out;
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    std::uint32_t cp;
    while (i < text.size()) {
        const std::size_t length = utf8CharAt(text, i, &cp);
        if (length == 0) return false;
        i += length;
    }
    return true;
}
