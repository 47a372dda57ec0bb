// Test data and host files.
#include "support/test_data.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace testing_support {

std::string randomData(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string textData(std::size_t size, unsigned seed) {
    static const char* const words[] = {"kernel", "page", "link", "inflate", "member", "trailer",
                                        "storage", "card", "boot", "window", "header", "seek"};
    std::mt19937 random(seed);
    std::string text;
    text.reserve(size + 100);
    while (text.size() < size) {
        text += std::to_string(random() % 100000);
        for (int i = 0; i < 8; ++i) {
            text += ' ';
            text += words[random() % 12];
        }
        text += '\n';
    }
    text.resize(size);
    return text;
}

std::string gzipTool(const std::filesystem::path& folder, const std::string& bytes, const std::string& options,
                     const std::string& name) {
    const std::filesystem::path in = folder / name;
    const std::filesystem::path out = folder / (name + ".gz");
    writeHostFile(in, bytes);
    const std::string command = "gzip -c " + options + " '" + in.string() + "' > '" + out.string() + "'";
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        return {};
    }
    return readHostFile(out);
}

std::string readHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

void writeHostFile(const std::filesystem::path& path, const std::string& bytes) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testing_support
