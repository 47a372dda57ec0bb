// Files, searches and the COM1 port over the simulated handheld.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/coredll.h"
#include "platform/host/disk_device.h"
#include "platform/host/handles.h"
#include "sim/file_system.h"
#include "sim/handheld.h"
#include "sim/utf.h"

namespace ce {

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// Every write through any handle: bytes read ahead before one may be stale.
std::uint64_t writeGeneration = 0;

BOOL fail(DWORD error) {
    lastError = error;
    return FALSE;
}

bool isComPort(std::u16string_view name) {
    return name.size() == 5 && (name[0] == u'C' || name[0] == u'c') && (name[1] == u'O' || name[1] == u'o') &&
           (name[2] == u'M' || name[2] == u'm') && name[3] == u'1' && name[4] == u':';
}

std::u16string_view view(LPCWSTR text) { return text ? std::u16string_view(text, wcslen(text)) : std::u16string_view(); }

std::filesystem::path deviceRoot() { return sim::Handheld::current().settings().root; }

// A host file linked into the device for this run: it reads as any file, and is never
// changed, deleted or renamed through the device.
bool linked(std::u16string_view path) {
    return sim::linkedFile(sim::Handheld::current().settings().linkedFiles, path).has_value();
}

bool globMatch(std::u16string_view pattern, std::u16string_view name) {
    // "*.*" matches every name on Windows CE, with or without a dot.
    if (pattern == u"*.*" || pattern == u"*") return true;
    std::size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
    auto fold = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || fold(pattern[p]) == fold(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            mark = n;
        } else if (star != std::u16string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD, void*, DWORD creation, DWORD, HANDLE) {
    sim::Handheld& device = sim::Handheld::current();
    std::u16string_view path = view(name);
    if (device.faults().check("CreateFileW", 0, path)) {
        lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    if (isComPort(path)) {
        if (device.com1().open) {
            lastError = ERROR_ACCESS_DENIED;
            return INVALID_HANDLE_VALUE;
        }
        device.com1().open = true;
        return device.addHandle(std::make_unique<host::ComPort>());
    }
    if (auto disk = host::openDiskDevice(path)) return *disk;
    if (auto link = sim::linkedFile(device.settings().linkedFiles, path)) {
        if ((access & GENERIC_WRITE) || creation == CREATE_NEW || creation == CREATE_ALWAYS ||
            creation == TRUNCATE_EXISTING) {
            lastError = creation == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED;
            return INVALID_HANDLE_VALUE;
        }
        int fd = ::open(link->c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            lastError = errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
            return INVALID_HANDLE_VALUE;
        }
        lastError = creation == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
        return device.addHandle(std::make_unique<host::OpenFile>(fd, std::u16string(path)));
    }
    auto resolved = sim::resolveDevicePath(deviceRoot(), path, true);
    if (!resolved) {
        lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::error_code ec;
    bool exists = std::filesystem::exists(*resolved, ec);
    if (exists && std::filesystem::is_directory(*resolved, ec)) {
        lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    switch (creation) {
    case CREATE_NEW:
        if (exists) {
            lastError = ERROR_FILE_EXISTS;
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; [[fallthrough]];
    case OPEN_EXISTING:
        if (!exists) {
            lastError = ERROR_FILE_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
        break;
    default: lastError = ERROR_INVALID_PARAMETER; return INVALID_HANDLE_VALUE;
    }
    int fd = ::open(resolved->c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        lastError = errno == ENOENT ? ERROR_PATH_NOT_FOUND : ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    lastError = (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS) && exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return device.addHandle(std::make_unique<host::OpenFile>(fd, std::u16string(path)));
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void*) {
    sim::Handheld& device = sim::Handheld::current();
    if (read) *read = 0;
    auto* object = device.handle(file);
    if (auto* port = dynamic_cast<host::ComPort*>(object)) {
        (void)port;
        return TRUE;  // nothing ever arrives on COM1
    }
    auto* open = dynamic_cast<host::OpenFile*>(object);
    if (!open) return fail(ERROR_INVALID_HANDLE);
    if (auto fault = device.faults().check("ReadFile", 0, open->path)) {
        if (fault->limit == 0) return fail(ERROR_GEN_FAILURE);
        toRead = std::min(toRead, fault->limit);
    }
    if (open->aheadGeneration != writeGeneration) {
        open->dropReadAhead();
        open->aheadGeneration = writeGeneration;
    }
    auto* out = static_cast<char*>(buffer);
    DWORD total = 0;
    while (total < toRead) {
        if (open->aheadAt < open->aheadEnd) {
            const auto n = static_cast<DWORD>(std::min<std::size_t>(toRead - total, open->aheadEnd - open->aheadAt));
            std::memcpy(out + total, open->ahead.get() + open->aheadAt, n);
            open->aheadAt += n;
            total += n;
            continue;
        }
        ssize_t n = 0;
        if (toRead - total >= host::OpenFile::READ_AHEAD) {
            n = ::read(open->fd, out + total, toRead - total);
            if (n > 0) total += static_cast<DWORD>(n);
        } else {
            if (!open->ahead) open->ahead = std::make_unique<char[]>(host::OpenFile::READ_AHEAD);
            n = ::read(open->fd, open->ahead.get(), host::OpenFile::READ_AHEAD);
            open->aheadAt = 0;
            open->aheadEnd = n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        if (n < 0) return fail(ERROR_GEN_FAILURE);
        if (n == 0) break;
    }
    if (read) *read = total;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, void*) {
    sim::Handheld& device = sim::Handheld::current();
    if (written) *written = 0;
    auto* object = device.handle(file);
    if (dynamic_cast<host::ComPort*>(object)) {
        if (device.faults().check("WriteFile", 0, u"COM1:")) return fail(ERROR_GEN_FAILURE);
        device.com1().write(std::string(static_cast<const char*>(buffer), toWrite));
        if (written) *written = toWrite;
        return TRUE;
    }
    auto* open = dynamic_cast<host::OpenFile*>(object);
    if (!open) return fail(ERROR_INVALID_HANDLE);
    open->dropReadAhead();
    ++writeGeneration;
    if (auto fault = device.faults().check("WriteFile", 0, open->path)) {
        if (fault->limit == 0) return fail(ERROR_GEN_FAILURE);
        toWrite = std::min(toWrite, fault->limit);
    }
    DWORD total = 0;
    while (total < toWrite) {
        ssize_t n = ::write(open->fd, static_cast<const char*>(buffer) + total, toWrite - total);
        if (n <= 0) {
            if (written) *written = total;
            return fail(ERROR_GEN_FAILURE);
        }
        total += static_cast<DWORD>(n);
    }
    if (written) *written = total;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    sim::Handheld& device = sim::Handheld::current();
    auto* open = dynamic_cast<host::OpenFile*>(device.handle(file));
    if (!open) {
        lastError = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    if (device.faults().check("SetFilePointer", 0, open->path)) {
        lastError = ERROR_GEN_FAILURE;
        return INVALID_SET_FILE_POINTER;
    }
    open->dropReadAhead();
    std::int64_t move = distanceHigh ? (static_cast<std::int64_t>(*distanceHigh) << 32) | static_cast<DWORD>(distance)
                                     : distance;
    int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
    off_t position = whence < 0 ? -1 : ::lseek(open->fd, static_cast<off_t>(move), whence);
    if (position < 0) {
        lastError = ERROR_INVALID_PARAMETER;
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
    lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(position);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    sim::Handheld& device = sim::Handheld::current();
    auto* open = dynamic_cast<host::OpenFile*>(device.handle(file));
    struct stat st {};
    if (!open || fstat(open->fd, &st) != 0) {
        lastError = ERROR_INVALID_HANDLE;
        return INVALID_FILE_SIZE;
    }
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(static_cast<std::uint64_t>(st.st_size) >> 32);
    lastError = ERROR_SUCCESS;
    return static_cast<DWORD>(st.st_size);
}

BOOL CloseHandle(HANDLE object) {
    sim::Handheld& device = sim::Handheld::current();
    if (dynamic_cast<host::ComPort*>(device.handle(object))) device.com1().open = false;
    if (dynamic_cast<host::FindSearch*>(device.handle(object))) return fail(ERROR_INVALID_HANDLE);
    return device.closeHandle(object) ? TRUE : fail(ERROR_INVALID_HANDLE);
}

BOOL DeleteFileW(LPCWSTR name) {
    if (linked(view(name))) return fail(ERROR_ACCESS_DENIED);
    auto resolved = sim::resolveDevicePath(deviceRoot(), view(name), false);
    std::error_code ec;
    if (!resolved || std::filesystem::is_directory(*resolved, ec)) return fail(ERROR_FILE_NOT_FOUND);
    if (sim::Handheld::current().faults().check("DeleteFileW", 0, view(name))) return fail(ERROR_ACCESS_DENIED);
    return std::filesystem::remove(*resolved, ec) ? TRUE : fail(ERROR_ACCESS_DENIED);
}

BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName) {
    if (linked(view(existing)) || linked(view(newName))) return fail(ERROR_ACCESS_DENIED);
    auto from = sim::resolveDevicePath(deviceRoot(), view(existing), false);
    auto to = sim::resolveDevicePath(deviceRoot(), view(newName), true);
    if (!from) return fail(ERROR_FILE_NOT_FOUND);
    if (!to) return fail(ERROR_PATH_NOT_FOUND);
    std::error_code ec;
    if (std::filesystem::exists(*to, ec)) return fail(ERROR_ALREADY_EXISTS);
    if (sim::Handheld::current().faults().check("MoveFileW", 0, view(existing))) return fail(ERROR_ACCESS_DENIED);
    std::filesystem::rename(*from, *to, ec);
    return ec ? fail(ERROR_ACCESS_DENIED) : TRUE;
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    if (!(flags & MOVEFILE_REPLACE_EXISTING)) return MoveFileW(existing, newName);
    if (linked(view(existing)) || linked(view(newName))) return fail(ERROR_ACCESS_DENIED);
    auto from = sim::resolveDevicePath(deviceRoot(), view(existing), false);
    auto to = sim::resolveDevicePath(deviceRoot(), view(newName), true);
    if (!from) return fail(ERROR_FILE_NOT_FOUND);
    if (!to) return fail(ERROR_PATH_NOT_FOUND);
    std::error_code ec;
    if (std::filesystem::is_directory(*to, ec)) return fail(ERROR_ACCESS_DENIED);
    if (sim::Handheld::current().faults().check("MoveFileExW", 0, view(existing))) return fail(ERROR_ACCESS_DENIED);
    // rename(2) swaps the directory entry atomically, as the device's call does.
    if (::rename(from->c_str(), to->c_str()) != 0) return fail(errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
    sim::Handheld& device = sim::Handheld::current();
    auto* open = dynamic_cast<host::OpenFile*>(device.handle(file));
    if (!open) return fail(ERROR_INVALID_HANDLE);
    if (device.faults().check("FlushFileBuffers", 0, open->path)) return fail(ERROR_GEN_FAILURE);
    return ::fsync(open->fd) == 0 ? TRUE : fail(ERROR_GEN_FAILURE);
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    sim::Handheld& device = sim::Handheld::current();
    std::u16string_view full = view(pattern);
    if (device.faults().check("FindFirstFileW", 0, full)) {
        lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    std::size_t slash = full.find_last_of(u"\\/");
    std::u16string_view folder = slash == std::u16string_view::npos ? std::u16string_view() : full.substr(0, slash);
    std::u16string_view namePattern = slash == std::u16string_view::npos ? full : full.substr(slash + 1);
    auto resolved = sim::resolveDevicePath(deviceRoot(), folder, false);
    std::error_code ec;
    if (!resolved || !std::filesystem::is_directory(*resolved, ec)) {
        lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    bool atRoot = folder.find_first_not_of(u"\\/") == std::u16string_view::npos;
    auto search = std::make_unique<host::FindSearch>();
    std::vector<std::filesystem::directory_entry> entries;
    for (const auto& entry : std::filesystem::directory_iterator(*resolved, ec)) entries.push_back(entry);
    std::sort(entries.begin(), entries.end());
    for (const auto& entry : entries) {
        std::u16string name = sim::fromUtf8(entry.path().filename().string());
        if (name.size() >= MAX_PATH || !globMatch(namePattern, name)) continue;
        WIN32_FIND_DATAW found{};
        bool directory = entry.is_directory(ec);
        found.dwFileAttributes = directory ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
        if (directory && atRoot) {
            const auto& cards = device.settings().storageCards;
            if (std::find(cards.begin(), cards.end(), name) != cards.end()) found.dwFileAttributes |= FILE_ATTRIBUTE_TEMPORARY;
        }
        if (!directory) {
            std::uint64_t size = entry.file_size(ec);
            found.nFileSizeLow = static_cast<DWORD>(size);
            found.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        }
        std::copy(name.begin(), name.end(), found.cFileName);
        search->entries.push_back(found);
    }
    // Host files linked into this folder are listed as its own, hiding a file of the
    // same name as they do when opened.
    for (const auto& [linkPath, hostPath] : device.settings().linkedFiles) {
        std::size_t cut = linkPath.find_last_of(u"\\/");
        std::u16string name = cut == std::u16string::npos ? linkPath : linkPath.substr(cut + 1);
        auto parent = sim::resolveDevicePath(deviceRoot(), cut == std::u16string::npos ? u"" : linkPath.substr(0, cut), false);
        std::uint64_t size = std::filesystem::file_size(hostPath, ec);
        if (!parent || *parent != *resolved || ec || name.empty() || name.size() >= MAX_PATH || !globMatch(namePattern, name))
            continue;
        std::erase_if(search->entries, [&](const WIN32_FIND_DATAW& e) {
            std::u16string other(e.cFileName);
            return other.size() == name.size() &&
                   std::equal(other.begin(), other.end(), name.begin(), [](char16_t a, char16_t b) {
                       auto low = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
                       return low(a) == low(b);
                   });
        });
        WIN32_FIND_DATAW found{};
        found.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
        found.nFileSizeLow = static_cast<DWORD>(size);
        found.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        std::copy(name.begin(), name.end(), found.cFileName);
        search->entries.push_back(found);
    }
    if (search->entries.empty()) {
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    *data = search->entries[0];
    search->next = 1;
    lastError = ERROR_SUCCESS;
    return device.addHandle(std::move(search));
}

BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data) {
    auto* search = dynamic_cast<host::FindSearch*>(sim::Handheld::current().handle(find));
    if (!search) return fail(ERROR_INVALID_HANDLE);
    if (search->next >= search->entries.size()) return fail(ERROR_NO_MORE_FILES);
    *data = search->entries[search->next++];
    return TRUE;
}

BOOL FindClose(HANDLE find) {
    sim::Handheld& device = sim::Handheld::current();
    if (!dynamic_cast<host::FindSearch*>(device.handle(find))) return fail(ERROR_INVALID_HANDLE);
    device.closeHandle(find);
    return TRUE;
}

BOOL GetCommState(HANDLE comm, DCB* dcb) {
    sim::Handheld& device = sim::Handheld::current();
    if (!dynamic_cast<host::ComPort*>(device.handle(comm))) return fail(ERROR_INVALID_HANDLE);
    if (device.faults().check("GetCommState")) return fail(ERROR_GEN_FAILURE);
    std::memset(dcb, 0, sizeof *dcb);
    dcb->DCBlength = sizeof *dcb;
    dcb->BaudRate = device.com1().baudRate;
    dcb->fBinary = 1;
    dcb->ByteSize = device.com1().byteSize;
    dcb->Parity = device.com1().parity;
    dcb->StopBits = device.com1().stopBits;
    return TRUE;
}

BOOL SetCommState(HANDLE comm, DCB* dcb) {
    sim::Handheld& device = sim::Handheld::current();
    if (!dynamic_cast<host::ComPort*>(device.handle(comm))) return fail(ERROR_INVALID_HANDLE);
    if (device.faults().check("SetCommState")) return fail(ERROR_GEN_FAILURE);
    device.com1().baudRate = dcb->BaudRate;
    device.com1().byteSize = dcb->ByteSize;
    device.com1().parity = dcb->Parity;
    device.com1().stopBits = dcb->StopBits;
    return TRUE;
}

}  // namespace ce
