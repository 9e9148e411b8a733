#include "base/files.h"

#include <cerrno>
#include <dirent.h>
#include <iconv.h>
#include <strings.h>
#include <sys/stat.h>

#include <vector>

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

// Converts with iconv, replacing what cannot be converted; never stalls on a cut-off sequence.
std::string convertLenient(const char* to, const char* from, std::string_view in,
                           std::string_view replacement) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::string out;
    std::vector<char> buf(in.size() * 4 + 16);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    while (srcLeft > 0) {
        char* dst = buf.data();
        size_t dstLeft = buf.size();
        size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf.data(), dst - buf.data());
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            if (errno == EINVAL) break; // a sequence cut off at the end: drop it
            out += replacement;         // EILSEQ: skip one byte
            ++src;
            --srcLeft;
        }
    }
    ::iconv_close(cd);
    return out;
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
    struct stat st;
    if (mode[0] == 'r' && (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) return nullptr;
    return std::fopen(path.c_str(), mode);
}

std::string sjisToUtf8(std::string_view sjis) {
    return convertLenient("UTF-8", "CP932", sjis, "\xEF\xBF\xBD");
}

std::optional<std::string> utf8ToSjis(std::string_view utf8, std::size_t* badOffset) {
    iconv_t cd = ::iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out;
    std::vector<char> buf(utf8.size() * 2 + 16);
    char* src = const_cast<char*>(utf8.data());
    size_t srcLeft = utf8.size();
    bool ok = true;
    while (srcLeft > 0) {
        char* dst = buf.data();
        size_t dstLeft = buf.size();
        size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf.data(), dst - buf.data());
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            ok = false;
            if (badOffset) *badOffset = static_cast<std::size_t>(src - utf8.data());
            break;
        }
    }
    ::iconv_close(cd);
    if (!ok) return std::nullopt;
    return out;
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    while (i < text.size()) {
        unsigned char c = s[i];
        int extra;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) return false;
        for (int k = 1; k <= extra; ++k) {
            unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
            (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}
