// A simulated handheld for one test: a fresh temporary root folder with a storage
// card, and the device made current for the test's lifetime.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "sim/handheld.h"

namespace testing_support {

class TestDevice {
public:
    // `adjust` may change the settings before the device starts.
    explicit TestDevice(sim::DeviceSettings settings = {});
    ~TestDevice();

    sim::Handheld& operator*() { return *device_; }
    sim::Handheld* operator->() { return device_.get(); }
    sim::Handheld& device() { return *device_; }

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path card() const { return root_ / "Storage Card"; }
    void writeFile(const std::filesystem::path& relative, const std::string& bytes) const;
    std::string readFile(const std::filesystem::path& relative) const;

private:
    std::filesystem::path root_;
    std::unique_ptr<sim::Handheld> device_;
};

// A fresh empty temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace testing_support
