// The simulated handheld.
#include "sim/handheld.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "sim/windows/window_system.h"

namespace sim {

namespace {
Handheld* currentDevice = nullptr;

// The LCD frame's memory: a bank of its own unless DRAM already holds it, large
// enough for the 640 x 480 test picture an SA-11x0 can draw from DBAR1.
constexpr std::uint32_t MIN_FRAME_BANK = 0x50000;

bool frameInRam(const DeviceSettings& settings) {
    for (const RamBank& bank : settings.effectiveRam())
        if (settings.frameAddress >= bank.base && settings.frameAddress - bank.base < bank.size) return true;
    return false;
}

// The LCD's video memory when DRAM does not hold the frame.
std::vector<RamBank> videoMemory(const DeviceSettings& settings) {
    if (frameInRam(settings)) return {};
    std::uint32_t base = settings.frameAddress & ~(FRAME_SIZE - 1);
    std::uint32_t size = std::max({settings.frameAddress - base + settings.frameBytes(),
                                   settings.frameAddress - base + settings.frameMemoryBytes, MIN_FRAME_BANK});
    return {{base, (size + FRAME_SIZE - 1) & ~(FRAME_SIZE - 1)}};
}
}  // namespace

int MessageBoxes::show(std::uintptr_t owner, std::u16string text, std::u16string caption, std::uint32_t type) {
    MessageBoxRecord record{owner, std::move(text), std::move(caption), type, 0};
    if (!scripted_.empty()) {
        record.answer = scripted_.front();
        scripted_.pop_front();
    } else if (policy_) {
        record.answer = policy_(record);
    } else {
        std::uint32_t buttons = type & 0xF;
        record.answer = (buttons == 3 || buttons == 4) ? 6 /*IDYES*/ : 1 /*IDOK*/;
    }
    shown_.push_back(record);
    return record.answer;
}

std::string SerialPort::sent() const {
    std::string all;
    for (const std::string& w : writes) all += w;
    return all;
}

void SerialPort::write(const std::string& bytes) {
    writes.push_back(bytes);
    if (output.empty()) return;
    bool written = true;
    if (output == "-") {
        std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        std::cout.flush();
        written = static_cast<bool>(std::cout);
    } else {
        std::ofstream file(output, std::ios::binary | std::ios::app);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        file.close();
        written = static_cast<bool>(file);
    }
    if (!written && writeError.empty()) writeError = errno ? std::strerror(errno) : "write failed";
}

Handheld::Handheld(DeviceSettings settings)
    : settings_(std::move(settings)),
      memory_(settings_.effectiveRam(), settings_.seed, settings_.frameOrder, videoMemory(settings_)),
      random_(settings_.seed) {
    if (currentDevice) {
        std::fprintf(stderr, "sim: only one simulated handheld at a time\n");
        std::abort();
    }
    if (settings_.cpu == CpuFamily::SA11x0) {
        uart_ = std::make_unique<Sa11x0Uart>();
        lcd_ = std::make_unique<Sa11x0Lcd>();
        devices_ = {uart_.get(), lcd_.get()};
    } else {
        uart_ = std::make_unique<Pxa2x0Uart>();
        devices_ = {uart_.get()};
    }
    // No page is ever taken from an LCD frame that DRAM holds.
    if (frameInRam(settings_)) {
        std::vector<PhysicalAddress> frame;
        for (std::uint32_t offset = 0; offset < settings_.frameBytes() + (settings_.frameAddress & (FRAME_SIZE - 1));
             offset += FRAME_SIZE)
            frame.push_back(PhysicalAddress((settings_.frameAddress & ~(FRAME_SIZE - 1)) + offset));
        memory_.preferFrames(frame);
        for (std::size_t i = 0; i < frame.size(); ++i) memory_.allocateFrame();
    }
    if (lcd_) lcd_->dbar1 = settings_.frameAddress;
    addressSpace_ = std::make_unique<AddressSpace>(memory_, devices_, settings_.processId);
    cpu_.translationBase = addressSpace_->pageTables().firstLevel().value();
    cpu_.processId = settings_.processId;
    com1_.output = settings_.com1Output;
    cpu_.mainId = settings_.mainId;
    currentDevice = this;
}

Handheld::~Handheld() {
    windows_.reset();
    handles_.clear();
    addressSpace_.reset();
    currentDevice = nullptr;
}

Handheld& Handheld::current() {
    if (!currentDevice) {
        std::fprintf(stderr, "sim: a Windows CE call was made with no simulated handheld\n");
        std::abort();
    }
    return *currentDevice;
}

bool Handheld::exists() { return currentDevice != nullptr; }

WindowSystem& Handheld::windows() {
    if (!windows_) windows_ = std::make_unique<WindowSystem>(settings_);
    return *windows_;
}

std::uint32_t Handheld::random() {
    if (!scriptedRandom_.empty()) {
        std::uint32_t value = scriptedRandom_.front();
        scriptedRandom_.pop_front();
        return value;
    }
    return static_cast<std::uint32_t>(random_());
}

void* Handheld::addHandle(std::unique_ptr<HandleObject> object) {
    std::uintptr_t h = nextHandle_;
    nextHandle_ += 4;
    handles_[h] = std::move(object);
    return reinterpret_cast<void*>(h);
}

HandleObject* Handheld::handle(void* handle) const {
    auto it = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == handles_.end() ? nullptr : it->second.get();
}

bool Handheld::closeHandle(void* handle) { return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1; }

}  // namespace sim
