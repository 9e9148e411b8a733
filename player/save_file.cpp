// The save file: its format, its slots, and the places in the scenario it keeps.
#include "player/save_file.h"

std::string slotFileName(int) {
    return {};
}
std::optional<int> parseSlotName(std::string_view) {
    return std::nullopt;
}
std::vector<std::uint8_t> encodeSave(const SaveRecord&) {
    return {};
}
bool decodeSave(std::span<const std::uint8_t>, SaveRecord*, std::string*) {
    return false;
}
std::string slotPath(int, bool) {
    return {};
}
SlotInfo readSlot(int) {
    return {};
}
SlotInfo readSaveFile(const std::string&) {
    return {};
}
std::string writeSlot(int, const SaveRecord&) {
    return "not yet";
}
PageSpan pageSourceSpan() {
    return {};
}
std::uint64_t pageSourceHash() {
    return 0;
}
SavePlace currentPlace() {
    return {};
}
std::optional<FoundPlace> findPlace(const SavePlace&) {
    return std::nullopt;
}
