// The kinds of object a HANDLE of the simulated handheld stands for.
#pragma once

#include <unistd.h>

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
};

struct FindSearch : sim::HandleObject {
    std::vector<WIN32_FIND_DATAW> entries;
    std::size_t next = 0;
};

struct ComPort : sim::HandleObject {};

}  // namespace ce::host
