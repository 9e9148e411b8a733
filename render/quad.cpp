#include "render/quad.h"

#include "input/input.h"

void buildQuad(ScreenQuad& quad, int alpha, float x0, float y0, float x1, float y1, float tu0,
               float tv0, float tu1, float tv1) {
    const std::uint32_t colour = (static_cast<std::uint32_t>(alpha & 0xFF) << 24) | 0x00FFFFFFu;
    constexpr float kUnit = 0.015625f; // texture coordinates come in 1/64 units
    tu0 *= kUnit;
    tv0 *= kUnit;
    tu1 *= kUnit;
    tv1 *= kUnit;
    quad.v[0] = {x0, y0, 0.0f, 1.0f, colour, tu0, tv0};
    quad.v[1] = {x1, y0, 0.0f, 1.0f, colour, tu1, tv0};
    quad.v[2] = {x1, y1, 0.0f, 1.0f, colour, tu1, tv1};
    quad.v[3] = {x0, y1, 0.0f, 1.0f, colour, tu0, tv1};
}

void translateQuad(ScreenQuad& quad, float dx, float dy, float dz) {
    for (QuadVertex& v : quad.v) {
        v.x += dx;
        v.y += dy;
        v.z += dz;
    }
}

void keepPointerQuadInside(int left, int top, int right, int bottom) {
    const float l = static_cast<float>(left);
    const float t = static_cast<float>(top);
    const float r = static_cast<float>(right);
    const float b = static_cast<float>(bottom);
    ScreenQuad& q = g_pointerQuad;
    if (l > q.v[0].x) translateQuad(q, l - q.v[0].x, 0, 0);
    if (t > q.v[0].y) translateQuad(q, 0, t - q.v[0].y, 0);
    if (q.v[2].x > r) translateQuad(q, r - q.v[2].x, 0, 0);
    if (q.v[2].y > b) translateQuad(q, 0, b - q.v[2].y, 0);
}
