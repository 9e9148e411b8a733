// Error messages shown to the player, and the engine's optional event trace.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// Shows one error message (UTF-8 text) with the caption "ERROR". Until a window exists, and
// whenever the program runs without a display, the text goes to standard error and nothing waits.
void showMessage(std::string_view text);

// Writes one diagnostic line (UTF-8) to standard error. For problems in a script or a file that
// the player need not be stopped for; an author sees them in a terminal or a trace.
void reportProblem(std::string_view text);

// As reportProblem, but each distinct text is reported only once per run, so that a tag met on
// every replay of a page does not flood the output.
void reportProblemOnce(std::string_view text);

// Text made safe for a terminal: control characters (C0, DEL and the C1 range) and bytes that
// are not UTF-8 become escapes (\r, \n, \t, \x1b, \xff, \u009b), so that a label or a line
// from a file can never move the cursor, recolour or retitle the player's terminal. Every
// diagnostic passes through it; message boxes keep their texts.
std::string terminalText(std::string_view text);

// Where message boxes go. Set by the window layer once the window exists; null means standard
// error. Tests install their own to collect the texts.
using MessageSink = void (*)(std::string_view text);
void setMessageSink(MessageSink sink);
MessageSink messageSink();

// One value of a trace event: a number or a UTF-8 string.
struct TraceField {
    std::string_view key;
    bool isNumber;
    std::int64_t number;
    std::string_view text;

    TraceField(std::string_view k, std::int64_t n) : key(k), isNumber(true), number(n), text() {}
    TraceField(std::string_view k, int n) : key(k), isNumber(true), number(n), text() {}
    TraceField(std::string_view k, std::string_view s)
        : key(k), isNumber(false), number(0), text(s) {}
    TraceField(std::string_view k, const char* s) : TraceField(k, std::string_view(s)) {}
};

// The event trace: one JSON object a line, each with the frame it happened in. Off (and free)
// until openTrace succeeds. A failed write or close ends it and is reported as a failed output
// file (base/output_file.h), so the program's exit status tells of it.
bool openTrace(const std::string& path);
void closeTrace();
bool traceEnabled();
void traceEvent(std::string_view event, std::initializer_list<TraceField> fields);

// Appends the text as a JSON string literal (quotes and escapes).
void appendJsonString(std::string& out, std::string_view text);

// Frame number stamped on trace events; the frame driver advances it, 0 before the first frame.
extern std::uint64_t g_traceFrame;
