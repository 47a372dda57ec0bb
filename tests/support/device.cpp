// Test devices.
#include "support/device.h"

#include "sim/utf.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

TestDevice::TestDevice(sim::DeviceSettings settings) {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-device-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    root_ = pattern;
    if (settings.root.empty()) {
        settings.root = root_;
        for (const std::u16string& card : settings.storageCards) {
            std::filesystem::create_directories(root_ / sim::toUtf8(card));
        }
    }
    device_ = std::make_unique<sim::Handheld>(settings);
}

TestDevice::~TestDevice() {
    device_.reset();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void TestDevice::writeFile(const std::filesystem::path& relative, const std::string& bytes) const {
    std::filesystem::path path = root_ / relative;
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TestDevice::readFile(const std::filesystem::path& relative) const {
    std::ifstream in(root_ / relative, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

}  // namespace testing_support
