// Reading tag arguments: every search stays inside the tag, so a tag that would have its
// handler read beyond its ']' is refused instead.
#include "script/tag_reading.h"

#include <algorithm>

#include "script/script.h"
#include "sound/sound.h"

namespace {

constexpr std::size_t kNone = std::string_view::npos;

// First index in [from, close) holding the byte, or kNone.
std::size_t findIn(std::string_view tag, std::size_t from, std::size_t close, char byte) {
    for (std::size_t i = from; i < close && i < tag.size(); ++i)
        if (tag[i] == byte) return i;
    return kNone;
}

std::string_view field(std::string_view tag, std::size_t from, std::size_t to) {
    return from <= to && to <= tag.size() ? tag.substr(from, to - from) : std::string_view();
}

// The ']' of a tag as the interpreter cut it; kNone for bytes that are no whole tag.
std::size_t closeOf(std::string_view tag) {
    return tag.size() >= 2 && tag.front() == '[' && tag.back() == ']' ? tag.size() - 1 : kNone;
}

template <typename T> T refused(T tag, std::string why) {
    tag.ok = false;
    tag.why = std::move(why);
    return tag;
}

TargetTag readTarget(std::string_view tag, std::size_t keyStart, std::size_t close, TargetTag t) {
    const std::size_t eq = findIn(tag, keyStart, close, '=');
    if (eq == kNone || field(tag, keyStart, eq) != "target" || eq + 2 > close)
        return refused(t, "expected target=*NAME");
    t.name = field(tag, eq + 2, close); // the byte after '=' is the label marker, unexamined
    if (t.name.size() > static_cast<std::size_t>(kMaxLabelName))
        return refused(t, "a label name holds at most 255 bytes");
    t.ok = true;
    return t;
}

} // namespace

std::int64_t readNumberBackwards(std::string_view bytes, std::int64_t last, std::int64_t stop,
                                 int* digits) {
    std::int64_t value = 0;
    std::int64_t weight = 1;
    int count = 0;
    const std::int64_t size = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t i = std::min(last, size - 1); i > stop && i >= 0; --i) {
        const auto b = static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i)]);
        if (b < '0' || b > '9') continue; // a non-digit is passed over
        if (weight > kTagNumberTooLarge) {
            if (b != '0') value = kTagNumberTooLarge; // leading zeros change nothing
        } else {
            value = std::min(value + (b - '0') * weight, kTagNumberTooLarge);
            weight *= 10;
        }
        ++count;
    }
    if (digits) *digits = count;
    return value;
}

ImageTag readImageTag(std::string_view tag) {
    ImageTag t;
    const std::size_t close = closeOf(tag);
    // The picture number starts behind "[image " and ends at the space found from the byte
    // after its first one; the first key starts where its digits end.
    const std::size_t space = close == kNone ? kNone : findIn(tag, 8, close, ' ');
    if (space == kNone)
        return refused(t, "expected [image N layer=L left=X top=Y] or [image N layer=base]");
    int digits = 0;
    t.picture = readNumberBackwards(tag, static_cast<std::int64_t>(space) - 1, 6, &digits);

    std::size_t keyStart = 6 + static_cast<std::size_t>(digits) + 2;
    const std::size_t eqLayer = findIn(tag, keyStart, close, '=');
    if (eqLayer == kNone) return refused(t, "expected the key layer=");
    digits = 1; // a key that is not the expected one: its number stays 0
    if (field(tag, keyStart, eqLayer) == "layer") {
        const std::size_t valueEnd = findIn(tag, eqLayer + 1, close, ' ');
        if (field(tag, eqLayer + 1, valueEnd == kNone ? close : valueEnd) == "base") {
            if (t.picture >= kBackgroundCount)
                return refused(t, "background number out of range (0-9)");
            t.background = true;
            t.ok = true;
            return t;
        }
        if (valueEnd == kNone) return refused(t, "expected layer=L left=X top=Y");
        t.layer = readNumberBackwards(tag, static_cast<std::int64_t>(valueEnd) - 1,
                                      static_cast<std::int64_t>(eqLayer), &digits);
    }

    keyStart = eqLayer + static_cast<std::size_t>(digits) + 2;
    const std::size_t eqLeft = findIn(tag, keyStart, close, '=');
    if (eqLeft == kNone) return refused(t, "expected the key left=");
    digits = 1;
    if (field(tag, keyStart, eqLeft) == "left") {
        const std::size_t valueEnd = findIn(tag, eqLeft + 2, close, ' ');
        if (valueEnd == kNone) return refused(t, "expected left=X top=Y");
        t.x = readNumberBackwards(tag, static_cast<std::int64_t>(valueEnd) - 1,
                                  static_cast<std::int64_t>(eqLeft), &digits);
    }

    keyStart = eqLeft + static_cast<std::size_t>(digits) + 2;
    const std::size_t eqTop = findIn(tag, keyStart, close, '=');
    if (eqTop == kNone) return refused(t, "expected the key top=");
    if (field(tag, keyStart, eqTop) == "top") {
        if (eqTop + 2 > close) return refused(t, "expected top=Y"); // its ']' is looked for there
        t.y = readNumberBackwards(tag, static_cast<std::int64_t>(close) - 1,
                                  static_cast<std::int64_t>(eqTop));
    }

    if (t.layer >= kLayerCount) return refused(t, "layer number out of range (0-9)");
    if (t.picture >= kCharPictureCount) return refused(t, "picture number out of range (0-12)");
    if (t.x > kMaxPosition || t.y > kMaxPosition) return refused(t, "position out of range");
    t.ok = true;
    return t;
}

SlotTag readSlotTag(std::string_view tag) {
    SlotTag t;
    const std::size_t close = closeOf(tag);
    std::size_t nameEnd = 2;
    while (nameEnd < tag.size() && tag[nameEnd] != ' ' && tag[nameEnd] != ']')
        ++nameEnd;
    if (close == kNone || nameEnd >= close) return refused(t, "no slot number");
    int digits = 0;
    t.slot = readNumberBackwards(tag, static_cast<std::int64_t>(close) - 1,
                                 static_cast<std::int64_t>(nameEnd), &digits);
    if (digits == 0) return refused(t, "no slot number");
    if (t.slot >= kSoundSlotCount) return refused(t, "sound slot out of range");
    t.ok = true;
    return t;
}

TargetTag readJumpTag(std::string_view tag) {
    TargetTag t;
    const std::size_t close = closeOf(tag);
    // The block number starts behind "[jump " and ends at the space found from the byte after
    // its first one; the key starts where its digits end.
    const std::size_t space = close == kNone ? kNone : findIn(tag, 7, close, ' ');
    if (space == kNone) return refused(t, "expected [jump B target=*NAME]");
    int digits = 0;
    t.block = readNumberBackwards(tag, static_cast<std::int64_t>(space) - 1, 5, &digits);
    t = readTarget(tag, 5 + static_cast<std::size_t>(digits) + 2, close, t);
    if (t.ok && t.block >= kBlockCount) return refused(t, "block number out of range (0 or 1)");
    return t;
}

TargetTag readLinkTag(std::string_view tag) {
    const std::size_t close = closeOf(tag);
    if (close == kNone) return refused(TargetTag{}, "expected [link target=*NAME]");
    TargetTag t = readTarget(tag, 6, close, TargetTag{});
    if (!t.ok && t.why == "expected target=*NAME") t.why = "expected [link target=*NAME]";
    return t;
}

std::string_view quotedTagPart(std::string_view tag, bool* cut) {
    const std::size_t end = tag.find_first_of("\r\n");
    if (cut) *cut = end != std::string_view::npos;
    return tag.substr(0, end);
}
