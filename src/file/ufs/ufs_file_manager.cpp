// The UFS backend (first cut: every operation fails until the reader lands).
#include "file/ufs/ufs_file_manager.h"

namespace quorvel {

UfsFileManager::UfsFileManager(Console*& consoleSlot) : FileManager(consoleSlot) { debugLevel = 1; }
UfsFileManager::~UfsFileManager() = default;
ce::BOOL UfsFileManager::setLocation(const ce::WCHAR*) { return 0; }
ce::BOOL UfsFileManager::open(const ce::WCHAR*, int) { return 0; }
std::uint32_t UfsFileManager::storedSize() { return 0; }
int UfsFileManager::close() { return 0; }
std::int32_t UfsFileManager::read(void*, std::uint32_t, std::int32_t) { return 0; }
std::int32_t UfsFileManager::write(const void*, std::uint32_t, std::int32_t) { return 0; }
ce::BOOL UfsFileManager::seek(std::uint32_t) { return 1; }

}  // namespace quorvel
