// What the player's sources share: the comforts' memory of the run, the tests every concern asks
// of the game, and the few pieces each concern gives the frame's entry points. Private to player/.
#pragma once

#include <compare>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "player/save_file.h"
#include "render/quad.h"

// A page as the read pages know it: its block and the hash of its source bytes.
struct PageKey {
    std::int32_t block = -1; // -1: no page
    std::uint64_t hash = 0;
    auto operator<=>(const PageKey&) const = default;
};

struct ComfortsMemory {
    std::vector<std::uint8_t> shown;                // the revealed text of the page on screen
    PageKey shownPage;                              // that page
    std::vector<std::vector<std::uint8_t>> history; // earlier pages' text, oldest first
    int framesPerSecond = 60;
    bool enabled = true;
};
// The pages followed by the backlog, and how the comforts run. The pages are written by the
// backlog and reset by resetComforts; the frame rate and the switch only by their setters.
extern ComfortsMemory g_comfortsMemory;

bool keyDown(int key);
bool inGame();
bool atClickWait();
// The page on screen.
PageKey pageKey();
std::string toSjis(std::string_view utf8);

// Drawing over the game: the whole screen dimmed, a text with its shadow.
void dim(std::uint32_t alpha);
void drawShadowed(const std::string& text, const Rect& rect);

// Backlog (backlog.cpp).
// Keeps the page on screen; when another page replaces it, the one before joins the backlog.
// Every frame, in a game or not.
void followPage();
void openBacklog();
void backlogInput();
void drawBacklog();

// Menu (menu.cpp).
void menuInput();
void drawMenu();
// The entry selected in the menu, as drawn (UTF-8).
std::string selectedMenuText();

// Speech and the text feed (voice.cpp): what the frame shows, told once it is drawn; forgotten
// by resetComforts. C copies the page's text.
void followVoice();
void forgetVoice();
void copyPageText();
std::string voiceCharacters();

// The text box put away and the screenshot key (view.cpp). Before the other comforts take the
// input: true when this frame's input went to the text box (put away, or brought back), and
// none of it reaches the game or the other comforts.
bool viewBeforeScene();
void resetView();

// The game pad (pad.cpp): its buttons and sticks as keys, buttons and the pointer's movement,
// before the comfort keys are read.
void padBeforeScene();

// Auto mode's mark (skip_auto.cpp).
void drawAutoMark();

// Saves (saves.cpp): the record of the moment now, and the loads and saves the screens, the keys
// and the program ask for.
// The save of this moment: the moment, the backlog, the place, the page's first characters and
// the time; the thumbnail is left empty.
SaveRecord captureSave();
// Saves to the slot in this frame: the moment is taken now, the thumbnail from this frame's
// picture of the game before anything is drawn over it (comfortsDraw), and the file written
// then. The result is in g_saveResult once written.
void saveThisFrame(int slot);
struct SaveResult {
    bool done = false; // a save asked for has been written or has failed
    int slot = 0;
    std::string failure; // empty when it was written
};
extern SaveResult g_saveResult;
// Takes the thumbnail and writes a save asked for in this frame; called by comfortsDraw before
// it draws over the game.
void finishSaveThisFrame();
// Loads a slot: in a game at once, from the title through the game's init. False, with a reason
// for the screen, when the slot cannot be loaded; *note says where an edited game's save landed
// (empty when it is the exact moment).
bool loadSlot(int slot, std::string* reason, std::string* note);
// The backlog as a save holds it, and put back from one.
void putBackBacklog(const SaveRecord& record);

// Save and load screens, quick save and load, the title's menu (screens.cpp and title_menu.cpp).
enum class SlotScreen : std::uint8_t { None, Save, Load };
inline constexpr int kSlotsPerPage = 6;
inline constexpr int kSlotPages = (kSaveSlots + kSlotsPerPage - 1) / kSlotsPerPage;
struct ScreensState {
    SlotScreen open = SlotScreen::None;
    bool fromTitle = false; // opened at the title: it closes when the title goes
    int page = 0;
    int row = 0;    // the slot under the pointer or the arrows, on the page
    int asking = 0; // a used slot a save would go over, while はい/いいえ is up; 0 none
    bool askYes = false;
    std::string flash; // a short word in the screen (a failed save, a refused load)
    int flashFrames = 0;
    std::string note; // the fading note at the top of the screen (quick save and load)
    int noteFrames = 0;
    bool titleMenuOpen = false;
    int titleItem = 0;
    int newestSlot = 0; // つづきから's slot, found when the title's menu opens; 0 when none
    bool haveNewest = false;
};
// The screens and the notes. Written by screens.cpp and title_menu.cpp; reset by resetComforts.
extern ScreensState g_screens;
void resetScreens();
bool atTitle();
// Judging a slot needs both scenario blocks loaded.
void loadScenarioForSlots();
// The slot screens, over the game or over the title's menu.
void openSlotScreen(SlotScreen which);
void closeSlotScreen();
void slotScreenInput();
void drawSlotScreen();
// What a row of the open screen's page says, in UTF-8: the slot's number and date (or what the
// slot holds instead), and the page's first characters.
struct SlotLines {
    std::string head;
    std::string preview;
};
SlotLines slotLines(int row);
// F6 and F9, where nothing else is open.
void quickSaveLoadKeys();
// After finishSaveThisFrame: the save's result on the screen that asked for it.
void takeSaveResult();
void showNote(std::string text);
void drawNote();
// Loads a slot for a screen or a key: the note, or the refusal's reason (and false).
bool loadForPlayer(int slot, std::string* refusal);
// The title's menu (title_menu.cpp).
void openTitleMenu();
void closeTitleMenu();
void titleMenuInput();
void drawTitleMenu();
// The title's menu's item that has the focus, in UTF-8.
std::string titleMenuItemText();
// Every character the screens and the title's menu may draw (comfortCharacters).
std::string screenCharacters();
std::string titleMenuCharacters();
// The game's pointer over a comfort; a plain mark when its picture is not loaded (the title).
void drawComfortPointer();

// Rollback (rollback.cpp): the moment each page of the backlog began, to go back to it. The
// moments follow the backlog's pages from its newest page back; the oldest pages may have none
// (those of an earlier game, or a loaded save's).
// For followPage, when a new page is on screen: the page left behind (when it joined the
// backlog) takes the moment it began with it, and the new page's beginning is taken now.
void rollbackPageBegins(bool previousJoinedBacklog, const PageKey& previous);
// The game went back to the title, began anew or was loaded: no page before now can be returned
// to any more.
void forgetRollback();
// Whether the backlog page (0 the oldest) can be returned to.
bool canReturnToPage(int page);
// Back to the moment the backlog page began: the engine's moment, the backlog without that page
// and the later ones, and the comforts' memory of the page on screen as it was then. False,
// with the reason, and nothing changed, when the page has no moment or it cannot be put back.
bool returnToPage(int page, std::string* reason);
// The bytes the moments hold, for the benchmark.
std::size_t rollbackBytes();

// Read pages (read_pages.cpp): the pages read in this game, in this run and the runs before,
// known by their block and the hash of their source bytes, so that an edit elsewhere in the
// scenario leaves them read. Read from the save folder when first asked.
// The file is read at the first of these, so the program needs to do nothing before a game.
bool pageWasRead(const PageKey& key);
void markPageRead(const PageKey& key);
// Forgets what this run knows (a new run); the file is read again when next asked.
void forgetReadPages();
// The file's bytes and back: the entries into *pages, else false with the reason and *pages
// untouched.
bool decodeReadPages(std::span<const std::uint8_t> bytes, std::set<PageKey>* pages,
                     std::string* reason);
std::vector<std::uint8_t> encodeReadPages(const std::set<PageKey>& pages);
