// The kernel's own symbols, read back from its ksyms area in RAM (a small ELF image:
// header, section headers, .symtab, .strtab), to name where a run ended.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/physical_memory.h"

namespace quorvel::app {

class KernelSymbols {
public:
    // Reads the area [begin, end); no symbols when it holds no sound symbol table.
    static KernelSymbols read(const sim::PhysicalMemory& memory, std::uint32_t begin, std::uint32_t end);

    // "kernel_main+0x1c" for `address`, or "" when no symbol covers it. `place` gives
    // where a symbol's address lies at run time (the PXA-2x0 loader folds it).
    std::string nameOf(std::uint32_t address, const std::function<std::uint32_t(std::uint32_t)>& place) const;
    bool empty() const { return symbols_.empty(); }

private:
    struct Symbol {
        std::uint32_t value, size;
        std::string name;
    };
    std::vector<Symbol> symbols_;
};

}  // namespace quorvel::app
