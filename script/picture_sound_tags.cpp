// Picture and sound tags: [image], [playse], [playbgm], [stopbgm].
#include <algorithm>
#include <string>

#include "base/files.h"
#include "base/message.h"
#include "script/tag_args.h"
#include "script/tag_reading.h"
#include "sound/sound.h"

std::array<PictureLayer, kLayerCount> g_layers{};
std::int32_t currentBackground = 0;
std::int32_t currentBgm = -1;

std::int64_t readTagNumber(int last, int stop, int* digits) {
    return readNumberBackwards(pageView(0, kPageBufferSize), last, stop, digits);
}

std::string tagTextUtf8(int start, int length) {
    bool cut = false;
    const std::string_view quoted = quotedTagPart(pageView(start, start + length), &cut);
    return sjisToUtf8(quoted) + (cut ? "..." : "");
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

void showImage(int length) {
    const int t = g_script.revealPos - length;
    const ImageTag image = readImageTag(pageView(t, g_script.revealPos));
    if (!image.ok) return reportIgnoredTag(t, length, image.why);
    if (image.background) {
        currentBackground = static_cast<std::int32_t>(image.picture);
        return;
    }
    PictureLayer& target = g_layers[static_cast<std::size_t>(image.layer)];
    translateQuad(target.quad, static_cast<float>(image.x) - target.quad.v[0].x,
                  static_cast<float>(image.y) - target.quad.v[0].y, 0.0f);
    target.imageNo = static_cast<std::int32_t>(image.picture);
    target.visible = true;
}

namespace {

// The slot of [playse N] / [playbgm N] in range, or -1 after reporting the tag as ignored.
int slotOfSoundTag(int length) {
    const int t = g_script.revealPos - length;
    const SlotTag tag = readSlotTag(pageView(t, g_script.revealPos));
    if (!tag.ok) {
        reportIgnoredTag(t, length, tag.why);
        return -1;
    }
    return static_cast<int>(tag.slot);
}

} // namespace

void playSoundEffect(int length) {
    if (const int slot = slotOfSoundTag(length); slot >= 0) playSlotSecondary(slot);
}

void playMusic(int length) {
    if (const int slot = slotOfSoundTag(length); slot >= 0) {
        currentBgm = slot;
        playSlotPrimary(slot);
    }
}

void stopMusic() {
    stopAllSound();
}
