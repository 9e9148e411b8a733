#include "base/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

std::string replaceFile(const std::string& path, std::string_view bytes) {
    const std::string temporary = path + ".new";
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
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return "cannot replace " + path + ": " + std::strerror(error);
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
