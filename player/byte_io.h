// Fixed-width little-endian fields, written and read strictly: what the saved moment and the
// save file are made of. Private to player/.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "render/quad.h"

namespace byte_io {

// A float as its 32-bit pattern and back (the browser's standard library has no std::bit_cast).
inline std::uint32_t floatBits(float v) {
    static_assert(sizeof(float) == sizeof(std::uint32_t));
    std::uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}
inline float bitsFloat(std::uint32_t bits) {
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// ---- Writing -------------------------------------------------------------------------------

struct Writer {
    std::vector<std::uint8_t> out;

    void u8(std::uint8_t v) { out.push_back(v); }
    void flag(bool v) { u8(v ? 1 : 0); }
    void u32(std::uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<std::uint8_t>(v >> shift));
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void u64(std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v));
        u32(static_cast<std::uint32_t>(v >> 32));
    }
    void f32(float v) { u32(floatBits(v)); }
    void bytes(std::span<const std::uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); }
    void quad(const ScreenQuad& q) {
        for (const QuadVertex& v : q.v) {
            f32(v.x);
            f32(v.y);
            f32(v.z);
            f32(v.rhw);
            u32(v.diffuse);
            f32(v.u);
            f32(v.v);
        }
    }
};

// ---- Reading -------------------------------------------------------------------------------

// Reads the body strictly in order; the first field that runs past the end stops every later
// read and is named in the reason.
struct Reader {
    std::span<const std::uint8_t> in;
    std::size_t at = 0;
    const char* cutAt = nullptr;

    bool take(std::size_t n, const char* field) {
        if (cutAt) return false;
        if (in.size() - at < n) {
            cutAt = field;
            return false;
        }
        return true;
    }
    std::uint8_t u8(const char* field) {
        if (!take(1, field)) return 0;
        return in[at++];
    }
    // Any byte but 0 and 1 is refused later; kept here as read so the check can see it.
    std::uint8_t flag(const char* field) { return u8(field); }
    std::uint32_t u32(const char* field) {
        if (!take(4, field)) return 0;
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(in[at++]) << (8 * i);
        return v;
    }
    std::int32_t i32(const char* field) { return static_cast<std::int32_t>(u32(field)); }
    std::uint64_t u64(const char* field) {
        const std::uint64_t low = u32(field);
        return low | (static_cast<std::uint64_t>(u32(field)) << 32);
    }
    float f32(const char* field) { return bitsFloat(u32(field)); }
    void bytes(std::span<std::uint8_t> b, const char* field) {
        if (!take(b.size(), field)) return;
        std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(at), b.size(), b.begin());
        at += b.size();
    }
    void quad(ScreenQuad& q, const char* field) {
        for (QuadVertex& v : q.v) {
            v.x = f32(field);
            v.y = f32(field);
            v.z = f32(field);
            v.rhw = f32(field);
            v.diffuse = u32(field);
            v.u = f32(field);
            v.v = f32(field);
        }
    }
};

inline std::uint32_t crcOf(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint32_t>(::crc32(0L, bytes.data(), static_cast<uInt>(bytes.size())));
}

inline std::uint32_t readLe32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

} // namespace byte_io
