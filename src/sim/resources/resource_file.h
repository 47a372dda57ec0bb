// The entries of a Win32 resource file (.res), as the resource compiler writes
// them: each a header naming its type, name and language, then its data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/resources/dialog_template.h"

namespace sim {

// Type ordinals of the entries the program looks up.
constexpr std::uint16_t RESOURCE_BITMAP = 2;
constexpr std::uint16_t RESOURCE_ICON = 3;
constexpr std::uint16_t RESOURCE_DIALOG = 5;
constexpr std::uint16_t RESOURCE_STRING = 6;
constexpr std::uint16_t RESOURCE_GROUP_ICON = 14;

struct ResourceEntry {
    NameOrOrdinal type;
    NameOrOrdinal name;
    std::uint16_t language = 0;
    const std::uint8_t* data = nullptr;  // inside the file's bytes
    std::uint32_t size = 0;
};

class ResourceFile {
public:
    // Reads every entry of `size` bytes, which must outlive this object. False, with
    // no entries kept, when a header or a data size runs past the bytes.
    bool load(const void* bytes, std::size_t size);

    const std::vector<ResourceEntry>& entries() const { return entries_; }

    // The first entry of that type and name, any language. String names compare
    // without regard to ASCII case, as the resource compiler stores them in capitals.
    const ResourceEntry* find(const NameOrOrdinal& type, const NameOrOrdinal& name) const;
    const ResourceEntry* find(std::uint16_t type, std::uint16_t name) const { return find({type, {}}, {name, {}}); }
    const ResourceEntry* find(std::uint16_t type, std::u16string_view name) const {
        return find({type, {}}, {0, std::u16string(name)});
    }

private:
    std::vector<ResourceEntry> entries_;
};

// Whether two names or ordinals stand for the same resource.
bool sameResourceName(const NameOrOrdinal& a, const NameOrOrdinal& b);

}  // namespace sim
