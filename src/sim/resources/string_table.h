// The string table of a resource file: entries of 16 strings each (entry n holds the
// ids 16 (n - 1) to 16 n - 1), every string a length and that many UTF-16 units.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "sim/resources/resource_file.h"

namespace sim {

class StringTable {
public:
    // Keeps the strings of every well-formed entry; false when an entry was skipped
    // because its lengths ran past its bytes or it was not named by number.
    bool load(const ResourceFile& file);

    // The string of that id; null when there is none or it is empty (as LoadString
    // treats an empty string).
    const std::u16string* find(std::uint32_t id) const;

private:
    std::map<std::uint32_t, std::u16string> strings_;
};

}  // namespace sim
