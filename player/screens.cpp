// The save and load screens over the dimmed game (or the title's menu), quick save and load on
// F6 and F9, and the note that fades at the top of the screen.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

#include "base/message.h"
#include "base/scene_number.h"
#include "input/input.h"
#include "player/player.h"
#include "player/shared.h"
#include "render/render.h"
#include "script/script.h"
#include "script/script_state.h"

ScreensState g_screens;

namespace {

// A slot a row: its thumbnail at 4:3, its number and date, and below them its first characters.
constexpr int kRowsTop = 50, kRowHeight = 90, kRowLeft = 30, kRowRight = 770;
constexpr int kThumbWidth = 112, kThumbHeight = 84;
constexpr Rect kPageLeftArrow{600, 8, 640, 43}, kPageRightArrow{740, 8, 780, 43};
// The question over a used slot: はい left, いいえ right.
constexpr Rect kAskBox{220, 230, 580, 370};
constexpr Rect kAskYes{270, 315, 370, 350}, kAskNo{430, 315, 560, 350};

// The slots of the page shown, read when the page is opened, and their thumbnails, kept until
// the page changes or the screen closes (the render keeps a texture a frame still draws).
struct PageCache {
    int page = -1;
    std::array<SlotInfo, kSlotsPerPage> slots;
    std::array<Texture*, kSlotsPerPage> thumbs{};
};
PageCache g_cache;

enum class PendingSave : std::uint8_t { None, Screen, Quick };
PendingSave g_pending = PendingSave::None;

int slotOf(int page, int row) {
    return page * kSlotsPerPage + row + 1;
}

int framesFor(int milliseconds) {
    return std::max(1, g_comfortsMemory.framesPerSecond * milliseconds / 1000);
}

bool inside(const Rect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// The pointer's tip: its top-left, as the game's links take it.
bool pointerIn(const Rect& r) {
    return inside(r, g_pointer.x, g_pointer.y);
}

Rect rowRect(int row) {
    const int top = kRowsTop + kRowHeight * row;
    return Rect{kRowLeft, top, kRowRight, top + kRowHeight - 4};
}

void releaseRow(int row) {
    releaseTexture(g_cache.thumbs[static_cast<std::size_t>(row)]);
}

void releasePage() {
    for (int row = 0; row < kSlotsPerPage; ++row)
        releaseRow(row);
    g_cache.page = -1;
}

void readRow(int row) {
    const int slot = slotOf(g_cache.page, row);
    releaseRow(row);
    SlotInfo& info = g_cache.slots[static_cast<std::size_t>(row)];
    info = slot <= kSaveSlots ? readSlot(slot) : SlotInfo{};
    if (!info.reason.empty()) reportProblemOnce(slotFileName(slot) + ": " + info.reason);
    const Thumbnail& t = info.record.thumbnail;
    if (t.width > 0 && t.height > 0 &&
        t.argb.size() == static_cast<std::size_t>(t.width) * static_cast<std::size_t>(t.height))
        g_cache.thumbs[static_cast<std::size_t>(row)] =
            createPixelTexture(t.width, t.height, t.argb);
}

void showPage(int page) {
    releasePage();
    loadScenarioForSlots();
    g_cache.page = std::clamp(page, 0, kSlotPages - 1);
    for (int row = 0; row < kSlotsPerPage; ++row)
        readRow(row);
}

void flash(std::string text) {
    g_screens.flash = std::move(text);
    g_screens.flashFrames = framesFor(2000);
}

const SlotInfo& rowInfo(int row) {
    return g_cache.slots[static_cast<std::size_t>(row)];
}

bool used(const SlotInfo& info) {
    return info.state == SlotState::Ready || info.state == SlotState::Edited;
}

void chooseRow(int row) {
    const int slot = slotOf(g_screens.page, row);
    if (slot > kSaveSlots) return;
    const SlotInfo& info = rowInfo(row);
    if (g_screens.open == SlotScreen::Save) {
        if (info.state == SlotState::Empty) {
            saveThisFrame(slot);
            g_pending = PendingSave::Screen;
        } else if (used(info)) {
            g_screens.asking = slot;
            g_screens.askYes = false;
        } else {
            // A file the game cannot read is the player's still: never written over.
            flash("このスロットには保存できません");
        }
        return;
    }
    if (!used(info)) {
        if (info.state != SlotState::Empty) flash("このセーブは読み込めません");
        return;
    }
    std::string refusal;
    if (loadForPlayer(slot, &refusal)) {
        closeSlotScreen();
        g_comforts.menuOpen = false;
        closeTitleMenu();
    } else {
        flash("読み込めません　" + refusal);
    }
}

void askInput() {
    const bool back = mouseButtonPressed(1) || keyPressed(kKeyBackspace);
    if (g_mouse.lX != 0 || g_mouse.lY != 0) {
        movePointer();
        if (pointerIn(kAskYes)) g_screens.askYes = true;
        if (pointerIn(kAskNo)) g_screens.askYes = false;
    }
    if (keyPressed(kKeyLeft) || keyPressed(kKeyRight) || keyPressed(kKeyTab))
        g_screens.askYes = !g_screens.askYes;
    const bool click = mouseButtonPressed(0);
    if (click && pointerIn(kAskYes)) g_screens.askYes = true;
    if (click && pointerIn(kAskNo)) g_screens.askYes = false;
    const bool choose = keyPressed(kKeyReturn) || keyPressed(kKeyPadEnter) ||
                        keyPressed(kKeySpace) ||
                        (click && (pointerIn(kAskYes) || pointerIn(kAskNo)));
    if (back || (choose && !g_screens.askYes)) {
        g_screens.asking = 0;
    } else if (choose) {
        saveThisFrame(g_screens.asking);
        g_pending = PendingSave::Screen;
        g_screens.asking = 0;
    }
}

void turnPage(int by) {
    g_screens.page = (g_screens.page + by + kSlotPages) % kSlotPages;
    showPage(g_screens.page);
}

std::string twoDigits(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", std::clamp(n, 0, 99));
    return text;
}

std::string whenText(std::int64_t savedAt) {
    const std::time_t t = static_cast<std::time_t>(savedAt);
    std::tm local{};
    if (!localtime_r(&t, &local)) return "----/--/-- --:--";
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
    return text;
}

const char* stateWord(SlotState state) {
    switch (state) {
    case SlotState::Empty:
        return "空き";
    case SlotState::Foreign:
        return "別のゲームのセーブ";
    case SlotState::Damaged:
        return "壊れたセーブ";
    case SlotState::Newer:
        return "新しい版のセーブ";
    default:
        return "";
    }
}

void fill(const Rect& r, std::uint32_t argb) {
    ScreenQuad q;
    buildQuad(q, 255, static_cast<float>(r.left), static_cast<float>(r.top),
              static_cast<float>(r.right), static_cast<float>(r.bottom), 0, 0, 64, 64);
    for (QuadVertex& v : q.v)
        v.diffuse = argb;
    drawQuad(nullptr, q);
}

void drawRow(int row) {
    const Rect r = rowRect(row);
    const bool current = row == g_screens.row && g_screens.asking == 0;
    fill(r, current ? 0xA0405070u : 0xA0101828u);
    const Rect thumb{r.left + 4, r.top + 1, r.left + 4 + kThumbWidth, r.top + 1 + kThumbHeight};
    const Texture* texture = g_cache.thumbs[static_cast<std::size_t>(row)];
    if (texture) {
        ScreenQuad q;
        buildQuad(q, 255, static_cast<float>(thumb.left), static_cast<float>(thumb.top),
                  static_cast<float>(thumb.right), static_cast<float>(thumb.bottom), 0, 0, 64, 64);
        drawQuad(texture, q);
    } else {
        fill(thumb, 0xFF000000u);
    }
    const int textLeft = thumb.right + 12;
    const SlotLines lines = slotLines(row);
    drawShadowed(toSjis(lines.head), Rect{textLeft, r.top + 4, r.right - 4, r.top + 40});
    drawShadowed(toSjis(lines.preview), Rect{textLeft, r.top + 44, r.right - 4, r.bottom});
}

void drawAsk() {
    dim(128);
    fill(kAskBox, 0xFF101828u);
    drawShadowed(toSjis("上書きしますか？"),
                 Rect{kAskBox.left + 40, kAskBox.top + 25, kAskBox.right, kAskBox.top + 60});
    fill(g_screens.askYes ? kAskYes : kAskNo, 0x80FFFFFFu);
    drawShadowed(toSjis("はい"),
                 Rect{kAskYes.left + 22, kAskYes.top, kAskYes.right, kAskYes.bottom});
    drawShadowed(toSjis("いいえ"), Rect{kAskNo.left + 23, kAskNo.top, kAskNo.right, kAskNo.bottom});
}

// The note's characters in the font's own words: a reason from the system may hold others.
std::string drawable(const std::string& utf8) {
    const std::string sjis = toSjis(utf8);
    return sjis.empty() && !utf8.empty() ? toSjis("（理由は標準エラーに）") : sjis;
}

} // namespace

void loadScenarioForSlots() {
    // At the title of a first run the blocks are not loaded yet.
    if (g_blockLength[0] == 0 && g_blockLength[1] == 0) loadScenarioBlocks();
}

SlotLines slotLines(int row) {
    if (g_cache.page != g_screens.page || row < 0 || row >= kSlotsPerPage) return {};
    const SlotInfo& info = rowInfo(row);
    SlotLines lines{twoDigits(slotOf(g_cache.page, row)) + "  ", {}};
    if (used(info)) {
        lines.head += whenText(info.record.savedAt);
        if (info.state == SlotState::Edited) lines.head += "　（書き換え前のシナリオ）";
        lines.preview = info.record.preview;
    } else {
        lines.head += stateWord(info.state);
    }
    return lines;
}

bool atTitle() {
    return g_frameNo == kSceneTitle;
}

void resetScreens() {
    releasePage();
    g_pending = PendingSave::None;
    g_screens = ScreensState{};
}

void openSlotScreen(SlotScreen which) {
    g_screens.open = which;
    g_screens.fromTitle = !inGame();
    g_screens.asking = 0;
    g_screens.flashFrames = 0;
    g_screens.row = std::clamp(g_screens.row, 0, kSlotsPerPage - 1);
    showPage(g_screens.page);
}

void closeSlotScreen() {
    g_screens.open = SlotScreen::None;
    g_screens.asking = 0;
    releasePage();
}

void slotScreenInput() {
    // The scene it was opened over went (F1, the game's end): it goes with it.
    if (g_screens.fromTitle ? !atTitle() : !inGame()) {
        closeSlotScreen();
        return;
    }
    if (g_screens.flashFrames > 0) --g_screens.flashFrames;
    if (g_pending != PendingSave::None) return; // the save is written at this frame's draw
    if (g_screens.asking != 0) {
        askInput();
        return;
    }
    if (mouseButtonPressed(1) || keyPressed(kKeyBackspace)) {
        closeSlotScreen();
        return;
    }
    if (g_mouse.lX != 0 || g_mouse.lY != 0) {
        movePointer();
        for (int row = 0; row < kSlotsPerPage; ++row)
            if (pointerIn(rowRect(row))) g_screens.row = row;
    }
    if (keyPressed(kKeyUp)) g_screens.row = (g_screens.row + kSlotsPerPage - 1) % kSlotsPerPage;
    if (keyPressed(kKeyDown) || keyPressed(kKeyTab))
        g_screens.row = (g_screens.row + 1) % kSlotsPerPage;
    if (keyPressed(kKeyPageUp) || keyPressed(kKeyLeft) || g_mouse.lZ > 0) turnPage(-1);
    if (keyPressed(kKeyPageDown) || keyPressed(kKeyRight) || g_mouse.lZ < 0) turnPage(1);
    if (mouseButtonPressed(0)) {
        if (pointerIn(kPageLeftArrow)) {
            turnPage(-1);
        } else if (pointerIn(kPageRightArrow)) {
            turnPage(1);
        } else if (pointerIn(rowRect(g_screens.row))) {
            chooseRow(g_screens.row);
        }
    } else if (keyPressed(kKeyReturn) || keyPressed(kKeyPadEnter) || keyPressed(kKeySpace)) {
        chooseRow(g_screens.row);
    }
}

void drawSlotScreen() {
    if (g_cache.page != g_screens.page) return; // not read yet: the next frame shows it
    dim(200);
    drawShadowed(toSjis(g_screens.open == SlotScreen::Save ? "セーブ" : "ロード"),
                 Rect{kRowLeft, 8, 300, 43});
    drawShadowed("<", kPageLeftArrow);
    drawShadowed(twoDigits(g_screens.page + 1) + "/" + twoDigits(kSlotPages),
                 Rect{kPageLeftArrow.right + 12, 8, kPageRightArrow.left, 43});
    drawShadowed(">", kPageRightArrow);
    for (int row = 0; row < kSlotsPerPage; ++row)
        drawRow(row);
    if (g_screens.asking != 0) drawAsk();
    if (g_screens.flashFrames > 0) {
        fill(Rect{0, 560, kScreenWidth, 600}, 0xE0401010u);
        drawShadowed(drawable(g_screens.flash), Rect{20, 562, kScreenWidth, 600});
    }
    drawComfortPointer();
}

bool loadForPlayer(int slot, std::string* refusal) {
    loadScenarioForSlots();
    std::string reason, note;
    if (!loadSlot(slot, &reason, &note)) {
        reportProblem(slotFileName(slot) + ": " + reason);
        if (refusal) *refusal = reason;
        return false;
    }
    if (!note.empty()) {
        reportProblem(slotFileName(slot) + ": " + note);
        showNote(note);
    }
    return true;
}

void quickSaveLoadKeys() {
    if (keyPressed(kKeyF6) && inGame() && g_pending == PendingSave::None) {
        saveThisFrame(kQuickSlot);
        g_pending = PendingSave::Quick;
    } else if (keyPressed(kKeyF9) && (inGame() || atTitle())) {
        loadScenarioForSlots();
        if (readSlot(kQuickSlot).state == SlotState::Empty) {
            showNote("クイックセーブがありません");
            return;
        }
        std::string refusal;
        showNote("クイックロードしました");
        if (!loadForPlayer(kQuickSlot, &refusal)) showNote("クイックロードできません");
    }
}

void takeSaveResult() {
    if (g_pending == PendingSave::None) return;
    if (!g_saveResult.done) { // a save asked for is always done by this frame's draw
        g_pending = PendingSave::None;
        return;
    }
    const SaveResult result = g_saveResult;
    g_saveResult.done = false;
    const PendingSave pending = g_pending;
    g_pending = PendingSave::None;
    if (pending == PendingSave::Quick) {
        showNote(result.failure.empty() ? "クイックセーブしました" : "クイックセーブできません");
        return;
    }
    if (!result.failure.empty()) {
        flash("保存できません　" + result.failure);
    } else if (g_cache.page == g_screens.page) {
        const int row = result.slot - 1 - g_screens.page * kSlotsPerPage;
        if (row >= 0 && row < kSlotsPerPage) readRow(row);
        flash("セーブしました");
    }
}

void showNote(std::string text) {
    g_screens.note = std::move(text);
    g_screens.noteFrames = framesFor(2000);
}

void drawNote() {
    if (g_screens.noteFrames <= 0) return;
    const int total = framesFor(2000);
    const int left = std::min(g_screens.noteFrames--, total);
    // Full for the first half, then fading to nothing.
    const std::uint32_t alpha =
        static_cast<std::uint32_t>(std::min(255, 255 * 2 * left / std::max(1, total)));
    fill(Rect{0, 0, kScreenWidth, 44}, (alpha * 3 / 4) << 24 | 0x101828u);
    const std::string text = drawable(g_screens.note);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    drawText(bytes, static_cast<int>(text.size()), Rect{22, 6, kScreenWidth, 44}, alpha << 24);
    drawText(bytes, static_cast<int>(text.size()), Rect{20, 4, kScreenWidth, 44},
             alpha << 24 | 0xFFFFFFu);
}

void drawComfortPointer() {
    if (comfortsPointerHidden()) return;
    if (g_pointerTex) {
        drawQuad(g_pointerTex, g_pointerQuad);
        return;
    }
    fill(Rect{g_pointer.x, g_pointer.y, g_pointer.x + 12, g_pointer.y + 12}, 0xFFFFFFFFu);
}

std::string screenCharacters() {
    std::string all = "セーブロード空き別のゲームのセーブ壊れたセーブ新しい版のセーブ"
                      "　（書き換え前のシナリオ）上書きしますか？はいいいえ"
                      "このスロットには保存できませんこのセーブは読み込めません読み込めません"
                      "保存できませんセーブしました（理由は標準エラーに）"
                      "クイックセーブしましたクイックセーブできませんクイックロードしました"
                      "クイックロードできませんクイックセーブがありません"
                      "編集されたシナリオの同じページから" // the notes of a load
                      "スクリーンショットを保存しました"   // and of a screenshot, with its file
                      "~/-_.0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    return all;
}
