// Screen quads: the pre-transformed, coloured, textured rectangles everything but text is drawn as.
#pragma once

#include <cstddef>
#include <cstdint>

// One vertex as the renderer reads it: position in pixels, depth, reciprocal w, colour as
// A8R8G8B8, texture coordinate (0..1 across the picture).
struct QuadVertex {
    float x;
    float y;
    float z;
    float rhw;
    std::uint32_t diffuse;
    float u;
    float v;
};
static_assert(sizeof(QuadVertex) == 28, "QuadVertex must keep its 28-byte stride");
static_assert(offsetof(QuadVertex, diffuse) == 16 && offsetof(QuadVertex, u) == 20);

// Four vertices: top-left, top-right, bottom-right, bottom-left; drawn as the fan (0,1,2),
// (0,2,3). Vertex 0 is the top-left and vertex 2 the bottom-right for every test made on a quad.
struct ScreenQuad {
    QuadVertex v[4];
};
static_assert(sizeof(ScreenQuad) == 112);

// Fills a quad: colour white with the given alpha (0..255), corners in pixels, texture
// coordinates in 1/64 units (64 stands for 1.0).
void buildQuad(ScreenQuad& quad, int alpha, float x0, float y0, float x1, float y1, float tu0,
               float tv0, float tu1, float tv1);

// Moves every vertex by the offset, in single precision; colours and texture coordinates stay.
void translateQuad(ScreenQuad& quad, float dx, float dy, float dz);

// Pushes g_pointerQuad back inside the bounds; strict tests, later ones win when it is too big.
void keepPointerQuadInside(int left, int top, int right, int bottom);

// An integer rectangle (left, top, right, bottom), as the screen geometry is given.
struct Rect {
    int left;
    int top;
    int right;
    int bottom;
};
