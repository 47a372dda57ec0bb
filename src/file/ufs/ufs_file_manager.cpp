// The UFS backend over the UFS1 reader and the "winblk" block driver.
#include "file/ufs/ufs_file_manager.h"

#include <new>

#include "console/console.h"
#include "file/ufs/error_numbers.h"
#include "file/ufs/ufs_reader.h"
#include "file/ufs/winblk.h"

namespace quorvel {

namespace {

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isUnit(char c) { return c >= '1' && c <= '9'; }

}  // namespace

UfsFileManager::UfsFileManager(Console*& consoleSlot) : FileManager(consoleSlot) {
    context.reset(new (std::nothrow) FileContext);
    if (context) context->driver = &winblkDriver;
    debugLevel = 1;
    say(u"FileManager: UFS\n");
}

UfsFileManager::~UfsFileManager() {
    if (!context) return;
    ufsClose(context.get());
    // The device handle goes with the backend rather than outliving it.
    if (context->device) context->driver->closeDevice(context.get());
}

ce::BOOL UfsFileManager::setLocation(const ce::WCHAR* directory) {
    if (!context) return 0;
    char prefix[4] = {'D', 'S', 'K', '\0'};
    int unit = 1;
    char text[FILE_NAME_SIZE] = {};
    if (directory && convertToAscii(text, directory, sizeof text)) {
        if (isUnit(text[0]) && text[1] == ':') {
            unit = text[0] - '0';
        } else if (isLetter(text[0]) && isLetter(text[1]) && isLetter(text[2]) && isUnit(text[3]) && text[4] == ':') {
            prefix[0] = text[0];
            prefix[1] = text[1];
            prefix[2] = text[2];
            unit = text[3] - '0';
        }
    }
    return context->driver->openDevice(context.get(), prefix, unit, 0) == UFS_OK ? 1 : 0;
}

ce::BOOL UfsFileManager::open(const ce::WCHAR* name, int) {
    if (!convertToAscii(fileName, name, FILE_NAME_SIZE)) return 0;
    int error = context ? ufsOpen(fileName, context.get()) : UFS_NO_MEMORY;
    say(u"open file \"%s\" ", name);
    if (error) {
        say(u"failed.\n");
        return 0;
    }
    say(u"(%d byte).\n", storedSize());
    return 1;
}

std::uint32_t UfsFileManager::storedSize() { return static_cast<std::uint32_t>(ufsSize(context.get())); }

int UfsFileManager::close() { return ufsClose(context.get()); }

std::int32_t UfsFileManager::read(void* buffer, std::uint32_t length, std::int32_t offset) {
    if (offset != -1) ufsSeek(context.get(), offset, UFS_SEEK_SET);
    std::uint32_t residual = length;
    int error = ufsRead(context.get(), buffer, length, &residual);
    if (!error) return static_cast<std::int32_t>(length - residual);
    say(u"UFS read error %d.\n", error);
    // What arrived before the error is delivered; a read that failed at once is an
    // error rather than the end of the file.
    return residual == length ? -1 : static_cast<std::int32_t>(length - residual);
}

std::int32_t UfsFileManager::write(const void* buffer, std::uint32_t length, std::int32_t offset) {
    if (offset != -1) ufsSeek(context.get(), offset, UFS_SEEK_SET);
    std::uint32_t residual = length;
    ufsWrite(context.get(), buffer, length, &residual);
    return 0;
}

ce::BOOL UfsFileManager::seek(std::uint32_t offset) {
    ufsSeek(context.get(), offset, UFS_SEEK_SET);
    return 1;
}

}  // namespace quorvel
