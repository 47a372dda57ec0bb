// Watches the memory the gzip front's kept bytes take: now, and the most since installed.
#pragma once

#include <algorithm>
#include <cstdint>

#include "file/gzip_chunk_cache.h"

namespace testing_support {

class CacheWatch : public quorvel::GzipCacheObserver {
public:
    void cacheBytesChanged(std::uint64_t now) override {
        bytes = now;
        peak = std::max(peak, now);
    }

    std::uint64_t bytes = 0;
    std::uint64_t peak = 0;
};

}  // namespace testing_support
