// Timing for the benchmarks: the best of several rounds, so that one disturbed round
// does not decide.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace bench {

constexpr int ROUNDS = 5;

struct Result {
    double seconds = 0;
    std::uint64_t bytes = 0;
    unsigned long crc = 0;  // as zlib's crc32 gives it
};

inline Result best(const std::function<Result()>& run, int rounds = ROUNDS) {
    Result fastest;
    for (int i = 0; i < rounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        Result r = run();
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (i == 0 || r.seconds < fastest.seconds) fastest = r;
    }
    return fastest;
}

}  // namespace bench
