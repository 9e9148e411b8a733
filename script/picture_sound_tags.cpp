// Picture and sound tags: [image], [playse], [playbgm], [stopbgm].
#include <algorithm>
#include <string>

#include "base/files.h"
#include "base/message.h"
#include "script/tag_args.h"
#include "sound/sound.h"

std::array<PictureLayer, kLayerCount> g_layers{};
std::int32_t currentBackground = 0;
std::int32_t currentBgm = -1;

std::int64_t readTagNumber(int last, int stop, int* digits) {
    std::int64_t value = 0;
    std::int64_t weight = 1;
    int count = 0;
    for (int i = std::min(last, kPageBufferSize - 1); i > stop && i >= 0; --i) {
        const std::uint8_t b = g_page[i];
        if (b < '0' || b > '9') continue; // a non-digit is passed over
        if (weight > kNumberTooLarge) {
            if (b != '0') value = kNumberTooLarge; // leading zeros change nothing
        } else {
            value = std::min(value + (b - '0') * weight, kNumberTooLarge);
            weight *= 10;
        }
        ++count;
    }
    if (digits) *digits = count;
    return value;
}

std::string tagTextUtf8(int start, int length) {
    return sjisToUtf8(pageView(start, start + length));
}

void reportIgnoredTag(int start, int length, std::string_view why) {
    reportProblemOnce("ignored " + tagTextUtf8(start, length) + ": " + std::string(why));
}

int findInTag(int from, int end, char byte) {
    end = std::min(end, kPageBufferSize);
    for (int i = std::max(from, 0); i < end; ++i)
        if (g_page[i] == static_cast<std::uint8_t>(byte)) return i;
    return -1;
}

std::string_view pageView(int from, int to) {
    from = std::clamp(from, 0, kPageBufferSize);
    to = std::clamp(to, from, kPageBufferSize);
    return {reinterpret_cast<const char*>(g_page.data()) + from,
            static_cast<std::size_t>(to - from)};
}

bool readExactNumber(int first, int last, std::int64_t* value) {
    if (first > last || first < 0 || last >= kPageBufferSize) return false;
    int digits = 0;
    *value = readTagNumber(last, first - 1, &digits);
    return digits == last - first + 1;
}

int findTagStart(int close) {
    for (int i = std::min(close, kPageBufferSize - 1); i >= 0; --i)
        if (g_page[i] == '[') return i;
    return 0;
}

bool readSlotArgument(std::int64_t* slot, int* tagStart) {
    // Backwards from the ']' over the digits to the space behind the tag name.
    const int close = g_script.revealPos - 1;
    int first = close;
    while (first - 1 >= 0 && g_page[first - 1] >= '0' && g_page[first - 1] <= '9')
        --first;
    *tagStart = findTagStart(close);
    // Exactly one number, behind the one space that ends the tag name.
    if (first == close || first - 1 != findInTag(*tagStart, close, ' ')) return false;
    return readExactNumber(first, close - 1, slot);
}

void showImage(int length) {
    const int t = g_script.revealPos - length;
    const int close = g_script.revealPos - 1;
    auto malformed = [&](std::string_view why) { reportIgnoredTag(t, length, why); };

    // [image N layer=L left=X top=Y] or [image N layer=base ...]; the keys come in this order.
    const int space = findInTag(t + 8, close, ' ');
    std::int64_t picture;
    if (space < 0 || !readExactNumber(t + 7, space - 1, &picture))
        return malformed("expected [image N layer=L left=X top=Y] or [image N layer=base]");
    const int eq = findInTag(space + 1, close, '=');
    if (eq < 0 || pageView(space + 1, eq) != "layer") return malformed("expected the key layer=");
    int valueEnd = findInTag(eq + 1, close, ' ');
    if (valueEnd < 0) valueEnd = close;
    if (pageView(eq + 1, valueEnd) == "base") {
        if (picture >= kBackgroundCount) return malformed("background number out of range (0-9)");
        currentBackground = static_cast<std::int32_t>(picture);
        return;
    }
    std::int64_t layer;
    if (!readExactNumber(eq + 1, valueEnd - 1, &layer) || valueEnd == close)
        return malformed("expected layer=L left=X top=Y");
    const int eqLeft = findInTag(valueEnd + 1, close, '=');
    if (eqLeft < 0 || pageView(valueEnd + 1, eqLeft) != "left")
        return malformed("expected the key left=");
    const int leftEnd = findInTag(eqLeft + 2, close, ' ');
    std::int64_t x;
    if (leftEnd < 0 || !readExactNumber(eqLeft + 1, leftEnd - 1, &x))
        return malformed("expected left=X top=Y");
    const int eqTop = findInTag(leftEnd + 1, close, '=');
    if (eqTop < 0 || pageView(leftEnd + 1, eqTop) != "top")
        return malformed("expected the key top=");
    std::int64_t y;
    if (!readExactNumber(eqTop + 1, close - 1, &y)) return malformed("expected top=Y");

    if (layer >= kLayerCount) return malformed("layer number out of range (0-9)");
    if (picture >= kCharPictureCount) return malformed("picture number out of range (0-12)");
    if (x > kMaxPosition || y > kMaxPosition) return malformed("position out of range");

    PictureLayer& target = g_layers[static_cast<std::size_t>(layer)];
    translateQuad(target.quad, static_cast<float>(x) - target.quad.v[0].x,
                  static_cast<float>(y) - target.quad.v[0].y, 0.0f);
    target.imageNo = static_cast<std::int32_t>(picture);
    target.visible = true;
}

namespace {

// The slot of [playse N] / [playbgm N] in range, or -1 after reporting the tag as ignored.
int slotOfSoundTag(std::string_view form) {
    std::int64_t slot;
    int t;
    if (!readSlotArgument(&slot, &t)) {
        reportIgnoredTag(t, g_script.revealPos - t, "expected " + std::string(form));
        return -1;
    }
    if (slot >= kSoundSlotCount) {
        reportIgnoredTag(t, g_script.revealPos - t, "sound slot out of range");
        return -1;
    }
    return static_cast<int>(slot);
}

} // namespace

void playSoundEffect() {
    if (const int slot = slotOfSoundTag("[playse N]"); slot >= 0) playSlotSecondary(slot);
}

void playMusic() {
    if (const int slot = slotOfSoundTag("[playbgm N]"); slot >= 0) {
        currentBgm = slot;
        playSlotPrimary(slot);
    }
}

void stopMusic() {
    stopAllSound();
}
