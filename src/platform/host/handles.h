// The kinds of object a HANDLE of the simulated handheld stands for.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/types.h"
#include "sim/handheld.h"

namespace ce::host {

struct OpenFile : sim::HandleObject {
    OpenFile(int descriptor, std::u16string devicePath) : fd(descriptor), path(std::move(devicePath)) {}
    ~OpenFile() override { ::close(fd); }
    int fd;
    std::u16string path;

    // Bytes read ahead of the caller, as the device's file system cache holds them:
    // small reads then cost no host call each. `fd` stands at the buffer's end.
    static constexpr std::size_t READ_AHEAD = 64 * 1024;
    std::unique_ptr<char[]> ahead;
    std::size_t aheadAt = 0;
    std::size_t aheadEnd = 0;
    std::uint64_t aheadGeneration = 0;  // the writes seen when it was filled

    // Puts `fd` back where the caller stands and forgets the bytes read ahead.
    void dropReadAhead() {
        if (aheadAt < aheadEnd) ::lseek(fd, -static_cast<off_t>(aheadEnd - aheadAt), SEEK_CUR);
        aheadAt = aheadEnd = 0;
    }
};

struct FindSearch : sim::HandleObject {
    std::vector<WIN32_FIND_DATAW> entries;
    std::size_t next = 0;
};

struct ComPort : sim::HandleObject {};

}  // namespace ce::host
