#include "base/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

namespace {

// As many links in a row as the system itself follows before it gives up.
constexpr int kMaxLinks = 40;

// Where a chain of links starting at `path` ends: the path of the file it leads to, which may
// not exist yet, with *kind its file type (0 when missing). False with *error on a loop or a link
// that cannot be read.
bool followLinks(const std::string& path, std::string* end, mode_t* kind, int* error) {
    std::string at = path;
    for (int hops = 0; hops <= kMaxLinks; ++hops) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0) {
            if (errno != ENOENT) return *error = errno, false;
            *end = at;
            *kind = 0;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            *end = at;
            *kind = st.st_mode & S_IFMT;
            return true;
        }
        char text[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), text, sizeof text);
        if (n < 0) return *error = errno, false;
        if (n == 0 || static_cast<std::size_t>(n) == sizeof text)
            return *error = n == 0 ? ENOENT : ENAMETOOLONG, false;
        std::string next(text, static_cast<std::size_t>(n));
        // A relative link is read from the folder that holds it.
        if (next.front() != '/')
            if (const std::size_t slash = at.rfind('/'); slash != std::string::npos)
                next = at.substr(0, slash + 1) + next;
        at = std::move(next);
    }
    *error = ELOOP;
    return false;
}

} // namespace

std::string replaceFile(const std::string& path, std::string_view bytes) {
    // Through a link, the file it leads to is replaced and the link is kept: renaming over the
    // link itself would cut the player's file off from where the player keeps it.
    std::string target;
    mode_t kind = 0;
    int linkError = 0;
    if (!followLinks(path, &target, &kind, &linkError))
        return "cannot replace " + path + ": " + std::strerror(linkError);
    // A folder is left to the rename, which says so; a device or a pipe is never replaced.
    if (kind != 0 && kind != S_IFREG && kind != S_IFDIR)
        return "cannot replace " + target + ": it is not a regular file";
    const std::string temporary = target + ".new";
    auto failed = [&](const char* step, int error) {
        return std::string(step) + " " + temporary + ": " + std::strerror(error);
    };
    // A stale temporary file (or a link planted in its place) goes first; anything that is not
    // a file or a link is left alone and makes the exclusive create below fail.
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        struct stat st {};
        if (::lstat(temporary.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            return failed("cannot create", EISDIR);
        return failed("cannot remove", errno);
    }
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return failed("cannot create", errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temporary.c_str());
            return failed("cannot write", error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return failed("cannot sync", error);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return failed("cannot close", error);
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return "cannot replace " + target + ": " + std::strerror(error);
    }
#ifdef __EMSCRIPTEN__
    // In a web page the file is in memory until the page copies it into the browser's storage,
    // which it does in one transaction: the stored file is the old one or the new one, whole.
    EM_ASM({
        if (Module.tolvaneKeepFiles) Module.tolvaneKeepFiles();
    });
#endif
    return {};
}
