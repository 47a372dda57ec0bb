// Every selectable platform boots the sample kernel (gzip, with an md image) on a
// handheld whose memory is in use all over, for several seeds and RAM sizes; the pool
// keeps out of the kernel's way even when Windows CE hands out exactly those frames;
// and layouts that cannot be handed over are refused before anything is spoiled.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/platform_screen.h"
#include "hardware/cpu_models.h"
#include "boot/boot_menu.h"
#include "boot/platform_id.h"
#include "sim/handheld.h"
#include "sim/utf.h"
#include "support/boot_harness.h"
#include "support/device.h"
#include "support/test_data.h"
#include "support/case_names.h"

using namespace testing_support;

namespace {

constexpr std::uint32_t MB = 1u << 20;
constexpr std::uint32_t IMAGE_SIZE = 20000;

// Built once and shared by every boot.
const std::string& kernelGz() {
    static const std::string bytes = readHostFile(sampleKernelGzPath());
    return bytes;
}
const std::string& image() {
    static const std::string bytes = randomData(IMAGE_SIZE, 7);
    return bytes;
}

bool isPxa(const quorvel::PlatformId& id) { return (id.cpu & 0xFFF00000u) == quorvel::CPU_WORD_XSCALE; }

// The platform's handheld (the screen where the boot information says, since the
// kernel draws there), with the frames dealt out by the seed in the order given.
sim::DeviceSettings handheld(const quorvel::PlatformId& id, std::uint32_t ram, std::uint32_t seed,
                             sim::FrameOrder order = sim::FrameOrder::Scattered) {
    sim::DeviceSettings settings = quorvel::app::handheldFor(id, ram);
    settings.seed = seed;
    settings.frameOrder = order;
    return settings;
}

// The pool pages set aside, and the pool's pages, as the boot logged them.
struct PoolFigures {
    unsigned setAside = 0;
    unsigned pages = 0;
};
PoolFigures poolFigures(const std::string& log) {
    PoolFigures figures;
    std::smatch match;
    if (std::regex_search(log, match, std::regex("allocated (\\d+) page\\. mapped (\\d+) page\\.")))
        figures.pages = static_cast<unsigned>(std::stoul(match[2]));
    if (std::regex_search(log, match, std::regex("(\\d+) pool pages set aside inside the kernel's destinations")))
        figures.setAside = static_cast<unsigned>(std::stoul(match[1]));
    return figures;
}

using testing_support::PrintTo;
struct PlatformBoot {
    std::string name;
    quorvel::PlatformId platform;
    std::u16string platformName;
    std::uint32_t ram;
    std::uint32_t seed;
    sim::FrameOrder order = sim::FrameOrder::Scattered;
};

std::string identifier(const std::u16string& text) {
    std::string out;
    for (char16_t c : text)
        if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) out += static_cast<char>(c);
    return out;
}

// Three boots per selectable platform: the smallest RAM the kernel, its image and
// the kernel's stack fit in, a usual 32 MB and 128 MB, each with a seed of its own.
std::vector<PlatformBoot> everyPlatform() {
    std::vector<PlatformBoot> boots;
    std::uint32_t seed = 11;
    for (const quorvel::PlatformName& row : quorvel::platformNameTable) {
        if (row.id->cpu == 0 || row.id->machine == 0) continue;  // not selectable
        for (std::uint32_t ram : {3 * MB, 32 * MB, 128 * MB}) {
            char suffix[48];
            std::snprintf(suffix, sizeof suffix, "_%uMB_Seed%u", ram / MB, seed);
            boots.push_back({identifier(row.name) + suffix, *row.id, row.name, ram, seed});
            seed += 7;
        }
    }
    // The other frame order: a 128 MB PXA-2x0 handheld whose pool comes from its top bank.
    boots.push_back({"WZero3TopDown_128MB", {quorvel::CPU_WORD_PXA270, 0x01040100}, u"Sharp W-ZERO3 (WS003SH)", 128 * MB, 5,
                     sim::FrameOrder::TopDown});
    boots.push_back({"Jornada720TopDown_32MB", {quorvel::CPU_WORD_SA1110, 0x02C20201}, u"HP Jornada 720 (US/UK)", 32 * MB, 5,
                     sim::FrameOrder::TopDown});
    return boots;
}

class EveryPlatform : public testing::TestWithParam<PlatformBoot> {};

TEST_P(EveryPlatform, BootsTheSampleKernelWithItsImage) {
    const PlatformBoot& c = GetParam();
    TestDevice device(handheld(c.platform, c.ram, c.seed, c.order));
    device.writeFile("Storage Card/tamsel.gz", kernelGz());
    device.writeFile("Storage Card/miniroot.fs", image());

    BootRun run = bootOnDevice(device, [&](quorvel::BootMenu& menu) {
        selectKernel(menu, c.platformName, u"\\Storage Card\\", u"tamsel.gz");
        menu.rootFileSystem = quorvel::ROOT_MD;
    });
    SCOPED_TRACE(run.log + "\n--- uart ---\n" + run.uart);
    ASSERT_TRUE(run.handOver.has_value()) << "no hand-over";
    EXPECT_TRUE(run.kernelOk());
    EXPECT_FALSE(run.bootFailure().has_value());
    EXPECT_EQ(run.kernelLine("argv[0]"), "argv[0] \"tamsel.gz\"");
    // Wherever the boot information names a 16-bit screen, the kernel draws on it.
    std::string screen = run.kernelLine("bootinfo framebuffer");
    bool named = screen.find("framebuffer 0x00000000") == std::string::npos &&
                 (screen.ends_with(" type 5") || screen.ends_with(" type 6"));
    EXPECT_EQ(!run.kernelLine("drew border and colour bars").empty(), named) << screen;

    // The image arrived whole where the loader placed it (folded on the PXA-2x0).
    std::uint32_t imageAt = run.imageAddress();
    ASSERT_NE(imageAt, 0u);
    std::uint32_t physical = isPxa(c.platform) ? 0xA0000000u | (imageAt & 0x00FFFFFFu) : imageAt;
    EXPECT_EQ(std::memcmp(device->memory().host(sim::PhysicalAddress(physical)), image().data(), image().size()), 0);
    EXPECT_GT(poolFigures(run.log).pages, 0u);
}

INSTANTIATE_TEST_SUITE_P(Selectable, EveryPlatform, testing::ValuesIn(everyPlatform()),
                         ::testing::PrintToStringParamName());

// Windows CE hands out the frames where the kernel, its symbols and the image go
// before any other: each lands in the pool's first region and is set aside.
TEST(EveryPlatformWorstCase, FramesInsideTheDestinationsAreSetAsideAndTheBootSucceeds) {
    const struct {
        const char* name;
        quorvel::PlatformId platform;
        std::u16string platformName;
    } cases[] = {
        {"SA-11x0", {quorvel::CPU_WORD_SA1110, 0x02C20201}, u"HP Jornada 720 (US/UK)"},
        {"PXA-2x0", {quorvel::CPU_WORD_PXA270, 0x01040100}, u"Sharp W-ZERO3 (WS003SH)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DeviceSettings settings = handheld(c.platform, 32 * MB, 3);
        TestDevice device(settings);
        device.writeFile("Storage Card/tamsel.gz", kernelGz());
        device.writeFile("Storage Card/miniroot.fs", image());
        // The kernel is linked 2 MB into RAM; kernel, symbols and image take well under 64 KB.
        const std::uint32_t base = sim::dramBase(settings.cpu) + 2 * MB;
        std::vector<sim::PhysicalAddress> frames;
        for (std::uint32_t offset = 0; offset < 0x10000; offset += 4096) frames.emplace_back(base + offset);
        device->memory().preferFrames(frames);

        BootRun run = bootOnDevice(device, [&](quorvel::BootMenu& menu) {
            selectKernel(menu, c.platformName, u"\\Storage Card\\", u"tamsel.gz");
            menu.rootFileSystem = quorvel::ROOT_MD;
        });
        EXPECT_TRUE(run.kernelOk()) << run.log << run.uart;
        // Kernel and symbols cover three pages, the image (counted in whole pages) the
        // next five, and the stack the kernel starts on two more.
        EXPECT_EQ(poolFigures(run.log).setAside, 10u) << run.log;
        std::uint32_t imageAt = run.imageAddress();
        std::uint32_t physical = settings.cpu == sim::CpuFamily::PXA2x0 ? 0xA0000000u | (imageAt & 0x00FFFFFFu) : imageAt;
        EXPECT_EQ(std::memcmp(device->memory().host(sim::PhysicalAddress(physical)), image().data(), image().size()), 0);
    }
}

TEST(EveryPlatformRefusal, LayoutsThatCannotBeHandedOverAreRefusedBeforeAnythingIsSpoiled) {
    const struct {
        const char* name;
        quorvel::PlatformId platform;
        std::u16string platformName;
        std::uint32_t ram;
        std::string kernel;            // host path of the (plain) kernel
        std::uintmax_t imageSize;      // 0: no image
        std::u16string box;
        std::string reason;            // the log line that says why, as a pattern (the kernel's end moves with its size)
        bool loaded;                   // whether the kernel was loaded before the refusal
    } cases[] = {
        {"kernel linked at 0", {quorvel::CPU_WORD_SA1110, 0x02C20201}, u"HP Jornada 720 (US/UK)", 32 * MB, QUORVEL_KERNEL_AT_0, 0,
         u"Can't jump to the kernel.\n", "destination 0x00200000-0x[0-9a-f]{8} is outside RAM \\(RAM: 0xc0000000-0xc1ffffff\\)\\.\n",
         true},
        {"kernel linked beyond a 32 MB handheld's RAM", {quorvel::CPU_WORD_SA1110, 0x02C20201}, u"HP Jornada 720 (US/UK)", 32 * MB,
         QUORVEL_KERNEL_AT_C8, 0, u"Can't jump to the kernel.\n",
         "destination 0xc8200000-0x[0-9a-f]{8} is outside RAM \\(RAM: 0xc0000000-0xc1ffffff\\)\\.\n", true},
        {"image that folds the layout onto itself on the PXA-2x0", {quorvel::CPU_WORD_PXA270, 0x01040100},
         u"Sharp W-ZERO3 (WS003SH)", 64 * MB, sampleKernelPath(), 16 * MB, u"Can't allocate memory.\n",
         "kernel layout 0xc0200000-0xc1202fff is longer than the 16 MB the loader folds it into\\.\n", false},
        {"image whose tail the PXA-2x0 loader would fold round to the start of SDRAM", {quorvel::CPU_WORD_PXA270, 0x01040100},
         u"Sharp W-ZERO3 (WS003SH)", 64 * MB, sampleKernelPath(), 14 * MB, u"Can't allocate memory.\n",
         "destination 0xc0203000-0xc1002fff crosses 0xc1000000, where the loader folds it back into the same 16 MB\\.\n",
         false},
        {"RAM too small for a pool outside the destinations", {quorvel::CPU_WORD_SA1110, 0x02C20201}, u"HP Jornada 720 (US/UK)",
         4 * MB, sampleKernelPath(), 1900 * 1024, u"Can't allocate memory.\n",
         "more pages outside the kernel's destinations", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDevice device(handheld(c.platform, c.ram, 9));
        device.writeFile("Storage Card/tamsel", readHostFile(c.kernel));
        if (c.imageSize) {
            // Only its size is read before the refusal: a sparse file will do.
            device.writeFile("Storage Card/miniroot.fs", "");
            std::filesystem::resize_file(device.card() / "miniroot.fs", c.imageSize);
        }
        BootRun run = bootOnDevice(device, [&](quorvel::BootMenu& menu) {
            selectKernel(menu, c.platformName, u"\\Storage Card\\", u"tamsel");
            if (c.imageSize) menu.rootFileSystem = quorvel::ROOT_MD;
        });
        EXPECT_FALSE(run.handOver.has_value());
        EXPECT_EQ(run.bootFailure(), c.box);
        EXPECT_TRUE(std::regex_search(run.log, std::regex(c.reason))) << run.log;
        EXPECT_EQ(run.log.find("[progress] 8") != std::string::npos, c.loaded) << run.log;
    }
}

}  // namespace
