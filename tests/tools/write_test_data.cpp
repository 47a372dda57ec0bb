// Writes the tests' generated data to a file at build time, so that costly inputs
// (multi-megabyte files for the gzip tool) are made once per build, not per test process.
//   write_test_data random|text <size> <seed> <output>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_data.h"

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s random|text <size> <seed> <output>\n", argv[0]);
        return 2;
    }
    const std::string kind = argv[1];
    const std::size_t size = std::strtoull(argv[2], nullptr, 0);
    const auto seed = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 0));
    std::string bytes;
    if (kind == "random") {
        bytes = testing_support::randomData(size, seed);
    } else if (kind == "text") {
        bytes = testing_support::textData(size, seed);
    } else {
        std::fprintf(stderr, "%s: unknown kind %s\n", argv[0], kind.c_str());
        return 2;
    }
    testing_support::writeHostFile(argv[4], bytes);
    return 0;
}
