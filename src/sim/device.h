// A memory-mapped device of the simulated handheld: a window of physical addresses
// whose registers answer reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct RegisterAccess {
    enum Kind { Read, Write } kind;
    std::uint32_t offset;
    std::uint32_t value;
    int width;  // 8 or 32
    bool operator==(const RegisterAccess&) const = default;
};

class Device {
public:
    Device(std::string name, std::uint32_t base, std::uint32_t size) : name_(std::move(name)), base_(base), size_(size) {}
    virtual ~Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const std::string& name() const { return name_; }
    std::uint32_t base() const { return base_; }
    std::uint32_t size() const { return size_; }
    bool contains(std::uint32_t physical) const { return physical >= base_ && physical - base_ < size_; }

    // Every access is recorded before the device acts on it.
    std::uint32_t read(std::uint32_t offset, int width);
    void write(std::uint32_t offset, std::uint32_t value, int width);
    const std::vector<RegisterAccess>& accesses() const { return accesses_; }
    void clearAccesses() { accesses_.clear(); }

protected:
    virtual std::uint32_t readRegister(std::uint32_t offset, int width) = 0;
    virtual void writeRegister(std::uint32_t offset, std::uint32_t value, int width) = 0;

private:
    std::string name_;
    std::uint32_t base_;
    std::uint32_t size_;
    std::vector<RegisterAccess> accesses_;
};

}  // namespace sim
