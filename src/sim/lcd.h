// The SA-11x0 LCD controller, as far as the boot path and the kernel use it: DBAR1
// holds the frame buffer's address.
#pragma once

#include <cstdint>

#include "hardware/lcd_registers.h"
#include "sim/device.h"

namespace sim {

class Sa11x0Lcd : public Device {
public:
    static constexpr std::uint32_t BASE = quorvel::sa11x0_lcd::PHYSICAL_BASE;
    static constexpr std::uint32_t DBAR1 = quorvel::sa11x0_lcd::DBAR1;
    Sa11x0Lcd() : Device("SA-11x0 LCD controller", BASE, 0x10000) {}
    std::uint32_t dbar1 = 0;

protected:
    std::uint32_t readRegister(std::uint32_t offset, int width) override;
    void writeRegister(std::uint32_t offset, std::uint32_t value, int width) override;
};

}  // namespace sim
