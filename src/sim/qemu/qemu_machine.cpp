#include "sim/qemu/qemu_machine.h"

#include <cstdio>
#include <cstring>

#include "sim/arm_images.h"
#include "sim/handheld.h"

namespace quorvel {
extern const ArmImage qemuStartImage;
}

namespace sim::qemu {

namespace {

constexpr std::uint32_t MiB = 1u << 20;
// QEMU's SA-1110 machine fixes its SDRAM at 512 MiB, its PXA machines at 64 MiB.
constexpr std::uint32_t COLLIE_RAM = 512 * MiB;
constexpr std::uint32_t PXA_RAM = 64 * MiB;
// The PXA-2x0's internal SRAM: outside the SDRAM the kernel is told of.
constexpr std::uint32_t PXA_SRAM = 0x5C000000;
// Both processors reset with these in CP15 c1, in Unicorn and in QEMU alike.
constexpr std::uint32_t SA_RESET_CONTROL = 0x70;
constexpr std::uint32_t PXA_RESET_CONTROL = 0x78;

// The PXA-270 steppings QEMU models, by the revision nibble of the main ID.
const char* pxa270Cpu(std::uint32_t mainId) {
    switch (mainId & 0xF) {
    case 0: return "pxa270-a0";
    case 1: return "pxa270-a1";
    case 2: return "pxa270-b0";
    case 3: return "pxa270-b1";
    case 4: return "pxa270-c0";
    case 7: return "pxa270-c5";
    default: return nullptr;
    }
}

void put(std::vector<std::uint8_t>& bytes, std::uint32_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::optional<Machine> machineFor(Handheld& device, std::string& why) {
    const DeviceSettings& settings = device.settings();
    Machine m;
    const std::uint32_t id = settings.mainId;
    if (settings.cpu == CpuFamily::SA11x0) {
        // collie is QEMU's only StrongARM machine and takes nothing but an SA-1110.
        if ((id & 0xFFFFFFF0u) != (MAIN_ID_SA1110 & 0xFFFFFFF0u) && id != MAIN_ID_SA1100) {
            why = "QEMU has no machine with the processor of main ID " + hex(id);
            return std::nullopt;
        }
        m = {"collie", "sa1110", MAIN_ID_SA1110, "512M", 0xC0000000u, COLLIE_RAM, 0, 2, 0x80050000u, false, {}, {}};
        m.startAddress = m.ramBase + m.ramSize - 0x1000;  // the last page: beyond the boot's RAM, checked below
    } else if ((id & 0xFFFFFFF0u) == (MAIN_ID_PXA270 & 0xFFFFFFF0u)) {
        const char* cpu = pxa270Cpu(id);
        m = {"spitz", cpu ? cpu : "pxa270", cpu ? id : MAIN_ID_PXA270, "", 0xA0000000u, PXA_RAM, PXA_SRAM, 0,
             0x40100000u, true, {}, {}};
    } else if ((id & 0xFFFFF000u) == (MAIN_ID_PXA250 & 0xFFFFF000u)) {
        // No QEMU machine has a PXA-250; tosa's PXA-255 is the same core and the same
        // peripherals. tosa takes no -cpu of its own choosing.
        m = {"tosa", "", 0x69052D00u, "", 0xA0000000u, PXA_RAM, PXA_SRAM, 0, 0x40100000u, true, {}, {}};
    } else {
        why = "QEMU has no machine with the processor of main ID " + hex(id);
        return std::nullopt;
    }
    const std::uint64_t ramEnd = std::uint64_t(m.ramBase) + m.ramSize;
    // The RAM banks come first, the reserved video memory after them.
    std::uint64_t ram = 0;
    for (const RamBank& bank : device.memory().banks()) {
        const bool video = ram >= device.memory().ramSize();
        ram += bank.size;
        const std::uint64_t end = std::uint64_t(bank.base) + bank.size;
        const bool inside = bank.base >= m.ramBase && end <= ramEnd;
        if (video && !inside) {
            m.leftBehind.push_back(bank);
            continue;
        }
        m.banks.push_back(bank);
        if (!inside) {
            why = "QEMU's " + m.name + " has its RAM at " + hex(m.ramBase) + "-" + hex(static_cast<std::uint32_t>(ramEnd - 1)) +
                  "; the handheld's bank at " + hex(bank.base) + " (" + std::to_string(bank.size / MiB) +
                  " MiB) does not fit in it";
            return std::nullopt;
        }
        if (m.startAddress >= bank.base && m.startAddress < end) {
            why = "the handheld's RAM fills QEMU's " + m.name + " to its last page, where the start code goes";
            return std::nullopt;
        }
    }
    if (std::optional<std::uint32_t> at = lostBytes(device, m)) {
        why = "the screen's video memory at " + hex(*at) + " is not on QEMU's " + m.name + " and holds a picture";
        return std::nullopt;
    }
    return m;
}

std::optional<std::uint32_t> lostBytes(Handheld& device, const Machine& machine) {
    for (const RamBank& bank : machine.leftBehind) {
        const std::uint8_t* bytes = device.memory().host(PhysicalAddress(bank.base));
        for (std::uint32_t i = 0; i < bank.size; ++i)
            if (bytes[i] != 0) return bank.base + i;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> startCode(const Machine& machine, Handheld& device, const HandOverResult& atJump) {
    const quorvel::ArmImage& stub = quorvel::qemuStartImage;
    const quorvel::ArmImage& flat = machine.pxa ? quorvel::flatJumpImage_pxa2x0 : quorvel::flatJumpImage_sa11x0;
    std::vector<std::uint8_t> bytes(stub.bytes, stub.bytes + stub.size);
    const std::uint32_t flatAt = stub.symbol("QemuStartFlatJump");
    bytes.resize(flatAt);
    bytes.insert(bytes.end(), flat.bytes, flat.bytes + flat.size);
    std::uint32_t p = stub.symbol("QemuStartParameters");
    // The divisor for the baud rate Windows CE's serial driver was set to.
    std::uint32_t baud = device.com1().baudRate ? device.com1().baudRate : 115200;
    std::uint32_t divisor = machine.pxa ? 14745600u / (16u * baud) : 3686400u / (16u * baud) - 1u;
    const std::uint32_t words[] = {machine.uartBase,
                                   machine.pxa ? 1u : 0u,
                                   divisor,
                                   machine.pxa ? PXA_RESET_CONTROL : SA_RESET_CONTROL,
                                   atJump.cpsr,
                                   atJump.r[0],
                                   atJump.r[1],
                                   atJump.r[2],
                                   atJump.r[3],
                                   RETURN_TRAP};
    for (std::uint32_t w : words) {
        put(bytes, p, w);
        p += 4;
    }
    return bytes;
}

std::vector<std::string> commandLine(const Machine& machine, const std::vector<LoadedFile>& banks,
                                     const LoadedFile& start, const std::string& consoleBackEnd) {
    std::vector<std::string> args = {"qemu-system-arm", "-M", machine.name};
    if (!machine.cpu.empty()) args.insert(args.end(), {"-cpu", machine.cpu});
    if (!machine.memory.empty()) args.insert(args.end(), {"-m", machine.memory});
    // Nothing the machine does not build itself: no default monitor, network or
    // screen; a guest reset ends QEMU instead of running the flash.
    args.insert(args.end(), {"-nodefaults", "-display", "none", "-no-reboot", "-audiodev", "none,id=quorvel-audio"});
    for (int i = 0; i < machine.consoleSerial; ++i) args.insert(args.end(), {"-serial", "null"});
    args.insert(args.end(), {"-serial", consoleBackEnd});
    char address[16];
    for (const LoadedFile& bank : banks) {
        std::snprintf(address, sizeof address, "0x%08x", bank.address);
        args.insert(args.end(), {"-device", "loader,file=" + bank.path + ",addr=" + address + ",force-raw=on"});
    }
    std::snprintf(address, sizeof address, "0x%08x", start.address);
    args.insert(args.end(), {"-device", "loader,file=" + start.path + ",addr=" + address + ",cpu-num=0,force-raw=on"});
    return args;
}

}  // namespace sim::qemu
