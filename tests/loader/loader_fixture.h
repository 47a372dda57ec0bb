// A simulated handheld with a LockPages page pool and the log captured, kernel files
// served from memory or from the storage card, and helpers to read test kernels.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "boot/boot_menu.h"
#include "console/console.h"
#include "file/file_manager.h"
#include "file/gzip_file_manager.h"
#include "loader/loader.h"
#include "memory/lock_pages_memory_manager.h"
#include "platform/coredll.h"
#include "sim/utf.h"
#include "support/device.h"
#include "support/log_capture.h"
#include "support/page_link_walker.h"

// A file held in memory. `claimedSize` may be set above the bytes held, to stand for
// a file that delivers less than it promised.
class BytesFile : public quorvel::FileManager {
public:
    BytesFile(quorvel::Console*& consoleIn, std::string content)
        : FileManager(consoleIn), bytes(std::move(content)), claimedSize(static_cast<std::uint32_t>(bytes.size())) {}

    ce::BOOL setLocation(const ce::WCHAR*) override { return 1; }
    ce::BOOL open(const ce::WCHAR*, int) override { return 1; }
    std::uint32_t storedSize() override { return claimedSize; }
    int close() override { return 1; }
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) override {
        if (offset != -1) position = static_cast<std::uint32_t>(offset);
        if (length != 0) reads.emplace_back(position, length);  // data reads only
        if (position >= bytes.size()) return 0;
        const std::size_t n = std::min<std::size_t>(length, bytes.size() - position);
        std::memcpy(buffer, bytes.data() + position, n);
        position += static_cast<std::uint32_t>(n);
        return static_cast<std::int32_t>(n);
    }
    std::int32_t write(const void*, std::uint32_t, std::int32_t = -1) override { return -1; }
    ce::BOOL seek(std::uint32_t offset) override {
        position = offset;
        return 1;
    }

    std::string bytes;
    std::uint32_t claimedSize;
    std::uint32_t position = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> reads;  // (offset, length)
};

// Opens up the list-building services for tests of the base.
class BareLoader : public quorvel::Loader {
public:
    using Loader::Loader;
    using Loader::loadChunk;
    using Loader::loadMemory;
    using Loader::loadSegment;
    using Loader::startLinks;
    std::uint32_t neededMemory() override { return 0; }
    int load() override { return 1; }
    std::uint32_t entryAddress() override { return 0; }
    bool failed() const { return error; }
};

inline std::string readHostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

inline std::string testKernel(const std::string& name) {
    std::string bytes = readHostFile(std::string(LOADER_TEST_KERNELS) + "/" + name);
    EXPECT_FALSE(bytes.empty()) << name << " was not built";
    return bytes;
}

inline std::uint32_t get32(const std::string& b, std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
inline std::uint16_t get16(const std::string& b, std::size_t at) {
    std::uint16_t v;
    std::memcpy(&v, b.data() + at, 2);
    return v;
}
inline void put32(std::string& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
inline void put16(std::string& b, std::size_t at, std::uint16_t v) { std::memcpy(b.data() + at, &v, 2); }

class LoaderTest : public ::testing::Test {
protected:
    explicit LoaderTest(sim::DeviceSettings settings = {}) : device(std::move(settings)) {}

    void SetUp() override { quorvel::theBootMenu().safetyMessage = ce::FALSE; }

    // A LockPages pool of `pages` pages of simulated RAM.
    void makePool(std::uint32_t pages) {
        ce::HMODULE coredll = ce::LoadLibraryW(u"coredll.dll");
        auto lock = reinterpret_cast<ce::LockPagesRoutine>(ce::GetProcAddressW(coredll, u"LockPages"));
        auto unlock = reinterpret_cast<ce::UnlockPagesRoutine>(ce::GetProcAddressW(coredll, u"UnlockPages"));
        memory = std::make_unique<quorvel::LockPagesMemoryManager>(lock, unlock, consoleSlot, 4096, 0);
        memoryManagerSlot = memory.get();
        ASSERT_TRUE(memory->buildPool(pages * 4096, false));
        ASSERT_EQ(memory->poolCount(), static_cast<int>(pages));
    }

    BytesFile& serve(std::string bytes) {
        auto file = std::make_unique<BytesFile>(consoleSlot, std::move(bytes));
        BytesFile& ref = *file;
        files = std::move(file);
        fileManagerSlot = files.get();
        return ref;
    }

    // The kernel as the boot reads it: from the storage card through the gzip front.
    void serveFromCard(const std::string& name, const std::string& bytes) {
        device.writeFile("Storage Card/" + name, bytes);
        auto front = std::make_unique<quorvel::GzipFileManager>(consoleSlot, quorvel::FILE_MANAGER_FAT);
        ASSERT_TRUE(front->setLocation(u"\\Storage Card\\"));
        ASSERT_TRUE(front->open(sim::fromUtf8(name).c_str(), 3));
        files = std::move(front);
        fileManagerSlot = files.get();
    }

    // Fills simulated RAM so that cleared and untouched bytes can be told apart.
    void paint(std::uint32_t paddr, std::uint32_t size, std::uint8_t value = 0xEE) {
        std::memset(device->memory().host(sim::PhysicalAddress(paddr)), value, size);
    }
    std::string physical(std::uint32_t paddr, std::uint32_t size) {
        return testing_support::readPhysical(device->memory(), paddr, size);
    }
    testing_support::PageLinkWalk walk(std::uint32_t head) {
        return testing_support::walkPageLinks(device->memory(), head);
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        for (const std::u16string& entry : log.entries()) lines.push_back(sim::toUtf8(entry));
        return lines;
    }
    bool logged(const std::string& line) const { return log.contains(sim::fromUtf8(line)); }
    int loggedCount(const std::string& line) const {
        int n = 0;
        for (const std::string& l : logLines()) n += l == line;
        return n;
    }

    testing_support::TestDevice device;
    testing_support::LogCapture log;
    quorvel::Console* consoleSlot = quorvel::lcdConsole();
    std::unique_ptr<quorvel::LockPagesMemoryManager> memory;
    quorvel::MemoryManager* memoryManagerSlot = nullptr;
    std::unique_ptr<quorvel::FileManager> files;
    quorvel::FileManager* fileManagerSlot = nullptr;
};
