// The block driver's interface: disk information, scatter-gather sector reads and
// DeviceIoControl on a device opened by name ("DSK1:").
#pragma once

#include "platform/types.h"

namespace ce {

inline constexpr DWORD DISK_IOCTL_GETINFO = 1;
inline constexpr DWORD DISK_IOCTL_READ = 2;

inline constexpr DWORD DISK_INFO_FLAGS_MBR = 0x1;
inline constexpr DWORD DISK_INFO_FLAGS_CHS_UNCERTAIN = 0x2;
inline constexpr DWORD DISK_INFO_FLAGS_UNFORMATTED = 0x4;
inline constexpr DWORD DISK_INFO_FLAGS_PAGEABLE = 0x8;

struct DISK_INFO {
    DWORD di_total_sectors;
    DWORD di_bytes_per_sect;
    DWORD di_cylinders;
    DWORD di_heads;
    DWORD di_sectors;
    DWORD di_flags;
};
static_assert(sizeof(DISK_INFO) == 24);

struct SG_BUF {
    BYTE* sb_buf;
    DWORD sb_len;
};

struct SG_REQ;
using PFN_REQDONE = DWORD (*)(SG_REQ* request);

// 28 bytes on the device; wider on a host with 64-bit pointers.
struct SG_REQ {
    DWORD sr_start;     // first sector
    DWORD sr_num_sec;   // sectors to transfer
    DWORD sr_num_sg;    // entries in sr_sglist
    DWORD sr_status;    // set by the driver: 0 or an error code
    PFN_REQDONE sr_callback;
    SG_BUF sr_sglist[1];
};

inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_SECTOR_NOT_FOUND = 27;

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned,
                     void* overlapped);

}  // namespace ce
