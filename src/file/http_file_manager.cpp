// The HTTP backend (first cut: every operation fails until the network code lands).
#include "file/http_file_manager.h"

namespace quorvel {

HttpFileManager::HttpFileManager(Console*& consoleSlot) : FileManager(consoleSlot) { debugLevel = 1; }
HttpFileManager::~HttpFileManager() = default;
ce::BOOL HttpFileManager::setLocation(const ce::WCHAR*) { return 0; }
ce::BOOL HttpFileManager::open(const ce::WCHAR*, int) { return 0; }
std::uint32_t HttpFileManager::storedSize() { return 0; }
int HttpFileManager::close() { return 1; }
std::int32_t HttpFileManager::read(void*, std::uint32_t, std::int32_t) { return 0; }
std::int32_t HttpFileManager::write(const void*, std::uint32_t, std::int32_t) { return 0; }
ce::BOOL HttpFileManager::seek(std::uint32_t) { return 1; }

}  // namespace quorvel
