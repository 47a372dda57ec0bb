// Whole boots on simulated handhelds: options to the emulated kernel, whose report
// and the simulated memory judge the result.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <regex>
#include <string>

#include "boot/boot_menu.h"
#include "sim/handheld.h"
#include "support/boot_harness.h"
#include "support/device.h"
#include "support/test_data.h"
#include "support/case_names.h"

using namespace testing_support;

namespace {

using testing_support::PrintTo;
struct BootCase {
    const char* name;
    std::u16string platform;
    sim::CpuFamily cpu;
    std::uint32_t mainId;
    bool gzip;
    bool image;
    bool serialConsole;
};

class WholeBoot : public testing::TestWithParam<BootCase> {};

TEST_P(WholeBoot, KernelReportsWhatItWasHanded) {
    const BootCase& c = GetParam();
    sim::DeviceSettings settings;
    settings.cpu = c.cpu;
    settings.mainId = c.mainId;
    TestDevice device(settings);
    device.writeFile(std::string("Storage Card/") + (c.gzip ? "tamsel.gz" : "tamsel"),
                     readHostFile(c.gzip ? sampleKernelGzPath() : sampleKernelPath()));
    const std::size_t kernelSize = readHostFile(sampleKernelPath()).size();
    std::string image = randomData(20000, 7);
    if (c.image) device.writeFile("Storage Card/miniroot.fs", image);

    BootRun run = bootOnDevice(device, [&](quorvel::BootMenu& menu) {
        selectKernel(menu, c.platform, u"\\Storage Card\\", c.gzip ? u"tamsel.gz" : u"tamsel");
        if (c.image) menu.rootFileSystem = quorvel::ROOT_MD;
        menu.serialConsole = c.serialConsole;
        menu.bootVerbose = ce::TRUE;
    });
    SCOPED_TRACE(run.log + "\n--- uart ---\n" + run.uart);
    ASSERT_TRUE(run.handOver.has_value()) << "no hand-over";
    EXPECT_TRUE(run.kernelOk());
    EXPECT_FALSE(run.bootFailure().has_value());
    // The probe, headers, segments and symbols all came from one pass.
    EXPECT_EQ(run.inflatedBytes, c.gzip ? kernelSize : 0u);

    EXPECT_EQ(run.kernelLine("argv[0]"), c.gzip ? "argv[0] \"tamsel.gz\"" : "argv[0] \"tamsel\"");
    if (c.serialConsole) {
        EXPECT_EQ(run.kernelLine("argv[1]"), "argv[1] \"h\"");
        EXPECT_EQ(run.kernelLine("argv[2]"), "argv[2] \"v\"");
    } else {
        EXPECT_EQ(run.kernelLine("argv[1]"), "argv[1] \"v\"");
    }
    int console = c.serialConsole ? 2 : 1;
    EXPECT_NE(run.kernelLine("bootinfo console").find("console " + std::to_string(console) + " "), std::string::npos);
    if (c.serialConsole) {
        // The boot's own log went out on the UART before the kernel spoke.
        EXPECT_LT(run.uart.find("[progress] 10"), run.uart.find("sample kernel at"));
        EXPECT_EQ(run.log.find("[progress] 10"), std::string::npos);
    }

    if (c.image) {
        // The image lies at the next 4096-byte boundary above the kernel's symbols.
        std::uint32_t imageAt = run.imageAddress();
        ASSERT_NE(run.symbolsEnd(), 0u);
        EXPECT_EQ(imageAt, (run.symbolsEnd() + 4095) & ~4095u);
        std::uint32_t physical = c.cpu == sim::CpuFamily::PXA2x0 ? 0xA0000000u | (imageAt & 0x00FFFFFFu) : imageAt;
        EXPECT_EQ(std::memcmp(device->memory().host(sim::PhysicalAddress(physical)), image.data(), image.size()), 0);
        EXPECT_NE(run.uart.find("\"m=miniroot.fs\""), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Platforms, WholeBoot,
    testing::Values(BootCase{"Jornada720Gzip", u"HP Jornada 720 (US/UK)", sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1110, true, false, false},
                    BootCase{"Jornada720PlainWithImage", u"HP Jornada 720 (German)", sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1110, false, true, false},
                    BootCase{"Jornada820UartConsole", u"HP Jornada 820", sim::CpuFamily::SA11x0, sim::MAIN_ID_SA1100, true, true, true},
                    BootCase{"WZero3GzipWithImage", u"Sharp W-ZERO3 (WS003SH)", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA270, true, true, false},
                    BootCase{"IpaqH3900PlainUartConsole", u"Compaq iPAQ H3900", sim::CpuFamily::PXA2x0, sim::MAIN_ID_PXA250, false, false, true}),
    ::testing::PrintToStringParamName());

TEST(WholeBootFailure, EachSetupFailureEndsInItsBox) {
    struct Case {
        const char* name;
        std::u16string platform;
        const char* fault;
        std::u16string box;
        const char* logLine;
    };
    const Case cases[] = {
        {"unsupported platform", u"ARM XSCALE", nullptr, u"Architecture not supported.\n", nullptr},
        {"no LockPages", u"HP Jornada 720 (US/UK)", "GetProcAddressW", u"Architecture ops. not found.\n",
         "couldn't find LockPages/UnlockPages.\n"},
        {"no kernel", u"HP Jornada 720 (US/UK)", "CreateFileW", u"Can't open kernel image.\n", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDevice device;
        device.writeFile("Storage Card/tamsel.gz", readHostFile(sampleKernelGzPath()));
        if (c.fault) {
            device->faults().failWhen(c.fault, [](const sim::FaultCall& call) {
                return call.name.find(u"tamsel") != std::u16string_view::npos || call.name == u"LockPages";
            });
        }
        BootRun run = bootOnDevice(device, [&](quorvel::BootMenu& menu) {
            selectKernel(menu, c.platform, u"\\Storage Card\\", u"tamsel.gz");
        });
        EXPECT_FALSE(run.handOver.has_value());
        EXPECT_EQ(run.bootFailure(), c.box);
        if (c.logLine) {
            EXPECT_NE(run.log.find(c.logLine), std::string::npos) << run.log;
        }
    }
}

TEST(WholeBootFailure, UartThatCannotBeMappedFallsBackToTheLcdConsole) {
    TestDevice device;
    device.writeFile("Storage Card/tamsel.gz", readHostFile(sampleKernelGzPath()));
    device->faults().failWhen("VirtualCopy", [](const sim::FaultCall& call) { return call.address == 0x80050000u; });
    BootRun run = bootOnDevice(device, [](quorvel::BootMenu& menu) {
        selectKernel(menu, u"HP Jornada 720 (US/UK)", u"\\Storage Card\\", u"tamsel.gz");
        menu.serialConsole = ce::TRUE;
    });
    EXPECT_NE(run.log.find("can't map physical address 0x80050000\n"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("use LCD console instead.\n"), std::string::npos);
    EXPECT_TRUE(run.kernelOk()) << run.uart;
    EXPECT_NE(run.kernelLine("bootinfo console").find("console 1 "), std::string::npos);
}

TEST(WholeBoot, PoolPagesWhereTheKernelGoesAreSetAside) {
    // Windows CE hands out frames where the kernel is to be copied: the pool sets them
    // aside, so the second-stage loader never overwrites kernel data it has not copied.
    TestDevice device;
    device.writeFile("Storage Card/tamsel.gz", readHostFile(sampleKernelGzPath()));
    std::vector<sim::PhysicalAddress> frames;
    for (std::uint32_t page = 0; page < 8; ++page) frames.emplace_back(0xC0200000u + page * 4096);
    device->memory().preferFrames(frames);
    BootRun run = bootOnDevice(device, [](quorvel::BootMenu& menu) {
        selectKernel(menu, u"HP Jornada 720 (US/UK)", u"\\Storage Card\\", u"tamsel.gz");
    });
    EXPECT_TRUE(run.kernelOk()) << run.log << run.uart;
    // The kernel and its symbols cover the first three of those frames, the stack the
    // kernel starts on (above the symbols) the fourth.
    EXPECT_NE(run.log.find("4 pool pages set aside inside the kernel's destinations (0x4000 bytes more).\n"),
              std::string::npos)
        << run.log;
}

}  // namespace
