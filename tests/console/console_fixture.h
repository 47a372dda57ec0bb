// A simulated handheld with the log captured, and the console globals put back
// afterwards (COM1 closed while the device still exists).
#pragma once

#include <gtest/gtest.h>

#include "arch/arm/uart_console.h"
#include "console/console.h"
#include "support/device.h"
#include "support/log_capture.h"

class ConsoleTest : public ::testing::Test {
protected:
    explicit ConsoleTest(sim::DeviceSettings settings = {}) : device(std::move(settings)) {}
    ~ConsoleTest() override {
        quorvel::releaseUartConsole();
        quorvel::releaseConsole();
    }

    testing_support::TestDevice device;
    testing_support::LogCapture log;
};
