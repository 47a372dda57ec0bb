// Whole boots of damaged gzip kernels and images on the simulated handheld, made from
// the gzip tool's output: none is entered, the boot stops at the stage that read the
// file with that stage's box, and the log names the file and what was wrong.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "boot/boot_menu.h"
#include "sim/handheld.h"
#include "support/boot_harness.h"
#include "support/device.h"
#include "support/test_data.h"
#include "support/case_names.h"

using namespace testing_support;

namespace {

std::string gzipTool(const std::string& bytes) {
    TempDir work;
    writeHostFile(work.path() / "in", bytes);
    std::string command = "gzip -c -n '" + (work.path() / "in").string() + "' > '" + (work.path() / "in.gz").string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return readHostFile(work.path() / "in.gz");
}

std::string flipped(std::string bytes, std::size_t at, std::uint8_t mask = 0x01) {
    bytes[at] = static_cast<char>(bytes[at] ^ mask);
    return bytes;
}

// The last "[progress] N" label of the log: the stage that failed.
std::string lastStage(const std::string& log) {
    std::size_t at = log.rfind("[progress] ");
    if (at == std::string::npos) return "";
    return log.substr(at + 11, log.find('\n', at) - at - 11);
}

BootRun boot(TestDevice& device, bool image) {
    return bootOnDevice(device, [&](quorvel::BootMenu& menu) {
        selectKernel(menu, u"HP Jornada 720 (US/UK)", u"\\Storage Card\\", u"tamsel.gz");
        if (image) menu.rootFileSystem = quorvel::ROOT_MD;
    });
}

using testing_support::PrintTo;
struct Damage {
    const char* name;
    bool image;                 // the image is damaged, else the kernel
    std::string (*make)(const std::string& packed, const std::string& plain);
    std::u16string box;
    const char* stage;
    const char* line;           // how the front's line starts
};

const std::string imageData = randomData(150000, 71);  // stored blocks once gzipped

const Damage damages[] = {
    {"KernelCrc", false, [](const std::string& p, const std::string&) { return flipped(p, p.size() - 8); },
     u"Can't initialize loader.\n", "5", "tamsel.gz: CRC mismatch"},
    {"KernelLength", false, [](const std::string& p, const std::string&) { return flipped(p, p.size() - 1); },
     u"Can't initialize loader.\n", "5", "tamsel.gz: length mismatch"},
    {"KernelTrailerMissing", false, [](const std::string& p, const std::string&) { return p.substr(0, p.size() - 8); },
     u"Can't initialize loader.\n", "5", "tamsel.gz: gzip trailer cut short"},
    {"KernelCutInHeader", false, [](const std::string& p, const std::string&) { return p.substr(0, 7); },
     u"Can't attach loader.\n", "5", "tamsel.gz: gzip header cut short"},
    {"KernelCutInData", false, [](const std::string& p, const std::string&) { return p.substr(0, p.size() / 2); },
     u"Can't initialize loader.\n", "5", "tamsel.gz: data cut short"},
    {"KernelFlippedDeflateByte", false, [](const std::string& p, const std::string&) { return flipped(p, p.size() * 3 / 4, 0x08); },
     u"", nullptr, "tamsel.gz: "},
    // Met only behind the kernel's last byte, which the load reads on to.
    {"KernelBadSecondMember", false, [](const std::string& p, const std::string&) { return p + flipped(p, p.size() - 6); },
     u"Can't load kernel image to memory.\n", "8", "tamsel.gz: CRC mismatch"},
    {"ImageCrc", true, [](const std::string& p, const std::string&) { return flipped(p, p.size() - 7); },
     u"Can't open file system image.\n", "3", "miniroot.fs: CRC mismatch"},
    {"ImageTrailerMissing", true, [](const std::string& p, const std::string&) { return p.substr(0, p.size() - 8); },
     u"Can't open file system image.\n", "3", "miniroot.fs: gzip trailer cut short"},
    {"ImageBadHeader", true, [](const std::string& p, const std::string&) { return flipped(p, 3, 0x80); },
     u"Can't open file system image.\n", "3", "miniroot.fs: bad gzip header"},
    {"ImageCutInStoredBlock", true, [](const std::string& p, const std::string&) { return p.substr(0, p.size() / 2); },
     u"Can't open file system image.\n", "3", "miniroot.fs: data cut short"},
    {"ImageFlippedByteInStoredBlock", true, [](const std::string& p, const std::string&) { return flipped(p, p.size() / 2); },
     u"Can't open file system image.\n", "3", "miniroot.fs: CRC mismatch"},
    {"ImageBadSecondMember", true, [](const std::string& p, const std::string&) { return p + flipped(p, p.size() - 2); },
     u"Can't open file system image.\n", "3", "miniroot.fs: length mismatch"},
};

class DamagedBoot : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedBoot, StopsAtTheStageThatReadIt) {
    const Damage& d = GetParam();
    TestDevice device;
    const std::string kernel = readHostFile(sampleKernelGzPath());
    const std::string image = gzipTool(imageData);
    device.writeFile("Storage Card/tamsel.gz", d.image ? kernel : d.make(kernel, readHostFile(sampleKernelPath())));
    device.writeFile("Storage Card/miniroot.fs", d.image ? d.make(image, imageData) : image);

    BootRun run = boot(device, true);
    SCOPED_TRACE(run.log);
    EXPECT_FALSE(run.handOver.has_value());
    ASSERT_TRUE(run.bootFailure().has_value());
    if (d.stage) {
        EXPECT_EQ(*run.bootFailure(), d.box);
        EXPECT_EQ(lastStage(run.log), d.stage);
    } else {
        // Where a flipped byte is met depends on what it breaks; the kernel stages only.
        EXPECT_GE(std::stoi(lastStage(run.log)), 5);
    }
    EXPECT_NE(run.log.find(std::string("\n") + d.line), std::string::npos);
    if (d.image) {
        EXPECT_NE(run.log.find("can't get the size of file system image \"miniroot.fs\".\n"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedBoot, ::testing::ValuesIn(damages),
                         ::testing::PrintToStringParamName());

// A gzip image read whole at its open and again at the load: it lands in memory byte
// for byte, and a card read that fails during the load stops the boot there.
TEST(GzipImageBoot, LoadsOnlyWhatWasReadCleanly) {
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "a read fails during the load" : "intact");
        TestDevice device;
        device.writeFile("Storage Card/tamsel.gz", readHostFile(sampleKernelGzPath()));
        const std::string image = gzipTool(imageData);
        device.writeFile("Storage Card/miniroot.fs", image);
        if (failing) {
            // The image's reads: those of the open at stage 3, then of the load.
            auto seen = std::make_shared<int>(0);
            const int firstPass = static_cast<int>(image.size() / 1024) + 2;
            device->faults().failWhen("ReadFile", [seen, firstPass](const sim::FaultCall& call) {
                return call.name.find(u"miniroot.fs") != std::u16string_view::npos && (*seen)++ == firstPass + 60;
            });
        }
        BootRun run = boot(device, true);
        SCOPED_TRACE(run.log);
        if (!failing) {
            ASSERT_TRUE(run.kernelOk()) << run.uart;
            const std::uint32_t at = run.imageAddress();
            EXPECT_EQ(std::memcmp(device->memory().host(sim::PhysicalAddress(at)), imageData.data(), imageData.size()), 0);
            continue;
        }
        EXPECT_FALSE(run.handOver.has_value());
        EXPECT_EQ(run.bootFailure(), u"Can't load file system image to memory.\n");
        EXPECT_NE(run.log.find("\nminiroot.fs: read error after 0x"), std::string::npos);
    }
}

}  // namespace
