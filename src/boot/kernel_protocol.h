// How the kernel is entered: the native protocol (argc, argv, BootInfo) or Linux's ARM
// boot protocol (r0 = 0, r1 = machine number, r2 = tag list), what the user asked of
// it for one boot, and the Linux command line made from the options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "memory/address_range.h"

namespace quorvel {

class BootMenu;

enum class KernelProtocol { Native, Linux };

enum class ProtocolChoice { Recognised, Native, Linux };

// Asked for one boot (the command line's --protocol, --machine-number,
// --load-address, --entry); not part of the saved options.
struct KernelOverrides {
    ProtocolChoice protocol = ProtocolChoice::Recognised;
    std::optional<std::uint32_t> machineNumber;
    // A raw image's (or a zImage's) physical load address and entry point.
    std::optional<std::uint32_t> loadAddress;
    std::optional<std::uint32_t> entry;
};

// What the architecture needs to enter a Linux kernel, beyond the loader.
struct LinuxBoot {
    std::uint32_t machineNumber = 0;
    std::string commandLine;
    bool hasInitrd = false;
    std::uint32_t initrdStart = 0;  // where the loader placed the image, before any fold
    std::uint32_t initrdSize = 0;
};

// The Linux command line: the root choice where it has a Linux meaning (md: the
// initrd, root=/dev/ram0; nfs: root=/dev/nfs), "single" for single-user, then the
// extra kernel options as typed, in the device's code page.
std::string linuxCommandLine(const BootMenu& menu);

const char* protocolName(KernelProtocol protocol);

// Linux writes its first page table in the 16 KB below its text before it reads the
// tags: keeps that memory, below the lowest destination, out of the pool (in front of
// the destinations, whose last entry stays the last piece placed). Nothing is added
// where it would fall below address 0.
void keepLinuxPageTableClear(std::vector<AddressRange>& destinations);

}  // namespace quorvel
