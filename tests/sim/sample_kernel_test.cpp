// The sample kernel, entered through the emulated hand-over with a hand-built copy
// list, boot information page and symbol-table image, judges what it was given.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hardware/cpu_models.h"
#include "platform/cpu.h"
#include "sim/arm_images.h"
#include "loader/elf.h"
#include "loader/page_link.h"
#include "sim/emulator.h"
#include "support/device.h"
#include "support/case_names.h"

using quorvel::PageLink;
using testing_support::TestDevice;

namespace {

constexpr std::uint32_t END = quorvel::PAGE_LINK_END;
constexpr std::uint32_t ZERO = quorvel::PAGE_LINK_ZERO;
constexpr std::uint32_t CHUNK = 4096 - 16;  // data per pool page, as the loader packs it

std::vector<std::uint8_t> readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename T>
T at(const std::vector<std::uint8_t>& bytes, std::uint32_t offset) {
    T value{};
    if (offset <= bytes.size() && bytes.size() - offset >= sizeof value) std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

std::uint32_t align4(std::uint32_t value) { return (value + 3) & ~3u; }

struct Piece {
    std::uint32_t dst;
    std::vector<std::uint8_t> bytes;  // empty: clear `clear` bytes
    std::uint32_t clear = 0;
};

// What the ELF loader makes of a kernel: its loadable segments with their bss, then the
// symbol-table image at the end K of the last segment: the header, the section headers
// with offsets relative to K, the section names, the symbol table and its strings.
std::vector<Piece> kernelPieces(const std::vector<std::uint8_t>& elf, std::uint32_t& k) {
    using quorvel::Elf32Ehdr, quorvel::Elf32Phdr, quorvel::Elf32Shdr;
    std::vector<Piece> pieces;
    auto header = at<Elf32Ehdr>(elf, 0);
    for (std::uint32_t i = 0; i < header.e_phnum; ++i) {
        auto ph = at<Elf32Phdr>(elf, header.e_phoff + i * header.e_phentsize);
        if (ph.p_type != quorvel::PT_LOAD) continue;
        if (ph.p_filesz) pieces.push_back({ph.p_paddr, {elf.begin() + ph.p_offset, elf.begin() + ph.p_offset + ph.p_filesz}});
        if (ph.p_memsz > ph.p_filesz) pieces.push_back({ph.p_paddr + ph.p_filesz, {}, ph.p_memsz - ph.p_filesz});
        k = ph.p_paddr + align4(ph.p_memsz);
    }

    std::vector<Elf32Shdr> sections(header.e_shnum);
    for (std::uint32_t i = 0; i < header.e_shnum; ++i) sections[i] = at<Elf32Shdr>(elf, header.e_shoff + i * 40u);
    const Elf32Shdr names = sections.at(header.e_shstrndx);
    auto nameOf = [&](const Elf32Shdr& s) { return std::string(reinterpret_cast<const char*>(elf.data() + names.sh_offset + s.sh_name)); };
    Elf32Shdr symtab{}, strtab{};
    for (const Elf32Shdr& s : sections) {
        if (nameOf(s) == ".symtab") symtab = s;
        if (nameOf(s) == ".strtab") strtab = s;
    }

    const std::uint32_t h = 52 + header.e_shnum * 40u, b = h + align4(names.sh_size);
    std::vector<std::uint8_t> block(b, 0);
    Elf32Ehdr copy = header;
    copy.e_entry = 0;
    copy.e_phoff = 0;
    copy.e_shoff = 52;
    copy.e_phnum = 0;
    std::memcpy(block.data(), &copy, 52);
    for (std::uint32_t i = 0; i < header.e_shnum; ++i) {
        Elf32Shdr s = sections[i];
        std::string name = nameOf(s);
        s.sh_offset = i == header.e_shstrndx ? h : name == ".symtab" ? b : name == ".strtab" ? b + align4(symtab.sh_size) : 0;
        std::memcpy(block.data() + 52 + i * 40u, &s, 40);
    }
    std::copy_n(elf.begin() + names.sh_offset, names.sh_size, block.begin() + h);

    pieces.push_back({k, block});
    pieces.push_back({k + b, {elf.begin() + symtab.sh_offset, elf.begin() + symtab.sh_offset + symtab.sh_size}});
    pieces.push_back({k + b + align4(symtab.sh_size),
                      {elf.begin() + strtab.sh_offset, elf.begin() + strtab.sh_offset + strtab.sh_size}});
    return pieces;
}

using testing_support::PrintTo;
struct Cpu {
    const char* name;
    sim::CpuFamily family;
    std::uint32_t mainId;
    std::uint32_t ram;
    const quorvel::ArmImage* loader;
    void (*flatJump)(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    std::uint32_t platformCpu, platformMachine;
    const char* where;  // the kernel's first report line
};

const Cpu CPUS[] = {
    {"SA11x0", sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1110, 0xC0000000, &quorvel::secondStageImage_sa11x0,
     quorvel::FlatJump_sa11x0, quorvel::CPU_WORD_SA1110, 0x02C20201,
     "sample kernel at 0xC0200000 linked at 0xC0200000 on SA-11x0"},
    {"PXA2x0", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA270, 0xA0000000, &quorvel::secondStageImage_pxa2x0,
     quorvel::FlatJump_pxa2x0, quorvel::CPU_WORD_PXA270, 0x01040200,
     "sample kernel at 0xA0200000 linked at 0xC0200000 on PXA-2x0"},
};

// How a boot is spoiled for the kernel to notice.
enum class Spoil { Nothing, BootInfoMagic, Bss };

struct Scenario {
    const char* name;
    Spoil spoil;
};

class SampleKernelTest : public testing::TestWithParam<Cpu> {
protected:
    SampleKernelTest() : device(settings()) {}

    sim::DeviceSettings settings() const {
        sim::DeviceSettings s;
        s.cpu = GetParam().family;
        s.mainId = GetParam().mainId;
        return s;
    }
    const Cpu& cpu() const { return GetParam(); }
    std::uint8_t* host(std::uint32_t address) { return device->memory().host(sim::PhysicalAddress(address)); }
    void put(std::uint32_t address, std::uint32_t value) { device->memory().writeWord(sim::PhysicalAddress(address), value); }

    // Lays the pieces into pages of CHUNK bytes with a link in each page's head, like the
    // loader, fills the boot information page and makes the flat jump.
    sim::HandOverResult boot(Spoil spoil, const std::vector<std::string>& args) {
        std::vector<std::uint8_t> elf = readFile(QUORVEL_SAMPLE_KERNEL);
        EXPECT_GT(elf.size(), 52u);
        std::uint32_t k = 0;
        std::vector<Piece> pieces = kernelPieces(elf, k);
        auto header = at<quorvel::Elf32Ehdr>(elf, 0);

        std::uint32_t page = cpu().ram + 0x01000000;
        const std::uint32_t head = page;
        std::uint32_t open = head;  // the entry to be written next
        std::uint32_t spare = head + 16;
        std::vector<std::pair<std::uint32_t, PageLink>> entries;
        page += 4096;
        for (const Piece& piece : pieces) {
            if (piece.bytes.empty()) {
                if (spoil == Spoil::Bss) {
                    // No clearing, and something left where the bss goes.
                    std::uint32_t folded = cpu().family == sim::CpuFamily::PXA2x0 ? 0xA0000000 | (piece.dst & 0xFFFFFF) : piece.dst;
                    std::memset(host(folded), 0x5A, piece.clear);
                    continue;
                }
                entries.push_back({open, {spare, ZERO, piece.dst, piece.clear}});
                open = spare;
                spare += 16;
                continue;
            }
            for (std::uint32_t done = 0; done < piece.bytes.size(); done += CHUNK) {
                const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(CHUNK, piece.bytes.size() - done));
                std::memcpy(host(page + 16), piece.bytes.data() + done, n);
                entries.push_back({open, {page, page + 16, piece.dst + done, n}});
                open = page;
                page += 4096;
            }
        }
        entries.back().second.next = END;
        for (auto& [address, entry] : entries) std::memcpy(host(address), &entry, sizeof entry);

        // The boot information page: call record, BootInfo, argv, strings.
        const std::uint32_t p = cpu().ram + 0x01F02000;
        put(p, header.e_entry);
        put(p + 4, static_cast<std::uint32_t>(args.size()));
        put(p + 8, p + 52);
        put(p + 12, p + 16);
        std::uint8_t info[36] = {};
        auto set16 = [&](int offset, std::uint16_t v) { std::memcpy(info + offset, &v, 2); };
        auto set32 = [&](int offset, std::uint32_t v) { std::memcpy(info + offset, &v, 4); };
        set16(0, 36);
        set32(4, spoil == Spoil::BootInfoMagic ? 0x13536136 : 0x13536135);
        set32(8, 0x48200000);
        set16(12, 1280);
        set16(14, 640);
        set16(16, 240);
        set16(18, 5);
        set16(20, 2);
        set32(24, cpu().platformCpu);
        set32(28, cpu().platformMachine);
        set32(32, static_cast<std::uint32_t>(-540));
        std::memcpy(host(p + 16), info, sizeof info);
        std::uint32_t string = p + 116;
        for (std::size_t i = 0; i < args.size(); ++i) {
            put(p + 52 + 4 * static_cast<std::uint32_t>(i), string);
            std::memcpy(host(string), args[i].c_str(), args[i].size() + 1);
            string += static_cast<std::uint32_t>(args[i].size()) + 1;
        }

        const std::uint32_t loaderPage = cpu().ram + 0x01F00000;
        std::memcpy(host(loaderPage), cpu().loader->bytes, cpu().loader->size);
        device->cpu().kernelMode = true;
        device->cpu().emulation.instructionBudget = 20'000'000;
        auto result = sim::runBoot([&] { cpu().flatJump(p, head, cpu().ram + 0x01F02000, loaderPage); });
        if (!result) {
            ADD_FAILURE() << "the flat jump came back";
            return {};
        }
        return *result;
    }

    std::vector<std::string> lines() {
        std::vector<std::string> out;
        std::string sent = device->uart()->sent();
        for (std::size_t start = 0; start < sent.size();) {
            std::size_t end = sent.find("\r\n", start);
            if (end == std::string::npos) {
                out.push_back(sent.substr(start) + "<no CR LF>");
                break;
            }
            out.push_back(sent.substr(start, end - start));
            start = end + 2;
        }
        return out;
    }

    bool has(const std::string& line) {
        auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }

    TestDevice device;
};

TEST_P(SampleKernelTest, AcceptsACompleteHandOver) {
    sim::HandOverResult result = boot(Spoil::Nothing, {"tamsel", "h", "b=sd0", "-x"});
    EXPECT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
    std::vector<std::string> report = lines();
    ASSERT_FALSE(report.empty()) << "no output";
    EXPECT_EQ(report.front(), cpu().where);
    EXPECT_EQ(report.back(), "OK") << device->uart()->sent();
    const std::vector<std::string> expected = {
        "data \"quorvel sample kernel\"",
        "argc 4",
        "argv[0] \"tamsel\"",
        "argv[1] \"h\"",
        "argv[2] \"b=sd0\"",
        "argv[3] \"-x\"",
        "bootinfo length 36 magic 0x13536135",
        "bootinfo framebuffer 0x48200000 linebytes 1280 width 640 height 240 type 5",
        "check bss: ok",
        "check data: ok",
        "check argv: ok",
        "check bootinfo: ok",
        "check ksyms: ok",
        "check stack: ok",
    };
    for (const std::string& line : expected) EXPECT_TRUE(has(line)) << line << "\n" << device->uart()->sent();
    char platform[96];
    std::snprintf(platform, sizeof platform, "bootinfo console 2 platform 0x%08X 0x%08X timezone -540", cpu().platformCpu,
                  cpu().platformMachine);
    EXPECT_TRUE(has(platform)) << platform;
}

TEST_P(SampleKernelTest, NoticesWhatWasSpoiled) {
    struct Case {
        const char* what;
        Spoil spoil;
        const char* line;
    };
    const Case cases[] = {
        {"a wrong BootInfo magic", Spoil::BootInfoMagic, "check bootinfo: FAIL magic"},
        {"a bss left dirty", Spoil::Bss, "check bss: FAIL not zero"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        device->uart()->clearSent();
        std::memset(host(GetParam().ram + 0x00200000), 0, 0x10000);
        sim::HandOverResult result = boot(c.spoil, {"tamsel"});
        EXPECT_EQ(result.reason, sim::HaltReason::Halted) << result.describe();
        EXPECT_TRUE(has(c.line)) << device->uart()->sent();
        ASSERT_FALSE(lines().empty());
        EXPECT_EQ(lines().back(), "FAIL");
    }
}

INSTANTIATE_TEST_SUITE_P(Cpus, SampleKernelTest, testing::ValuesIn(CPUS),
                         ::testing::PrintToStringParamName());

TEST(SampleKernelFiles, TheCompressedKernelInflatesToThePlainOne) {
    std::vector<std::uint8_t> plain = readFile(QUORVEL_SAMPLE_KERNEL);
    std::vector<std::uint8_t> packed = readFile(QUORVEL_SAMPLE_KERNEL_GZ);
    ASSERT_GE(packed.size(), 18u);
    EXPECT_EQ(packed[0], 0x1F);
    EXPECT_EQ(packed[1], 0x8B);
    std::vector<std::uint8_t> inflated(plain.size() + 1);
    z_stream stream{};
    ASSERT_EQ(inflateInit2(&stream, 16 + MAX_WBITS), Z_OK);
    stream.next_in = packed.data();
    stream.avail_in = static_cast<uInt>(packed.size());
    stream.next_out = inflated.data();
    stream.avail_out = static_cast<uInt>(inflated.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    inflated.resize(stream.total_out);
    inflateEnd(&stream);
    EXPECT_EQ(inflated, plain);
}

}  // namespace
