// The resource formats' field that is either an ordinal or a name, read with the
// bounded reader every parser of outside bytes uses.
#pragma once

#include "base/bounded_reader.h"
#include "sim/resources/dialog_template.h"

namespace sim {

using quorvel::BoundedReader;

// 0xFFFF and an ordinal, or a NUL-terminated string (a lone NUL: empty name); on
// failure the position is left alone.
inline bool readNameOrOrdinal(BoundedReader& in, NameOrOrdinal& field) {
    const std::size_t start = in.offset();
    std::uint16_t first;
    if (!in.u16(first)) return false;
    if (first == 0xFFFF) {
        std::uint16_t ordinal;
        if (!in.u16(ordinal)) {
            in.seek(start);
            return false;
        }
        field = NameOrOrdinal{ordinal, {}};
        return true;
    }
    in.seek(start);
    std::u16string name;
    if (!in.string(name)) return false;
    field = NameOrOrdinal{0, std::move(name)};
    return true;
}

}  // namespace sim
