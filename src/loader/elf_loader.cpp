// The ELF kernel loader: header checks, the memory estimate, the segments and the
// ksyms area behind the kernel.
#include "loader/elf_loader.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "base/bounded_reader.h"
#include "console/console.h"
#include "file/file_manager.h"
#include "memory/memory_manager.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

constexpr std::uint32_t EHDR_SIZE = sizeof(Elf32Ehdr);
constexpr std::uint32_t PHDR_SIZE = sizeof(Elf32Phdr);
constexpr std::uint32_t SHDR_SIZE = sizeof(Elf32Shdr);

constexpr std::uint64_t roundUp4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

}  // namespace

ElfLoader::ElfLoader(Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : Loader(consoleIn, memoryManagerIn) {
    console().print(u"Loader: ELF\n");
}

ElfLoader::~ElfLoader() = default;

Elf32Phdr ElfLoader::programHeader(int i) const {
    Elf32Phdr ph;
    std::memcpy(&ph, programHeaders.get() + static_cast<std::size_t>(i) * PHDR_SIZE, sizeof ph);
    return ph;
}

Elf32Shdr ElfLoader::sectionHeader(int i) const {
    Elf32Shdr sh;
    std::memcpy(&sh, sectionHeaders.get() + static_cast<std::size_t>(i) * SHDR_SIZE, sizeof sh);
    return sh;
}

int ElfLoader::checkHeader() {
    std::memset(&header, 0, sizeof header);
    const bool whole = readExactly(&header, EHDR_SIZE, 0);
    const std::uint8_t* id = header.e_ident;
    if (!whole || id[0] != 0x7F || id[1] != 'E' || id[2] != 'L' || id[3] != 'F') {
        console().print(u"not a ELF file.\n");
        return 0;
    }
    if (id[EI_DATA] != ELFDATA2LSB || id[EI_CLASS] != ELFCLASS32) {
        console().print(u"invalid class/data(%d/%d)\n", id[EI_CLASS], id[EI_DATA]);
        return 0;
    }
    if (header.e_machine != EM_ARM) {
        console().print(u"not a native architecture. machine = %d\n", header.e_machine);
        return 0;
    }
    if (header.e_type != ET_EXEC) {
        console().print(u"not a executable file. type = %d\n", header.e_type);
        return 0;
    }
    if (header.e_phoff == 0 || header.e_phnum < 1 || header.e_phnum > ELF_PROGRAM_HEADER_MAX ||
        header.e_phentsize != PHDR_SIZE) {
        console().print(u"invalid program header information.\n");
        return 0;
    }
    return 1;
}

int ElfLoader::attachFile(FileManager*& fileManagerSlot) {
    Loader::attachFile(fileManagerSlot);
    if (!checkHeader()) return 0;
    // The data's length is not asked for: of a gzip kernel that would cost a pass of
    // its own. Every range is checked by the reads that reach it instead.
    if (!readTables()) return 0;
    return checkSegments();
}

int ElfLoader::readTables() {
    sectionHeaders.reset();
    programHeaders.reset();

    // Section headers of another size cannot be read as such; the kernel then loads
    // without symbols (prepareSymbolBlock says so).
    const bool withSections = header.e_shnum != 0 && header.e_shentsize == SHDR_SIZE;
    const std::uint32_t sectionsSize = std::uint32_t{header.e_shnum} * SHDR_SIZE;
    if (withSections) {
        sectionHeaders.reset(new (std::nothrow) std::uint8_t[sectionsSize]);
        if (!sectionHeaders) {
            console().print(u"can't allocate section header table.\n");
            return 0;
        }
    }
    const std::uint32_t programsSize = std::uint32_t{header.e_phnum} * PHDR_SIZE;
    programHeaders.reset(new (std::nothrow) std::uint8_t[programsSize]);
    if (!programHeaders) {
        console().print(u"can't allocate program header table.\n");
        return 0;
    }

    // The program headers near the start first, so that a gzip kernel is read forwards.
    const bool programsRead = readExactly(programHeaders.get(), programsSize, header.e_phoff);
    if (withSections && !readExactly(sectionHeaders.get(), sectionsSize, header.e_shoff)) {
        console().print(u"section header read error.\n");
        return 0;
    }
    if (!programsRead) {
        console().print(u"program header read error.\n");
        return 0;
    }
    return 1;
}

int ElfLoader::checkSegments() {
    std::uint64_t total = 0;
    for (int i = 0; i < header.e_phnum; ++i) {
        const Elf32Phdr ph = programHeader(i);
        if (ph.p_type != PT_LOAD) continue;
        // Pieces are placed in whole words at word addresses.
        if (ph.p_paddr & 3) {
            console().print(u"seg[%d] paddr 0x%08x is not word aligned.\n", i, ph.p_paddr);
            return 0;
        }
        if (0xFFFFFFFFu - ph.p_paddr < ph.p_memsz) {
            console().print(u"seg[%d] 0x%08x+0x%x wraps the address space.\n", i, ph.p_paddr, ph.p_memsz);
            return 0;
        }
        total += ph.p_filesz;
    }
    if (total > KERNEL_SIZE_LIMIT) {
        console().print(u"segments of more than 0x%x bytes cannot be loaded.\n", KERNEL_SIZE_LIMIT);
        return 0;
    }
    // Usually the section headers, read already, lie behind every segment, and this
    // reads nothing.
    for (int i = 0; i < header.e_phnum; ++i) {
        const Elf32Phdr ph = programHeader(i);
        if (ph.p_type != PT_LOAD || ph.p_filesz == 0) continue;
        if (!reaches(std::uint64_t{ph.p_offset} + ph.p_filesz)) {
            console().print(u"seg[%d] file range 0x%x+0x%x beyond end of file.\n", i, ph.p_offset, ph.p_filesz);
            return 0;
        }
    }
    return 1;
}

std::uint32_t ElfLoader::neededMemory() {
    const std::uint32_t pageSize = memoryManager().pageSize;
    const std::uint32_t chunk = pageSize - 16;
    console().print(u"file size: ");
    std::uint32_t total = 0;
    std::uint32_t extra = 0;
    for (int i = 0; programHeaders && i < header.e_phnum; ++i) {
        const Elf32Phdr ph = programHeader(i);
        if (ph.p_type != PT_LOAD) continue;
        console().print(u"%s0x%x", total == 0 ? u"" : u"+", ph.p_filesz);
        total += (ph.p_filesz + pageSize - 1) / pageSize * pageSize;
        extra += chunk;
        if (ph.p_filesz < ph.p_memsz) extra += chunk;
    }
    const std::uint32_t k = prepareSymbolBlock();
    if (k != 0) {
        total += k;
        console().print(u" = 0x%x]", k);
        extra += 2 * chunk;
    }
    console().print(u"+[extra: 0x%x]", extra);
    console().print(u" = 0x%x bytes\n", total + extra);
    return total + extra;
}

void ElfLoader::dropSymbolBlock() {
    symbolBlock.reset();
    symbolsReady = false;
    strtabHeader = symtabHeader = nullptr;
    strtabOffset = symtabOffset = 0;
}

void ElfLoader::warn(const ce::WCHAR* text, const ce::WCHAR* caption, ce::UINT type) {
    ce::MessageBoxW(messageOwner, text, caption, type);
    ce::UpdateWindow(messageOwner);
}

std::uint32_t ElfLoader::withoutSymbols(const ce::WCHAR* reason) {
    if (reason) console().print(u"+[no ksyms: %s]", reason);
    if (safetyMessage)
        warn(u"No symbol and/or string table in binary.\n(not fatal)", u"Information", ce::MB_ICONINFORMATION);
    dropSymbolBlock();
    return 0;
}

std::uint32_t ElfLoader::prepareSymbolBlock() {
    dropSymbolBlock();
    symbolBlockSize = 0;

    if (header.e_shnum == 0) return withoutSymbols(u"no section headers");
    if (!sectionHeaders) return withoutSymbols(u"section header size is not 40");
    if (header.e_shstrndx >= header.e_shnum) return withoutSymbols(u"section name table index out of range");

    const Elf32Shdr names = sectionHeader(header.e_shstrndx);
    if (!reaches(std::uint64_t{names.sh_offset} + names.sh_size)) return withoutSymbols(u"section name table beyond end of file");

    // Each part lies inside the readable data (under 2 GiB); sums stay in 32 bits.
    const std::uint32_t T = std::uint32_t{header.e_shnum} * SHDR_SIZE;
    const std::uint32_t N = static_cast<std::uint32_t>(roundUp4(names.sh_size));
    const std::uint32_t H = EHDR_SIZE + T;
    const std::uint64_t B64 = std::uint64_t{H} + N;
    if (B64 > KERNEL_SIZE_LIMIT) return withoutSymbols(u"section name table too large");
    const std::uint32_t B = static_cast<std::uint32_t>(B64);
    symbolBlockSize = B;

    symbolBlock.reset(new (std::nothrow) std::uint8_t[B]);
    if (!symbolBlock) {
        warn(u"Can't determine symbol block size.", u"WARNING", ce::MB_ICONEXCLAMATION);
        return 0;
    }
    std::memset(symbolBlock.get(), 0, B);

    Elf32Ehdr copy = header;
    copy.e_phnum = 0;
    copy.e_entry = 0;
    copy.e_shoff = EHDR_SIZE;
    copy.e_phoff = 0;
    std::memcpy(symbolBlock.get(), &copy, sizeof copy);
    std::memcpy(symbolBlock.get() + EHDR_SIZE, sectionHeaders.get(), T);

    // Only the table's own bytes; the padding up to N stays zero.
    if (!readExactly(symbolBlock.get() + H, names.sh_size, names.sh_offset))
        return withoutSymbols(u"section name table read error");

    const char* nameTable = reinterpret_cast<const char*>(symbolBlock.get() + H);
    auto named = [&](std::uint32_t at, const char* wanted) {
        const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(wanted)) + 1;
        return fitsWithin(names.sh_size, at, length) && std::memcmp(nameTable + at, wanted, length) == 0;
    };

    std::uint32_t symtabSize = 0;
    std::uint32_t strtabSize = 0;
    for (int i = 0; i < header.e_shnum; ++i) {
        auto* sh = reinterpret_cast<Elf32Shdr*>(symbolBlock.get() + EHDR_SIZE + static_cast<std::size_t>(i) * SHDR_SIZE);
        if (named(sh->sh_name, ".strtab")) {
            strtabHeader = sh;
            strtabOffset = sh->sh_offset;
            strtabSize = sh->sh_size;
        } else if (named(sh->sh_name, ".symtab")) {
            symtabHeader = sh;
            symtabOffset = sh->sh_offset;
            symtabSize = sh->sh_size;
        }
        sh->sh_offset = i == header.e_shstrndx ? H : 0;
    }

    if (!symtabHeader || !strtabHeader) return withoutSymbols(nullptr);
    if (!reaches(std::uint64_t{symtabOffset} + symtabSize)) return withoutSymbols(u"symbol table beyond end of file");
    if (!reaches(std::uint64_t{strtabOffset} + strtabSize)) return withoutSymbols(u"string table beyond end of file");
    const std::uint64_t strtabAt = B + roundUp4(symtabSize);
    const std::uint64_t area = strtabAt + strtabSize;
    if (area > KERNEL_SIZE_LIMIT) return withoutSymbols(u"symbol tables too large");

    symtabHeader->sh_offset = B;
    strtabHeader->sh_offset = static_cast<std::uint32_t>(strtabAt);
    symbolsReady = true;
    console().print(u"+[ksyms: header 0x%x, symtab 0x%x, strtab 0x%x", B, symtabSize, strtabSize);
    return static_cast<std::uint32_t>(area);
}

int ElfLoader::load() {
    int loadable = 0;
    int holdingData = 0;
    for (int i = 0; programHeaders && i < header.e_phnum; ++i) {
        const Elf32Phdr ph = programHeader(i);
        if (ph.p_type != PT_LOAD) continue;
        ++loadable;
        if (ph.p_filesz != 0 || ph.p_memsz != 0) ++holdingData;
    }
    // The second-stage loader performs the head entry unconditionally: an empty list
    // cannot be handed over.
    if (loadable == 0) {
        console().print(u"no loadable segment in kernel.\n");
        return 0;
    }
    if (holdingData == 0) {
        console().print(u"every loadable segment of the kernel is empty.\n");
        return 0;
    }

    startLinks();
    std::uint64_t kernelEnd = 0;
    for (int i = 0; i < header.e_phnum; ++i) {
        const Elf32Phdr ph = programHeader(i);
        if (ph.p_type != PT_LOAD) continue;
        console().print(u"seg[%d] paddr 0x%08x file size 0x%x mem size 0x%x\n", i, ph.p_paddr, ph.p_filesz, ph.p_memsz);
        loadSegment(ph.p_paddr, ph.p_memsz, ph.p_offset, ph.p_filesz);
        kernelEnd = ph.p_paddr + roundUp4(ph.p_memsz);
    }

    if (symbolsReady) {
        const std::uint64_t area = std::uint64_t{strtabHeader->sh_offset} + strtabHeader->sh_size;
        if (kernelEnd + area > 0x100000000ull) {
            console().print(u"no room for ksyms above 0x%08x; kernel symbols not loaded.\n",
                            static_cast<std::uint32_t>(kernelEnd));
            dropSymbolBlock();
        }
    }
    loadSymbolBlock(static_cast<std::uint32_t>(kernelEnd));
    if (error) return 0;
    // A gzip kernel proves intact only at its very end, behind the last byte used.
    return endsCleanly() ? 1 : 0;
}

void ElfLoader::loadSymbolBlock(std::uint32_t kernelEnd) {
    if (!symbolsReady) return;
    console().print(u"ksyms\n");
    const std::uint32_t symtabSize = symtabHeader->sh_size;
    const std::uint32_t strtabSize = strtabHeader->sh_size;
    loadMemory(kernelEnd, symbolBlockSize, symbolBlock.get());
    loadSegment(kernelEnd + symbolBlockSize, symtabSize, symtabOffset, symtabSize);
    loadSegment(kernelEnd + strtabHeader->sh_offset, strtabSize, strtabOffset, strtabSize);
}

std::uint32_t ElfLoader::entryAddress() {
    console().print(u"kernel entry address: 0x%08x\n", header.e_entry);
    return header.e_entry;
}

}  // namespace quorvel
