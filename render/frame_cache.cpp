// Frames drawn only where they change. A frame of the game is the same list of draws, frame after
// frame, but for a character more of text, the click icon and the pointer. So:
// - the list is recorded, and compared with the list the frame target shows;
// - the still part (every draw before the first text: background, pictures, highlight, text box)
//   is drawn whole into a texture of its own, again only when one of its draws changes;
// - the rest is drawn over a copy of the still part, inside the rectangles that changed.
// Every pixel then equals what a full redraw gives: outside the changed rectangles, the same
// draws cover a pixel in the same order as before; inside, the pixel is drawn again from the
// still part up. Draws whose sampling could shift when cut (a picture stretched onto its quad)
// widen their rectangle to the whole quad, so they are never cut.
#include "render/frame_cache.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct Command {
    bool text = false;
    const Texture* texture = nullptr; // quads; valid only while the list is the frame's
    std::uint64_t textureId = 0;      // 0: drawn without a texture
    ScreenQuad quad{};
    Rect rect{};
    std::uint32_t colour = 0;
    std::uint32_t first = 0; // text bytes, in the list's byte store
    std::uint32_t count = 0;
    std::uint64_t fontId = 0;
};

struct DrawList {
    std::vector<Command> commands;
    std::vector<std::uint8_t> bytes;
    void clear() {
        commands.clear();
        bytes.clear();
    }
};

constexpr SDL_Rect kScreen{0, 0, kScreenWidth, kScreenHeight};
// More changed rectangles than this are drawn as the one rectangle around them all.
constexpr std::size_t kMaxRects = 8;

DrawList g_frame;               // the frame being recorded (or the last one, until the next)
DrawList g_stillShown;          // the still part the still texture holds
DrawList g_restShown;           // the rest of the frame the target shows, as the still part's
SDL_Texture* g_still = nullptr; // the still part, drawn whole
bool g_stillValid = false;
bool g_targetValid = false; // the target shows g_stillShown + g_restShown
bool g_fullRedraw = false;

const std::uint8_t* bytesOf(const DrawList& list, const Command& c) {
    return list.bytes.data() + c.first;
}

bool sameCommand(const DrawList& la, const Command& a, const DrawList& lb, const Command& b) {
    if (a.text != b.text) return false;
    if (!a.text)
        return a.textureId == b.textureId && std::memcmp(&a.quad, &b.quad, sizeof a.quad) == 0;
    return a.fontId == b.fontId && a.colour == b.colour && a.count == b.count &&
           std::memcmp(&a.rect, &b.rect, sizeof a.rect) == 0 &&
           std::memcmp(bytesOf(la, a), bytesOf(lb, b), a.count) == 0;
}

bool intersects(const SDL_Rect& a, const SDL_Rect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
}
bool contains(const SDL_Rect& outer, const SDL_Rect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.w <= outer.x + outer.w &&
           inner.y + inner.h <= outer.y + outer.h;
}
SDL_Rect unite(const SDL_Rect& a, const SDL_Rect& b) {
    SDL_Rect r;
    SDL_UnionRect(&a, &b, &r);
    return r;
}

// The pixels a quad can touch, with a pixel to spare for the rasteriser's rounding.
SDL_Rect quadBounds(const ScreenQuad& q) {
    float x0 = q.v[0].x, x1 = q.v[0].x, y0 = q.v[0].y, y1 = q.v[0].y;
    for (const QuadVertex& v : q.v) {
        x0 = std::min(x0, v.x);
        x1 = std::max(x1, v.x);
        y0 = std::min(y0, v.y);
        y1 = std::max(y1, v.y);
    }
    if (!(x0 == x0) || !(x1 == x1) || !(y0 == y0) || !(y1 == y1)) return kScreen; // NaN
    const auto clampTo = [](float f, int lo, int hi) {
        return static_cast<int>(std::clamp(f, static_cast<float>(lo), static_cast<float>(hi)));
    };
    const int left = clampTo(std::floor(x0) - 1, 0, kScreenWidth);
    const int right = clampTo(std::ceil(x1) + 1, 0, kScreenWidth);
    const int top = clampTo(std::floor(y0) - 1, 0, kScreenHeight);
    const int bottom = clampTo(std::ceil(y1) + 1, 0, kScreenHeight);
    return SDL_Rect{left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

SDL_Rect textBounds(const DrawList& list, const Command& c, int from) {
    SDL_Rect r = textGlyphBounds(bytesOf(list, c), static_cast<int>(c.count), c.rect, from);
    // The glyphs' pixels lie inside their cells; the spare pixel is for the renderer's rounding.
    if (r.w > 0 && r.h > 0) {
        SDL_Rect grown{r.x - 1, r.y - 1, r.w + 2, r.h + 2};
        SDL_IntersectRect(&grown, &kScreen, &r);
    }
    return r;
}

SDL_Rect bounds(const DrawList& list, const Command& c) {
    return c.text ? textBounds(list, c, 0) : quadBounds(c.quad);
}

// A textured quad whose picture is not copied pixel for pixel onto whole pixels: its sampling
// depends on where a cut starts, so it is never cut.
bool stretched(const Command& c) {
    if (c.text || !c.texture) return false;
    if (frameScale() != 1.0f) return true;
    const QuadVertex* v = c.quad.v;
    const bool axisAligned = v[0].y == v[1].y && v[1].x == v[2].x && v[2].y == v[3].y &&
                             v[3].x == v[0].x && v[0].x <= v[2].x && v[0].y <= v[2].y;
    if (!axisAligned) return true;
    const float w = v[2].x - v[0].x, h = v[2].y - v[0].y;
    const float tw = (v[2].u - v[0].u) * static_cast<float>(c.texture->width);
    const float th = (v[2].v - v[0].v) * static_cast<float>(c.texture->height);
    const float su = v[0].u * static_cast<float>(c.texture->width);
    const float sv = v[0].v * static_cast<float>(c.texture->height);
    return w != tw || h != th || v[0].x != std::floor(v[0].x) || v[0].y != std::floor(v[0].y) ||
           su != std::floor(su) || sv != std::floor(sv);
}

void addRect(std::vector<SDL_Rect>& rects, const SDL_Rect& r) {
    if (r.w > 0 && r.h > 0) rects.push_back(r);
}

// The rectangles where two frames' rests differ, paired draw by draw between their common
// first and last draws. Text that only grew or changed from some byte on differs in the glyphs
// from that byte on.
std::vector<SDL_Rect> changedRects(const DrawList& was, std::size_t wasFrom, const DrawList& now,
                                   std::size_t nowFrom) {
    const std::size_t nw = was.commands.size() - wasFrom, nn = now.commands.size() - nowFrom;
    const auto wasAt = [&](std::size_t i) -> const Command& { return was.commands[wasFrom + i]; };
    const auto nowAt = [&](std::size_t i) -> const Command& { return now.commands[nowFrom + i]; };
    std::size_t head = 0;
    while (head < nw && head < nn && sameCommand(was, wasAt(head), now, nowAt(head)))
        ++head;
    std::size_t tail = 0;
    while (tail < nw - head && tail < nn - head &&
           sameCommand(was, wasAt(nw - 1 - tail), now, nowAt(nn - 1 - tail)))
        ++tail;
    std::vector<SDL_Rect> rects;
    if (nw == nn) {
        for (std::size_t i = head; i < nw - tail; ++i) {
            const Command& a = wasAt(i);
            const Command& b = nowAt(i);
            if (a.text && b.text && a.fontId == b.fontId && a.colour == b.colour &&
                std::memcmp(&a.rect, &b.rect, sizeof a.rect) == 0) {
                const std::uint8_t* ta = bytesOf(was, a);
                const std::uint8_t* tb = bytesOf(now, b);
                const std::uint32_t common = std::min(a.count, b.count);
                std::uint32_t from = 0;
                while (from < common && ta[from] == tb[from])
                    ++from;
                addRect(rects, textBounds(was, a, static_cast<int>(from)));
                addRect(rects, textBounds(now, b, static_cast<int>(from)));
            } else {
                addRect(rects, bounds(was, a));
                addRect(rects, bounds(now, b));
            }
        }
    } else {
        for (std::size_t i = head; i < nw - tail; ++i)
            addRect(rects, bounds(was, wasAt(i)));
        for (std::size_t i = head; i < nn - tail; ++i)
            addRect(rects, bounds(now, nowAt(i)));
    }
    return rects;
}

// Widens each rectangle over every stretched draw it touches, then joins overlapping ones.
void settleRects(std::vector<SDL_Rect>& rects, std::size_t restFrom) {
    for (SDL_Rect& r : rects) {
        for (bool grew = true; grew;) {
            grew = false;
            for (std::size_t i = restFrom; i < g_frame.commands.size(); ++i) {
                const Command& c = g_frame.commands[i];
                if (!stretched(c)) continue;
                const SDL_Rect b = quadBounds(c.quad);
                if (b.w > 0 && b.h > 0 && intersects(r, b) && !contains(r, b)) {
                    r = unite(r, b);
                    grew = true;
                }
            }
        }
    }
    for (bool joined = true; joined;) {
        joined = false;
        for (std::size_t i = 0; i < rects.size() && !joined; ++i)
            for (std::size_t j = i + 1; j < rects.size() && !joined; ++j)
                if (intersects(rects[i], rects[j])) {
                    rects[i] = unite(rects[i], rects[j]);
                    rects.erase(rects.begin() + static_cast<std::ptrdiff_t>(j));
                    joined = true;
                }
    }
    if (rects.size() > kMaxRects) {
        SDL_Rect all = rects[0];
        for (const SDL_Rect& r : rects)
            all = unite(all, r);
        rects.assign(1, all);
    }
}

void replay(const Command& c) {
    if (c.text)
        drawTextNow(bytesOf(g_frame, c), static_cast<int>(c.count), c.rect, c.colour);
    else
        drawQuadNow(c.texture, c.quad);
}

void copyList(DrawList& to, std::size_t from, std::size_t end) {
    to.clear();
    for (std::size_t i = from; i < end; ++i) {
        Command c = g_frame.commands[i];
        c.texture = nullptr; // only ids are compared; the textures may go
        if (c.text) {
            const std::uint8_t* b = bytesOf(g_frame, c);
            c.first = static_cast<std::uint32_t>(to.bytes.size());
            to.bytes.insert(to.bytes.end(), b, b + c.count);
        }
        to.commands.push_back(c);
    }
}

bool stillPartShown(std::size_t stillEnd) {
    if (!g_stillValid || g_stillShown.commands.size() != stillEnd) return false;
    for (std::size_t i = 0; i < stillEnd; ++i)
        if (!sameCommand(g_stillShown, g_stillShown.commands[i], g_frame, g_frame.commands[i]))
            return false;
    return true;
}

// A rectangle of the game's 800 x 600 on the frame target, which may be drawn at another scale:
// every target pixel the game pixels touch, and one more for the rounding of scaled draws.
SDL_Rect onTarget(const SDL_Rect& r, SDL_Texture* target) {
    const double scale = frameScale();
    if (scale == 1.0) return r;
    int w = 0, h = 0;
    SDL_QueryTexture(target, nullptr, nullptr, &w, &h);
    const int left = std::max(0, static_cast<int>(std::floor(r.x * scale)) - 1);
    const int top = std::max(0, static_cast<int>(std::floor(r.y * scale)) - 1);
    const int right = std::min(w, static_cast<int>(std::ceil((r.x + r.w) * scale)) + 1);
    const int bottom = std::min(h, static_cast<int>(std::ceil((r.y + r.h) * scale)) + 1);
    return SDL_Rect{left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

void clearTarget(SDL_Renderer* renderer) {
    SDL_RenderSetClipRect(renderer, nullptr);
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
    SDL_RenderClear(renderer);
}

} // namespace

void startRecordedFrame() {
    g_frame.clear();
}

void recordQuad(const Texture* texture, const ScreenQuad& quad) {
    Command c;
    c.texture = texture;
    c.textureId = texture ? texture->id : 0;
    c.quad = quad;
    g_frame.commands.push_back(c);
}

void recordText(const std::uint8_t* text, int count, const Rect& rect, std::uint32_t colour) {
    if (!text || count <= 0) return;
    Command c;
    c.text = true;
    c.rect = rect;
    c.colour = colour;
    c.first = static_cast<std::uint32_t>(g_frame.bytes.size());
    c.count = static_cast<std::uint32_t>(count);
    c.fontId = textFontId();
    g_frame.bytes.insert(g_frame.bytes.end(), text, text + count);
    g_frame.commands.push_back(c);
}

bool recordedFrameUses(const Texture* texture) {
    for (const Command& c : g_frame.commands)
        if (!c.text && c.texture == texture) return true;
    return false;
}

bool drawRecordedFrame(SDL_Renderer* renderer, SDL_Texture* frameTarget) {
    if (!renderer || !frameTarget) return false;
    SDL_SetRenderTarget(renderer, frameTarget);
    if (g_fullRedraw) {
        clearTarget(renderer);
        for (const Command& c : g_frame.commands)
            replay(c);
        g_targetValid = false;
        return true;
    }

    std::size_t stillEnd = 0;
    while (stillEnd < g_frame.commands.size() && !g_frame.commands[stillEnd].text)
        ++stillEnd;
    std::vector<SDL_Rect> rects;
    if (!stillPartShown(stillEnd)) {
        int targetW = 0, targetH = 0, stillW = 0, stillH = 0;
        SDL_QueryTexture(frameTarget, nullptr, nullptr, &targetW, &targetH);
        if (g_still) SDL_QueryTexture(g_still, nullptr, nullptr, &stillW, &stillH);
        if (g_still && (stillW != targetW || stillH != targetH)) { // the picture's scale changed
            SDL_DestroyTexture(g_still);
            g_still = nullptr;
        }
        if (!g_still) {
            g_still = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888,
                                        SDL_TEXTUREACCESS_TARGET, targetW, targetH);
            if (g_still) SDL_SetTextureScaleMode(g_still, SDL_ScaleModeNearest);
        }
        if (!g_still) { // no room for the still part: every frame is drawn whole
            clearTarget(renderer);
            for (const Command& c : g_frame.commands)
                replay(c);
            g_targetValid = false;
            return true;
        }
        SDL_SetRenderTarget(renderer, g_still);
        clearTarget(renderer);
        for (std::size_t i = 0; i < stillEnd; ++i)
            replay(g_frame.commands[i]);
        SDL_SetRenderTarget(renderer, frameTarget);
        copyList(g_stillShown, 0, stillEnd);
        // The still part changed: pictures it no longer shows may leave the device.
        std::vector<const Texture*> drawn;
        for (const Command& c : g_frame.commands)
            if (c.texture) drawn.push_back(c.texture);
        releaseUndrawnPictures(drawn);
        g_stillValid = true;
        rects.push_back(kScreen);
    } else if (!g_targetValid) {
        rects.push_back(kScreen);
    } else {
        rects = changedRects(g_restShown, 0, g_frame, stillEnd);
        if (rects.empty()) return false;
        settleRects(rects, stillEnd);
    }

    std::vector<SDL_Rect> restBounds; // each draw's, laid out once for all the rectangles
    for (std::size_t i = stillEnd; i < g_frame.commands.size(); ++i)
        restBounds.push_back(bounds(g_frame, g_frame.commands[i]));
    SDL_SetTextureBlendMode(g_still, SDL_BLENDMODE_NONE);
    for (const SDL_Rect& r : rects) {
        const SDL_Rect t = onTarget(r, frameTarget);
        SDL_RenderSetClipRect(renderer, &t);
        SDL_RenderCopy(renderer, g_still, &t, &t);
        for (std::size_t i = 0; i < restBounds.size(); ++i) {
            const SDL_Rect& b = restBounds[i];
            if (b.w > 0 && b.h > 0 && intersects(b, r)) replay(g_frame.commands[stillEnd + i]);
        }
    }
    SDL_RenderSetClipRect(renderer, nullptr);
    copyList(g_restShown, stillEnd, g_frame.commands.size());
    g_targetValid = true;
    return true;
}

void forgetFramePictures() {
    g_stillValid = false;
    g_targetValid = false;
}

void releaseFrameCache() {
    if (g_still) SDL_DestroyTexture(g_still);
    g_still = nullptr;
    g_stillShown.clear();
    g_restShown.clear();
    forgetFramePictures();
}

void setFullRedraw(bool on) {
    g_fullRedraw = on;
    forgetFramePictures();
}

bool fullRedraw() {
    return g_fullRedraw;
}
