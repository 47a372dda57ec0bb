// A simulated handheld with the log captured and coredll's page-lock routines.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "console/console.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/coredll.h"
#include "support/device.h"
#include "support/log_capture.h"

class MemoryTest : public ::testing::Test {
protected:
    explicit MemoryTest(sim::DeviceSettings settings = {}) : device(std::move(settings)) {}

    std::unique_ptr<quorvel::LockPagesMemoryManager> makeLockPages(std::uint32_t pageSize = 4096) {
        ce::HMODULE coredll = ce::LoadLibraryW(u"coredll.dll");
        auto lock = reinterpret_cast<ce::LockPagesRoutine>(ce::GetProcAddressW(coredll, u"LockPages"));
        auto unlock = reinterpret_cast<ce::UnlockPagesRoutine>(ce::GetProcAddressW(coredll, u"UnlockPages"));
        return std::make_unique<quorvel::LockPagesMemoryManager>(lock, unlock, consoleSlot, pageSize, 0);
    }

    // The physical address the simulated handheld has behind a virtual one.
    std::uint32_t physicalOf(std::uint32_t vaddr) {
        auto physical = device->addressSpace().physicalOf(vaddr);
        return physical ? physical->value() : 0xFFFFFFFFu;
    }

    testing_support::TestDevice device;
    testing_support::LogCapture log;
    quorvel::Console* consoleSlot = quorvel::lcdConsole();
};
