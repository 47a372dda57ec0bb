// String-table entries are decoded whole before any of their strings is kept, so a
// malformed entry adds nothing.
#include "sim/resources/string_table.h"

#include <array>

#include "sim/resources/name_or_ordinal.h"

namespace sim {

namespace {

constexpr std::size_t stringsPerEntry = 16;

bool readEntry(const ResourceEntry& entry, std::array<std::u16string, stringsPerEntry>& strings) {
    BoundedReader in(entry.data, entry.size);
    for (std::u16string& text : strings) {
        std::uint16_t length;
        if (!in.u16(length) || in.remaining() / 2 < length) return false;
        text.resize(length);
        for (char16_t& unit : text) {
            std::uint16_t value = 0;
            in.u16(value);  // cannot fail: the length was checked against what is left
            unit = static_cast<char16_t>(value);
        }
    }
    return true;
}

}  // namespace

bool StringTable::load(const ResourceFile& file) {
    strings_.clear();
    bool whole = true;
    for (const ResourceEntry& entry : file.entries()) {
        if (entry.type.ordinal != RESOURCE_STRING) continue;
        std::array<std::u16string, stringsPerEntry> strings;
        if (entry.name.ordinal == 0 || !readEntry(entry, strings)) {
            whole = false;
            continue;
        }
        std::uint32_t first = (entry.name.ordinal - 1u) * stringsPerEntry;
        for (std::size_t i = 0; i < stringsPerEntry; ++i) {
            if (!strings[i].empty()) strings_.emplace(first + static_cast<std::uint32_t>(i), std::move(strings[i]));
        }
    }
    return whole;
}

const std::u16string* StringTable::find(std::uint32_t id) const {
    auto it = strings_.find(id);
    return it == strings_.end() ? nullptr : &it->second;
}

}  // namespace sim
