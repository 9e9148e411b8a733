#include <gtest/gtest.h>

#include <cstring>

#include "input/input.h"
#include "script/script.h"

namespace {

void titleSetUp() {
    g_pointer = PointerState{{10, 10, 790, 590}, 10, 10, {0, 0, 0}, 2, 40, 40, false};
    buildQuad(g_pointerQuad, 255, 10, 10, 50, 50, 0, 0, 64, 64);
}

void frame(int dx, int dy, bool left = false) {
    g_mouse = MouseState{dx, dy, 0, {static_cast<std::uint8_t>(left ? 0x80 : 0), 0, 0x80, 0}};
    updatePointer();
}

} // namespace

TEST(Quads, BuildAndTranslate) {
    ScreenQuad q;
    buildQuad(q, 0, 1, 2, 3, 4, 64, 32, 16, 0);
    EXPECT_EQ(q.v[0].diffuse, 0x00FFFFFFu);
    EXPECT_EQ(q.v[0].u, 1.0f);
    EXPECT_EQ(q.v[0].v, 0.5f);
    EXPECT_EQ(q.v[2].u, 0.25f);
    EXPECT_EQ(q.v[2].x, 3.0f);
    EXPECT_EQ(q.v[3].y, 4.0f);
    EXPECT_EQ(q.v[1].rhw, 1.0f);
    buildQuad(q, 255, 0.3f, 0.7f, 10, 10, 0, 0, 64, 64);
    EXPECT_EQ(q.v[2].diffuse, 0xFFFFFFFFu);
    ScreenQuad moved = q;
    translateQuad(moved, 0, 0, 0);
    EXPECT_EQ(std::memcmp(&moved, &q, sizeof q), 0);
}

TEST(Quads, KeepPointerQuadInside) {
    buildQuad(g_pointerQuad, 255, 5, 600, 45, 640, 0, 0, 64, 64);
    keepPointerQuadInside(10, 10, 790, 590);
    EXPECT_EQ(g_pointerQuad.v[0].x, 10.0f);
    EXPECT_EQ(g_pointerQuad.v[0].y, 550.0f);

    buildQuad(g_pointerQuad, 255, 10, 20, 50, 60, 0, 0, 64, 64);
    keepPointerQuadInside(10, 10, 790, 590); // on the bound: not moved
    EXPECT_EQ(g_pointerQuad.v[0].x, 10.0f);

    buildQuad(g_pointerQuad, 255, 0, 0, 1000, 40, 0, 0, 64, 64);
    keepPointerQuadInside(10, 10, 790, 590); // too wide: the right edge wins
    EXPECT_EQ(g_pointerQuad.v[2].x, 790.0f);
}

TEST(Pointer, MovesTwicePerUnitAndStaysInside) {
    struct Case {
        int dx, dy, x, y;
    };
    const Case cases[] = {
        {5, 3, 20, 16},         {5, -3, 30, 10},           {-1000, 0, 10, 10},
        {1000, 1000, 750, 550}, {0, -2000000000, 750, 10},
    };
    titleSetUp();
    for (const Case& c : cases) {
        frame(c.dx, c.dy);
        EXPECT_EQ(g_pointer.x, c.x) << c.dx << "," << c.dy;
        EXPECT_EQ(g_pointer.y, c.y) << c.dx << "," << c.dy;
        EXPECT_EQ(g_pointerQuad.v[0].x, static_cast<float>(c.x));
        EXPECT_EQ(g_pointerQuad.v[0].y, static_cast<float>(c.y));
    }
    EXPECT_EQ(g_pointer.pressed[2], 1);
}

TEST(Pointer, AHeldButtonClicksOnce) {
    titleSetUp();
    g_script.textRunning = false;
    frame(0, 0, true); // held since before: not armed yet
    EXPECT_FALSE(g_script.textRunning);
    frame(0, 0, false);
    frame(0, 0, true);
    EXPECT_TRUE(g_script.textRunning);
    g_script.textRunning = false;
    for (int i = 0; i < 5; ++i)
        frame(0, 0, true);
    EXPECT_FALSE(g_script.textRunning);
    EXPECT_EQ(g_pointer.pressed[0], 1);
    frame(0, 0, false);
    frame(0, 0, true);
    EXPECT_TRUE(g_script.textRunning);
}
