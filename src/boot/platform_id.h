// Platform identification: two words naming a processor and a machine, the match
// score between two of them, and the table of named platforms.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace quorvel {

struct PlatformId {
    std::uint32_t cpu;
    std::uint32_t machine;
    bool operator==(const PlatformId&) const = default;
};

// Both (0, 0); a zero field of a candidate matches anything, and with acceptUnset a
// zero field of the subject does too.
extern const PlatformId PLATFORM_ANY;
extern const PlatformId PLATFORM_UNSET;

// The CPU model rows of the name table, with machine word 0: the processor families
// a platform is matched against.
extern const PlatformId PLATFORM_SA1100;
extern const PlatformId PLATFORM_SA1110;
extern const PlatformId PLATFORM_PXA250;
extern const PlatformId PLATFORM_PXA270;

// Linux's number for a machine it has no number for.
constexpr std::uint32_t NO_MACHINE_NUMBER = 0xFFFFFFFF;

struct PlatformName {
    const PlatformId* id;
    const ce::WCHAR* name;
    // The machine number Linux's ARM boot protocol passes in r1 (Linux's mach-types).
    std::uint32_t linuxMachine = NO_MACHINE_NUMBER;
};
constexpr int PLATFORM_NAME_COUNT = 44;
extern const PlatformName platformNameTable[PLATFORM_NAME_COUNT];

// 0 = no match, else 1 + the number of the eight fields that are equal.
unsigned platformMatch(const PlatformId& subject, const PlatformId& candidate, bool acceptUnset = false);

// entries: count entries, stride bytes apart, each starting with a `const PlatformId*`.
const void* bestMatch(const PlatformId& subject, const void* entries, int count, int stride);

// list: (id, value) pairs ended by a pair whose id is null; its value is the default.
struct PlatformListEntry {
    const PlatformId* id;
    const void* value;
};
const PlatformListEntry* firstMatch(const PlatformId& subject, const PlatformListEntry* list);

const ce::WCHAR* platformName(const PlatformId& subject);
// Linux's machine number of the platform's own row; NO_MACHINE_NUMBER when it has
// none (group rows have none: Linux numbers machines, not families).
std::uint32_t linuxMachineNumber(const PlatformId& subject);

void platformToHost(PlatformId& id);
void platformToNetwork(PlatformId& id);

}  // namespace quorvel
