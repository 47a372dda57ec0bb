// The local backend over CreateFileW, ReadFile, SetFilePointer and GetFileSize.
#include "file/fat_file_manager.h"

#include <cstdarg>

#include "console/console.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

// What Windows reports for a name longer than a path may be.
constexpr ce::DWORD ERROR_FILENAME_EXCED_RANGE = 206;

template <typename... Args>
void say(Console* console, const ce::WCHAR* format, Args... args) {
    (console ? console : theConsole())->print(format, args...);
}

void formatPath(ce::WCHAR* out, const ce::WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    ce::wvnsprintfW(out, static_cast<int>(FILE_NAME_SIZE), format, args);
    va_end(args);
}

}  // namespace

FatFileManager::FatFileManager(Console*& consoleIn) : FileManager(consoleIn) {
    debugLevel = 1;
    say(consoleSlot, u"FileManager: FAT\n");
}

FatFileManager::~FatFileManager() {
    // The file is opened without sharing: a handle left open would keep the next
    // attempt from opening it again.
    if (file != ce::INVALID_HANDLE_VALUE) ce::CloseHandle(file);
}

ce::BOOL FatFileManager::setLocation(const ce::WCHAR* directory) {
    // Keep the last character for the terminator; a longer directory is remembered
    // as such so that no name is ever looked for in a cut-short one.
    std::size_t length = directory ? ce::wcslen(directory) : 0;
    directoryTooLong = length >= FILE_NAME_SIZE;
    for (std::size_t i = 0; i < FILE_NAME_SIZE; ++i) {
        rootDirectory[i] = (i < length && i + 1 < FILE_NAME_SIZE) ? directory[i] : 0;
        path[i] = rootDirectory[i];
    }
    return 1;
}

ce::BOOL FatFileManager::open(const ce::WCHAR* name, int) {
    if (!name) name = u"";
    // An open handle left behind is closed rather than lost.
    if (file != ce::INVALID_HANDLE_VALUE) close();
    formatPath(path, u"%s%s", rootDirectory, name);
    std::size_t wanted = ce::wcslen(rootDirectory) + ce::wcslen(name);
    if (directoryTooLong || wanted >= FILE_NAME_SIZE) {
        // The message names what was asked for, not the cut path.
        say(consoleSlot, u"can't open \"%s%s\". cause = %d\n", rootDirectory, name,
            static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
        return 0;
    }
    file = ce::CreateFileW(path, ce::GENERIC_READ, 0, nullptr, ce::OPEN_EXISTING, ce::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == ce::INVALID_HANDLE_VALUE) {
        say(consoleSlot, u"can't open \"%s\". cause = %d\n", path, static_cast<int>(ce::GetLastError()));
        return 0;
    }
    std::uint32_t size = storedSize();
    if (size == ce::INVALID_FILE_SIZE) {
        say(consoleSlot, u"can't get file size.\n");
        close();
        return 0;
    }
    say(consoleSlot, u"open file \"%s\"(%d byte).\n", path, static_cast<int>(size));
    return 1;
}

std::uint32_t FatFileManager::storedSize() { return ce::GetFileSize(file, nullptr); }

int FatFileManager::close() {
    ce::BOOL closed = ce::CloseHandle(file);
    file = ce::INVALID_HANDLE_VALUE;
    return closed;
}

std::int32_t FatFileManager::read(void* buffer, std::uint32_t length, std::int32_t offset) {
    if (offset != -1) ce::SetFilePointer(file, offset, nullptr, ce::FILE_BEGIN);
    ce::DWORD count = 0;
    // A failed read is an error for the caller, not an early end of the file.
    if (!ce::ReadFile(file, buffer, length, &count, nullptr)) return -1;
    return static_cast<std::int32_t>(count);
}

std::int32_t FatFileManager::write(const void* buffer, std::uint32_t length, std::int32_t offset) {
    if (offset != -1) ce::SetFilePointer(file, offset, nullptr, ce::FILE_BEGIN);
    ce::DWORD count = 0;
    if (!ce::WriteFile(file, buffer, length, &count, nullptr)) return -1;
    return static_cast<std::int32_t>(count);
}

ce::BOOL FatFileManager::seek(std::uint32_t offset) {
    ce::SetFilePointer(file, static_cast<ce::LONG>(offset), nullptr, ce::FILE_BEGIN);
    return 1;
}

}  // namespace quorvel
