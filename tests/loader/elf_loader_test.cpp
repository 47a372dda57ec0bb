// The ELF loader on kernels made by the ARM toolchain: the header checks, the memory
// estimate, the segments at their physical addresses and the ksyms area behind them,
// read back from simulated RAM and examined with readelf.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>

#include "loader/elf_loader.h"
#include "loader_fixture.h"

using quorvel::ElfLoader;

namespace {

std::string run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

std::string readelf(const std::string& options, const std::string& path) {
    return run(std::string(ARM_READELF) + " -W " + options + " '" + path + "' 2>/dev/null");
}

struct Segment {
    std::uint32_t offset, vaddr, paddr, fileSize, memSize;
};
struct Section {
    std::uint32_t offset, size;
};

// What readelf says about a kernel file: its loadable segments, sections and entry.
struct ElfFacts {
    std::vector<Segment> loads;
    std::map<std::string, Section> sections;
    int sectionCount = 0;
    std::uint32_t entry = 0;
};

std::uint32_t hex(const std::string& text) { return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16)); }

ElfFacts factsOf(const std::string& path) {
    ElfFacts facts;
    const std::string headers = readelf("-h -l -S", path);
    std::smatch m;
    const std::regex load(R"(\n\s*LOAD\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+))");
    for (auto it = std::sregex_iterator(headers.begin(), headers.end(), load); it != std::sregex_iterator(); ++it)
        facts.loads.push_back({hex((*it)[1]), hex((*it)[2]), hex((*it)[3]), hex((*it)[4]), hex((*it)[5])});
    const std::regex section(R"(\[\s*(\d+)\]\s+(\S+)\s+\S+\s+[0-9a-f]+\s+([0-9a-f]+)\s+([0-9a-f]+))");
    for (auto it = std::sregex_iterator(headers.begin(), headers.end(), section); it != std::sregex_iterator(); ++it)
        facts.sections[(*it)[2]] = {hex((*it)[3]), hex((*it)[4])};
    if (std::regex_search(headers, m, std::regex(R"(Number of section headers:\s+(\d+))"))) facts.sectionCount = std::stoi(m[1]);
    if (std::regex_search(headers, m, std::regex(R"(Entry point address:\s+0x([0-9a-f]+))"))) facts.entry = hex(m[1]);
    return facts;
}

// readelf's section table with the file-offset column blanked: the ksyms area keeps
// every section header but its own offsets.
std::vector<std::string> sectionTableWithoutOffsets(const std::string& path) {
    std::vector<std::string> rows;
    std::istringstream text(readelf("-S", path));
    std::string line;
    std::size_t offsetColumn = std::string::npos;
    while (std::getline(text, line)) {
        if (line.find("[Nr]") != std::string::npos) offsetColumn = line.find(" Off ") + 1;
        if (offsetColumn == std::string::npos || line.find("]") == std::string::npos || line.find("[Nr]") != std::string::npos)
            continue;
        if (line.size() > offsetColumn + 6) line.replace(offsetColumn, 6, "------");
        rows.push_back(line);
    }
    return rows;
}

std::string symbolTable(const std::string& path) { return readelf("-s", path); }

std::string text(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

constexpr std::uint32_t round4(std::uint32_t n) { return (n + 3) & ~3u; }

std::string kernelPath(const std::string& name) { return std::string(LOADER_TEST_KERNELS) + "/" + name; }

// Offsets of header fields in a 32-bit ELF file.
constexpr std::size_t E_TYPE = 16, E_PHOFF = 28, E_SHOFF = 32, E_PHENTSIZE = 42, E_PHNUM = 44, E_SHENTSIZE = 46,
                      E_SHNUM = 48, E_SHSTRNDX = 50;
constexpr std::size_t P_TYPE = 0, P_OFFSET = 4, P_PADDR = 12, P_FILESZ = 16, P_MEMSZ = 20;
constexpr std::size_t SH_NAME = 0, SH_OFFSET = 16, SH_SIZE = 20;

std::size_t programHeaderAt(const std::string& elf, int i) { return get32(elf, E_PHOFF) + 32u * i; }
std::size_t sectionHeaderAt(const std::string& elf, int i) { return get32(elf, E_SHOFF) + 40u * i; }

int sectionIndex(const std::string& elf, const std::string& name) {
    const std::size_t names = get32(elf, sectionHeaderAt(elf, get16(elf, E_SHSTRNDX)) + SH_OFFSET);
    for (int i = 0; i < get16(elf, E_SHNUM); ++i)
        if (std::string(elf.c_str() + names + get32(elf, sectionHeaderAt(elf, i) + SH_NAME)) == name) return i;
    return -1;
}

int loadIndex(const std::string& elf, int n) {
    for (int i = 0, seen = 0; i < get16(elf, E_PHNUM); ++i)
        if (get32(elf, programHeaderAt(elf, i) + P_TYPE) == 1 && seen++ == n) return i;
    return -1;
}

enum class Source { Memory, Card, CardGzip };
void PrintTo(Source source, std::ostream* out) {
    *out << (source == Source::Memory ? "Memory" : source == Source::Card ? "StorageCard" : "StorageCardGzip");
}

class ElfLoaderTest : public LoaderTest {
protected:
    void open(const std::string& bytes, Source source = Source::Memory) {
        if (source == Source::Memory) {
            serve(bytes);
            return;
        }
        if (source == Source::Card) serveFromCard("kernel", bytes);
        else serveFromCard("kernel.gz", testKernel("kernel.elf.gz"));
    }

    int attach() {
        loader = std::make_unique<ElfLoader>(consoleSlot, memoryManagerSlot);
        // As the boot context makes it, from the options.
        loader->messageOwner = quorvel::theBootMenu().mainWindowHandle();
        loader->safetyMessage = quorvel::theBootMenu().safetyMessage;
        return loader->attachFile(fileManagerSlot);
    }

    // A pool of exactly the pages the estimate promises, plus the list's head page.
    void poolFor(std::uint32_t needed) {
        const std::uint32_t rounded = (needed + 4095) / 4096 * 4096;
        makePool((rounded + 4079) / 4080 + 1);
    }

    // The pieces of the one size line, joined.
    std::string sizeLine() const {
        std::string line;
        bool inLine = false;
        for (const std::string& entry : logLines()) {
            if (entry == "file size: ") inLine = true;
            if (!inLine) continue;
            line += entry;
            if (!entry.empty() && entry.back() == '\n') break;
        }
        return line;
    }

    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : logLines())
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        return found;
    }

    // Loads and hands over: attach, estimate, pool, load, finish, walk.
    testing_support::PageLinkWalk loadAndWalk(std::uint32_t& needed) {
        EXPECT_EQ(attach(), 1);
        makePool(1);  // neededMemory only reads the page size
        needed = loader->neededMemory();
        poolFor(needed);
        EXPECT_EQ(loader->load(), 1);
        loader->finishLinks();
        return walk(loader->linkHead());
    }

    std::unique_ptr<ElfLoader> loader;
};

TEST_F(ElfLoaderTest, RefusesWhatIsNotAnArmExecutable) {
    const std::string kernel = testKernel("kernel.elf");
    auto patched = [&](auto change) {
        std::string bytes = kernel;
        change(bytes);
        return bytes;
    };
    const int data = loadIndex(kernel, 2);
    const struct {
        const char* name;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"text file", "#!/bin/sh\nexec true\n", "not a ELF file.\n"},
        {"header cut short", kernel.substr(0, 40), "not a ELF file.\n"},
        {"x86-64 executable", testKernel("x86-64.elf"), "invalid class/data(2/1)\n"},
        {"big-endian ARM executable", testKernel("big-endian.elf"), "invalid class/data(1/2)\n"},
        {"x86 executable", testKernel("x86.elf"), "not a native architecture. machine = 3\n"},
        {"ARM shared object", testKernel("shared.elf"), "not a executable file. type = 3\n"},
        {"17 program headers", testKernel("segments17.elf"), "invalid program header information.\n"},
        {"no program headers", patched([](std::string& b) { put16(b, E_PHNUM, 0); }), "invalid program header information.\n"},
        {"64-bit program header size", patched([](std::string& b) { put16(b, E_PHENTSIZE, 56); }),
         "invalid program header information.\n"},
        {"program header offset 0", patched([](std::string& b) { put32(b, E_PHOFF, 0); }),
         "invalid program header information.\n"},
        {"program headers beyond the file", patched([](std::string& b) { put32(b, E_PHOFF, 0xFFFFFFF0); }),
         "program header read error.\n"},
        {"section headers beyond the file", patched([](std::string& b) { put32(b, E_SHOFF, 0xFFFFFF00); }),
         "section header read error.\n"},
        {"file cut inside the section headers", kernel.substr(0, kernel.size() - 20), "section header read error.\n"},
        {"segment beyond the file",
         patched([&](std::string& b) { put32(b, programHeaderAt(b, data) + P_OFFSET, 0x7FFFFF00); }),
         "seg[3] file range 0x7fffff00+0x138c beyond end of file.\n"},
        {"segment wrapping the address space",
         patched([&](std::string& b) {
             put32(b, programHeaderAt(b, data) + P_PADDR, 0xFFFFF000);
             put32(b, programHeaderAt(b, data) + P_MEMSZ, 0x2000);
         }),
         "seg[3] 0xfffff000+0x2000 wraps the address space.\n"},
        {"segment at an unaligned address",
         patched([&](std::string& b) { put32(b, programHeaderAt(b, data) + P_PADDR, 0xC000A002); }),
         "seg[3] paddr 0xc000a002 is not word aligned.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        open(c.bytes);
        EXPECT_EQ(attach(), 0);
        ASSERT_FALSE(logLines().empty());
        EXPECT_EQ(logLines().back(), c.message);
    }
}

TEST_F(ElfLoaderTest, SegmentsBeyondAnyHandheldsMemoryAreRefused) {
    std::string kernel = testKernel("kernel.elf");
    for (int n = 0; n < 3; ++n) {
        const std::size_t at = programHeaderAt(kernel, loadIndex(kernel, n));
        put32(kernel, at + P_OFFSET, 0);
        put32(kernel, at + P_FILESZ, 0x20000000);
        put32(kernel, at + P_MEMSZ, 0x20000000);
    }
    serve(kernel).claimedSize = 0x7FFFFFFF;
    EXPECT_EQ(attach(), 0);
    EXPECT_EQ(logLines().back(), "segments of more than 0x40000000 bytes cannot be loaded.\n");
}

TEST_F(ElfLoaderTest, SixteenProgramHeadersAreAccepted) {
    open(testKernel("segments16.elf"));
    std::uint32_t needed = 0;
    const auto walked = loadAndWalk(needed);
    ASSERT_TRUE(walked.ok) << walked.error;
    EXPECT_EQ(linesStartingWith("seg[").size(), 3u);
}

class ElfLoaderSources : public ElfLoaderTest, public ::testing::WithParamInterface<Source> {};

TEST_P(ElfLoaderSources, PlacesSegmentsAndTheKsymsAreaBehindTheKernel) {
    const std::string path = kernelPath("kernel.elf");
    const std::string kernel = testKernel("kernel.elf");
    const ElfFacts facts = factsOf(path);
    ASSERT_EQ(facts.loads.size(), 3u);
    open(kernel, GetParam());
    const Segment& last = facts.loads.back();
    paint(0xC0008000, 0x10000);

    std::uint32_t needed = 0;
    const auto walked = loadAndWalk(needed);
    ASSERT_TRUE(walked.ok) << walked.error;
    EXPECT_TRUE(logged("Loader: ELF\n"));

    // The size line: segment file sizes, the ksyms block, one spare page of data per
    // segment, one more for a cleared part, two for the ksyms pieces.
    const Section symtab = facts.sections.at(".symtab");
    const Section strtab = facts.sections.at(".strtab");
    const std::uint32_t B = 52 + 40 * facts.sectionCount + round4(facts.sections.at(".shstrtab").size);
    const std::uint32_t area = B + round4(symtab.size) + strtab.size;
    std::uint32_t total = area;
    std::uint32_t extra = 2 * 4080;
    std::string sizes;
    for (const Segment& s : facts.loads) {
        char piece[32];
        std::snprintf(piece, sizeof piece, "%s0x%x", sizes.empty() ? "" : "+", s.fileSize);
        sizes += piece;
        total += (s.fileSize + 4095) / 4096 * 4096;
        extra += s.fileSize < s.memSize ? 2 * 4080 : 4080;
    }
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "file size: %s+[ksyms: header 0x%x, symtab 0x%x, strtab 0x%x = 0x%x]+[extra: 0x%x] = 0x%x bytes\n",
                  sizes.c_str(), B, symtab.size, strtab.size, area, extra, total + extra);
    EXPECT_EQ(sizeLine(), expected);
    EXPECT_EQ(needed, total + extra);

    // Segments in table order, numbered by their place in the whole table (the note
    // between text and read-only data is skipped), each at its physical address.
    std::vector<std::string> segLines;
    for (int n = 0; n < 3; ++n) {
        const Segment& s = facts.loads[n];
        char line[128];
        std::snprintf(line, sizeof line, "seg[%d] paddr 0x%08x file size 0x%x mem size 0x%x\n", loadIndex(kernel, n),
                      s.paddr, s.fileSize, s.memSize);
        segLines.push_back(line);
        SCOPED_TRACE(line);
        EXPECT_EQ(physical(s.paddr, s.fileSize), kernel.substr(s.offset, s.fileSize));
        EXPECT_EQ(physical(s.paddr + s.fileSize, s.memSize - s.fileSize), std::string(s.memSize - s.fileSize, '\0'));
    }
    EXPECT_EQ(linesStartingWith("seg["), segLines);
    EXPECT_EQ(segLines[1].substr(0, 6), "seg[2]");
    EXPECT_EQ(loggedCount("ksyms\n"), 1);

    // The ksyms area at K, the end of the last segment: an ELF image of its own whose
    // section table and symbols readelf reads as the kernel's own.
    const std::uint32_t K = last.paddr + round4(last.memSize);
    EXPECT_EQ(walked.entries.back().dst + walked.entries.back().size, K + area);
    const std::string ksyms = physical(K, area);
    EXPECT_EQ(get16(ksyms, E_PHNUM), 0);
    EXPECT_EQ(get32(ksyms, E_PHOFF), 0u);
    EXPECT_EQ(get32(ksyms, E_SHOFF), 52u);
    EXPECT_EQ(get32(ksyms, 24), 0u);  // e_entry
    EXPECT_EQ(get32(ksyms, sectionHeaderAt(ksyms, sectionIndex(kernel, ".symtab")) + SH_OFFSET), B);
    EXPECT_EQ(get32(ksyms, sectionHeaderAt(ksyms, sectionIndex(kernel, ".text")) + SH_OFFSET), 0u);
    testing_support::TempDir temp;
    const std::string areaPath = (temp.path() / "ksyms").string();
    std::ofstream(areaPath, std::ios::binary).write(ksyms.data(), static_cast<std::streamsize>(ksyms.size()));
    EXPECT_EQ(sectionTableWithoutOffsets(areaPath), sectionTableWithoutOffsets(path));
    EXPECT_FALSE(sectionTableWithoutOffsets(path).empty());
    EXPECT_EQ(symbolTable(areaPath), symbolTable(path));
    EXPECT_NE(symbolTable(path).find("kernelSum"), std::string::npos);

    EXPECT_EQ(loader->entryAddress(), facts.entry);
    char entryLine[64];
    std::snprintf(entryLine, sizeof entryLine, "kernel entry address: 0x%08x\n", facts.entry);
    EXPECT_EQ(logLines().back(), entryLine);
}

INSTANTIATE_TEST_SUITE_P(From, ElfLoaderSources, ::testing::Values(Source::Memory, Source::Card, Source::CardGzip),
                         ::testing::PrintToStringParamName());

TEST_F(ElfLoaderTest, KernelWithoutSymbolTablesLoadsWithoutKsyms) {
    std::string symtabOnly = testKernel("kernel.elf");
    {
        // Rename the string table so that only the symbol table is found.
        const std::size_t names = get32(symtabOnly, sectionHeaderAt(symtabOnly, get16(symtabOnly, E_SHSTRNDX)) + SH_OFFSET);
        const int strtab = sectionIndex(symtabOnly, ".strtab");
        symtabOnly[names + get32(symtabOnly, sectionHeaderAt(symtabOnly, strtab) + SH_NAME) + 6] = 'x';
    }
    const struct {
        const char* name;
        std::string bytes;
        bool safetyMessage;
    } cases[] = {
        {"stripped, with the safety message", testKernel("stripped.elf"), true},
        {"stripped, without it", testKernel("stripped.elf"), false},
        {"symbol table but no string table", symtabOnly, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        device->messageBoxes().clear();
        device->updatedWindows().clear();
        quorvel::theBootMenu().safetyMessage = c.safetyMessage;
        open(c.bytes);
        std::uint32_t needed = 0;
        const auto walked = loadAndWalk(needed);
        ASSERT_TRUE(walked.ok) << walked.error;
        EXPECT_EQ(sizeLine().find("ksyms"), std::string::npos) << sizeLine();
        EXPECT_EQ(loggedCount("ksyms\n"), 0);
        const ElfFacts facts = factsOf(kernelPath("kernel.elf"));
        const Segment& last = facts.loads.back();
        EXPECT_EQ(walked.entries.back().dst + walked.entries.back().size, last.paddr + last.memSize);

        const auto& boxes = device->messageBoxes().shown();
        if (c.safetyMessage) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, u"No symbol and/or string table in binary.\n(not fatal)");
            EXPECT_EQ(boxes[0].caption, u"Information");
            EXPECT_EQ(boxes[0].type, 0x40u);
            EXPECT_EQ(device->updatedWindows().size(), 1u);
        } else {
            EXPECT_TRUE(boxes.empty());
            EXPECT_TRUE(device->updatedWindows().empty());
        }
        memory.reset();
    }
}

TEST_F(ElfLoaderTest, KsymsFollowTheLastSegmentInTableOrderAtPhysicalAddresses) {
    const std::string path = kernelPath("reversed.elf");
    const std::string kernel = testKernel("reversed.elf");
    const ElfFacts facts = factsOf(path);
    ASSERT_EQ(facts.loads.size(), 2u);
    ASSERT_LT(facts.loads[1].paddr, facts.loads[0].paddr);
    ASSERT_NE(facts.loads[1].paddr, facts.loads[1].vaddr);
    open(kernel);
    std::uint32_t needed = 0;
    const auto walked = loadAndWalk(needed);
    ASSERT_TRUE(walked.ok) << walked.error;
    for (const Segment& s : facts.loads)
        EXPECT_EQ(physical(s.paddr, s.fileSize), kernel.substr(s.offset, s.fileSize));

    const std::uint32_t K = facts.loads[1].paddr + round4(facts.loads[1].memSize);
    const std::uint32_t B = 52 + 40 * facts.sectionCount + round4(facts.sections.at(".shstrtab").size);
    EXPECT_EQ(physical(K, 4), "\x7f" "ELF");
    EXPECT_TRUE(logged(text("\t->load 0x%08x+0x%08x=0x%08x\n", K, B, K + B)));
}

// Section information the loader cannot trust costs the symbols, never the boot.
TEST_F(ElfLoaderTest, UnusableSectionInformationLoadsWithoutKsyms) {
    const std::string kernel = testKernel("kernel.elf");
    const int symtab = sectionIndex(kernel, ".symtab");
    const int names = get16(kernel, E_SHSTRNDX);
    auto patched = [&](auto change) {
        std::string bytes = kernel;
        change(bytes);
        return bytes;
    };
    const struct {
        const char* name;
        std::string bytes;
        std::string reason;  // "" when the tables are simply not found
    } cases[] = {
        {"section header size 32", patched([](std::string& b) { put16(b, E_SHENTSIZE, 32); }),
         "+[no ksyms: section header size is not 40]"},
        {"no section headers", patched([](std::string& b) { put16(b, E_SHNUM, 0); }), "+[no ksyms: no section headers]"},
        {"name table index outside the table", patched([](std::string& b) { put16(b, E_SHSTRNDX, 200); }),
         "+[no ksyms: section name table index out of range]"},
        {"name table beyond the file",
         patched([&](std::string& b) { put32(b, sectionHeaderAt(b, names) + SH_OFFSET, 0x7FFFFFF0); }),
         "+[no ksyms: section name table beyond end of file]"},
        {"huge name table", patched([&](std::string& b) { put32(b, sectionHeaderAt(b, names) + SH_SIZE, 0xFFFFFFFF); }),
         "+[no ksyms: section name table beyond end of file]"},
        {"symbol table name outside the name table",
         patched([&](std::string& b) { put32(b, sectionHeaderAt(b, symtab) + SH_NAME, 0xFFFFFFFC); }), ""},
        {"symbol table name at the very end of the name table",
         patched([&](std::string& b) {
             put32(b, sectionHeaderAt(b, symtab) + SH_NAME, get32(b, sectionHeaderAt(b, names) + SH_SIZE) - 1);
         }),
         ""},
        {"symbol table beyond the file",
         patched([&](std::string& b) { put32(b, sectionHeaderAt(b, symtab) + SH_SIZE, 0xFFFFFF00); }),
         "+[no ksyms: symbol table beyond end of file]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        open(c.bytes);
        std::uint32_t needed = 0;
        const auto walked = loadAndWalk(needed);
        ASSERT_TRUE(walked.ok) << walked.error;
        EXPECT_LT(needed, 0x10000u);
        if (!c.reason.empty()) {
            EXPECT_TRUE(logged(c.reason)) << sizeLine();
        }
        EXPECT_EQ(sizeLine().find("[ksyms"), std::string::npos) << sizeLine();
        EXPECT_EQ(loggedCount("ksyms\n"), 0);
        EXPECT_EQ(walked.entries.back().src, quorvel::PAGE_LINK_ZERO);  // the bss is the last piece
        memory.reset();
    }
}

TEST_F(ElfLoaderTest, KernelWithoutLoadableSegmentIsRefusedByLoad) {
    std::string kernel = testKernel("kernel.elf");
    for (int i = 0; i < get16(kernel, E_PHNUM); ++i) put32(kernel, programHeaderAt(kernel, i) + P_TYPE, 4);
    open(kernel);
    ASSERT_EQ(attach(), 1);
    makePool(8);
    EXPECT_EQ(loader->load(), 0);
    EXPECT_EQ(logLines().back(), "no loadable segment in kernel.\n");
    EXPECT_EQ(memory->frontIndex(), 0);
}

// Segments that are all empty would make a list with no entry whose head link is never
// terminated: the load fails and says why.
TEST_F(ElfLoaderTest, KernelWhoseLoadableSegmentsAreAllEmptyIsRefusedByLoad) {
    std::string kernel = testKernel("stripped.elf");
    for (int i = 0; i < get16(kernel, E_PHNUM); ++i) {
        put32(kernel, programHeaderAt(kernel, i) + P_FILESZ, 0);
        put32(kernel, programHeaderAt(kernel, i) + P_MEMSZ, 0);
    }
    open(kernel);
    ASSERT_EQ(attach(), 1);
    makePool(1);
    poolFor(loader->neededMemory());
    EXPECT_EQ(loader->load(), 0);
    EXPECT_EQ(logLines().back(), "every loadable segment of the kernel is empty.\n");
    EXPECT_EQ(memory->frontIndex(), 0);
}

// A gzip kernel is good only if its data ends cleanly. Damage behind the section
// headers that end the file is met by their read; damage behind the kernel's last byte
// only by the load, which reads on to the end.
TEST_F(ElfLoaderTest, GzipKernelWhoseDataDoesNotEndCleanlyIsRefused) {
    const std::string packed = testKernel("kernel.elf.gz");
    const std::size_t n = packed.size();
    auto flipped = [&](std::size_t at) {
        std::string bytes = packed;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
        return bytes;
    };
    const struct {
        const char* name;
        std::string bytes;
        std::string frontLine;  // how the gzip front's line starts
        bool atAttach;
    } cases[] = {
        {"crc", flipped(n - 8), "kernel.gz: CRC mismatch", true},
        {"length", flipped(n - 4), "kernel.gz: length mismatch", true},
        {"trailer missing", packed.substr(0, n - 8), "kernel.gz: gzip trailer cut short", true},
        {"a second member cut short", packed + packed.substr(0, n / 2), "kernel.gz: data cut short", false},
        {"a second member's crc", packed + flipped(n - 5), "kernel.gz: CRC mismatch", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        serveFromCard("kernel.gz", c.bytes);
        if (c.atAttach) {
            EXPECT_EQ(attach(), 0);
            EXPECT_EQ(logLines().back(), "section header read error.\n");
        } else {
            ASSERT_EQ(attach(), 1);
            makePool(1);
            poolFor(loader->neededMemory());
            EXPECT_EQ(loader->load(), 0);
            // Somewhere in the second member, behind the kernel's last byte.
            ASSERT_EQ(linesStartingWith("read error after file offset 0x").size(), 1u);
            const std::string line = linesStartingWith("read error after file offset 0x")[0];
            EXPECT_GT(std::stoul(line.substr(29), nullptr, 16), testKernel("kernel.elf").size());
            EXPECT_EQ(line.substr(line.find(':')), ": the data does not end cleanly.\n");
            memory.reset();
        }
        EXPECT_FALSE(linesStartingWith(c.frontLine).empty()) << log.utf8();
    }
}

TEST_F(ElfLoaderTest, RunningOutOfPagesFailsTheLoad) {
    open(testKernel("kernel.elf"));
    ASSERT_EQ(attach(), 1);
    makePool(1);
    loader->neededMemory();
    makePool(3);
    EXPECT_EQ(loader->load(), 0);
    EXPECT_EQ(loggedCount("page insufficient.\n"), 1);
}

TEST_F(ElfLoaderTest, KernelThatDeliversLessThanItsSizeFailsTheLoad) {
    const std::string kernel = testKernel("kernel.elf");
    const int data = loadIndex(kernel, 2);
    BytesFile& file = serve(kernel);
    ASSERT_EQ(attach(), 1);
    // The file shrinks between the header checks and the load.
    file.bytes.resize(get32(kernel, programHeaderAt(kernel, data) + P_OFFSET) + 100);
    makePool(1);
    poolFor(loader->neededMemory());
    EXPECT_EQ(loader->load(), 0);
    EXPECT_FALSE(linesStartingWith("read error at file offset").empty());
}

TEST_F(ElfLoaderTest, TextFileProbesAsNotElfAndGzipKernelAsElf) {
    serve("plain text\n");
    EXPECT_EQ(quorvel::Loader::probeFormat(*fileManagerSlot), quorvel::LoaderFormat::Unknown);
    serve(testKernel("kernel.elf"));
    EXPECT_EQ(quorvel::Loader::probeFormat(*fileManagerSlot), quorvel::LoaderFormat::Elf);
    serveFromCard("kernel.gz", testKernel("kernel.elf.gz"));
    EXPECT_EQ(quorvel::Loader::probeFormat(*fileManagerSlot), quorvel::LoaderFormat::Elf);
}

}  // namespace
