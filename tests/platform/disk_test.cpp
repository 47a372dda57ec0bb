// Disk devices of the simulated handheld: opened by name, described by
// DISK_IOCTL_GETINFO and read in whole sectors by DISK_IOCTL_READ.
#include "platform/disk.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/coredll.h"
#include "support/device.h"

using namespace ce;
using testing_support::TempDir;
using testing_support::TestDevice;

namespace {

constexpr DWORD SECTORS = 64;

// Sector i holds the byte i + 1 repeated.
std::filesystem::path sectorImage(const TempDir& dir) {
    std::filesystem::path image = dir.path() / "disk.img";
    std::ofstream out(image, std::ios::binary);
    for (DWORD i = 0; i < SECTORS; ++i) out << std::string(512, static_cast<char>(i + 1));
    return image;
}

class DiskDevice : public ::testing::Test {
protected:
    sim::DeviceSettings withDisk(sim::DiskImage disk) {
        sim::DeviceSettings settings;
        settings.disks[u"DSK1:"] = std::move(disk);
        return settings;
    }
    HANDLE open(const char16_t* name = u"DSK1:") {
        return CreateFileW(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    BOOL readSectors(HANDLE disk, SG_REQ& request, DWORD first, DWORD count, BYTE* buffer, DWORD length) {
        request = {};
        request.sr_start = first;
        request.sr_num_sec = count;
        request.sr_num_sg = 1;
        request.sr_sglist[0] = {buffer, length};
        DWORD returned = 0;
        return DeviceIoControl(disk, DISK_IOCTL_READ, &request, sizeof request, nullptr, 0, &returned, nullptr);
    }
    TempDir dir;
    std::filesystem::path image = sectorImage(dir);
};

TEST_F(DiskDevice, ReportsItsGeometryAndFlags) {
    struct Case {
        const char* what;
        DWORD bytesPerSector, flags;
    } cases[] = {{"card with an MBR", 512, DISK_INFO_FLAGS_MBR},
                 {"large sectors", 2048, DISK_INFO_FLAGS_MBR},
                 {"unformatted", 512, DISK_INFO_FLAGS_MBR | DISK_INFO_FLAGS_UNFORMATTED}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::DiskImage disk(image);
        disk.bytesPerSector = c.bytesPerSector;
        disk.flags = c.flags;
        TestDevice device(withDisk(disk));
        HANDLE h = open(u"dsk1:");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DISK_INFO info{};
        DWORD returned = 0;
        // The record may be passed as the input buffer, as the block layer does.
        ASSERT_TRUE(DeviceIoControl(h, DISK_IOCTL_GETINFO, &info, sizeof info, nullptr, 0, &returned, nullptr));
        EXPECT_EQ(returned, sizeof info);
        EXPECT_EQ(info.di_bytes_per_sect, c.bytesPerSector);
        EXPECT_EQ(info.di_total_sectors, SECTORS * 512 / c.bytesPerSector);
        EXPECT_EQ(info.di_flags, c.flags);
        DISK_INFO out{};
        ASSERT_TRUE(DeviceIoControl(h, DISK_IOCTL_GETINFO, nullptr, 0, &out, sizeof out, &returned, nullptr));
        EXPECT_EQ(out.di_total_sectors, info.di_total_sectors);
        EXPECT_TRUE(CloseHandle(h));
    }
}

TEST_F(DiskDevice, ReadsWholeSectorsIntoScatterGatherBuffers) {
    TestDevice device(withDisk(image));
    HANDLE h = open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::vector<BYTE> buffer(3 * 512);
    SG_REQ request;
    ASSERT_TRUE(readSectors(h, request, 5, 3, buffer.data(), static_cast<DWORD>(buffer.size())));
    EXPECT_EQ(request.sr_status, 0u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(buffer[i * 512 + 100], 6 + i);

    // Two buffers: the sectors run on from the first into the second.
    struct {
        SG_REQ request;
        SG_BUF more;
    } two{};
    std::vector<BYTE> first(512), second(1024);
    two.request.sr_start = 10;
    two.request.sr_num_sec = 3;
    two.request.sr_num_sg = 2;
    two.request.sr_sglist[0] = {first.data(), 512};
    two.more = {second.data(), 1024};
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(h, DISK_IOCTL_READ, &two, sizeof two, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(two.request.sr_status, 0u);
    EXPECT_EQ(first[511], 11);
    EXPECT_EQ(second[0], 12);
    EXPECT_EQ(second[1023], 13);

    // Claiming a second buffer that the record does not carry is refused.
    request.sr_num_sg = 2;
    EXPECT_FALSE(DeviceIoControl(h, DISK_IOCTL_READ, &request, sizeof request, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    CloseHandle(h);
}

TEST_F(DiskDevice, ReportsReadErrorsInTheStatusOrTheResult) {
    TestDevice device(withDisk(image));
    HANDLE h = open();
    std::vector<BYTE> buffer(4 * 512, 0xEE);
    SG_REQ request;

    ASSERT_TRUE(readSectors(h, request, SECTORS - 1, 2, buffer.data(), 1024));
    EXPECT_EQ(request.sr_status, ERROR_SECTOR_NOT_FOUND);
    ASSERT_TRUE(readSectors(h, request, 0, 2, buffer.data(), 512));
    EXPECT_EQ(request.sr_status, ERROR_INVALID_PARAMETER);  // buffers too small

    device->faults().failWhen("DeviceIoControl", [](const sim::FaultCall& call) { return call.address == 7; });
    EXPECT_FALSE(readSectors(h, request, 7, 1, buffer.data(), 512));
    EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE);

    device->faults().failWhen("DeviceIoControl", [](const sim::FaultCall& call) { return call.address == 20; }, 700);
    ASSERT_TRUE(readSectors(h, request, 20, 2, buffer.data(), 1024));
    EXPECT_EQ(request.sr_status, ERROR_READ_FAULT);
    EXPECT_EQ(buffer[699], 22);
    EXPECT_EQ(buffer[700], 0xEE);  // nothing after the cut

    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(h, 0x99, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    CloseHandle(h);
}

TEST_F(DiskDevice, OnlyConfiguredDisksOpen) {
    TestDevice device(withDisk(image));
    EXPECT_EQ(open(u"DSK2:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    device.writeFile("Storage Card/file", "not a disk");
    HANDLE file = open(u"\\Storage Card\\file");
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DISK_INFO info{};
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(file, DISK_IOCTL_GETINFO, &info, sizeof info, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(file);

    device->faults().failWhen("CreateFileW", [](const sim::FaultCall& call) { return call.name == u"DSK1:"; });
    EXPECT_EQ(open(), INVALID_HANDLE_VALUE);
}

}  // namespace
