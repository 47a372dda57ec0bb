// Recording of device register accesses.
#include "sim/device.h"

namespace sim {

std::uint32_t Device::read(std::uint32_t offset, int width) {
    std::uint32_t value = readRegister(offset, width);
    accesses_.push_back({RegisterAccess::Read, offset, value, width});
    return value;
}

void Device::write(std::uint32_t offset, std::uint32_t value, int width) {
    accesses_.push_back({RegisterAccess::Write, offset, value, width});
    writeRegister(offset, value, width);
}

}  // namespace sim
