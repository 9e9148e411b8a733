#include "base/message.h"

#include "base/files.h"
#include "base/output_file.h"

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

std::uint64_t g_traceFrame = 0;

namespace {
MessageSink g_sink = nullptr;
std::FILE* g_traceFile = nullptr;
std::string g_tracePath;
std::set<std::string> g_reported;

// A message box waits in a loop of its own, where the main loop never sees the quit request that
// a terminating signal becomes. While one is open, SIGTERM and SIGINT end the program at once,
// as they would without handlers: nothing is lost, since Data.sav is only ever replaced whole.
void endOnSignal(int signal) {
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

struct SignalsEndProgram {
    struct sigaction previousTerm {};
    struct sigaction previousInt {};
    SignalsEndProgram() {
        struct sigaction action {};
        action.sa_handler = endOnSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGTERM, &action, &previousTerm);
        ::sigaction(SIGINT, &action, &previousInt);
    }
    ~SignalsEndProgram() {
        ::sigaction(SIGTERM, &previousTerm, nullptr);
        ::sigaction(SIGINT, &previousInt, nullptr);
    }
    SignalsEndProgram(const SignalsEndProgram&) = delete;
    SignalsEndProgram& operator=(const SignalsEndProgram&) = delete;
};

} // namespace

void appendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

std::string terminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    char buf[8];
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = s[i];
        if (c == '\r' || c == '\n' || c == '\t') {
            out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : "\\t";
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
            ++i;
            continue;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        // One UTF-8 sequence, whole and valid, or its first byte escaped.
        const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length > 0 && i + length <= text.size() && isValidUtf8(text.substr(i, length))) {
            if (length == 2 && c == 0xC2 && s[i + 1] < 0xA0) { // U+0080 to U+009F
                std::snprintf(buf, sizeof buf, "\\u%04x", s[i + 1]);
                out += buf;
            } else {
                out.append(text.substr(i, length));
            }
            i += length;
            continue;
        }
        std::snprintf(buf, sizeof buf, "\\x%02x", c);
        out += buf;
        ++i;
    }
    return out;
}

void setMessageSink(MessageSink sink) {
    g_sink = sink;
}
MessageSink messageSink() {
    return g_sink;
}

void showMessage(std::string_view text) {
    if (traceEnabled()) traceEvent("message", {{"text", text}});
    if (g_sink) {
        const SignalsEndProgram whileTheBoxIsOpen;
        g_sink(text);
        return;
    }
    std::fprintf(stderr, "ERROR: %s\n", terminalText(text).c_str());
    std::fflush(stderr);
}

void reportProblem(std::string_view text) {
    if (traceEnabled()) traceEvent("problem", {{"text", text}});
    std::fprintf(stderr, "tolvane: %s\n", terminalText(text).c_str());
    std::fflush(stderr);
}

void reportProblemOnce(std::string_view text) {
    // Remembered up to a bound: a script has few distinct problems, and memory must not grow
    // without end on input that has many; past the bound they are simply reported each time.
    constexpr std::size_t kRemembered = 4096;
    if (g_reported.count(std::string(text))) return;
    if (g_reported.size() < kRemembered) g_reported.insert(std::string(text));
    reportProblem(text);
}

bool openTrace(const std::string& path) {
    closeTrace();
    g_traceFile = std::fopen(path.c_str(), "w");
    g_tracePath = path;
    return g_traceFile != nullptr;
}

void closeTrace() {
    std::FILE* file = g_traceFile;
    g_traceFile = nullptr;
    if (file && std::fclose(file) != 0) reportOutputFailure(g_tracePath, std::strerror(errno));
}

bool traceEnabled() {
    return g_traceFile != nullptr;
}

void traceEvent(std::string_view event, std::initializer_list<TraceField> fields) {
    if (!g_traceFile) return;
    std::string line = "{\"frame\":" + std::to_string(g_traceFrame) + ",\"event\":";
    appendJsonString(line, event);
    for (const TraceField& f : fields) {
        line += ',';
        appendJsonString(line, f.key);
        line += ':';
        if (f.isNumber)
            line += std::to_string(f.number);
        else
            appendJsonString(line, f.text);
    }
    line += "}\n";
    if (std::fwrite(line.data(), 1, line.size(), g_traceFile) != line.size() ||
        std::fflush(g_traceFile) != 0) {
        // A trace with holes misleads: it stops at the first failure, which is reported.
        const int error = errno;
        std::fclose(g_traceFile);
        g_traceFile = nullptr;
        reportOutputFailure(g_tracePath, std::strerror(error));
    }
}
