// A file backend over bytes held in memory.
#include "support/memory_backend.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace testing_support {

MemoryBackend::MemoryBackend(quorvel::Console*& consoleIn, std::string content)
    : FileManager(consoleIn), bytes(std::move(content)) {}

ce::BOOL MemoryBackend::open(const ce::WCHAR*, int) {
    position = 0;
    return 1;
}

std::int32_t MemoryBackend::read(void* buffer, std::uint32_t length, std::int32_t offset) {
    if (offset != -1) position = static_cast<std::uint32_t>(offset);
    if (reads++ == failingRead) return -1;
    if (position >= bytes.size()) return 0;
    std::size_t n = std::min({std::size_t{length}, bytes.size() - position, readLimit});
    std::memcpy(buffer, bytes.data() + position, n);
    position += static_cast<std::uint32_t>(n);
    return static_cast<std::int32_t>(n);
}

ce::BOOL MemoryBackend::seek(std::uint32_t offset) {
    if (seeks++ == failingSeek) return 0;
    position = offset;
    return 1;
}

}  // namespace testing_support
