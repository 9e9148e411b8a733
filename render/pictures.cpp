// The picture set: texture slots, the two loading forms and the game's fixed list of pictures.
#include <string>

#include "base/files.h"
#include "base/message.h"
#include "render/render_sdl.h"

std::array<Texture*, 10> g_bgTex{};
std::array<Texture*, 13> g_charTex{};
Texture* g_titleTex = nullptr;
Texture* g_textBoxTex = nullptr;
Texture* g_pointerTex = nullptr;
Texture* g_clickTex = nullptr;
Texture* g_choiceTex = nullptr;

namespace {

constexpr int kLoadFailed = -1;

int loadTexture(std::string_view path, Texture*& slot, PictureForm form) {
    Picture picture;
    std::string error;
    if (!loadPictureFile(path, form, picture, error)) {
        reportProblem(systemPath(path) + ": " + error);
        return kLoadFailed;
    }
    Texture* texture = createTextureFromFile(std::move(picture), path, form);
    if (!texture) {
        reportProblem(systemPath(path) +
                      ": no texture could be made on the device: " + SDL_GetError());
        return kLoadFailed;
    }
    releaseTexture(slot);
    slot = texture;
    return 0;
}

enum class Slot { Bg, Char, TextBox, Pointer, Click, Choice };

struct ImageRow {
    std::string_view path;
    Slot slot;
    int index;
    PictureForm form;
    std::string_view failure;
};

// The order is the game's: the first picture that fails ends the set for this entry.
constexpr std::array<ImageRow, 13> kImageSet = {{
    {".\\CG\\背景0.bmp", Slot::Bg, 0, PictureForm::Plain, "背景0.bmp の読み込み失敗"},
    {".\\CG\\背景1.bmp", Slot::Bg, 1, PictureForm::Plain, "背景1.bmp の読み込み失敗"},
    {".\\CG\\背景2.bmp", Slot::Bg, 2, PictureForm::Plain, "背景2.bmp の読み込み失敗"},
    {".\\CG\\背景3.bmp", Slot::Bg, 3, PictureForm::Plain, ".\\CG\\背景3.bmp の読み込み失敗"},
    {".\\CG\\背景5.bmp", Slot::Bg, 5, PictureForm::Plain, "背景5.bmp の読み込み失敗"},
    {".\\CG\\背景6.bmp", Slot::Bg, 6, PictureForm::Plain, ".\\CG\\背景6.bmp の読み込み失敗"},
    {".\\CG\\背景7.bmp", Slot::Bg, 7, PictureForm::Plain, ".\\CG\\背景7.bmp の読み込み失敗"},
    {".\\CG\\立ち絵0.bmp", Slot::Char, 0, PictureForm::Keyed, "立ち絵0.bmp の読み込み失敗"},
    {".\\CG\\立ち絵1.bmp", Slot::Char, 1, PictureForm::Keyed, "立ち絵1.bmp の読み込み失敗"},
    {".\\CG\\テキスト背景.bmp", Slot::TextBox, 0, PictureForm::Keyed,
     "テキスト背景.bmp の読み込み失敗"},
    {".\\CG\\icon.bmp", Slot::Pointer, 0, PictureForm::Keyed, "icon.bmp の読み込み失敗"},
    {".\\CG\\click.bmp", Slot::Click, 0, PictureForm::Keyed, "click.bmp の読み込み失敗"},
    {".\\CG\\選択背景.bmp", Slot::Choice, 0, PictureForm::Plain, "選択背景.bmp の読み込み失敗"},
}};

Texture*& slotOf(const ImageRow& row) {
    switch (row.slot) {
    case Slot::Bg:
        return g_bgTex[row.index];
    case Slot::Char:
        return g_charTex[row.index];
    case Slot::TextBox:
        return g_textBoxTex;
    case Slot::Pointer:
        return g_pointerTex;
    case Slot::Click:
        return g_clickTex;
    case Slot::Choice:
        break;
    }
    return g_choiceTex;
}

} // namespace

int loadTexturePlain(std::string_view path, Texture*& slot) {
    return loadTexture(path, slot, PictureForm::Plain);
}

int loadTextureKeyed(std::string_view path, Texture*& slot) {
    return loadTexture(path, slot, PictureForm::Keyed);
}

Texture* createPixelTexture(int width, int height, std::span<const std::uint32_t> argb) {
    if (width <= 0 || height <= 0 || argb.size() != static_cast<std::size_t>(width) * height)
        return nullptr;
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.argb.assign(argb.begin(), argb.end());
    return createTexture(std::move(picture));
}

void releaseTexture(Texture*& slot) {
    destroyTexture(slot);
    slot = nullptr;
}

void loadImageSet() {
    for (const ImageRow& row : kImageSet) {
        if (loadTexture(row.path, slotOf(row), row.form) < 0) {
            showMessage(row.failure);
            return;
        }
    }
}

void releaseImageTables() {
    for (Texture*& t : g_bgTex)
        releaseTexture(t);
    for (Texture*& t : g_charTex)
        releaseTexture(t);
}

void releaseFixedTextures() {
    releaseTexture(g_titleTex);
    releaseTexture(g_textBoxTex);
    releaseTexture(g_pointerTex);
    releaseTexture(g_clickTex);
    releaseTexture(g_choiceTex);
}
