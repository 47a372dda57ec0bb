// The "winblk" block driver: partition search through MBRs made by sfdisk and BSD
// labels (checked against util-linux's reading of the same image), disk checks,
// sector reads, and the debug output of each case.
#include "file/ufs/winblk.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "file/ufs/disk_label.h"
#include "file/ufs/error_numbers.h"
#include "file/ufs/ufs_reader.h"
#include "platform/coredll.h"
#include "support/device.h"
#include "support/disk_images.h"

using namespace quorvel;
using testing_support::LabelPartition;
using testing_support::MbrPartition;
using testing_support::TempDir;
using testing_support::TestDevice;

namespace {

constexpr std::uint32_t DISK_SECTORS = 8192;

struct LabelEdit {
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
    bool reseal;  // recompute the checksum after the edit
};

struct DiskLayout {
    std::vector<MbrPartition> mbr;
    std::optional<std::uint32_t> labelSector;
    std::vector<LabelPartition> label;
    std::vector<LabelEdit> edits;
};

std::filesystem::path makeDisk(const TempDir& dir, const DiskLayout& layout, const std::string& name = "disk.img") {
    std::filesystem::path image = dir.path() / name;
    std::string failure;
    EXPECT_TRUE(testing_support::makeMbrDisk(image, DISK_SECTORS, layout.mbr, &failure)) << failure;
    // Every sector past the table carries its own number, so reads can be checked.
    for (std::uint32_t sector = 1; sector < DISK_SECTORS; ++sector) {
        std::vector<std::uint8_t> bytes(512);
        for (std::size_t i = 0; i < 512; i += 4) {
            std::uint32_t word = sector * 1000 + static_cast<std::uint32_t>(i);
            for (int b = 0; b < 4; ++b) bytes[i + b] = static_cast<std::uint8_t>(word >> (8 * b));
        }
        testing_support::writeAt(image, std::uint64_t(sector) * 512, bytes);
    }
    if (layout.labelSector) {
        std::vector<std::uint8_t> label = testing_support::bsdLabel(DISK_SECTORS, layout.label);
        for (const LabelEdit& edit : layout.edits) {
            std::copy(edit.bytes.begin(), edit.bytes.end(), label.begin() + static_cast<std::ptrdiff_t>(edit.offset));
            if (edit.reseal) testing_support::sealBsdLabel(label);
        }
        testing_support::writeAt(image, std::uint64_t(*layout.labelSector) * 512, label);
    }
    return image;
}

sim::DeviceSettings withDisk(const std::filesystem::path& image, std::uint32_t bytesPerSector = 512,
                             std::uint32_t flags = ce::DISK_INFO_FLAGS_MBR) {
    sim::DeviceSettings settings;
    sim::DiskImage disk(image);
    disk.bytesPerSector = bytesPerSector;
    disk.flags = flags;
    settings.disks[u"DSK1:"] = disk;
    return settings;
}

// The start sectors util-linux lists for an image.
std::vector<std::uint32_t> partxStarts(const std::filesystem::path& image) {
    std::istringstream lines(testing_support::partxShow(image));
    std::vector<std::uint32_t> starts;
    std::uint32_t start;
    std::string rest;
    while (lines >> start && std::getline(lines, rest)) starts.push_back(start);
    return starts;
}

bool contains(const std::vector<std::uint32_t>& list, std::uint32_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

struct SearchCase {
    const char* what;
    DiskLayout layout;
    std::uint32_t start;
    std::u16string debugLine;
    // Whether util-linux lists the label's first entry; it checks only the first
    // magic, so it accepts some labels refused here. Unset: nothing to compare.
    std::optional<bool> partxSeesLabel;
};

void PrintTo(const SearchCase& c, std::ostream* out) { *out << c.what; }

class PartitionSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(PartitionSearch, FindsTheFileSystemStart) {
    const SearchCase& c = GetParam();
    TempDir dir;
    std::filesystem::path image = makeDisk(dir, c.layout);
    TestDevice device(withDisk(image));
    FileContext context{&winblkDriver};
    ASSERT_EQ(winblkDriver.openDevice(&context, "DSK", 1, 0), UFS_OK);
    ASSERT_NE(context.device, nullptr);
    EXPECT_EQ(context.device->startSector, c.start);
    EXPECT_EQ(device->debugOutput(), std::vector<std::u16string>{c.debugLine});
    if (c.partxSeesLabel) {
        std::vector<std::uint32_t> starts = partxStarts(image);
        EXPECT_EQ(contains(starts, c.layout.label.at(0).offset), *c.partxSeesLabel) << testing_support::partxShow(image);
    }
    winblkDriver.closeDevice(&context);
}

std::vector<std::uint8_t> word(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 24)};
}

const SearchCase searchCases[] = {
    {"PreferredPartitionWinsOverAnEarlierFallbackOne",
     {{{2048, 1000, 0xA5}, {4000, 1000, 0x83}, {63, 1000, 0xA9}}, 64, {{95, 900}}, {}},
     95, u"start sector=0x5f\n", true},
    {"LabelEntryAtThePreferredPartitionStart",
     {{{63, 4000, 0xA9}}, 64, {{63, 4000}}, {}},
     0x3F, u"start sector=0x3f\n", std::nullopt},
    {"TheLaterOfTwoFallbackPartitions",
     {{{63, 1000, 0xA5}, {2048, 1000, 0xA5}}, 2049, {{2064, 900}}, {}},
     2064, u"start sector=0x810\n", true},
    {"NoBSDPartition",
     {{{63, 1000, 0x83}}, std::nullopt, {}, {}},
     0, u"no BSD partition, start sector=0x0\n", std::nullopt},
    {"FirstMagicWrong",
     {{{63, 4000, 0xA9}}, 64, {{95, 900}}, {{0, word(0x82564556), true}}},
     63, u"invalid disklabel, start sector=0x3f\n", false},
    {"SecondMagicWrong",
     {{{63, 4000, 0xA9}}, 64, {{95, 900}}, {{132, word(0x12345678), true}}},
     63, u"invalid disklabel, start sector=0x3f\n", true},
    {"ChecksumBroken",
     {{{63, 4000, 0xA9}}, 64, {{95, 900}}, {{60, word(4000), false}}},
     63, u"invalid disklabel, start sector=0x3f\n", true},
    {"MoreEntriesThanTheLabelHolds",
     {{{63, 4000, 0xA9}}, 64, {{95, 900}}, {{138, {9, 0}, true}}},
     63, u"invalid disklabel, start sector=0x3f\n", true},
    {"EntryCountPastTheSector",
     {{{63, 4000, 0xA9}}, 64, {{95, 900}}, {{138, {0xFF, 0xFF}, true}}},
     63, u"invalid disklabel, start sector=0x3f\n", true},
};

INSTANTIATE_TEST_SUITE_P(Winblk, PartitionSearch, ::testing::ValuesIn(searchCases),
                         [](const auto& info) { return std::string(info.param.what); });

class WinblkDevice : public ::testing::Test {
protected:
    void SetUp() override {
        image = makeDisk(dir, {{{63, 4000, 0xA9}}, 64, {{95, 900}, {1000, 100}}, {}});
    }
    TempDir dir;
    std::filesystem::path image;
    FileContext context{&winblkDriver};
};

TEST_F(WinblkDevice, RefusesDisksItCannotRead) {
    struct Case {
        const char* what;
        std::uint32_t bytesPerSector, flags;
    } cases[] = {
        {"sectors of 2048 bytes", 2048, ce::DISK_INFO_FLAGS_MBR},
        {"no MBR", 512, 0},
        {"unformatted", 512, ce::DISK_INFO_FLAGS_MBR | ce::DISK_INFO_FLAGS_UNFORMATTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDevice device(withDisk(image, c.bytesPerSector, c.flags));
        EXPECT_EQ(openDevice(&context, "DSK", 1, 0), UFS_INVALID);
        EXPECT_EQ(context.device, nullptr);
        EXPECT_EQ(device->debugOutput(), std::vector<std::u16string>{u"invalid flags\n"});
    }
}

TEST_F(WinblkDevice, NamesTheDeviceFromPrefixAndUnit) {
    TestDevice device(withDisk(image));
    struct Case {
        const char* prefix;
        int unit;
        int result;
        std::vector<std::u16string> debug;
    } cases[] = {
        {"dsk", 1, UFS_OK, {u"start sector=0x5f\n"}},
        {"DSK", 2, UFS_NO_DEVICE, {u"can't open DSK2:.\n"}},
        {"Abc", 9, UFS_NO_DEVICE, {u"can't open ABC9:.\n"}},
        {"DS", 1, UFS_NO_DEVICE, {}},
        {"DSKX", 1, UFS_NO_DEVICE, {}},
        {"DSK", 10, UFS_NO_DEVICE, {}},
        {"DSK", -1, UFS_NO_DEVICE, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + std::to_string(c.unit));
        device->debugOutput().clear();
        EXPECT_EQ(openDevice(&context, c.prefix, c.unit, 0), c.result);
        EXPECT_EQ(context.device != nullptr, c.result == UFS_OK);
        EXPECT_EQ(device->debugOutput(), c.debug);
        closeDevice(&context);
    }
}

TEST_F(WinblkDevice, ChoosesTheLabelEntryByIndex) {
    TestDevice device(withDisk(image));
    struct Case {
        int index;
        int result;
        std::uint32_t start;
    } cases[] = {{0, UFS_OK, 95}, {1, UFS_OK, 1000}, {2, UFS_INVALID, 0}, {-1, UFS_INVALID, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(openDevice(&context, "DSK", 1, c.index), c.result);
        if (c.result == UFS_OK) {
            ASSERT_NE(context.device, nullptr);
            EXPECT_EQ(context.device->startSector, c.start);
        } else {
            EXPECT_EQ(context.device, nullptr);
        }
        closeDevice(&context);
    }
}

TEST_F(WinblkDevice, ReportsFailingDriverCalls) {
    struct Case {
        const char* what;
        std::uint64_t failingCall;  // 0 GETINFO, 1 the MBR, 2 the label
        std::uint32_t limit;        // 0: the call fails; else it reports a read fault
        std::u16string debug;
    } cases[] = {
        {"disk information", 0, 0, u"DeviceIoControl() failed.error=31\n"},
        {"MBR read", 1, 0, u"DeviceIoControl() failed.error=31\n"},
        {"label read status", 2, 100, u"DeviceIoControl(READ): status=30\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestDevice device(withDisk(image));
        device->faults().failWhen("DeviceIoControl", [&c](const sim::FaultCall& call) { return call.index == c.failingCall; },
                                  c.limit);
        EXPECT_EQ(openDevice(&context, "DSK", 1, 0), UFS_IO_ERROR);
        EXPECT_EQ(context.device, nullptr);
        EXPECT_EQ(device->debugOutput(), std::vector<std::u16string>{c.debug});
    }
}

TEST_F(WinblkDevice, ReadsWholeSectorsThenThePartOfTheNext) {
    TestDevice device(withDisk(image));
    ASSERT_EQ(openDevice(&context, "DSK", 1, 0), UFS_OK);
    std::vector<std::uint32_t> requested;
    device->faults().failWhen("DeviceIoControl", [&requested](const sim::FaultCall& call) {
        requested.push_back(call.address);
        return false;
    });
    struct Case {
        std::uint32_t sector, count;
        std::vector<std::uint32_t> requests;  // absolute first sector of each request
    } cases[] = {
        {16, 8192, {95 + 16}},           // one request of 16 sectors
        {3, 1000, {98, 99}},             // one whole sector, then 488 bytes of the next
        {0, 100, {95, 95}},              // no whole sector: an empty request, then the part
        {7, 512, {102}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        requested.clear();
        std::vector<std::uint8_t> buffer(c.count + 16, 0xEE);
        std::uint32_t done = 0;
        ASSERT_EQ(readBlocks(context.device.get(), BLOCK_READ, c.sector, c.count, buffer.data(), &done), UFS_OK);
        EXPECT_EQ(done, c.count);
        EXPECT_EQ(requested, c.requests);
        EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + c.count),
                  testing_support::readAt(image, (95ull + c.sector) * 512, c.count));
        EXPECT_EQ(buffer[c.count], 0xEE);
    }
    std::uint8_t byte;
    EXPECT_EQ(readBlocks(context.device.get(), 2, 0, 1, &byte, nullptr), UFS_READ_ONLY);
    EXPECT_EQ(readBlocks(context.device.get(), BLOCK_READ, 0xFFFFFFF0u, 512, &byte, nullptr), UFS_INVALID);
    EXPECT_EQ(deviceControl(&context, 0, nullptr), UFS_IO_ERROR);
    closeDevice(&context);
}

TEST_F(WinblkDevice, ClosingReleasesTheHandle) {
    TestDevice device(withDisk(image));
    ASSERT_EQ(openDevice(&context, "DSK", 1, 0), UFS_OK);
    ce::HANDLE handle = context.device->handle;
    EXPECT_EQ(closeDevice(&context), UFS_OK);
    EXPECT_EQ(context.device, nullptr);
    EXPECT_FALSE(ce::CloseHandle(handle));
}

TEST(DiskLabel, NeverReadsBeyondTheCopy) {
    std::vector<std::uint8_t> label = testing_support::bsdLabel(1000, {{10, 10}});
    EXPECT_TRUE(diskLabelValid(label.data(), 280));
    EXPECT_FALSE(diskLabelValid(label.data(), 147));  // shorter than the fixed part
    // Eight entries fill the 280 bytes exactly; a copy one byte short cannot hold them.
    std::vector<LabelPartition> eight(8, LabelPartition{10, 10});
    label = testing_support::bsdLabel(1000, eight);
    EXPECT_TRUE(diskLabelValid(label.data(), 276));
    EXPECT_FALSE(diskLabelValid(label.data(), 275));
}

}  // namespace
