// Platform identification: field comparison, the searches over platform lists and
// the table of named platforms.
#include "boot/platform_id.h"

#include <cstring>

#include "hardware/cpu_models.h"
#include "platform/coredll.h"

namespace quorvel {

const PlatformId PLATFORM_ANY = {0, 0};
const PlatformId PLATFORM_UNSET = {0, 0};

const PlatformId PLATFORM_SA1100 = {CPU_WORD_SA1100, 0};
const PlatformId PLATFORM_SA1110 = {CPU_WORD_SA1110, 0};
const PlatformId PLATFORM_PXA250 = {CPU_WORD_PXA250, 0};
const PlatformId PLATFORM_PXA270 = {CPU_WORD_PXA270, 0};

namespace {

const PlatformId arm = {0x0C000000, 0};
const PlatformId armStrongArm = {CPU_WORD_STRONGARM, 0};
const PlatformId armXScale = {CPU_WORD_XSCALE, 0};
const PlatformId casio = {0, 0x00C00000};
const PlatformId sharp = {0, 0x01000000};
const PlatformId sharpWZero3 = {0, 0x01040000};
const PlatformId ws003sh = {CPU_WORD_PXA270, 0x01040100};
const PlatformId ws004sh = {CPU_WORD_PXA270, 0x01040200};
const PlatformId ws007sh = {CPU_WORD_PXA270, 0x01040300};
const PlatformId ws011sh = {CPU_WORD_PXA270, 0x01040400};
const PlatformId ws020sh = {CPU_WORD_PXA270, 0x01040500};
const PlatformId compaq = {0, 0x01C00000};
const PlatformId ipaq = {0, 0x01C40000};
const PlatformId ipaqH31xx = {0, 0x01C40100};
const PlatformId ipaqH3100 = {CPU_WORD_SA1110, 0x01C40101};
const PlatformId ipaqH36xx = {0, 0x01C40200};
const PlatformId ipaqH3600 = {CPU_WORD_SA1110, 0x01C40201};
const PlatformId ipaqH3660 = {CPU_WORD_SA1110, 0x01C40202};
const PlatformId ipaqH39xx = {0, 0x01C40300};
const PlatformId ipaqH3900 = {CPU_WORD_PXA250, 0x01C40301};
const PlatformId hp = {0, 0x02C00000};
const PlatformId jornada = {0, 0x02C20000};
const PlatformId jornada7xx = {0, 0x02C20200};
const PlatformId jornada720Us = {CPU_WORD_SA1110, 0x02C20201};
const PlatformId jornada720Japanese = {CPU_WORD_SA1110, 0x02C20202};
const PlatformId jornada720European = {CPU_WORD_SA1110, 0x02C20203};
const PlatformId jornada720German = {CPU_WORD_SA1110, 0x02C20204};
const PlatformId jornada720French = {CPU_WORD_SA1110, 0x02C20205};
const PlatformId jornada720Scandinavian = {CPU_WORD_SA1110, 0x02C20206};
const PlatformId jornada720Spanish = {CPU_WORD_SA1110, 0x02C20207};
const PlatformId jornada8xx = {0, 0x02C20300};
const PlatformId jornada820 = {CPU_WORD_SA1100, 0x02C20301};
const PlatformId jornada820Japanese = {CPU_WORD_SA1100, 0x02C20302};
const PlatformId psion = {0, 0x04000000};
const PlatformId netbook = {0, 0x04010000};
const PlatformId netbookPro = {CPU_WORD_PXA250, 0x04010100};
// Machines that never ran Windows CE but that Linux and QEMU both have: what a Linux
// kernel built for QEMU's collie, tosa or spitz is booted as.
const PlatformId sharpZaurus = {0, 0x01020000};
const PlatformId zaurusCollie = {CPU_WORD_SA1110, 0x01020100};
const PlatformId zaurusTosa = {CPU_WORD_PXA250, 0x01020200};
const PlatformId zaurusSpitz = {CPU_WORD_PXA270, 0x01020300};

// Linux's machine numbers (arch/arm/tools/mach-types).
constexpr std::uint32_t MACH_H3600 = 22;
constexpr std::uint32_t MACH_JORNADA720 = 48;
constexpr std::uint32_t MACH_H3100 = 136;
constexpr std::uint32_t MACH_COLLIE = 146;
constexpr std::uint32_t MACH_TOSA = 520;
constexpr std::uint32_t MACH_SPITZ = 713;

struct Field {
    bool inCpu;
    int shift;
    std::uint32_t mask;
};

// Compared in this order: cpuSubmodel, cpuModel, cpuSeries, cpuArch, submodel,
// model, series, vendor. Bits 7-0 of the cpu word are never compared.
constexpr Field fields[] = {
    {.inCpu = true, .shift = 8, .mask = 0x3F},   {.inCpu = true, .shift = 14, .mask = 0x3F},
    {.inCpu = true, .shift = 20, .mask = 0x3F},  {.inCpu = true, .shift = 26, .mask = 0x3F},
    {.inCpu = false, .shift = 0, .mask = 0xFF},  {.inCpu = false, .shift = 8, .mask = 0xFF},
    {.inCpu = false, .shift = 16, .mask = 0x3F}, {.inCpu = false, .shift = 22, .mask = 0x3FF},
};

std::uint32_t field(const PlatformId& id, const Field& f) { return ((f.inCpu ? id.cpu : id.machine) >> f.shift) & f.mask; }

}  // namespace

const PlatformName platformNameTable[PLATFORM_NAME_COUNT] = {
    {.id = &arm, .name = u"ARM"},
    {.id = &armStrongArm, .name = u"ARM STRONGARM"},
    {.id = &PLATFORM_SA1100, .name = u"ARM STRONGARM SA1100"},
    {.id = &PLATFORM_SA1110, .name = u"ARM STRONGARM SA1110"},
    {.id = &armXScale, .name = u"ARM XSCALE"},
    {.id = &PLATFORM_PXA250, .name = u"ARM XSCALE PXA250"},
    {.id = &PLATFORM_PXA270, .name = u"ARM XSCALE PXA270"},
    {.id = &casio, .name = u"CASIO"},
    {.id = &sharp, .name = u"Sharp"},
    {.id = &sharpWZero3, .name = u"Sharp WZERO3"},
    {.id = &ws003sh, .name = u"Sharp W-ZERO3 (WS003SH)"},
    {.id = &ws004sh, .name = u"Sharp W-ZERO3 (WS004SH)"},
    {.id = &ws007sh, .name = u"Sharp W-ZERO3[es] (WS007SH)"},
    {.id = &ws011sh, .name = u"Sharp Advanced/W-ZERO3[es] (WS011SH)"},
    {.id = &ws020sh, .name = u"Sharp WILLCOM 03 (WS020SH)"},
    {.id = &compaq, .name = u"Compaq"},
    {.id = &ipaq, .name = u"Compaq iPAQ"},
    {.id = &ipaqH31xx, .name = u"Compaq iPAQ H31XX"},
    {.id = &ipaqH3100, .name = u"Compaq iPAQ H3100", .linuxMachine = MACH_H3100},
    {.id = &ipaqH36xx, .name = u"Compaq iPAQ H36XX"},
    {.id = &ipaqH3600, .name = u"Compaq iPAQ H3600", .linuxMachine = MACH_H3600},
    {.id = &ipaqH3660, .name = u"Compaq iPAQ H3660", .linuxMachine = MACH_H3600},
    {.id = &ipaqH39xx, .name = u"Compaq iPAQ H39XX"},
    {.id = &ipaqH3900, .name = u"Compaq iPAQ H3900"},
    {.id = &hp, .name = u"HP"},
    {.id = &jornada, .name = u"HP Jornada"},
    {.id = &jornada7xx, .name = u"HP Jornada 7XX"},
    {.id = &jornada720Us, .name = u"HP Jornada 720 (US/UK)", .linuxMachine = MACH_JORNADA720},
    {.id = &jornada720Japanese, .name = u"HP Jornada 720 (Japanese)", .linuxMachine = MACH_JORNADA720},
    {.id = &jornada720European, .name = u"HP Jornada 720 (European)", .linuxMachine = MACH_JORNADA720},
    {.id = &jornada720German, .name = u"HP Jornada 720 (German)", .linuxMachine = MACH_JORNADA720},
    {.id = &jornada720French, .name = u"HP Jornada 720 (French)", .linuxMachine = MACH_JORNADA720},
    {.id = &jornada720Scandinavian, .name = u"HP Jornada 720 (Scandinavian)", .linuxMachine = MACH_JORNADA720},
    {.id = &jornada720Spanish, .name = u"HP Jornada 720 (Spanish)", .linuxMachine = MACH_JORNADA720},
    {.id = &jornada8xx, .name = u"HP Jornada 8XX"},
    {.id = &jornada820, .name = u"HP Jornada 820"},
    {.id = &jornada820Japanese, .name = u"HP Jornada 820 (Japanese)"},
    {.id = &psion, .name = u"PSIONTEKLOGIX"},
    {.id = &netbook, .name = u"PSIONTEKLOGIX NETBOOK"},
    {.id = &netbookPro, .name = u"PSIONTEKLOGIX NETBOOK PRO"},
    {.id = &sharpZaurus, .name = u"Sharp Zaurus"},
    {.id = &zaurusCollie, .name = u"Sharp Zaurus SL-5500 (collie)", .linuxMachine = MACH_COLLIE},
    {.id = &zaurusTosa, .name = u"Sharp Zaurus SL-6000 (tosa)", .linuxMachine = MACH_TOSA},
    {.id = &zaurusSpitz, .name = u"Sharp Zaurus SL-C3000 (spitz)", .linuxMachine = MACH_SPITZ},
};

unsigned platformMatch(const PlatformId& subject, const PlatformId& candidate, bool acceptUnset) {
    unsigned score = 1;
    for (const Field& f : fields) {
        std::uint32_t mine = field(subject, f);
        std::uint32_t theirs = field(candidate, f);
        if (mine == theirs) {
            ++score;
        } else if (theirs == field(PLATFORM_ANY, f)) {
            // a wildcard in the candidate
        } else if (acceptUnset && mine == field(PLATFORM_UNSET, f)) {
            // a field the subject leaves open
        } else {
            return 0;
        }
    }
    return score;
}

const void* bestMatch(const PlatformId& subject, const void* entries, int count, int stride) {
    const void* best = nullptr;
    unsigned bestScore = 0;
    const auto* entry = static_cast<const unsigned char*>(entries);
    for (int i = 0; i < count; ++i, entry += stride) {
        // The entry's first member is the id reference; entries need not be aligned
        // to it when the stride is not.
        const PlatformId* id;
        std::memcpy(&id, entry, sizeof id);
        if (!id) continue;
        unsigned score = platformMatch(subject, *id, false);
        if (score > bestScore) {
            best = entry;
            bestScore = score;
        }
    }
    return best;
}

const PlatformListEntry* firstMatch(const PlatformId& subject, const PlatformListEntry* list) {
    const PlatformListEntry* entry = list;
    for (; entry->id; ++entry) {
        if (platformMatch(subject, *entry->id, false) > 0) return entry;
    }
    return entry->value ? entry : nullptr;
}

const ce::WCHAR* platformName(const PlatformId& subject) {
    const auto* row = static_cast<const PlatformName*>(
        bestMatch(subject, platformNameTable, PLATFORM_NAME_COUNT, sizeof(PlatformName)));
    return row ? row->name : u"UNKNOWN";
}

std::uint32_t linuxMachineNumber(const PlatformId& subject) {
    for (const PlatformName& row : platformNameTable)
        if (*row.id == subject) return row.linuxMachine;
    return NO_MACHINE_NUMBER;
}

void platformToHost(PlatformId& id) {
    id.cpu = ce::ntohl(id.cpu);
    id.machine = ce::ntohl(id.machine);
}

void platformToNetwork(PlatformId& id) {
    id.cpu = ce::htonl(id.cpu);
    id.machine = ce::htonl(id.machine);
}

}  // namespace quorvel
