// The UFS backend: reads files read-only from a UFS1 file system on a partition of
// a block device ("DSK1:").
#pragma once

#include <cstdint>

#include "console/console.h"
#include "file/file_manager.h"
#include "file/ufs/block_driver.h"

namespace quorvel {

class UfsFileManager : public FileManager {
public:
    explicit UfsFileManager(Console*& consoleSlot);
    ~UfsFileManager() override;

    ce::BOOL setLocation(const ce::WCHAR* directory) override;
    ce::BOOL open(const ce::WCHAR* name, int mode) override;
    std::uint32_t storedSize() override;
    int close() override;
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    std::int32_t write(const void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    ce::BOOL seek(std::uint32_t offset) override;

    // The device and file the backend reads through; none when allocation failed.
    FileContext* fileContext() const { return context.get(); }

private:
    template <typename... Args>
    void say(const ce::WCHAR* format, Args... args) {
        if (Console* console = consoleSlot) console->print(format, args...);
    }

    std::unique_ptr<FileContext> context;
};

}  // namespace quorvel
