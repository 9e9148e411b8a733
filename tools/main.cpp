// tolvane-script: the scenario author's tool. Exit codes: 0 done, 1 the input has errors (a
// refused encode, a damaged checkpoint, lint errors), 2 the command could not run (usage,
// unreadable or unwritable files).
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/files.h"
#include "base/message.h"
#include "script/checkpoint_record.h"
#include "script/scenario_text.h"
#include "tools/checkpoint_fields.h"
#include "tools/explore.h"
#include "tools/lint.h"
#include "tools/new_game.h"
#include "tools/save_summary.h"
#include "tools/story_map.h"
#include "tools/web_package.h"

namespace {

constexpr const char* kToolHelp =
    "usage: tolvane-script COMMAND [ARGS]\n"
    "\n"
    "The scenario author's tool for the game's scripts and checkpoint file.\n"
    "\n"
    "commands:\n"
    "  encode [--sjis] IN.txt OUT.qv_  text to a scrambled scenario file\n"
    "  decode IN.qv_ [OUT.txt]         scenario file to UTF-8 text\n"
    "  new DIR                         make a starter game to play with tolvane --source DIR\n"
    "  lint [--source] [--watch] [GAME_DIR]\n"
    "                                  check a game folder's scenario as the engine plays it\n"
    "  explore [--source] [--json] [GAME_DIR]\n"
    "                                  play every path of the story and report what it finds\n"
    "  map [--source] [--html] [GAME_DIR] OUT.svg\n"
    "                                  draw the explored story with Graphviz\n"
    "  save [FILE]                     print what a continue or a load restores from a file\n"
    "  web [--runtime DIR] GAME_DIR OUT_DIR\n"
    "                                  package a game folder as a web page\n"
    "\n"
    "'tolvane-script COMMAND --help' tells more about a command.\n"
    "Exit status: 0 done, 1 the input has errors, 2 the command could not run.\n";

constexpr const char* kEncodeHelp =
    "usage: tolvane-script encode [--sjis] IN.txt OUT.qv_\n"
    "\n"
    "Turns scenario text into a scenario file: line ends become CR LF, the text becomes\n"
    "Shift-JIS (code page 932) and every byte is scrambled. IN.txt is UTF-8 (a byte order mark\n"
    "is dropped), or Shift-JIS with --sjis.\n"
    "\n"
    "Refused, each with FILE:LINE:COLUMN (columns count characters): a character that code\n"
    "page 932 cannot hold; a character whose Shift-JIS form holds the byte 0x7E ('~', and\n"
    "for example 'ミ' and '×'), which would end the file; a zero byte, which no text means and\n"
    "the game would show as a blank; a CR that ends no line; text over 65534 bytes. Of one\n"
    "kind, the first ten are told and the rest counted. Nothing is written then, and the exit\n"
    "status is 1, as it is for an IN.txt that is not a regular file or is over 4 MB.\n";

constexpr const char* kDecodeHelp =
    "usage: tolvane-script decode IN.qv_ [OUT.txt]\n"
    "\n"
    "Turns a scenario file back into UTF-8 text with LF line ends, written to OUT.txt or to\n"
    "standard output. The text ends where the engine stops reading: at the end of the file or\n"
    "at the first stored byte 0xFF. Encoding the result gives back the same file for every file\n"
    "that encode wrote; where it would not (lone line-end bytes, bytes that are not Shift-JIS,\n"
    "bytes behind a stored 0xFF), a warning with FILE:LINE:COLUMN says so.\n";

constexpr const char* kLintHelp =
    "usage: tolvane-script lint [--source] [--watch] [GAME_DIR]\n"
    "\n"
    "Reads Scenario/scenario0.qv_ and Scenario/end1.qv_ of a game folder (the current folder\n"
    "by default) as the engine does, lays out and plays every page the script can reach, from\n"
    "the start and from every label a jump or a choice leads to, and reports what the engine\n"
    "would do wrong, as FILE:LINE:COLUMN: error|warning: MESSAGE, sorted by place. Lines and\n"
    "columns are those of the text that decode gives (and that encode read). It also reports\n"
    "pictures and sounds the game loads that are missing from the folder, and tags written\n"
    "loosely, with how the engine reads them.\n"
    "\n"
    "  --source  lint the UTF-8 sources Scenario/scenario0.txt and Scenario/end1.txt instead,\n"
    "            encoded as encode (and the game's --source) does; encode errors are findings\n"
    "  --watch   lint again whenever a scenario file changes, until interrupted\n"
    "\n"
    "Exit status: 0 no errors (warnings may be shown), 1 errors, 2 a scenario file cannot be\n"
    "read.\n";

constexpr const char* kExploreHelp =
    "usage: tolvane-script explore [--source] [--json] [GAME_DIR]\n"
    "\n"
    "Plays the game folder's story (the current folder by default) through the engine's own\n"
    "interpreter, from the start and from every checkpoint a continue restores: every click\n"
    "wait is clicked and every link of every choice is taken. A moment the interpreter has\n"
    "already been in is played once, so a story whose branches join again stays small.\n"
    "Nothing is drawn, played or written; pictures and sounds are only looked for.\n"
    "\n"
    "Reports, as FILE:LINE:COLUMN: error|warning: MESSAGE in the text decode gives (or in the\n"
    "sources with --source): labels, pages and links no path reaches; paths that never end (a\n"
    "loop of pages that waits for no click or choice, a page that runs off the end of its\n"
    "block, a choice without links); jumps and links to missing labels on a path taken;\n"
    "pictures and sounds a path asks for that the game does not load or the folder lacks, with\n"
    "the choices that lead there. Then a note for every ending ([reset]) reached, with its\n"
    "shortest and longest way from the start in clicks, choices and characters (and the reading\n"
    "time at one character a frame, 60 frames a second), and the coverage: the text's pages\n"
    "reached, the links offered and taken.\n"
    "\n"
    "  --source  explore the UTF-8 sources Scenario/scenario0.txt and Scenario/end1.txt\n"
    "  --json    print the same as one JSON document\n"
    "\n"
    "Exit status: 0 no errors (warnings may be shown), 1 errors, 2 a bad command line or a\n"
    "scenario file that cannot be read.\n";

constexpr const char* kNewHelp =
    "usage: tolvane-script new DIR\n"
    "\n"
    "Makes a starter game in DIR (a folder that does not exist yet, or an empty one): the\n"
    "bundled demo's pictures (CG/) and sounds (Sound/), and two short UTF-8 sources,\n"
    "Scenario/scenario0.txt and Scenario/end1.txt, that use every tag once, each explained by\n"
    "a comment. It plays at once with 'tolvane --source DIR' and lints clean with\n"
    "'tolvane-script lint --source DIR'. The pictures and sounds come from the demo beside the\n"
    "tool in a build tree, else from the installed demo.\n"
    "\n"
    "Exit status: 0 made, 2 DIR is not empty, no demo is found, or a file cannot be written.\n";

constexpr const char* kMapHelp =
    "usage: tolvane-script map [--source] [--html] [GAME_DIR] OUT.svg\n"
    "\n"
    "Explores the game folder's story (the current folder by default) as explore does and\n"
    "draws it with Graphviz as an SVG picture: a box for every page, with its first characters\n"
    "and its FILE:LINE; plain arrows for [ct], dashed ones for jumps, blue ones with the link's\n"
    "text for each choice; a double frame for a page behind a checkpoint label, an octagon for\n"
    "every ending, and grey boxes for the pages no path reaches.\n"
    "\n"
    "  --source  explore the UTF-8 sources Scenario/scenario0.txt and Scenario/end1.txt\n"
    "  --html    write one HTML page instead: the map beside the explore report\n"
    "\n"
    "Exit status: 0 drawn, 1 drawn but the story has errors (explore tells them), 2 a bad\n"
    "command line, a scenario file that cannot be read, or a map that cannot be written.\n";

constexpr const char* kSaveHelp =
    "usage: tolvane-script save [FILE]\n"
    "\n"
    "Prints what a continue restores from a checkpoint file (Data.sav in the current folder by\n"
    "default), read by the engine's own reader: the block and label the game continues at, the\n"
    "background, the pictures put back on layers 0, 1, ... and the music. A file the continue\n"
    "would refuse is reported with the field and byte offset of its damage, and the exit status\n"
    "is 1. Beside a Scenario folder (a file in a game folder), the label is looked up in the\n"
    "block as the continue looks it up; a label the block does not hold is damage too.\n"
    "\n"
    "FILE may also be a player's save (Save01.sav .. Save60.sav, QuickSave.sav, QuitSave.sav):\n"
    "then it prints, with the game's own reader, when it was made, its page's first characters,\n"
    "its place, and what a load restores: exactly that moment, or, when the scenario beside it\n"
    "was edited since, the same page or the label above it; or why a load refuses it (damaged,\n"
    "cut short, of a newer version, of another game), with the exit status 1.\n";

constexpr const char* kWebHelp =
    "usage: tolvane-script web [--runtime DIR] [--soundfont FILE] GAME_DIR OUT_DIR\n"
    "\n"
    "Packages the game in GAME_DIR as a static web page in OUT_DIR: index.html, the browser\n"
    "build of the engine (tolvane.js, tolvane.wasm) and game.pak with game.json, which hold the\n"
    "game's files, its font cut down to the characters the scenario and the engine draw, and its\n"
    "MIDI music rendered by the desktop's synthesiser with the same sound font. Serve OUT_DIR\n"
    "over HTTP: a page opened from file:// cannot load its files. The page keeps the player's\n"
    "checkpoint and settings in the browser's storage.\n"
    "\n"
    "The game's files are what the game reads: CG/*.bmp, Sound/*.mid and *.wav, and\n"
    "Scenario/*.qv_ (any letter case), nothing deeper. Nothing else goes in: not the scenario\n"
    "sources, a Data.sav or an editor's leftovers. A link that leads out of GAME_DIR, anything\n"
    "that is not a regular file and a name that is not UTF-8 are left out with a warning. Each\n"
    "file of the page is written new and renamed into place; OUT_DIR cannot be inside GAME_DIR.\n"
    "\n"
    "  --runtime DIR     the browser build (scripts/web.sh makes it in build-web/engine);\n"
    "                    by default TOLVANE_WEB_RUNTIME, else the one installed beside the tool\n"
    "  --soundfont FILE  the sound font to render the music with (default: the engine's)\n"
    "\n"
    "Exit status: 0 done (warnings, such as music that cannot be rendered, may be shown),\n"
    "1 the game cannot be packaged as it is (a file over 65 MB, over 512 MB in all, no\n"
    "Scenario/scenario0.qv_ to publish, or a font that cannot be cut down), 2 a file could not\n"
    "be read or written.\n";

void printProblems(const std::string& file, const std::vector<TextProblem>& problems,
                   const char* kind) {
    for (const TextProblem& p : problems)
        std::fprintf(stderr, "%s:%d:%d: %s: %s\n", terminalText(file).c_str(), p.place.line,
                     p.place.column, kind, terminalText(p.message).c_str());
}

// Reads a scenario source or file. On failure, says why and gives the exit status: 1 for a file
// that is there but cannot be a scenario (a pipe, a device, a folder, one far too large), 2 for
// one that cannot be read.
int readScenarioInput(const std::string& path, std::string* bytes) {
    std::string reason;
    switch (readSourceFile(path, bytes, &reason)) {
    case FileRead::Read:
        return 0;
    case FileRead::Unreadable:
        std::fprintf(stderr, "tolvane-script: cannot read %s: %s\n", terminalText(path).c_str(),
                     reason.c_str());
        return 2;
    case FileRead::Refused:
        break;
    }
    std::fprintf(stderr, "tolvane-script: %s %s\n", terminalText(path).c_str(), reason.c_str());
    return 1;
}

int usageError(const char* message, const char* help) {
    std::fprintf(stderr, "tolvane-script: %s\n\n%s", terminalText(message).c_str(), help);
    return 2;
}

bool wantsHelp(const std::vector<std::string>& args) {
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") return true;
    return false;
}

int runEncode(std::vector<std::string> args) {
    if (wantsHelp(args)) return std::fputs(kEncodeHelp, stdout), 0;
    SourceEncoding encoding = SourceEncoding::Utf8;
    std::vector<std::string> files;
    for (const std::string& a : args) {
        if (a == "--sjis")
            encoding = SourceEncoding::ShiftJis;
        else if (a.starts_with("-") && a != "-")
            return usageError(("unknown option " + a).c_str(), kEncodeHelp);
        else
            files.push_back(a);
    }
    if (files.size() != 2) return usageError("encode needs IN.txt and OUT.qv_", kEncodeHelp);
    std::string text;
    if (const int failed = readScenarioInput(files[0], &text)) return failed;
    EncodeResult result = encodeScenario(text, encoding);
    if (!result.errors.empty()) {
        printProblems(files[0], result.errors, "error");
        std::fprintf(stderr, "tolvane-script: %s not written\n", files[1].c_str());
        return 1;
    }
    std::string_view bytes(reinterpret_cast<const char*>(result.stored.data()),
                           result.stored.size());
    if (!writeWholeFile(files[1], bytes)) {
        std::fprintf(stderr, "tolvane-script: cannot write %s: %s\n", files[1].c_str(),
                     std::strerror(errno));
        return 2;
    }
    return 0;
}

int runDecode(std::vector<std::string> args) {
    if (wantsHelp(args)) return std::fputs(kDecodeHelp, stdout), 0;
    for (const std::string& a : args)
        if (a.starts_with("-")) return usageError(("unknown option " + a).c_str(), kDecodeHelp);
    if (args.empty() || args.size() > 2)
        return usageError("decode needs IN.qv_ and at most one OUT.txt", kDecodeHelp);
    std::string stored;
    if (const int failed = readScenarioInput(args[0], &stored)) return failed;
    DecodeResult result =
        decodeScenario({reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()});
    printProblems(args[0], result.warnings, "warning");
    if (args.size() == 1) {
        std::fwrite(result.text.data(), 1, result.text.size(), stdout);
        return 0;
    }
    if (!writeWholeFile(args[1], result.text)) {
        std::fprintf(stderr, "tolvane-script: cannot write %s: %s\n", args[1].c_str(),
                     std::strerror(errno));
        return 2;
    }
    return 0;
}

int runSave(std::vector<std::string> args) {
    if (wantsHelp(args)) return std::fputs(kSaveHelp, stdout), 0;
    for (const std::string& a : args)
        if (a.starts_with("-")) return usageError(("unknown option " + a).c_str(), kSaveHelp);
    if (args.size() > 1) return usageError("save takes at most one file", kSaveHelp);
    const std::string path = args.empty() ? "Data.sav" : args[0];
    if (looksLikeSaveFile(path)) {
        const std::string folder = std::filesystem::path(path).parent_path().string();
        const SaveSummary summary = summarizeSaveFile(path, folder.empty() ? "." : folder);
        std::fputs(summary.text.c_str(), stdout);
        if (!summary.checked)
            std::fprintf(stderr,
                         "%s: note: no Scenario folder beside it; the place was not looked up\n",
                         terminalText(path).c_str());
        return summary.loadable ? 0 : 1;
    }
    std::string stored, reason;
    if (!readCheckpointBytes(path, &stored, &reason)) {
        std::fprintf(stderr, "tolvane-script: cannot read %s: %s\n", terminalText(path).c_str(),
                     reason.c_str());
        return 2;
    }
    CheckpointFields fields =
        readCheckpointFields({reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()});
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const bool checked = checkCheckpointLabel(folder.empty() ? "." : folder, fields);
    std::fputs(formatCheckpointFields(fields).c_str(), stdout);
    const std::string shown = terminalText(path);
    if (!checked && fields.damage.empty())
        std::fprintf(stderr,
                     "%s: note: no Scenario folder beside it; the label was not looked up\n",
                     shown.c_str());
    for (const CheckpointProblem& p : fields.notes)
        std::fprintf(stderr, "%s: byte %zu (%s): note: %s\n", shown.c_str(), p.offset,
                     p.field.c_str(), terminalText(p.message).c_str());
    for (const CheckpointProblem& p : fields.damage)
        std::fprintf(stderr, "%s: byte %zu (%s): damaged: %s\n", shown.c_str(), p.offset,
                     p.field.c_str(), terminalText(p.message).c_str());
    return fields.damage.empty() ? 0 : 1;
}

struct FileStamp {
    bool exists = false;
    std::int64_t size = 0;
    std::int64_t modified = 0;
    bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const std::string& path) {
    struct stat st;
    if (::stat(systemPath(path).c_str(), &st) != 0) return {};
    return {true, static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

// One lint of the folder, printed; its exit status.
int lintOnce(const std::string& dir, bool sources) {
    LintResult result = lintGameFolder(dir, sources);
    for (const LintDiagnostic& d : result.diagnostics)
        std::printf("%s\n", terminalText(formatDiagnostic(d)).c_str());
    std::fflush(stdout);
    if (!result.diagnostics.empty())
        std::fprintf(stderr, "%d errors, %d warnings\n", result.errors, result.warnings);
    return result.errors ? 1 : 0;
}

int runLint(std::vector<std::string> args) {
    if (wantsHelp(args)) return std::fputs(kLintHelp, stdout), 0;
    bool sources = false, watch = false;
    std::vector<std::string> folders;
    for (const std::string& a : args) {
        if (a == "--source")
            sources = true;
        else if (a == "--watch")
            watch = true;
        else if (a.starts_with("-"))
            return usageError(("unknown option " + a).c_str(), kLintHelp);
        else
            folders.push_back(a);
    }
    if (folders.size() > 1) return usageError("lint takes at most one game folder", kLintHelp);
    const std::string dir = folders.empty() ? "." : folders[0];
    const std::array<std::string, 2> files = lintedScenarioFiles(dir, sources);
    if (!watch) {
        for (const std::string& file : files) {
            std::string content;
            if (const int failed = readScenarioInput(systemPath(file), &content)) return failed;
        }
        return lintOnce(dir, sources);
    }

    // Lints at once, then again after every change of a scenario file; an unreadable file is
    // a finding, not the end, since an editor may be writing it.
    std::array<FileStamp, 2> seen = {stampOf(files[0]), stampOf(files[1])};
    lintOnce(dir, sources);
    while (true) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::array<FileStamp, 2> now = {stampOf(files[0]), stampOf(files[1])};
        if (now == seen) continue;
        const std::string& changed = now[0] == seen[0] ? files[1] : files[0];
        seen = now;
        std::printf("-- %s changed; linted again\n", terminalText(changed).c_str());
        lintOnce(dir, sources);
    }
}

int runNew(std::vector<std::string> args) {
    if (wantsHelp(args)) return std::fputs(kNewHelp, stdout), 0;
    for (const std::string& a : args)
        if (a.starts_with("-")) return usageError(("unknown option " + a).c_str(), kNewHelp);
    if (args.size() != 1) return usageError("new needs one folder", kNewHelp);
    const int made = makeStarterGame(args[0], starterAssetsFolder(), stderr);
    if (made == 0)
        std::printf("made %s: play it with tolvane --source %s\n", terminalText(args[0]).c_str(),
                    terminalText(args[0]).c_str());
    return made;
}

int runExplore(std::vector<std::string> args) {
    if (wantsHelp(args)) return std::fputs(kExploreHelp, stdout), 0;
    bool sources = false, json = false;
    std::vector<std::string> folders;
    for (const std::string& a : args) {
        if (a == "--source")
            sources = true;
        else if (a == "--json")
            json = true;
        else if (a.starts_with("-"))
            return usageError(("unknown option " + a).c_str(), kExploreHelp);
        else
            folders.push_back(a);
    }
    if (folders.size() > 1)
        return usageError("explore takes at most one game folder", kExploreHelp);
    const std::string dir = folders.empty() ? "." : folders[0];
    for (const std::string& file : lintedScenarioFiles(dir, sources)) {
        std::string content;
        if (const int failed = readScenarioInput(systemPath(file), &content)) return failed;
    }
    const ExploreReport report = exploreGameFolder(dir, sources);
    const std::string text = json ? formatExploreJson(report) : formatExploreText(report);
    if (json) {
        std::fputs(text.c_str(), stdout);
    } else { // line by line: a line end of the report is no control character of a label's
        for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
            end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            std::printf("%s\n", terminalText(std::string_view(text).substr(at, end - at)).c_str());
        }
    }
    return report.errors ? 1 : 0;
}

int runMap(std::vector<std::string> args) {
    if (wantsHelp(args)) return std::fputs(kMapHelp, stdout), 0;
    bool sources = false, html = false;
    std::vector<std::string> names;
    for (const std::string& a : args) {
        if (a == "--source")
            sources = true;
        else if (a == "--html")
            html = true;
        else if (a.starts_with("-"))
            return usageError(("unknown option " + a).c_str(), kMapHelp);
        else
            names.push_back(a);
    }
    if (names.empty() || names.size() > 2)
        return usageError("map needs OUT.svg, after at most one game folder", kMapHelp);
    const std::string dir = names.size() == 2 ? names[0] : ".";
    const std::string out = names.back();
    for (const std::string& file : lintedScenarioFiles(dir, sources)) {
        std::string content;
        if (const int failed = readScenarioInput(systemPath(file), &content)) return failed;
    }
    const ExploreReport report = exploreGameFolder(dir, sources);
    std::string svg, why;
    if (!renderStoryMap(report, &svg, &why)) {
        std::fprintf(stderr, "tolvane-script: %s\n", why.c_str());
        return 2;
    }
    if (!writeWholeFile(out, html ? storyMapPage(report, svg) : svg)) {
        std::fprintf(stderr, "tolvane-script: cannot write %s: %s\n", terminalText(out).c_str(),
                     std::strerror(errno));
        return 2;
    }
    if (report.errors)
        std::fprintf(stderr, "%d errors, %d warnings: see tolvane-script explore\n", report.errors,
                     report.warnings);
    return report.errors ? 1 : 0;
}

} // namespace

int runWeb(std::vector<std::string> args) {
    if (wantsHelp(args)) return std::fputs(kWebHelp, stdout), 0;
    WebPackageOptions options;
    options.runtimeDir = defaultWebRuntime();
    std::vector<std::string> folders;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if ((a == "--runtime" || a == "--soundfont") && i + 1 < args.size())
            (a == "--runtime" ? options.runtimeDir : options.soundFonts) = args[++i];
        else if (a.starts_with("-"))
            return usageError(("unknown option " + a).c_str(), kWebHelp);
        else
            folders.push_back(a);
    }
    if (folders.size() != 2) return usageError("web needs GAME_DIR and OUT_DIR", kWebHelp);
    if (options.runtimeDir.empty())
        return usageError("no browser build found: name it with --runtime DIR", kWebHelp);
    options.gameDir = folders[0];
    options.outDir = folders[1];
    return packageWebGame(options, stderr);
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) return usageError("no command given", kToolHelp);
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "--help" || command == "-h" || command == "help")
        return std::fputs(kToolHelp, stdout), 0;
    if (command == "encode") return runEncode(args);
    if (command == "decode") return runDecode(args);
    if (command == "save") return runSave(args);
    if (command == "lint") return runLint(args);
    if (command == "explore") return runExplore(args);
    if (command == "new") return runNew(args);
    if (command == "map") return runMap(args);
    if (command == "web") return runWeb(args);
    return usageError(("unknown command " + command).c_str(), kToolHelp);
}
