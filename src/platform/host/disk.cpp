// The block driver of the simulated handheld: each disk is an image file, read in
// whole sectors through DeviceIoControl.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/coredll.h"
#include "platform/disk.h"
#include "platform/host/disk_device.h"
#include "sim/handheld.h"

namespace ce {

namespace {

struct DiskHandle : sim::HandleObject {
    DiskHandle(int descriptor, std::u16string deviceName, sim::DiskImage image)
        : fd(descriptor), name(std::move(deviceName)), disk(std::move(image)) {}
    ~DiskHandle() override { ::close(fd); }
    int fd;
    std::u16string name;
    sim::DiskImage disk;
};

char16_t upper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool sameName(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::uint64_t imageSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
}

BOOL getInfo(DiskHandle& disk, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
    // Drivers accept the record as either buffer.
    LPVOID target = in && inSize >= sizeof(DISK_INFO) ? in : out && outSize >= sizeof(DISK_INFO) ? out : nullptr;
    if (!target) return fail(ERROR_INVALID_PARAMETER);
    DISK_INFO info{};
    std::uint32_t sectorSize = disk.disk.bytesPerSector ? disk.disk.bytesPerSector : 512;
    info.di_total_sectors = static_cast<DWORD>(imageSize(disk.fd) / sectorSize);
    info.di_bytes_per_sect = disk.disk.bytesPerSector;
    info.di_heads = 16;
    info.di_sectors = 63;
    info.di_cylinders = info.di_total_sectors / (16 * 63);
    info.di_flags = disk.disk.flags;
    std::memcpy(target, &info, sizeof info);
    if (returned) *returned = sizeof info;
    return TRUE;
}

BOOL read(DiskHandle& disk, LPVOID in, DWORD inSize, LPDWORD returned, std::optional<sim::Fault> fault) {
    if (!in || inSize < sizeof(SG_REQ)) return fail(ERROR_INVALID_PARAMETER);
    auto* request = static_cast<SG_REQ*>(in);
    std::size_t listBytes = static_cast<std::size_t>(inSize) - offsetof(SG_REQ, sr_sglist);
    if (request->sr_num_sg == 0 || listBytes / sizeof(SG_BUF) < request->sr_num_sg) return fail(ERROR_INVALID_PARAMETER);
    std::uint64_t sectorSize = disk.disk.bytesPerSector ? disk.disk.bytesPerSector : 512;
    std::uint64_t sectors = imageSize(disk.fd) / sectorSize;
    std::uint64_t wanted = static_cast<std::uint64_t>(request->sr_num_sec) * sectorSize;
    std::uint64_t room = 0;
    for (DWORD i = 0; i < request->sr_num_sg; ++i) room += request->sr_sglist[i].sb_len;

    request->sr_status = ERROR_SUCCESS;
    if (sectors < request->sr_start || sectors - request->sr_start < request->sr_num_sec) {
        request->sr_status = ERROR_SECTOR_NOT_FOUND;
    } else if (room < wanted) {
        request->sr_status = ERROR_INVALID_PARAMETER;
    } else {
        // A fault with a limit delivers that many bytes and then reports a read fault.
        std::uint64_t deliver = fault ? std::min<std::uint64_t>(wanted, fault->limit) : wanted;
        std::uint64_t offset = request->sr_start * sectorSize;
        for (DWORD i = 0; i < request->sr_num_sg && deliver; ++i) {
            std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(deliver, request->sr_sglist[i].sb_len));
            std::size_t done = 0;
            while (done < part) {
                ssize_t n = ::pread(disk.fd, request->sr_sglist[i].sb_buf + done, part - done,
                                    static_cast<off_t>(offset + done));
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) break;
                done += static_cast<std::size_t>(n);
            }
            if (done < part) {
                request->sr_status = ERROR_READ_FAULT;
                break;
            }
            offset += part;
            deliver -= part;
        }
        if (fault) request->sr_status = ERROR_READ_FAULT;
    }
    if (returned) *returned = 0;
    if (request->sr_callback) request->sr_callback(request);
    return TRUE;
}

}  // namespace

std::optional<HANDLE> host::openDiskDevice(std::u16string_view name) {
    sim::Handheld& device = sim::Handheld::current();
    for (const auto& [diskName, disk] : device.settings().disks) {
        if (!sameName(diskName, name)) continue;
        int fd = ::open(disk.image.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        SetLastError(ERROR_SUCCESS);
        return device.addHandle(std::make_unique<DiskHandle>(fd, diskName, disk));
    }
    return std::nullopt;
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     void*) {
    sim::Handheld& device = sim::Handheld::current();
    auto* disk = dynamic_cast<DiskHandle*>(device.handle(handle));
    if (!disk) return fail(ERROR_INVALID_HANDLE);
    DWORD sector = code == DISK_IOCTL_READ && in && inSize >= sizeof(SG_REQ) ? static_cast<SG_REQ*>(in)->sr_start : 0;
    auto fault = device.faults().check("DeviceIoControl", sector, disk->name);
    if (fault && (fault->limit == 0 || code != DISK_IOCTL_READ)) return fail(ERROR_GEN_FAILURE);
    switch (code) {
    case DISK_IOCTL_GETINFO: return getInfo(*disk, in, inSize, out, outSize, returned);
    case DISK_IOCTL_READ: return read(*disk, in, inSize, returned, fault);
    default: return fail(ERROR_NOT_SUPPORTED);
    }
}

}  // namespace ce
