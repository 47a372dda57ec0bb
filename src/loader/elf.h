// The 32-bit ELF record layouts the kernel loader reads and writes.
#pragma once

#include <cstdint>

namespace quorvel {

constexpr int EI_CLASS = 4;
constexpr int EI_DATA = 5;
constexpr std::uint8_t ELFCLASS32 = 1;
constexpr std::uint8_t ELFDATA2LSB = 1;
constexpr std::uint16_t ET_EXEC = 2;
constexpr std::uint16_t EM_ARM = 40;
constexpr std::uint32_t PT_LOAD = 1;

struct Elf32Ehdr {
    std::uint8_t e_ident[16];
    std::uint16_t e_type;
    std::uint16_t e_machine;
    std::uint32_t e_version;
    std::uint32_t e_entry;
    std::uint32_t e_phoff;
    std::uint32_t e_shoff;
    std::uint32_t e_flags;
    std::uint16_t e_ehsize;
    std::uint16_t e_phentsize;
    std::uint16_t e_phnum;
    std::uint16_t e_shentsize;
    std::uint16_t e_shnum;
    std::uint16_t e_shstrndx;
};
static_assert(sizeof(Elf32Ehdr) == 52);

struct Elf32Phdr {
    std::uint32_t p_type;
    std::uint32_t p_offset;
    std::uint32_t p_vaddr;
    std::uint32_t p_paddr;
    std::uint32_t p_filesz;
    std::uint32_t p_memsz;
    std::uint32_t p_flags;
    std::uint32_t p_align;
};
static_assert(sizeof(Elf32Phdr) == 32);

struct Elf32Shdr {
    std::uint32_t sh_name;
    std::uint32_t sh_type;
    std::uint32_t sh_flags;
    std::uint32_t sh_addr;
    std::uint32_t sh_offset;
    std::uint32_t sh_size;
    std::uint32_t sh_link;
    std::uint32_t sh_info;
    std::uint32_t sh_addralign;
    std::uint32_t sh_entsize;
};
static_assert(sizeof(Elf32Shdr) == 40);

}  // namespace quorvel
