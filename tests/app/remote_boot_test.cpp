// Whole boots with the kernel and the md image fetched from real HTTP servers and
// read from a UFS file system on a BSD-labelled disk, through the whole program.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "app/commands.h"
#include "app/command_line.h"
#include "boot/boot_menu.h"
#include "platform/coredll.h"
#include "support/boot_harness.h"
#include "support/device.h"
#include "support/disk_images.h"
#include "support/http_servers.h"
#include "support/test_data.h"

using namespace testing_support;

namespace {

// The sample kernel, plain and gzip, and an md image, plain and gzip, in a folder.
struct KernelTree {
    TempDir dir;
    std::string image = randomData(30000, 5);
    KernelTree() {
        writeHostFile(dir.path() / "tamsel", readHostFile(sampleKernelPath()));
        writeHostFile(dir.path() / "tamsel.gz", readHostFile(sampleKernelGzPath()));
        writeHostFile(dir.path() / "miniroot.fs", image);
        std::string command = "gzip -n -c '" + (dir.path() / "miniroot.fs").string() + "' > '" +
                              (dir.path() / "miniroot.fs.gz").string() + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
};

struct RemoteCase {
    const char* name;
    const char16_t* kernel;
    const char16_t* image;
};
const RemoteCase remoteCases[] = {
    {"gzip kernel, plain image", u"tamsel.gz", u"miniroot.fs"},
    {"plain kernel, gzip image", u"tamsel", u"miniroot.fs.gz"},
};

void expectBooted(const BootRun& run, TestDevice& device, const std::string& image) {
    SCOPED_TRACE(run.bootLog() + "\n--- uart ---\n" + run.uart);
    ASSERT_TRUE(run.handOver.has_value());
    EXPECT_TRUE(run.kernelOk());
    std::uint32_t imageAt = run.imageAddress();
    EXPECT_EQ(imageAt, (run.symbolsEnd() + 4095) & ~4095u);
    ASSERT_TRUE(device->memory().contains(sim::PhysicalAddress(imageAt), static_cast<std::uint32_t>(image.size())));
    EXPECT_EQ(std::memcmp(device->memory().host(sim::PhysicalAddress(imageAt)), image.data(), image.size()), 0);
}

class HttpBoot : public testing::TestWithParam<HttpServer::Kind> {};

TEST_P(HttpBoot, KernelAndImageComeFromTheServer) {
    KernelTree tree;
    std::string failure;
    auto server = HttpServer::start(GetParam(), tree.dir.path(), &failure);
    ASSERT_TRUE(server) << failure;
    std::u16string url = u"http://127.0.0.1:";
    for (char c : std::to_string(server->port())) url.push_back(static_cast<char16_t>(c));
    url += u"/";
    for (const RemoteCase& c : remoteCases) {
        SCOPED_TRACE(c.name);
        TestDevice device;
        BootRun run = bootOnDevice(device, [&](quorvel::BootMenu& menu) {
            selectKernel(menu, u"HP Jornada 720 (US/UK)", url, c.kernel);
            menu.rootFileSystem = quorvel::ROOT_MD;
            ce::wcsncpy(menu.fileSystemImage, c.image, quorvel::PATH_SIZE - 1);
        });
        expectBooted(run, device, tree.image);
        EXPECT_NE(run.bootLog().find("FileManager: HTTP"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, HttpBoot, testing::Values(HttpServer::Kind::Python, HttpServer::Kind::Nginx),
                         [](const testing::TestParamInfo<HttpServer::Kind>& server) {
                             return server.param == HttpServer::Kind::Python ? "PythonHttpServer" : "Nginx";
                         });

// A disk whose MBR has a 0xA9 partition with a BSD label and the UFS1 file system.
std::filesystem::path makeUfsDisk(const std::filesystem::path& tree, const std::filesystem::path& work) {
    constexpr std::uint32_t start = 63;
    std::filesystem::path fs = work / "ufs.img";
    std::string failure;
    UfsImageOptions options;
    options.freeBlocksPercent = 50;
    EXPECT_TRUE(makeUfsImage(tree, fs, &failure, options)) << failure;
    std::uint32_t sectors = static_cast<std::uint32_t>(std::filesystem::file_size(fs) / IMAGE_SECTOR);
    std::filesystem::path disk = work / "disk.img";
    EXPECT_TRUE(makeMbrDisk(disk, start + sectors + 64, {{start, sectors, 0xA9}}, &failure)) << failure;
    copyInto(disk, start, fs);
    writeAt(disk, (start + 1) * static_cast<std::uint64_t>(IMAGE_SECTOR), bsdLabel(start + sectors + 64, {{start, sectors}}));
    return disk;
}

TEST(UfsBoot, KernelAndImageComeFromTheLabelledCard) {
    KernelTree tree;
    TempDir work;
    std::filesystem::path disk = makeUfsDisk(tree.dir.path(), work.path());
    for (const RemoteCase& c : remoteCases) {
        SCOPED_TRACE(c.name);
        sim::DeviceSettings settings;
        settings.cpu = sim::CpuFamily::PXA2x0;
        settings.mainId = sim::MAIN_ID_PXA270;
        settings.disks[u"DSK2:"] = sim::DiskImage(disk);
        TestDevice device(settings);
        BootRun run = bootOnDevice(device, [&](quorvel::BootMenu& menu) {
            selectKernel(menu, u"Sharp W-ZERO3 (WS004SH)", u"2:/", c.kernel);
            menu.rootFileSystem = quorvel::ROOT_MD;
            ce::wcsncpy(menu.fileSystemImage, c.image, quorvel::PATH_SIZE - 1);
        });
        // The PXA-2x0 loader folds every destination into the first 16 MB of SDRAM.
        SCOPED_TRACE(run.bootLog());
        ASSERT_TRUE(run.handOver.has_value());
        EXPECT_TRUE(run.kernelOk()) << run.uart;
        std::uint32_t imageAt = 0xA0000000u | (run.imageAddress() & 0x00FFFFFFu);
        EXPECT_EQ(run.imageAddress(), (run.symbolsEnd() + 4095) & ~4095u);
        EXPECT_EQ(std::memcmp(device->memory().host(sim::PhysicalAddress(imageAt)), tree.image.data(), tree.image.size()),
                  0);
    }
}

int runQuorvel(const std::vector<std::string>& words, std::string& output) {
    quorvel::app::ParseResult parsed = quorvel::app::parseCommandLine(words);
    if (!parsed.arguments) return 2;
    std::istringstream in;
    std::ostringstream out, err;
    int status = quorvel::app::runCommand(*parsed.arguments, in, out, err);
    output = out.str() + err.str();
    return status;
}

TEST(FrontEnd, BootsFromAUrlAndFromAUfsDevice) {
    KernelTree tree;
    TempDir device;
    std::filesystem::create_directories(device.path() / "Storage Card");
    std::string failure;
    auto server = HttpServer::start(HttpServer::Kind::Python, tree.dir.path(), &failure);
    ASSERT_TRUE(server) << failure;
    std::string output;
    EXPECT_EQ(runQuorvel({"boot", "--device", device.path().string(), "--platform", "HP Jornada 720 (US/UK)", "--dir",
                          "http://127.0.0.1:" + std::to_string(server->port()) + "/", "--root", "md", "--yes"},
                         output),
              0)
        << output;
    EXPECT_NE(output.find("check stack: ok"), std::string::npos) << output;

    TempDir work;
    std::filesystem::path disk = makeUfsDisk(tree.dir.path(), work.path());
    EXPECT_EQ(runQuorvel({"boot", "--device", device.path().string(), "--platform", "Compaq iPAQ H3600", "--dir", "2:/",
                          "--disk", "DSK2:=" + disk.string(), "--kernel", "tamsel", "--no-pause", "--yes"},
                         output),
              0)
        << output;
    EXPECT_NE(output.find("check stack: ok"), std::string::npos) << output;
}

TEST(FrontEnd, UsageErrorsExitWithStatusTwo) {
    struct Case {
        std::vector<std::string> words;
    } cases[] = {{{"boot", "--root", "zz"}}, {{"boot", "--frobnicate"}}, {{"reboot"}}, {{"boot", "--speed", "1200"}},
                 {{"platforms", "--dir", "x"}}, {{"boot", "--kernel"}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.back());
        EXPECT_FALSE(quorvel::app::parseCommandLine(c.words).arguments.has_value());
    }
    std::string output;
    EXPECT_EQ(runQuorvel({"boot", "--bogus"}, output), 2);
    EXPECT_EQ(quorvel::app::parseCommandLine({"boot", "--bogus"}).error, "unknown option: --bogus");
    EXPECT_EQ(quorvel::app::parseCommandLine({"boot", "--kernel"}).error, "option --kernel needs a value");
    TempDir device;
    EXPECT_EQ(runQuorvel({"boot", "--device", device.path().string(), "--platform", "Psion 5", "--yes"}, output), 2);
    EXPECT_NE(output.find("unknown platform: Psion 5"), std::string::npos);
}

TEST(FrontEnd, SafetyQuestionAnsweredNoBootsNothingAndSavesNothing) {
    TempDir device;
    std::filesystem::create_directories(device.path() / "Storage Card");
    writeHostFile(device.path() / "Storage Card" / "tamsel.gz", readHostFile(sampleKernelGzPath()));
    std::string output;
    // No --yes and no answer on the terminal: the question gets NO.
    EXPECT_EQ(runQuorvel({"boot", "--device", device.path().string(), "--platform", "9", "--dir", "\\Storage Card\\"}, output),
              1);
    EXPECT_NE(output.find("[WARNING] Data in memory will be lost.\nAre you sure? [y/N]"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(device.path() / "Storage Card" / "quorvel.cnf"));
    EXPECT_EQ(output.find("BOOT START"), std::string::npos);
}

}  // namespace
