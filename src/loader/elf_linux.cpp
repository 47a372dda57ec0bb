// What marks an ELF kernel as Linux: the section of processor descriptions that only
// Linux's ARM kernel has, named ".init.proc.info" since Linux 3.x (".proc.info.init"
// inside older kernels' init section). A stripped vmlinux keeps its section headers.
#include <cstring>
#include <memory>
#include <new>

#include "loader/elf_loader.h"

namespace quorvel {

namespace {

constexpr std::uint32_t SECTION_NAMES_LIMIT = 0x10000;
const char* const linuxSections[] = {".init.proc.info", ".proc.info.init"};

}  // namespace

const ce::WCHAR* ElfLoader::linuxMark() {
    if (!sectionHeaders || header.e_shentsize != sizeof(Elf32Shdr) || header.e_shstrndx >= header.e_shnum) return nullptr;
    const Elf32Shdr names = sectionHeader(header.e_shstrndx);
    if (names.sh_size == 0 || names.sh_size > SECTION_NAMES_LIMIT) return nullptr;
    std::unique_ptr<char[]> text(new (std::nothrow) char[names.sh_size + 1]);
    if (!text || !readExactly(text.get(), names.sh_size, names.sh_offset)) return nullptr;
    text[names.sh_size] = 0;
    for (int i = 0; i < header.e_shnum; ++i) {
        const Elf32Shdr section = sectionHeader(i);
        if (section.sh_name >= names.sh_size) continue;
        for (const char* wanted : linuxSections)
            if (std::strcmp(text.get() + section.sh_name, wanted) == 0)
                return wanted[1] == 'i' ? u"an ELF kernel with the section .init.proc.info"
                                        : u"an ELF kernel with the section .proc.info.init";
    }
    return nullptr;
}

}  // namespace quorvel
