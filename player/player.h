// The player's comforts: what players expect of a game of this kind beyond the game itself: the
// keyboard and the wheel, skipping, reading on by itself, the backlog and a menu on the right
// button. Every one is reached only through keys, buttons and settings the game leaves unused (the
// game reads the left button, the movement, F1 and Escape), so input that uses only those plays
// exactly as without them. The scenes and the program call the folder through this header only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class TextSpeed : std::uint8_t { AsIs, Faster, InstantPage };

// The player's settings. Read from and written to the settings file by the program (app/), changed
// by the menu; reset to these defaults by the program before it reads the file.
struct ComfortSettings {
    bool fullscreen = false;
    int musicVolume = 100;  // percent
    int effectVolume = 100; // percent
    TextSpeed textSpeed = TextSpeed::AsIs;
    int autoBaseMs = 1500;    // auto mode waits this long at a click wait,
    int autoPerCharMs = 50;   // and this long for every character of the line
    bool selfVoicing = false; // the page, the choices and the menu are spoken
};
extern ComfortSettings g_comfortSettings;

// What the comforts are doing now. Reset by resetComforts (a new run), not by a new game.
struct ComfortState {
    bool autoMode = false;
    bool skipRead = false; // skip pages already read, as holding Ctrl skips all
    bool backlogOpen = false;
    int backlogTop = 0; // first display line shown
    bool menuOpen = false;
    int menuItem = 0;
    int waitFrames = 0;            // frames spent at the current click wait
    bool settingsChanged = false;  // the menu changed a setting; the program saves them
    bool fullscreenWanted = false; // the menu asked the program to toggle fullscreen
    bool quitWanted = false;       // the menu asked the program to end
    bool textHidden = false;       // the text box is put away to look at the picture
    bool screenshotWanted = false; // the player asked for a screenshot of this frame
};
extern ComfortState g_comforts;

void resetComforts();
// Lets go of what the comforts hold on the graphics device (the slots' thumbnails); before the
// device goes at the program's end.
void releaseComforts();
// Off (--plain), nothing of this module acts: the game alone.
void setComfortsEnabled(bool enabled);

// After the input poll, before the scene: the comfort keys become the game's own input (Return,
// keypad Enter and Space a left press; at a choice the arrows, Tab and 1-9 move the pointer onto
// a link), and the backlog and the menu open and close.
void comfortsBeforeScene();
// True while the backlog or the menu is open: the game waits, only drawn.
bool comfortsHoldGame();
// After the game's own step: skip, auto mode and the text speed step the script further, or
// answer a click wait.
void comfortsAfterStep();
// After the scene's draw: the auto mark, the backlog and the menu.
void comfortsDraw();

// True while the player has put the text box away (H, the middle button): the game waits, and
// draws its picture alone, without the text box, the text, the marks or the pointer. The next
// press of any key or button brings it back and goes no further.
bool comfortsTextHidden();
// The program's answer to screenshotWanted, for the note on screen: where the picture went (the
// home folder written as ~), or why it did not.
void comfortsScreenshotTaken(const std::string& where, const std::string& failure);
// True while the game's pointer picture is left out: a game pad is in use and the pointer has
// not moved for a few seconds. The mouse, or the pad moving the pointer, brings it back.
bool comfortsPointerHidden();

// The frames the display shows a second, for timings given in milliseconds; 60 unless told.
void setComfortFrameRate(int framesPerSecond);
// How many pages the backlog holds at most.
inline constexpr int kBacklogPages = 200;
// How many earlier pages the backlog holds (for the state dump and tests).
int backlogPageCount();

// ---- Saves, rollback and read pages --------------------------------------------------------

// Before the first frame (--load, --resume): the first frame runs the game's init and puts the
// slot's moment back, so that it already shows that moment. False, with the reason, when the
// slot holds nothing this game can load.
bool startAtSave(int slot, std::string* reason);
// For the game scene's init: whether a load waits for it (the title never ran: its sounds are
// not loaded), and, after the init's own work, the moment put back.
bool comfortsLoadPending();
void comfortsAfterGameInit();
// For the title scene: true while the title's own menu (or a screen it opened) is up, when the
// title only draws; the title's frame then calls comfortsDraw after its picture.
bool comfortsHoldTitle();
// The quit save, for the program on its way out (Escape, the window closed, a terminating
// signal, a headless run's last frame): the moment of the game in play written to the quit
// slot, and the read pages kept. Empty on success or with no game in play, else the reason.
std::string writeQuitSave();
// The pages read, kept in the save folder for the next run when they changed since.
void keepReadPages();

// Every character the comforts may draw in the game's font (the menu's lines in each of their
// states, the marks), in UTF-8: a font cut down to a game's characters must hold these too.
std::string comfortCharacters();

// ---- Speech, the text feed and the clipboard ---------------------------------------------

// The one place the game's text leaves for speech and for readers. The comforts decide what is
// told and when; the program registers the outputs. Every text is UTF-8.
enum class SpeechKind : std::uint8_t {
    Page,    // text of the page on screen, told whole at its click wait (or its choice)
    Choice,  // a choice offered, "N　text", after the page's text
    Hovered, // the choice the pointer or the keys moved onto
    Menu,    // the menu entry selected
    Notice,  // the comforts' own word (self-voicing turned on or off, a copy)
};
// `interrupt`: what is still being said is dropped first (a new page, a new entry); an empty
// text with `interrupt` only silences.
using SpeechSink = void (*)(std::string_view utf8, SpeechKind kind, bool interrupt);
// Speech: told only while self-voicing is on.
void setSpeechSink(SpeechSink sink);
// The text feed (a file, the page's live region): the page's text and the choices, told whether
// or not self-voicing is on; `interrupt` marks a new page's first text.
void setTextFeedSink(SpeechSink sink);
// Where C puts the page's text.
using ClipboardSink = bool (*)(std::string_view utf8);
void setClipboardSink(ClipboardSink sink);
// V and the menu: self-voicing on or off (kept in the settings); `announce` says so by speech.
void toggleSelfVoicing(bool announce);
// The page's text on screen so far, its source lines one a line.
std::string pageTextNow();
