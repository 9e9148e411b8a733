#include <algorithm>

#include "input/input.h"
#include "script/script.h"

std::array<std::uint8_t, 256> g_keys{};
MouseState g_mouse{};
PointerState g_pointer{};
ScreenQuad g_pointerQuad{};

void movePointer() {
    PointerState& p = g_pointer;
    // Saturated so that absurd replayed movements cannot overflow; the bounds clamp anyway.
    auto scaled = [&](std::int32_t delta) {
        const std::int64_t d = static_cast<std::int64_t>(p.speed) * delta;
        return static_cast<std::int32_t>(d < -1000000 ? -1000000 : d > 1000000 ? 1000000 : d);
    };
    const std::int32_t dx = scaled(g_mouse.lX);
    const std::int32_t dy = scaled(g_mouse.lY);
    p.x += dx;
    p.y += dy;
    if (p.x < p.bounds.left) p.x = p.bounds.left;
    if (p.x > p.bounds.right - p.width) p.x = p.bounds.right - p.width;
    if (p.y < p.bounds.top) p.y = p.bounds.top;
    if (p.y > p.bounds.bottom - p.height) p.y = p.bounds.bottom - p.height;
    // The quad follows the unclamped movement and is then pushed back, which lands its
    // top-left on the clamped position.
    translateQuad(g_pointerQuad, static_cast<float>(dx), static_cast<float>(dy), 0.0f);
    keepPointerQuadInside(p.bounds.left, p.bounds.top, p.bounds.right, p.bounds.bottom);
}

void placePointer(int x, int y) {
    PointerState& p = g_pointer;
    p.x = std::clamp(x, p.bounds.left, std::max(p.bounds.left, p.bounds.right - p.width));
    p.y = std::clamp(y, p.bounds.top, std::max(p.bounds.top, p.bounds.bottom - p.height));
    buildQuad(g_pointerQuad, 255, static_cast<float>(p.x), static_cast<float>(p.y),
              static_cast<float>(p.x + p.width), static_cast<float>(p.y + p.height), 0, 0, 64, 64);
}

void updatePointer() {
    movePointer();
    PointerState& p = g_pointer;
    for (int i = 0; i < 3; ++i)
        p.pressed[i] = (g_mouse.rgbButtons[i] & 0x80) ? 1 : 0;

    if (p.pressed[0] == 0) {
        p.clickArmed = true;
    } else if (p.clickArmed) {
        signalClick();
        p.clickArmed = false;
    }
}
