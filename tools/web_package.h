// Packaging a game folder as a static web page: the page and program of the browser build, and
// the game's files in one package beside them, with its font cut down to the characters the
// game draws and its MIDI music rendered by the desktop's synthesiser.
#pragma once

#include <cstdio>
#include <string>

struct WebPackageOptions {
    std::string gameDir;    // the game folder (holds Scenario/scenario0.qv_)
    std::string outDir;     // made when missing; files of an earlier package are replaced
    std::string runtimeDir; // holds index.html, tolvane.js and tolvane.wasm
    std::string soundFonts; // empty: the engine's own choice
};

// The folder the browser build was installed to beside this program, or given in
// TOLVANE_WEB_RUNTIME; empty when there is none.
std::string defaultWebRuntime();

// Writes the page. Progress and problems go to `log`. The exit status of the command: 0 done
// (warnings may have been written), 1 the game cannot be packaged as it is, 2 a file could not
// be read or written.
int packageWebGame(const WebPackageOptions& options, std::FILE* log);
