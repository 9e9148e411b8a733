// Places in the source text: a block position as the line an author edits, and back. Encoding
// turns every line end into CR LF and nothing else into a line end, so a block's lines are the
// source's lines one for one.
#include <algorithm>
#include <string>

#include "script/script.h"

namespace {

constexpr std::uint8_t kLF = 0x0A;

// The block's text as loaded: up to the zero byte the load put behind it.
std::string_view blockText(int block) {
    if (block < 0 || block >= kBlockCount) return {};
    const auto* start = g_scenario.data() + static_cast<std::size_t>(block) * kBlockSize;
    const int length =
        std::clamp(g_blockLength[static_cast<std::size_t>(block)], 0, kMaxScenarioText);
    return {reinterpret_cast<const char*>(start), static_cast<std::size_t>(length)};
}

// Offset of the line's first byte in the text, or npos past the last line.
std::size_t lineStart(std::string_view text, int line) {
    std::size_t at = 0;
    for (int l = 1; l < line; ++l) {
        const std::size_t lf = text.find(static_cast<char>(kLF), at);
        if (lf == std::string_view::npos) return std::string_view::npos;
        at = lf + 1;
    }
    // A text that ends with a line end has no line behind it.
    return line >= 1 && (at < text.size() || line == 1) ? at : std::string_view::npos;
}

} // namespace

SourcePlace sourcePlaceOf(std::int64_t pos) {
    pos = std::clamp<std::int64_t>(pos, 0, kScenarioSize - 1);
    const int block = static_cast<int>(pos / kBlockSize);
    const std::string_view text = blockText(block);
    const std::size_t offset =
        std::min(static_cast<std::size_t>(pos - std::int64_t{block} * kBlockSize), text.size());
    const std::string_view before = text.substr(0, offset);
    const int line = 1 + static_cast<int>(std::count(before.begin(), before.end(), '\n'));
    const std::size_t lastLf = before.rfind('\n');
    const std::size_t start = lastLf == std::string_view::npos ? 0 : lastLf + 1;
    return {block, line, static_cast<int>(offset - start)};
}

std::optional<std::string_view> sourceLine(int block, int line) {
    const std::string_view text = blockText(block);
    const std::size_t start = lineStart(text, line);
    if (start == std::string_view::npos) return std::nullopt;
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start && text[end - 1] == '\r') --end;
    return text.substr(start, end - start);
}

std::optional<std::int32_t> positionOfLine(int block, int line) {
    const std::size_t start = lineStart(blockText(block), line);
    if (start == std::string_view::npos) return std::nullopt;
    return static_cast<std::int32_t>(start) + block * kBlockSize;
}

std::optional<std::int32_t> landingBeforeLine(int block, int line) {
    const std::string_view text = blockText(block);
    std::optional<std::int32_t> landing;
    std::size_t at = 0;
    for (int l = 1; l < line && at < text.size(); ++l) {
        std::size_t lf = text.find('\n', at);
        if (lf == std::string_view::npos) break;
        if (text[at] == '*') landing = static_cast<std::int32_t>(lf + 1) + block * kBlockSize;
        at = lf + 1;
    }
    return landing;
}

std::string sourceAt(std::int64_t pos) {
    const SourcePlace place = sourcePlaceOf(pos);
    const std::string_view name = scenarioSourceName(place.block);
    if (name.empty()) return {};
    return std::string(name) + ":" + std::to_string(place.line);
}
