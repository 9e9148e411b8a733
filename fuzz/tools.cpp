// The author's tool: encode and decode of scenario files, both ways round, and lint.
//
// Input: MODE, then BYTES. MODE bit 2: BYTES are the plain text of both blocks, split at the
// first 0x7E (which no scenario file holds), to lint. Else bit 0: BYTES are a scenario file
// (stored bytes) to decode, else text to encode; bit 1: that text is Shift-JIS, not UTF-8.
// - Text that encodes gives a file that decodes without a warning, back to the same text up to
//   its line ends and byte-order mark, and that file's text encodes to the same file again.
// - A file that decodes without a warning encodes back to the same bytes (the tool's promise).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/files.h"
#include "fuzz/fuzz_engine.h"
#include "script/scenario_text.h"
#include "tools/lint.h"

namespace {

// The text as decode gives it back: no byte-order mark, LF line ends.
std::string normalised(std::string_view utf8) {
    if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i)
        if (!(utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')) out += utf8[i];
    return out;
}

void checkEncoded(const EncodeResult& encoded) {
    FUZZ_CHECK(encoded.stored.empty() || encoded.errors.empty());
    for (const TextProblem& p : encoded.errors)
        FUZZ_CHECK(p.place.line >= 1 && p.place.column >= 1 && !p.message.empty());
}

void encodeAndBack(std::string_view text, SourceEncoding encoding) {
    const EncodeResult encoded = encodeScenario(text, encoding);
    checkEncoded(encoded);
    if (!encoded.errors.empty()) return;
    const std::vector<std::uint8_t>& stored = encoded.stored;
    FUZZ_CHECK(stored.size() <= static_cast<std::size_t>(kMaxScenarioText));
    FUZZ_CHECK(std::find(stored.begin(), stored.end(), 0xFF) == stored.end());

    const DecodeResult decoded = decodeScenario(stored);
    FUZZ_CHECK(decoded.warnings.empty());
    if (encoding == SourceEncoding::Utf8) {
        // Several code points share one code page 932 code: compare through a second encode
        // where the text differs.
        const std::string expected = normalised(text);
        if (decoded.text != expected) {
            const EncodeResult once = encodeScenario(expected, SourceEncoding::Utf8);
            FUZZ_CHECK(once.errors.empty() && once.stored == stored);
        }
    }
    const EncodeResult again = encodeScenario(decoded.text, SourceEncoding::Utf8);
    FUZZ_CHECK(again.errors.empty());
    FUZZ_CHECK(again.stored == stored);
}

void decodeAndBack(std::span<const std::uint8_t> stored) {
    const DecodeResult decoded = decodeScenario(stored);
    FUZZ_CHECK(isValidUtf8(decoded.text));
    for (const TextProblem& p : decoded.warnings)
        FUZZ_CHECK(p.place.line >= 1 && p.place.column >= 1 && !p.message.empty());
    const std::string plain = plainScenarioText(stored);
    FUZZ_CHECK(plain.size() <= static_cast<std::size_t>(kMaxScenarioText));
    if (!decoded.warnings.empty()) return;

    const EncodeResult encoded = encodeScenario(decoded.text, SourceEncoding::Utf8);
    checkEncoded(encoded);
    FUZZ_CHECK(encoded.errors.empty());
    if (!std::equal(encoded.stored.begin(), encoded.stored.end(), stored.begin(), stored.end())) {
        // Code page 932 gives some characters two codes (the NEC and IBM extension rows), and
        // decode does not yet warn that encode writes the other one. Tolerated here until it
        // does; any other difference, a changed character, is a fault.
        FUZZ_CHECK(decodeScenario(encoded.stored).text == decoded.text);
    }
}

void lint(std::string_view plain) {
    const std::size_t cut = plain.find('\x7E');
    const std::string_view plain0 = plain.substr(0, cut);
    const std::string_view plain1 =
        cut == std::string_view::npos ? std::string_view() : plain.substr(cut + 1);
    fuzz::resetEngine();
    const LintResult result =
        lintScenarioText(plain0.substr(0, kMaxScenarioText), plain1.substr(0, kMaxScenarioText));
    int errors = 0;
    for (const LintDiagnostic& d : result.diagnostics) {
        FUZZ_CHECK(d.line >= 0 && d.column >= 0 && !d.message.empty());
        FUZZ_CHECK(isValidUtf8(d.message));
        FUZZ_CHECK(!formatDiagnostic(d).empty());
        errors += d.error ? 1 : 0;
    }
    FUZZ_CHECK(errors == result.errors);
    FUZZ_CHECK(result.errors + result.warnings == static_cast<int>(result.diagnostics.size()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::enterWorkFolder(); // lint plays pages through the engine, which may write Data.sav
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t mode = data[0];
    const std::span<const std::uint8_t> bytes(data + 1, size - 1);
    if (mode & 4) {
        lint(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    } else if (mode & 1) {
        decodeAndBack(bytes);
    } else {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        encodeAndBack(text, (mode & 2) ? SourceEncoding::ShiftJis : SourceEncoding::Utf8);
    }
    return 0;
}
