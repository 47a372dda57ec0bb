// Makes the UFS tests' sample disk at build time: make_ufs_sample <folder>
#include <cstdio>
#include <string>

#include "support/ufs_sample.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    std::string failure;
    if (!testing_support::ufs_sample::make(argv[1], &failure)) {
        std::fprintf(stderr, "%s: %s\n", argv[0], failure.c_str());
        return 1;
    }
    return 0;
}
