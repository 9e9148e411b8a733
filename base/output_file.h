// Files the player asks for on the command line (pictures, state dumps, the trace): written
// whole and checked to the last close, and a failure remembered so the program's exit status
// tells of it.
#pragma once

#include <string>
#include <string_view>

// Writes the bytes to `path` (created or truncated), checking every write, the flush and the
// close. On failure reports "cannot write PATH: REASON" on standard error, remembers it for
// outputFailed() and returns false.
bool writeOutputFile(const std::string& path, std::string_view bytes);

// Reports that an output file could not be written, and remembers it.
void reportOutputFailure(std::string_view path, std::string_view reason);

// True once any output file could not be written in this run; the program then exits non-zero.
bool outputFailed();
