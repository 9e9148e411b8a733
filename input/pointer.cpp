#include "input/input.h"
#include "script/script.h"

std::array<std::uint8_t, 256> g_keys{};
MouseState g_mouse{};
PointerState g_pointer{};
ScreenQuad g_pointerQuad{};

void updatePointer() {
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
    for (int i = 0; i < 3; ++i)
        p.pressed[i] = (g_mouse.rgbButtons[i] & 0x80) ? 1 : 0;

    // The quad follows the unclamped movement and is then pushed back, which lands its
    // top-left on the clamped position.
    translateQuad(g_pointerQuad, static_cast<float>(dx), static_cast<float>(dy), 0.0f);
    keepPointerQuadInside(p.bounds.left, p.bounds.top, p.bounds.right, p.bounds.bottom);

    if (p.pressed[0] == 0) {
        p.clickArmed = true;
    } else if (p.clickArmed) {
        signalClick();
        p.clickArmed = false;
    }
}
