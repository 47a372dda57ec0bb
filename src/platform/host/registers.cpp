// Register accesses reach the simulated device behind the mapped address; an access
// to mapped RAM is a plain memory access; anything else is a fault of the caller.
#include "platform/registers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/device.h"
#include "sim/handheld.h"

namespace hw {

namespace {

sim::AddressSpace::DeviceRegister deviceAt(std::uint32_t address) {
    auto reg = sim::Handheld::current().addressSpace().deviceAt(address);
    if (!reg) {
        std::fprintf(stderr, "sim: register access at unmapped address 0x%08x\n", address);
        std::abort();
    }
    return *reg;
}

void* memoryAt(std::uint32_t address) {
    return sim::Handheld::current().addressSpace().isMemory(address)
               ? reinterpret_cast<void*>(static_cast<std::uintptr_t>(address))
               : nullptr;
}

}  // namespace

std::uint8_t readRegister8(std::uint32_t address) {
    if (void* p = memoryAt(address)) return *static_cast<volatile std::uint8_t*>(p);
    auto reg = deviceAt(address);
    return static_cast<std::uint8_t>(reg.device->read(reg.offset, 8));
}

void writeRegister8(std::uint32_t address, std::uint8_t value) {
    if (void* p = memoryAt(address)) {
        *static_cast<volatile std::uint8_t*>(p) = value;
        return;
    }
    auto reg = deviceAt(address);
    reg.device->write(reg.offset, value, 8);
}

std::uint32_t readRegister32(std::uint32_t address) {
    if (void* p = memoryAt(address)) return *static_cast<volatile std::uint32_t*>(p);
    auto reg = deviceAt(address);
    return reg.device->read(reg.offset, 32);
}

void writeRegister32(std::uint32_t address, std::uint32_t value) {
    if (void* p = memoryAt(address)) {
        *static_cast<volatile std::uint32_t*>(p) = value;
        return;
    }
    auto reg = deviceAt(address);
    reg.device->write(reg.offset, value, 32);
}

}  // namespace hw
