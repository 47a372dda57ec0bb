// The error numbers the block device and the UFS reader return (0 is success).
#pragma once

namespace quorvel {

constexpr int UFS_OK = 0;
constexpr int UFS_NOT_FOUND = 2;      // also a path too long or too many links
constexpr int UFS_IO_ERROR = 5;       // including a short read
constexpr int UFS_NO_MEMORY = 12;
constexpr int UFS_NO_DEVICE = 19;
constexpr int UFS_NOT_DIRECTORY = 20;
constexpr int UFS_INVALID = 22;
constexpr int UFS_FILE_TOO_BIG = 27;  // beyond the triple-indirect range
constexpr int UFS_READ_ONLY = 30;

}  // namespace quorvel
