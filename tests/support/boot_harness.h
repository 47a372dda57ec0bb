// A whole boot on a simulated handheld, as the Boot command runs it after the safety
// question: the options set by the test, "BOOT START", the configuration saved, the
// boot started; then what the log, the message boxes, the UART and the emulated
// kernel showed.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "boot/boot_menu.h"
#include "sim/emulator.h"
#include "sim/handheld.h"
#include "support/device.h"

namespace testing_support {

struct BootRun {
    std::optional<sim::HandOverResult> handOver;  // none when the attempt failed
    std::string log;                              // the LCD console's text
    std::string uart;                             // everything the CPU's UART sent
    std::vector<sim::MessageBoxRecord> boxes;
    std::uint64_t inflatedBytes = 0;              // what the gzip front inflated in all

    // The kernel halted normally and its last line is "OK".
    bool kernelOk() const;
    // The kernel's report line starting with `prefix`, or "".
    std::string kernelLine(const std::string& prefix) const;
    // The boot's own log wherever the consoles put it (the LCD log, then the UART
    // once a UART console took over), without carriage returns.
    std::string bootLog() const;
    // Where the loader placed the file-system image, and where the kernel's symbols
    // ended (0 when the log does not say).
    std::uint32_t imageAddress() const;
    std::uint32_t symbolsEnd() const;
    // The caption and text of the "BOOT FAILED" box, if one was shown.
    std::optional<std::u16string> bootFailure() const;
};

// Options for a boot of the given kernel in "\Storage Card\" on the named platform.
void selectKernel(quorvel::BootMenu& menu, const std::u16string& platformName, const std::u16string& directory,
                  const std::u16string& kernel);

// Boots on `device` with the options `configure` sets; the BootMenu and boot context
// are made fresh and released afterwards.
BootRun bootOnDevice(TestDevice& device, const std::function<void(quorvel::BootMenu&)>& configure);

// Paths of the sample kernel the build made.
std::string sampleKernelPath();
std::string sampleKernelGzPath();

}  // namespace testing_support
