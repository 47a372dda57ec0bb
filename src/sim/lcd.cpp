// The SA-11x0 LCD controller's DBAR1.
#include "sim/lcd.h"

namespace sim {

std::uint32_t Sa11x0Lcd::readRegister(std::uint32_t offset, int) { return offset == DBAR1 ? dbar1 : 0; }

void Sa11x0Lcd::writeRegister(std::uint32_t offset, std::uint32_t value, int) {
    if (offset == DBAR1) dbar1 = value;
}

}  // namespace sim
