// UTF-16 and UTF-8 conversion for the host side of the simulation.
#pragma once

#include <string>
#include <string_view>

namespace sim {

std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);

}  // namespace sim
