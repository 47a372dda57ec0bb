// Kernels entered with Linux's boot protocol, through the quorvel program as a user runs
// it: the project's Linux-protocol test kernel, as an ELF file, a zImage (plain and
// gzip) and a raw binary, checks r0, r1, the processor state, every tag, the command
// line and the initrd's bytes where its tag says, and prints OK. The report's tag list
// is read back beside what the kernel printed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "support/boot_harness.h"
#include "support/device.h"
#include "support/program_run.h"
#include "platform/coredll.h"
#include "sim/handheld.h"
#include "support/test_data.h"

using namespace testing_support;

namespace {

const std::string KERNEL = QUORVEL_LINUX_PROTOCOL_KERNEL;
const std::string INITRD = QUORVEL_LINUX_PROTOCOL_INITRD;
constexpr std::uint32_t INITRD_SIZE = 70001;

using Outcome = ProgramRun;


class LinuxBoot : public testing::Test {
protected:
    std::filesystem::path file(const std::string& name) const { return work.path() / name; }
    Outcome run(const std::vector<std::string>& args) {
        static int serial = 0;
        const std::string n = std::to_string(++serial);
        return runProgram(QUORVEL_PROGRAM, args, {.out = file("out" + n), .err = file("err" + n)});
    }
    TempDir work;
};

std::string hex(std::uint32_t v) {
    char t[16];
    std::snprintf(t, sizeof t, "0x%08x", v);
    return t;
}

const nlohmann::json* findTag(const nlohmann::json& tags, const std::string& name) {
    for (const nlohmann::json& t : tags)
        if (t["tag"] == name) return &t;
    return nullptr;
}

}  // namespace

// Every form of the kernel on both processors; the initrd plain and gzip. The raw
// binary is not recognisable, so it is given the protocol; the PXA-2x0 loader folds a
// raw image laid at an SA-11x0 address as it folds ELF destinations, and the tag
// carries the folded initrd address.
TEST_F(LinuxBoot, TheTestKernelFindsEveryTagAndTheInitrdWhereTheyAreSaid) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::uint32_t machine;
        bool initrd;
        std::string ramStart;
        std::string extraLine;  // printed by the kernel, "" for none
        std::string reason;     // in the log's protocol line
    };
    const std::vector<Case> cases = {
        // Its sizes table says 3 MB of kernel and 1 MB of bss at 0xC0008000: the
        // decompressor moves itself above those, so the image starts at 0xC0500000.
        {"zImage on collie with an initrd, above what its decompressor will write",
         {"--platform", "collie", KERNEL + ".zimage", "--image", INITRD},
         146, true, "0xc0000000", "ATAG_INITRD2 0xc0500000+0x00011171", "zImage"},
        {"gzip zImage on a Jornada 720: its screen in ATAG_VIDEOLFB",
         {"--platform", "HP Jornada 720 (US/UK)", KERNEL + ".zimage.gz"},
         48, false, "0xc0000000", "ATAG_VIDEOLFB 640x240x16 line 1280 at 0x48200000+0x0004b000", "zImage"},
        {"ELF vmlinux on spitz with a gzip initrd",
         {"--platform", "spitz", KERNEL, "--image", INITRD + ".gz"},
         713, true, "0xa0000000", "", ".init.proc.info"},
        {"raw binary on spitz at 0xA0008000",
         {"--platform", "spitz", KERNEL + ".bin", "--load-address", "0xA0008000", "--protocol", "linux", "--image", INITRD},
         713, true, "0xa0000000", "", "asked for"},
        {"raw binary laid at an SA-11x0 address on tosa, folded",
         {"--platform", "tosa", KERNEL + ".bin", "--load-address", "0xC0108000", "--protocol", "linux", "--image", INITRD},
         520, true, "0xa0000000", "linux protocol kernel at 0xa01", "asked for"},
        {"raw binary with its own entry and a machine number given",
         {"--platform", "collie", KERNEL + ".bin", "--load-address", "0xC0100000", "--entry", "0xC0100000", "--protocol",
          "linux", "--machine-number", "0x1234"},
         0x1234, false, "0xc0000000", "", "asked for"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string report = file("report.json").string();
        std::vector<std::string> args = {"boot", "--yes", "--log", "--json", report,
                                         "--extra", "lpk.machine=" + std::to_string(c.machine) +
                                                        (c.initrd ? " lpk.initrd=" + std::to_string(INITRD_SIZE) : "") +
                                                        " console=ttySA0,115200"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("\r\nOK\r\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("check kernel whole: ok"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("r0 0x00000000 r1 " + std::to_string(c.machine) + " "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("ATAG_MEM " + c.ramStart + "+0x02000000"), std::string::npos) << r.out;
        if (!c.extraLine.empty()) {
            EXPECT_NE(r.out.find(c.extraLine), std::string::npos) << r.out;
        }
        const std::size_t protocolLine = r.err.find("protocol: linux (");
        ASSERT_NE(protocolLine, std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason, protocolLine), std::string::npos) << r.err.substr(protocolLine, 200);

        nlohmann::json j = nlohmann::json::parse(readHostFile(file("report.json")));
        EXPECT_EQ(j["protocol"], "linux");
        EXPECT_EQ(j["run"]["emulator"], "unicorn");
        EXPECT_EQ(j["linux"]["r0"], 0);
        EXPECT_EQ(j["linux"]["machine_number"], c.machine);
        const nlohmann::json& tags = j["linux"]["tags"];
        ASSERT_GE(tags.size(), 4u);
        EXPECT_EQ(tags.front()["tag"], "ATAG_CORE");
        EXPECT_EQ(tags.back()["tag"], "ATAG_NONE");
        const nlohmann::json* line = findTag(tags, "ATAG_CMDLINE");
        ASSERT_NE(line, nullptr);
        // What the kernel printed is the list as the report read it back.
        EXPECT_NE(r.out.find("ATAG_CMDLINE \"" + (*line)["command_line"].get<std::string>() + "\""), std::string::npos);
        EXPECT_NE((*line)["command_line"].get<std::string>().find("console=ttySA0,115200"), std::string::npos);
        const nlohmann::json* initrd = findTag(tags, "ATAG_INITRD2");
        ASSERT_EQ(initrd != nullptr, c.initrd);
        if (c.initrd) {
            EXPECT_EQ((*initrd)["start"], j["image"]["start"]) << "the tag names where the image was placed";
            EXPECT_EQ((*initrd)["size"], INITRD_SIZE);
            EXPECT_EQ((*line)["command_line"].get<std::string>().rfind("root=/dev/ram0 ", 0), 0u);
            EXPECT_NE(r.out.find("ATAG_INITRD2 " + hex((*initrd)["start"].get<std::uint32_t>())), std::string::npos);
        }
    }
}

// The dry run shows the registers and the list the kernel would be given.
TEST_F(LinuxBoot, TheDryRunShowsTheRegistersAndTheTagList) {
    Outcome r = run({"boot", "--dry-run", "--platform", "collie", KERNEL + ".zimage", "--image", INITRD, "--extra", "quiet"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* line : {"protocol linux (the kernel is a zImage", "r0 0, r1 146 (machine number), r2 0x",
                             "tag list:\n  ATAG_CORE flags 0x0 pagesize 4096 rootdev 0x0\n  ATAG_MEM 0xc0000000+0x02000000\n"
                             "  ATAG_INITRD2 0xc",
                             "  ATAG_CMDLINE \"root=/dev/ram0 quiet\"\n  ATAG_NONE\n",
                             "boot information page (call record and tag list)"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
}

// What is refused before anything is loaded, and what the protocol choice does.
TEST_F(LinuxBoot, RefusalsAndTheProtocolChoiceAreSaid) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string said;  // in standard error
        std::string kernelSaid;
    };
    const std::vector<Case> cases = {
        {"a platform Linux has no number for",
         {"--platform", "Compaq iPAQ H3900", KERNEL + ".zimage"},
         1, "platform \"Compaq iPAQ H3900\" has no Linux machine number; give one with --machine-number", ""},
        {"the same with a number given",
         {"--platform", "Compaq iPAQ H3900", KERNEL + ".zimage", "--machine-number", "203", "--extra", "lpk.machine=203"},
         0, "machine number 203 (given)", "OK"},
        {"a raw binary without a load address", {"--platform", "collie", KERNEL + ".bin"}, 1,
         "unknown file format. (neither ELF nor a zImage: a raw binary boots with --load-address ADDR)", ""},
        {"an ELF kernel given a load address",
         {"--platform", "collie", KERNEL, "--load-address", "0xC0008000"},
         1, "an ELF kernel carries its own load address and entry", ""},
        {"a Linux kernel entered natively on request",
         {"--platform", "collie", KERNEL, "--protocol", "native", "--extra", "lpk.machine=146"},
         0, "protocol: native (asked for; the kernel is an ELF kernel with the section .init.proc.info)",
         "check r0: FAIL"},
        {"the sample kernel stays native", {"--platform", "collie", sampleKernelGzPath()}, 0,
         "protocol: native (the kernel is not recognised as Linux)", "\nOK"},
        {"a load address that is not word aligned", {"--platform", "collie", KERNEL + ".bin", "--load-address", "0xC0008002"},
         2, "must be word aligned", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = {"boot", "--yes", "--log"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        if (!c.kernelSaid.empty()) {
            EXPECT_NE(r.out.find(c.kernelSaid), std::string::npos) << r.out;
        }
    }
}

// From the window's options alone, with no flag: the kernel on the card is recognised
// and entered as Linux, the Main page's md root giving the initrd and root=/dev/ram0,
// the Option page's text the rest of the command line.
TEST(LinuxBootFromTheOptions, ARecognisedKernelIsEnteredAsLinux) {
    sim::DeviceSettings settings;
    settings.cpu = sim::CpuFamily::SA11x0;
    settings.mainId = sim::MAIN_ID_SA1110;
    TestDevice device(settings);
    device.writeFile("Storage Card/zImage.gz", readHostFile(KERNEL + ".zimage.gz"));
    device.writeFile("Storage Card/initrd", readHostFile(INITRD));
    BootRun run = bootOnDevice(device, [](quorvel::BootMenu& menu) {
        selectKernel(menu, u"Sharp Zaurus SL-5500 (collie)", u"\\Storage Card\\", u"zImage.gz");
        menu.rootFileSystem = quorvel::ROOT_MD;
        ce::wcsncpy(menu.fileSystemImage, u"initrd", quorvel::PATH_SIZE - 1);
        ce::wcsncpy(menu.extraKernelOptions, u"  lpk.machine=146\tlpk.initrd=70001 ", quorvel::EXTRA_OPTIONS_SIZE - 1);
    });
    SCOPED_TRACE(run.log + "\n--- uart ---\n" + run.uart);
    ASSERT_TRUE(run.handOver.has_value());
    EXPECT_TRUE(run.kernelOk());
    EXPECT_NE(run.log.find("protocol: linux (the kernel is a zImage"), std::string::npos);
    EXPECT_NE(run.log.find("machine number 146 (Sharp Zaurus SL-5500 (collie))"), std::string::npos);
    EXPECT_EQ(run.kernelLine("ATAG_CMDLINE"), "ATAG_CMDLINE \"root=/dev/ram0 lpk.machine=146\tlpk.initrd=70001\"");
}

// `quorvel options` shows what a Linux kernel would be given, without booting.
TEST_F(LinuxBoot, TheOptionsShowTheMachineNumberAndTheCommandLine) {
    Outcome r = run({"options", "--platform", "collie", "--root", "md", "--image", "ramdisk.fs", "--single-user", "--extra",
                     " console=ttySA0  root=/dev/mtdblock2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("linux machine      146 (the platform's)\n"), std::string::npos) << r.out;
    // The md root first, so that a root= of the user's own comes later and wins.
    EXPECT_NE(r.out.find("linux command line root=/dev/ram0 single console=ttySA0  root=/dev/mtdblock2\n"),
              std::string::npos)
        << r.out;
    r = run({"options", "--platform", "Compaq iPAQ H3900", "--root", "sd", "--protocol", "linux"});
    EXPECT_NE(r.out.find("protocol           linux (asked for)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("linux machine      none (give one with --machine-number)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("linux command line \n"), std::string::npos) << "sd has no Linux meaning\n" << r.out;
}
