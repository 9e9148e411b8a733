#include "app/speech.h"

#include <SDL.h>

#include <cstdio>
#include <string>
#include <string_view>

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#else
#include <fcntl.h>
#include <libspeechd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/library_allocations.h"
#endif

#include "base/message.h"
#include "player/player.h"

namespace {

#ifdef __EMSCRIPTEN__

// The page speaks (speechSynthesis) and keeps the live region; see web/index.html.
void speak(std::string_view text, SpeechKind, bool interrupt) {
    const std::string copy(text);
    EM_ASM(
        {
            if (Module.tolvaneSpeak) Module.tolvaneSpeak(UTF8ToString($0), $1);
        },
        copy.c_str(), interrupt ? 1 : 0);
}

void feed(std::string_view text, SpeechKind kind, bool interrupt) {
    const std::string copy(text);
    EM_ASM(
        {
            if (Module.tolvaneFeed) Module.tolvaneFeed(UTF8ToString($0), $1, $2);
        },
        copy.c_str(), kind == SpeechKind::Choice ? 1 : 0, interrupt ? 1 : 0);
}

// A key press lets the page write the clipboard; the browser may still refuse, unseen here.
bool copyToClipboard(std::string_view text) {
    const std::string copy(text);
    return EM_ASM_INT(
               {
                   if (!navigator.clipboard) return 0;
                   navigator.clipboard.writeText(UTF8ToString($0)).catch(function(){});
                   return 1;
               },
               copy.c_str()) != 0;
}

#else

// ---- Speech: speech-dispatcher ------------------------------------------------------------

// The connection lives on a thread of its own: the library waits for the daemon's every answer
// (and for the daemon itself when it has to be started), which a frame must never wait for.
struct Speaker {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::string> queue;
    bool cancel = false;
    bool stop = false;
    bool failed = false;
};
// Made at the first word, so a player who never turns voicing on pays nothing. The thread owns
// it once told to stop: it may be waiting on a daemon that does not answer, and the program's
// end must not wait with it.
Speaker* g_speaker = nullptr;
constexpr std::size_t kMaxQueued = 64; // a page's lines and its choices, many times over

void speakerThread(Speaker* s) {
    SPDConnection* connection = nullptr;
    std::unique_lock lock(s->mutex);
    while (true) {
        s->wake.wait(lock, [s] { return s->stop || s->cancel || !s->queue.empty(); });
        if (s->stop) break;
        const bool cancel = s->cancel;
        s->cancel = false;
        std::string text;
        if (!s->queue.empty()) {
            text = std::move(s->queue.front());
            s->queue.pop_front();
        }
        lock.unlock();
        if (!connection) {
            char* error = nullptr;
            {
                // A connection that fails keeps a few of the speech library's own strings for
                // good (the address it tried, the autospawn's report); the sanitizer build's leak
                // checker is not to take them for the engine's.
                const LibraryAllocations library;
                connection =
                    spd_open2("tolvane", "main", nullptr, SPD_MODE_SINGLE, nullptr, 1, &error);
            }
            if (!connection) {
                std::fprintf(stderr,
                             "tolvane: cannot reach speech-dispatcher (%s); nothing is spoken\n",
                             error ? error : "no reason given");
                std::free(error);
                lock.lock();
                s->failed = true;
                s->queue.clear();
                break;
            }
            spd_set_language(connection, "ja");
        }
        if (cancel) spd_cancel(connection);
        // Priority "message": queued behind one another, so a page's lines and its choices
        // are said whole and in order; at "text" each would cut off the one before. A new page
        // or a new entry silences the rest with the cancel above instead.
        if (!text.empty()) spd_say(connection, SPD_MESSAGE, text.c_str());
        lock.lock();
    }
    const bool stopped = s->stop;
    lock.unlock();
    if (connection) spd_close(connection);
    if (stopped) delete s;
}

void speak(std::string_view text, SpeechKind, bool interrupt) {
    if (!g_speaker) {
        if (text.empty()) return; // nothing said yet, nothing to silence
        g_speaker = new Speaker;
        try {
            std::thread(speakerThread, g_speaker).detach();
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "tolvane: cannot start speech: %s\n", e.what());
            g_speaker->failed = true;
        }
    }
    Speaker& s = *g_speaker;
    const std::lock_guard lock(s.mutex);
    if (s.failed) return;
    if (interrupt) {
        s.queue.clear();
        s.cancel = true;
    }
    if (!text.empty() && s.queue.size() < kMaxQueued) s.queue.emplace_back(text);
    s.wake.notify_one();
}

void stopSpeaker() {
    if (!g_speaker) return;
    Speaker* s = g_speaker;
    g_speaker = nullptr;
    std::unique_lock lock(s->mutex);
    if (s->failed) { // its thread has ended, or never began
        lock.unlock();
        delete s;
        return;
    }
    s->stop = true;
    s->wake.notify_one();
}

// ---- The text feed: --text-feed FILE ------------------------------------------------------

// Lines go to a file or a FIFO, opened without blocking. A FIFO that has no reader yet is tried
// again now and then, its lines kept meanwhile (a bounded few); a reader that leaves is waited
// for again. A pipe that is full drops the line: a slow reader never holds up a frame. Each line
// is written by itself, so a line up to the pipe's atomic size arrives whole or not at all.
struct Feed {
    std::string path;
    int fd = -1;
    bool broken = false; // a failure was told; nothing more is written
    bool anyPage = false;
    std::deque<std::string> pending;
    int frames = 0;
};
Feed g_feed;
constexpr std::size_t kMaxPending = 256;
constexpr int kRetryFrames = 30;

void failFeed(const char* what) {
    std::fprintf(stderr, "tolvane: --text-feed %s: %s; the feed stops\n",
                 terminalText(g_feed.path).c_str(), what);
    g_feed.broken = true;
    g_feed.pending.clear();
    if (g_feed.fd >= 0) ::close(g_feed.fd);
    g_feed.fd = -1;
}

bool openFeed() {
    if (g_feed.fd >= 0) return true;
    const int fd =
        ::open(g_feed.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno != ENXIO) failFeed(std::strerror(errno)); // ENXIO: a FIFO with no reader yet
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode)) {
        // A reader that goes away is an EPIPE to wait out, not a signal that ends the game.
        std::signal(SIGPIPE, SIG_IGN);
    }
    g_feed.fd = fd;
    return true;
}

void flushFeed() {
    Feed& f = g_feed;
    if (f.broken || f.pending.empty() || !openFeed()) return;
    while (!f.pending.empty()) {
        const std::string& line = f.pending.front();
        const ssize_t n = ::write(f.fd, line.data(), line.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EPIPE) { // the reader left: keep the lines for the next
            ::close(f.fd);
            f.fd = -1;
            return;
        }
        if (n < 0 && errno != EAGAIN) return failFeed(std::strerror(errno));
        f.pending.pop_front();
        if (n < 0) { // full: what waits is dropped with it
            f.pending.clear();
            return;
        }
    }
}

void feed(std::string_view text, SpeechKind kind, bool interrupt) {
    Feed& f = g_feed;
    if (f.broken) return;
    // A blank line between pages.
    if (kind == SpeechKind::Page && interrupt && f.anyPage) f.pending.emplace_back("\n");
    f.anyPage = true;
    f.pending.push_back(std::string(text) + "\n");
    while (f.pending.size() > kMaxPending)
        f.pending.pop_front();
    flushFeed();
}

bool copyToClipboard(std::string_view text) {
    const std::string copy(text);
    return SDL_SetClipboardText(copy.c_str()) == 0;
}

#endif

} // namespace

void startTextOutputs(const std::string& textFeedPath) {
    setSpeechSink(speak);
    setClipboardSink(copyToClipboard);
#ifdef __EMSCRIPTEN__
    // The live region is always kept: a screen reader's user should need no key for it.
    (void)textFeedPath;
    setTextFeedSink(feed);
#else
    g_feed = Feed{};
    g_feed.path = textFeedPath;
    setTextFeedSink(textFeedPath.empty() ? nullptr : feed);
#endif
}

void keepTextFeed() {
#ifndef __EMSCRIPTEN__
    if (g_feed.fd < 0 && !g_feed.pending.empty() && ++g_feed.frames % kRetryFrames == 0)
        flushFeed();
#endif
}

bool speechUnavailable() {
#ifdef __EMSCRIPTEN__
    return false;
#else
    if (!g_speaker) return false;
    const std::lock_guard lock(g_speaker->mutex);
    return g_speaker->failed;
#endif
}

void stopTextOutputs() {
    setSpeechSink(nullptr);
    setTextFeedSink(nullptr);
    setClipboardSink(nullptr);
#ifndef __EMSCRIPTEN__
    stopSpeaker();
    if (g_feed.fd >= 0) ::close(g_feed.fd);
    g_feed = Feed{};
#endif
}
