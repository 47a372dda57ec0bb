#include "app/kernel_symbols.h"

#include <cstdio>
#include <cstring>

namespace quorvel::app {

namespace {

constexpr std::uint32_t SECTION_HEADER_SIZE = 40;
constexpr std::uint32_t SYMBOL_SIZE = 16;
constexpr std::uint32_t SHT_SYMTAB = 2;
constexpr std::size_t MAX_NAME = 256;

// Bounded reads inside the area: every offset and size checked against what is left.
struct Area {
    const sim::PhysicalMemory& memory;
    std::uint32_t begin, size;
    bool has(std::uint32_t offset, std::uint32_t length) const { return offset <= size && size - offset >= length; }
    std::uint32_t word(std::uint32_t offset) const { return memory.readWord(sim::PhysicalAddress(begin + offset)); }
    std::uint16_t half(std::uint32_t offset) const {
        std::uint16_t v = 0;
        std::memcpy(&v, memory.host(sim::PhysicalAddress(begin + offset)), 2);
        return v;
    }
    std::uint8_t byte(std::uint32_t offset) const { return *memory.host(sim::PhysicalAddress(begin + offset)); }
};

}  // namespace

KernelSymbols KernelSymbols::read(const sim::PhysicalMemory& memory, std::uint32_t begin, std::uint32_t end) {
    KernelSymbols table;
    if (end <= begin || !memory.contains(sim::PhysicalAddress(begin), end - begin)) return table;
    Area area{memory, begin, end - begin};
    if (!area.has(0, 52) || area.word(0) != 0x464C457Fu) return table;  // "\x7fELF"
    std::uint32_t sections = area.word(32);
    std::uint32_t entrySize = area.half(46), count = area.half(48);
    if (entrySize != SECTION_HEADER_SIZE || count == 0 || !area.has(sections, count * SECTION_HEADER_SIZE)) return table;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t header = sections + i * SECTION_HEADER_SIZE;
        if (area.word(header + 4) != SHT_SYMTAB) continue;
        std::uint32_t symtab = area.word(header + 16), symtabSize = area.word(header + 20), link = area.word(header + 24);
        if (link >= count || !area.has(symtab, symtabSize)) return table;
        std::uint32_t strings = sections + link * SECTION_HEADER_SIZE;
        std::uint32_t strtab = area.word(strings + 16), strtabSize = area.word(strings + 20);
        if (!area.has(strtab, strtabSize)) return table;
        for (std::uint32_t at = symtab; symtabSize - (at - symtab) >= SYMBOL_SIZE; at += SYMBOL_SIZE) {
            std::uint32_t nameAt = area.word(at), value = area.word(at + 4), size = area.word(at + 8);
            std::uint8_t type = area.byte(at + 12) & 0xF;
            std::uint16_t section = area.half(at + 14);
            // Functions, objects and plain labels that are defined somewhere.
            if (section == 0 || type > 2 || nameAt >= strtabSize) continue;
            std::string name;
            for (std::uint32_t k = strtab + nameAt; k < strtab + strtabSize && name.size() < MAX_NAME; ++k) {
                char c = static_cast<char>(area.byte(k));
                if (!c) break;
                name += c;
            }
            // "$a", "$d" and "$t" mark code and data, not places.
            if (name.empty() || name[0] == '$') continue;
            table.symbols_.push_back({value, size, name});
        }
        break;
    }
    return table;
}

std::string KernelSymbols::nameOf(std::uint32_t address,
                                  const std::function<std::uint32_t(std::uint32_t)>& place) const {
    const Symbol* best = nullptr;
    std::uint32_t bestAt = 0;
    for (const Symbol& s : symbols_) {
        std::uint32_t at = place(s.value);
        if (at > address || (s.size && address - at >= s.size)) continue;
        // The nearest below; of two at one address, the one with a size.
        if (!best || at > bestAt || (at == bestAt && s.size && !best->size)) {
            best = &s;
            bestAt = at;
        }
    }
    if (!best) return "";
    char offset[16];
    std::snprintf(offset, sizeof offset, "+0x%x", address - bestAt);
    return best->name + offset;
}

}  // namespace quorvel::app
