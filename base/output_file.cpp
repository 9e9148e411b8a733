#include "base/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/message.h"

namespace {
bool g_outputFailed = false; // set by the first failed output file, never cleared
} // namespace

void reportOutputFailure(std::string_view path, std::string_view reason) {
    g_outputFailed = true;
    reportProblem("cannot write " + std::string(path) + ": " + std::string(reason));
}

bool outputFailed() {
    return g_outputFailed;
}

bool writeOutputFile(const std::string& path, std::string_view bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        reportOutputFailure(path, std::strerror(errno));
        return false;
    }
    // A full disk often shows only at the flush or the close, after every write was buffered.
    int error = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) error = errno;
    if (std::fflush(f) != 0 && error == 0) error = errno;
    if (std::fclose(f) != 0 && error == 0) error = errno;
    if (error != 0) {
        reportOutputFailure(path, std::strerror(error));
        return false;
    }
    return true;
}
