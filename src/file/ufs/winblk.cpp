// The "winblk" block driver over DeviceIoControl, with the partition search.
#include "file/ufs/winblk.h"

#include <cstring>
#include <new>

#include "console/console.h"
#include "file/ufs/disk_label.h"
#include "file/ufs/error_numbers.h"
#include "platform/coredll.h"
#include "platform/disk.h"

namespace quorvel {

const BlockDriver winblkDriver = {
    .name = "winblk",
    .readBlocks = readBlocks,
    .openDevice = openDevice,
    .closeDevice = closeDevice,
    .deviceControl = deviceControl,
};

namespace {

char upperLetter(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

void releaseDevice(FileContext* context) {
    if (!context->device) return;
    if (context->device->handle != ce::INVALID_HANDLE_VALUE) ce::CloseHandle(context->device->handle);
    context->device.reset();
}

int failOpen(FileContext* context, int error) {
    releaseDevice(context);
    return error;
}

}  // namespace

int openDevice(FileContext* context, const char* prefix, int unit, int index) {
    // A context opened again lets go of its earlier device first.
    releaseDevice(context);
    context->device.reset(new (std::nothrow) DiskDevice);
    if (!context->device) return UFS_NO_MEMORY;
    DiskDevice* device = context->device.get();
    if (!prefix || std::strlen(prefix) != 3 || unit < 0 || unit > 9) return failOpen(context, UFS_NO_DEVICE);

    ce::WCHAR name[16];
    ce::wsprintfW(name, u"%C%C%C%d:", upperLetter(prefix[0]), upperLetter(prefix[1]), upperLetter(prefix[2]), unit);
    device->handle = ce::CreateFileW(name, ce::GENERIC_READ, 0, nullptr, ce::OPEN_EXISTING, 0, nullptr);
    if (device->handle == ce::INVALID_HANDLE_VALUE) {
        debugMessage(u"can't open %s.\n", name);
        return failOpen(context, UFS_NO_DEVICE);
    }

    ce::DWORD returned = 0;
    if (!ce::DeviceIoControl(device->handle, ce::DISK_IOCTL_GETINFO, &device->diskInfo, sizeof device->diskInfo,
                             nullptr, 0, &returned, nullptr)) {
        debugMessage(u"DeviceIoControl() failed.error=%d\n", ce::GetLastError());
        return failOpen(context, UFS_IO_ERROR);
    }
    if (!(device->diskInfo.di_flags & ce::DISK_INFO_FLAGS_MBR) ||
        (device->diskInfo.di_flags & ce::DISK_INFO_FLAGS_UNFORMATTED) ||
        device->diskInfo.di_bytes_per_sect != SECTOR_SIZE) {
        debugMessage(u"invalid flags\n");
        return failOpen(context, UFS_INVALID);
    }

    int error = readSectors(device, 0, 1, device->sectorBuffer);
    if (error) return failOpen(context, error);
    std::memcpy(device->partitionTable, device->sectorBuffer + 446, PARTITION_TABLE_SIZE);

    std::uint32_t partitionStart = 0;
    if (!findBsdPartition(device->partitionTable, &partitionStart)) {
        device->startSector = 0;
        debugMessage(u"no BSD partition, start sector=0x%x\n", 0);
        return UFS_OK;
    }
    device->startSector = partitionStart;
    if (partitionStart == 0xFFFFFFFFu) return failOpen(context, UFS_INVALID);
    error = readSectors(device, partitionStart + 1, 1, device->sectorBuffer);
    if (error) return failOpen(context, error);
    std::memcpy(device->diskLabel, device->sectorBuffer, DISK_LABEL_COPY_SIZE);

    if (!diskLabelValid(device->diskLabel, DISK_LABEL_COPY_SIZE)) {
        debugMessage(u"invalid disklabel, start sector=0x%x\n", partitionStart);
        return UFS_OK;
    }
    if (index < 0 || index >= diskLabelPartitions(device->diskLabel)) return failOpen(context, UFS_INVALID);
    device->startSector = diskLabelPartitionStart(device->diskLabel, index);
    debugMessage(u"start sector=0x%x\n", device->startSector);
    return UFS_OK;
}

int readBlocks(DiskDevice* device, int direction, std::uint32_t sector, std::uint32_t count, void* buffer,
               std::uint32_t* done) {
    if (direction != BLOCK_READ) return UFS_READ_ONLY;
    if (!device) return UFS_NO_DEVICE;
    std::uint32_t whole = count / SECTOR_SIZE;
    std::uint32_t tail = count % SECTOR_SIZE;
    // Every sector touched must be addressable in 32 bits.
    std::uint32_t touched = whole + (tail ? 1 : 0);
    if (0xFFFFFFFFu - device->startSector < sector || 0xFFFFFFFFu - device->startSector - sector < touched) {
        return UFS_INVALID;
    }
    std::uint32_t first = device->startSector + sector;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    int error = readSectors(device, first, whole, bytes);
    if (error) return error;
    if (tail) {
        error = readSectors(device, first + whole, 1, device->sectorBuffer);
        if (error) return error;
        std::memcpy(bytes + static_cast<std::size_t>(whole) * SECTOR_SIZE, device->sectorBuffer, tail);
    }
    if (done) *done = count;
    return UFS_OK;
}

int readSectors(DiskDevice* device, std::uint32_t sector, std::uint32_t count, void* buffer) {
    ce::SG_REQ request{};
    request.sr_start = sector;
    request.sr_num_sec = count;
    request.sr_num_sg = 1;
    request.sr_callback = nullptr;
    request.sr_sglist[0].sb_buf = static_cast<ce::BYTE*>(buffer);
    request.sr_sglist[0].sb_len = count * static_cast<ce::DWORD>(SECTOR_SIZE);
    ce::DWORD returned = 0;
    if (!ce::DeviceIoControl(device->handle, ce::DISK_IOCTL_READ, &request, sizeof request, nullptr, 0, &returned,
                             nullptr)) {
        debugMessage(u"DeviceIoControl() failed.error=%d\n", ce::GetLastError());
        return UFS_IO_ERROR;
    }
    if (request.sr_status != 0) {
        debugMessage(u"DeviceIoControl(READ): status=%d\n", request.sr_status);
        return UFS_IO_ERROR;
    }
    return UFS_OK;
}

int closeDevice(FileContext* context) {
    releaseDevice(context);
    return UFS_OK;
}

int deviceControl(FileContext*, int, void*) { return UFS_IO_ERROR; }

}  // namespace quorvel
