// The simulated handheld: the machine the OS boundary's host implementation talks
// to. A test (or the command-line front end) makes one; while it lives it is the
// device every Windows CE call reaches.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/address_space.h"
#include "sim/emulator.h"
#include "sim/faults.h"
#include "sim/physical_memory.h"
#include "sim/settings.h"
#include "sim/lcd.h"
#include "sim/uart.h"

namespace sim {

class WindowSystem;

// An open object behind a HANDLE (file, search, port); the host implementation
// derives its own kinds.
class HandleObject {
public:
    virtual ~HandleObject() = default;
};

struct MessageBoxRecord {
    std::uintptr_t owner;
    std::u16string text;
    std::u16string caption;
    std::uint32_t type;
    int answer;
};

// Message boxes are answered by scripted answers first, then by the policy; the
// default policy says yes to questions and OK to everything else.
class MessageBoxes {
public:
    using Policy = std::function<int(const MessageBoxRecord&)>;
    void script(int answer) { scripted_.push_back(answer); }
    void setPolicy(Policy policy) { policy_ = std::move(policy); }
    int show(std::uintptr_t owner, std::u16string text, std::u16string caption, std::uint32_t type);
    const std::vector<MessageBoxRecord>& shown() const { return shown_; }
    // A box answered on the screen is recorded with the others.
    void record(MessageBoxRecord box) { shown_.push_back(std::move(box)); }
    void clear() { shown_.clear(); }

private:
    std::deque<int> scripted_;
    Policy policy_;
    std::vector<MessageBoxRecord> shown_;
};

// COM1 as the serial driver sees it.
class SerialPort {
public:
    bool open = false;
    std::uint32_t baudRate = 9600;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;
    std::uint8_t stopBits = 0;
    std::vector<std::string> writes;  // one entry per WriteFile call
    std::string sent() const;
    std::filesystem::path output;     // "-" is the terminal
    std::string writeError;           // why a write to `output` failed, the first time one did
    void write(const std::string& bytes);
};

// Processor state the privileged primitives read and write.
struct CpuState {
    bool kernelMode = false;
    std::uint32_t cpsr = 0x10;  // user mode, interrupts enabled
    std::uint32_t mainId = 0;
    std::uint32_t control = 0;  // CP15 c1
    std::uint32_t translationBase = 0;  // CP15 c2
    std::uint32_t domainAccess = 0;  // CP15 c3
    std::uint32_t processId = 0;  // CP15 c13
    std::uint32_t dataCacheCleans = 0;

    std::uint32_t faultStatus = 0;   // CP15 c5
    std::uint32_t faultAddress = 0;  // CP15 c6
    std::uint32_t cp15c14 = 0;       // CP15 c14
    // The mode field of a thread in kernel mode; anything but System (0x1F) makes the
    // architecture's System-mode check fail. Outside kernel mode the field of `cpsr`
    // holds, user mode by default.
    std::uint32_t kernelModeCpsrMode = 0x1F;
    std::uint32_t dataCacheWordsRead = 0;  // by the latest cleanDataCache
    // CP15 accesses made outside kernel mode: undefined instructions on the device.
    std::uint32_t userModeCp15Accesses = 0;

    // How the flat jump's emulated hand-over runs, and what it came to.
    EmulationSettings emulation;
    std::optional<HandOverResult> handOver;

    // The CPSR as the running thread sees it.
    std::uint32_t currentCpsr() const { return (cpsr & ~0x1Fu) | (kernelMode ? kernelModeCpsrMode : (cpsr & 0x1Fu)); }
};

class Handheld {
public:
    explicit Handheld(DeviceSettings settings);
    ~Handheld();
    Handheld(const Handheld&) = delete;
    Handheld& operator=(const Handheld&) = delete;

    // The device in use; aborts when there is none.
    static Handheld& current();
    static bool exists();

    const DeviceSettings& settings() const { return settings_; }
    DeviceSettings& settings() { return settings_; }
    PhysicalMemory& memory() { return memory_; }
    AddressSpace& addressSpace() { return *addressSpace_; }
    Faults& faults() { return faults_; }
    MessageBoxes& messageBoxes() { return messageBoxes_; }
    SerialPort& com1() { return com1_; }
    CpuState& cpu() { return cpu_; }

    // Devices of the chosen processor; null when the family has none of that kind.
    Uart* uart() const { return uart_.get(); }
    Sa11x0Lcd* lcd() const { return lcd_.get(); }
    const std::vector<Device*>& devices() const { return devices_; }

    // The window system, made on first use; a program that has made a window runs
    // its message boxes as modal dialogs on the screen.
    WindowSystem& windows();
    WindowSystem* windowsIfAny() const { return windows_.get(); }

    // Everything OutputDebugStringW received.
    std::vector<std::u16string>& debugOutput() { return debugOutput_; }
    // Windows repainted by UpdateWindow, in order.
    std::vector<std::uintptr_t>& updatedWindows() { return updatedWindows_; }

    // Values the random routine returns before it falls back to its generator.
    void scriptRandom(std::uint32_t value) { scriptedRandom_.push_back(value); }
    std::uint32_t random();

    // coredll.dll loads so far.
    int coredllLoads = 0;

    // Open objects behind handles.
    void* addHandle(std::unique_ptr<HandleObject> object);
    HandleObject* handle(void* handle) const;
    bool closeHandle(void* handle);

private:
    DeviceSettings settings_;
    PhysicalMemory memory_;
    std::unique_ptr<Uart> uart_;
    std::unique_ptr<Sa11x0Lcd> lcd_;
    std::vector<Device*> devices_;
    std::unique_ptr<AddressSpace> addressSpace_;
    Faults faults_;
    MessageBoxes messageBoxes_;
    SerialPort com1_;
    CpuState cpu_;
    std::vector<std::u16string> debugOutput_;
    std::vector<std::uintptr_t> updatedWindows_;
    std::deque<std::uint32_t> scriptedRandom_;
    std::mt19937 random_;
    std::map<std::uintptr_t, std::unique_ptr<HandleObject>> handles_;
    std::unique_ptr<WindowSystem> windows_;
    std::uintptr_t nextHandle_ = 0x100;
};

}  // namespace sim
