// Writes the Shift-JIS (code page 932) tables that base/files.cpp decodes and encodes with, as
// a C++ include file. The answers come from this system's iconv, asked about every byte and
// every pair of bytes, and about every code point, so that the engine converts exactly as the
// C library does here, also where the C library has no code page 932 (the browser's).
//
// Usage: make_cp932_table OUTPUT_FILE
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kNone = 0xFFFF;    // no character
constexpr std::uint16_t kLead = 0xFFFE;    // a single byte that opens a pair
constexpr std::uint16_t kDropped = 0xFFFE; // a code point the encoder consumes without output
constexpr int kTrailFirst = 0x40, kTrailLast = 0xFC;
constexpr int kTrails = kTrailLast - kTrailFirst + 1;

bool fail(const std::string& why) {
    std::fprintf(stderr, "make_cp932_table: %s\n", why.c_str());
    return false;
}

std::string hex(unsigned value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
    return buf;
}

enum class Outcome { Done, Invalid, CutOff };

// Runs one whole conversion of `in`; `out` gets what was written.
Outcome convert(iconv_t cd, const std::string& in, std::string& out, std::size_t& consumed) {
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char buf[64];
    char* dst = buf;
    std::size_t dstLeft = sizeof buf;
    std::size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    out.assign(buf, dst - buf);
    consumed = in.size() - srcLeft;
    if (r != static_cast<std::size_t>(-1)) return Outcome::Done;
    return errno == EINVAL ? Outcome::CutOff : Outcome::Invalid;
}

std::uint32_t readUtf32(const std::string& s) {
    const auto* b = reinterpret_cast<const unsigned char*>(s.data());
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::string utf32(std::uint32_t cp) {
    return {static_cast<char>(cp & 0xFF), static_cast<char>(cp >> 8 & 0xFF),
            static_cast<char>(cp >> 16 & 0xFF), static_cast<char>(cp >> 24)};
}

struct Tables {
    std::uint16_t single[256];
    std::vector<int> leads;                       // the lead of each row, in the encoder's order
    std::vector<std::vector<std::uint16_t>> rows; // code points by trail - 0x40; 0 = none
    std::vector<std::pair<std::uint16_t, std::uint16_t>> exceptions; // code point, code
    std::vector<std::pair<std::uint32_t, std::uint32_t>> dropped;    // first, last code point
};

bool decodeAll(iconv_t cd, Tables& t) {
    std::string out;
    std::size_t consumed;
    for (int b = 0; b < 256; ++b) {
        const std::string in(1, static_cast<char>(b));
        switch (convert(cd, in, out, consumed)) {
        case Outcome::CutOff:
            t.single[b] = kLead;
            break;
        case Outcome::Invalid:
            t.single[b] = kNone;
            break;
        case Outcome::Done:
            if (out.size() != 4 || readUtf32(out) >= kLead)
                return fail("byte " + hex(b, 2) + " is not one character of the first plane");
            t.single[b] = static_cast<std::uint16_t>(readUtf32(out));
        }
    }
    // NEC's copies of IBM's characters (leads 0xED and 0xEE) come last, so that a code point
    // held twice goes to IBM's own code, as iconv's encoder does; the rest is checked below.
    std::vector<int> order;
    for (int lead = 0; lead < 256; ++lead)
        if (lead != 0xED && lead != 0xEE) order.push_back(lead);
    order.push_back(0xED);
    order.push_back(0xEE);
    for (int lead : order) {
        if (t.single[lead] != kLead) continue;
        std::vector<std::uint16_t> row(kTrails, 0);
        bool any = false;
        for (int trail = 0; trail < 256; ++trail) {
            const std::string in{static_cast<char>(lead), static_cast<char>(trail)};
            const Outcome o = convert(cd, in, out, consumed);
            const std::string code = hex(lead << 8 | trail, 4);
            if (o == Outcome::Invalid && consumed == 0) continue;
            if (o != Outcome::Done || consumed != 2 || out.size() != 4)
                return fail("the pair " + code + " is neither a character nor invalid");
            const std::uint32_t cp = readUtf32(out);
            if (trail < kTrailFirst || trail > kTrailLast)
                return fail("the pair " + code + " has a trail byte out of range");
            if (cp == 0 || cp >= kLead)
                return fail("the pair " + code + " is not a character of the first plane");
            row[trail - kTrailFirst] = static_cast<std::uint16_t>(cp);
            any = true;
        }
        if (any) {
            t.leads.push_back(lead);
            t.rows.push_back(row);
        }
    }
    return true;
}

// What the engine's encoder will do without exceptions: single bytes first, then the rows in
// their stored order; the first code found for a code point wins.
std::vector<std::uint16_t> reverseOf(const Tables& t) {
    std::vector<std::uint16_t> rev(0x10000, kNone);
    for (int b = 0; b < 256; ++b)
        if (t.single[b] < kLead && rev[t.single[b]] == kNone) rev[t.single[b]] = b;
    for (std::size_t r = 0; r < t.rows.size(); ++r)
        for (int i = 0; i < kTrails; ++i) {
            const std::uint16_t cp = t.rows[r][i];
            if (cp && rev[cp] == kNone) rev[cp] = t.leads[r] << 8 | (kTrailFirst + i);
        }
    return rev;
}

bool encodeAll(iconv_t cd, Tables& t) {
    const std::vector<std::uint16_t> rev = reverseOf(t);
    std::string out;
    std::size_t consumed;
    for (std::uint32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue; // not characters: never in valid UTF-8
        std::uint16_t code = kNone;
        if (convert(cd, utf32(cp), out, consumed) == Outcome::Done) {
            const auto* b = reinterpret_cast<const unsigned char*>(out.data());
            if (out.empty())
                code = kDropped;
            else if (out.size() == 1)
                code = b[0];
            else if (out.size() == 2 && b[0] >= 0x80)
                code = static_cast<std::uint16_t>(b[0] << 8 | b[1]);
            else
                return fail("U+" + hex(cp, 4).substr(2) + " encodes to more than one character");
        }
        if (cp > 0xFFFF) {
            if (code == kDropped) {
                if (!t.dropped.empty() && t.dropped.back().second == cp - 1)
                    t.dropped.back().second = cp;
                else
                    t.dropped.emplace_back(cp, cp);
            } else if (code != kNone) {
                return fail("U+" + hex(cp, 4).substr(2) + " beyond the first plane encodes");
            }
        } else if (code != rev[cp]) {
            t.exceptions.emplace_back(static_cast<std::uint16_t>(cp), code);
        }
    }
    return true;
}

void writeValues(std::FILE* f, const std::uint16_t* values, int count, int indent) {
    for (int i = 0; i < count; ++i) {
        if (i % 12 == 0) std::fprintf(f, "%*s", indent, "");
        std::fprintf(f, "0x%04X,%s", values[i], i % 12 == 11 || i == count - 1 ? "\n" : " ");
    }
}

bool write(const Tables& t, const char* path) {
    std::FILE* f = std::fopen(path, "w");
    if (!f) return fail(std::string("cannot write ") + path);
    std::fprintf(f, "// Code page 932 as this system's iconv converts it; made by "
                    "make_cp932_table, do not edit.\n\n");
    std::fprintf(f, "constexpr std::uint16_t kCp932None = 0x%04X;\n", kNone);
    std::fprintf(f, "constexpr std::uint16_t kCp932Lead = 0x%04X;\n", kLead);
    std::fprintf(f, "constexpr std::uint16_t kCp932Dropped = 0x%04X;\n", kDropped);
    std::fprintf(f, "constexpr int kCp932TrailFirst = 0x%02X;\n", kTrailFirst);
    std::fprintf(f, "constexpr int kCp932Trails = %d;\n", kTrails);
    std::fprintf(f, "constexpr int kCp932Rows = %zu;\n\n", t.rows.size());

    std::fprintf(f, "// Each byte alone: its code point, kCp932Lead or kCp932None.\n");
    std::fprintf(f, "constexpr std::uint16_t kCp932Single[256] = {\n");
    writeValues(f, t.single, 256, 4);
    std::fprintf(f, "};\n\n");

    std::uint8_t rowOfLead[256];
    for (int b = 0; b < 256; ++b)
        rowOfLead[b] = 0xFF;
    for (std::size_t r = 0; r < t.leads.size(); ++r)
        rowOfLead[t.leads[r]] = static_cast<std::uint8_t>(r);
    std::fprintf(f, "// The row of kCp932Pairs for each lead byte; 0xFF: none.\n");
    std::fprintf(f, "constexpr std::uint8_t kCp932RowOfLead[256] = {\n");
    for (int b = 0; b < 256; ++b)
        std::fprintf(f, "%s0x%02X,%s", b % 16 == 0 ? "    " : "", rowOfLead[b],
                     b % 16 == 15 ? "\n" : " ");
    std::fprintf(f, "};\n\n");

    std::fprintf(f, "// The lead byte of each row. A code point held twice encodes to its code in "
                    "the earlier row.\n");
    std::fprintf(f, "constexpr std::uint8_t kCp932LeadOfRow[kCp932Rows] = {\n");
    for (std::size_t r = 0; r < t.leads.size(); ++r)
        std::fprintf(f, "%s0x%02X,%s", r % 16 == 0 ? "    " : "", t.leads[r],
                     r % 16 == 15 || r + 1 == t.leads.size() ? "\n" : " ");
    std::fprintf(f, "};\n\n");

    std::fprintf(f, "// The code point of each pair, by trail byte - kCp932TrailFirst; 0: none.\n");
    std::fprintf(f, "constexpr std::uint16_t kCp932Pairs[kCp932Rows][kCp932Trails] = {\n");
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        std::fprintf(f, "    { // 0x%02X\n", t.leads[r]);
        writeValues(f, t.rows[r].data(), kTrails, 8);
        std::fprintf(f, "    },\n");
    }
    std::fprintf(f, "};\n\n");

    std::fprintf(f, "// Where the encoder's answer is not the first code that decodes to the code "
                    "point:\n// {code point, its code or kCp932None or kCp932Dropped}.\n");
    std::fprintf(f, "constexpr std::uint16_t kCp932EncodeExceptions[][2] = {\n");
    for (const auto& [cp, code] : t.exceptions)
        std::fprintf(f, "    {0x%04X, 0x%04X},\n", cp, code);
    if (t.exceptions.empty()) std::fprintf(f, "    {0x0000, 0x0000},\n");
    std::fprintf(f, "};\n\n");

    std::fprintf(f,
                 "// Code points beyond the first plane that the encoder drops: {first, last}.\n");
    std::fprintf(f, "constexpr std::uint32_t kCp932DroppedRanges[][2] = {\n");
    for (const auto& [first, last] : t.dropped)
        std::fprintf(f, "    {0x%06X, 0x%06X},\n", first, last);
    if (t.dropped.empty()) std::fprintf(f, "    {0x000000, 0x000000},\n");
    std::fprintf(f, "};\n");
    const bool ok = std::ferror(f) == 0;
    return std::fclose(f) == 0 && ok ? true : fail(std::string("cannot write ") + path);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_cp932_table OUTPUT_FILE\n");
        return 2;
    }
    iconv_t dec = ::iconv_open("UTF-32LE", "CP932");
    iconv_t enc = ::iconv_open("CP932", "UTF-32LE");
    bool ok = dec != reinterpret_cast<iconv_t>(-1) && enc != reinterpret_cast<iconv_t>(-1);
    if (!ok) fail("this system's iconv has no CP932");
    Tables t{};
    ok = ok && decodeAll(dec, t) && encodeAll(enc, t) && write(t, argv[1]);
    if (dec != reinterpret_cast<iconv_t>(-1)) ::iconv_close(dec);
    if (enc != reinterpret_cast<iconv_t>(-1)) ::iconv_close(enc);
    if (!ok) std::remove(argv[1]);
    return ok ? 0 : 1;
}
