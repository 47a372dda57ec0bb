// The ARM processor models as platform ids name them (their cpu word, with machine
// word 0), and the kinds of CPU a boot context tells apart.
#pragma once

#include <cstdint>

namespace quorvel {

// The families without a model: the name table's rows for any StrongARM, any XScale.
constexpr std::uint32_t CPU_WORD_STRONGARM = 0x0C100000;
constexpr std::uint32_t CPU_WORD_XSCALE = 0x0C200000;

constexpr std::uint32_t CPU_WORD_SA1100 = 0x0C104000;
constexpr std::uint32_t CPU_WORD_SA1110 = 0x0C108000;
constexpr std::uint32_t CPU_WORD_PXA250 = 0x0C204000;
constexpr std::uint32_t CPU_WORD_PXA270 = 0x0C208000;

// A boot context's cpuKind: the cpu word of the family's first model, SA-1100 standing
// for both StrongARMs.
constexpr std::uint32_t CPU_KIND_SA11X0 = CPU_WORD_SA1100;
constexpr std::uint32_t CPU_KIND_PXA250 = CPU_WORD_PXA250;
constexpr std::uint32_t CPU_KIND_PXA270 = CPU_WORD_PXA270;

}  // namespace quorvel
