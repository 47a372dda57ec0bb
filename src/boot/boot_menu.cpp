// The boot options: defaults, the configuration file on the storage card, the
// kernel directory and platform lists, and the services the boot path asks of them.
#include "boot/boot_menu.h"

#include "boot/directory_strings.h"

#include <cstring>

#include "console/console.h"
#include "platform/coredll.h"

namespace quorvel {

namespace {

constexpr ce::WCHAR CONFIGURATION_FILE[] = u"quorvel.cnf";
// A two-rename save moves the old file to quorvel.bak first and then the new one in
// from quorvel.tmp; cut between the two moves, it leaves only the backup.
constexpr ce::WCHAR TWO_RENAME_BACKUP[] = u"quorvel.bak";
constexpr ce::WCHAR TWO_RENAME_SCRATCH[] = u"quorvel.tmp";
// A save writes a file of its own, "quorvel.<process>.<n>.tmp", created exclusively.
constexpr int SCRATCH_ATTEMPTS = 16;

// The network folder carries the storage-card attribute but is no card.
constexpr ce::WCHAR NETWORK_FOLDER[] = u"\u30CD\u30C3\u30C8\u30EF\u30FC\u30AF";

constexpr ce::UINT FIRST_DIRECTORY_STRING = IDS_FIRST_DIRECTORY;
constexpr ce::UINT LAST_DIRECTORY_STRING = IDS_LAST_DIRECTORY;
constexpr int USER_DEFINED_DIRECTORY = 15;

struct UnsupportedPlatform {
    std::uint32_t cpu;
    std::uint32_t machine;
    const ce::WCHAR* message;
};

// Platforms the boot refuses while the safety message is on; ends with cpu word 0.
const UnsupportedPlatform unsupportedPlatformTable[] = {
    {.cpu = 0, .machine = 0, .message = nullptr},
};

BootMenu* bootMenu = nullptr;

// "\<card>\<file>", or false when it would not fit a path.
bool cardPath(const ce::WCHAR* file, ce::WCHAR (&path)[PATH_SIZE]) {
    ce::WCHAR card[PATH_SIZE];
    if (!storageCardDirectory(card)) return false;
    if (ce::wcslen(card) + ce::wcslen(file) + 2 >= PATH_SIZE) return false;
    ce::wsprintfW(path, u"\\%s\\%s", card, file);
    return true;
}

// A string field read from a file may lack its terminator.
template <std::size_t N>
void terminate(ce::WCHAR (&text)[N]) {
    text[N - 1] = 0;
}

bool isSelectable(const PlatformName& row) { return row.id->cpu != 0 && row.id->machine != 0; }

// The selectable row number `index`, or null past the end.
const PlatformName* selectablePlatform(int index) {
    if (index < 0) return nullptr;
    for (const PlatformName& row : platformNameTable) {
        if (!isSelectable(row)) continue;
        if (index-- == 0) return &row;
    }
    return nullptr;
}

}  // namespace

bool storageCardDirectory(ce::WCHAR (&name)[PATH_SIZE]) {
    ce::WIN32_FIND_DATAW found;
    std::memset(&found, 0, sizeof found);
    ce::HANDLE search = ce::FindFirstFileW(u"\\*.*", &found);
    if (search == ce::INVALID_HANDLE_VALUE) return false;
    constexpr ce::DWORD CARD = ce::FILE_ATTRIBUTE_DIRECTORY | ce::FILE_ATTRIBUTE_TEMPORARY;
    bool ok = false;
    do {
        found.cFileName[ce::MAX_PATH - 1] = 0;
        if ((found.dwFileAttributes & CARD) == CARD && ce::wcscmp(found.cFileName, NETWORK_FOLDER) != 0) {
            ce::wcsncpy(name, found.cFileName, PATH_SIZE - 1);
            name[PATH_SIZE - 1] = 0;
            ok = true;
            break;
        }
    } while (ce::FindNextFileW(search, &found));
    ce::FindClose(search);
    return ok;
}

BootMenu::BootMenu() : BootOptions{} {
    if (!loadOptions()) setDefaults();
    version = BOOT_OPTIONS_VERSION;
    recordSize = BOOT_OPTIONS_SIZE;
    debugBits = 0;
    for (DebugHook& hook : debugHooks) hook = {};
    bootHook = nullptr;
    bootHookArgument = 0;
}

void BootMenu::setDefaults() { setDefaultOptions(*this); }

namespace {

// One file's record over `options`; false when the file is missing or holds none.
bool loadRecord(const ce::WCHAR* name, BootOptions& options) {
    ce::WCHAR path[PATH_SIZE];
    if (!cardPath(name, path)) return false;
    ce::HANDLE file = ce::CreateFileW(path, ce::GENERIC_READ, 0, nullptr, ce::OPEN_EXISTING, ce::FILE_ATTRIBUTE_NORMAL,
                                      nullptr);
    if (file == ce::INVALID_HANDLE_VALUE) return false;

    alignas(BootOptions) unsigned char record[sizeof(BootOptions)];
    ce::DWORD got = 0;
    std::uint32_t header[3];
    if (!ce::ReadFile(file, header, sizeof header, &got, nullptr) || got != sizeof header ||
        header[0] != BOOT_OPTIONS_MAGIC) {
        ce::CloseHandle(file);
        return false;
    }
    // Never read past our record, whatever the file claims.
    ce::DWORD size = header[2] < BOOT_OPTIONS_SIZE ? header[2] : BOOT_OPTIONS_SIZE;
    if (size < sizeof header) size = sizeof header;
    bool ok = ce::SetFilePointer(file, 0, nullptr, ce::FILE_BEGIN) == 0 &&
              ce::ReadFile(file, record, size, &got, nullptr) && got <= size;
    ce::CloseHandle(file);
    return ok && parseOptions(record, got, options);
}

}  // namespace

void setDefaultOptions(BootOptions& options) {
    options.magic = BOOT_OPTIONS_MAGIC;
    options.reserved = 0;
    options.kernelDirectorySet = ce::FALSE;
    options.kernelNameSet = ce::FALSE;
    options.platform = {0, 0};
    options.rootFileSystem = ROOT_WD;
    ce::wcsncpy(options.fileSystemImage, u"miniroot.fs", PATH_SIZE);
    options.serialConsole = ce::FALSE;
    options.bootVerbose = ce::FALSE;
    options.bootSingleUser = ce::FALSE;
    options.askFileName = ce::FALSE;
    options.kernelDebugger = ce::FALSE;
    options.autoBootSeconds = 0;
    options.reverseVideo = ce::FALSE;
    options.pauseBeforeBoot = ce::TRUE;
    options.safetyMessage = ce::TRUE;
    options.serialSpeed = 19200;
    std::memset(options.extraKernelOptions, 0, sizeof options.extraKernelOptions);
}

bool parseOptions(const void* bytes, std::size_t size, BootOptions& options) {
    std::uint32_t header[3];
    if (!bytes || size < sizeof header) return false;
    std::memcpy(header, bytes, sizeof header);
    if (header[0] != BOOT_OPTIONS_MAGIC) return false;
    // The record claims its own size; a shorter one leaves the fields it lacks at
    // their defaults, and bytes beyond ours are not looked at.
    std::size_t take = header[2] < BOOT_OPTIONS_SIZE ? header[2] : BOOT_OPTIONS_SIZE;
    if (size < take) take = size;
    BootOptions parsed = options;
    setDefaultOptions(parsed);
    // Whole words only: no number is made of file and default bytes.
    std::memcpy(&parsed, bytes, take & ~std::size_t{3});
    terminate(parsed.kernelDirectory);
    terminate(parsed.kernelName);
    terminate(parsed.fileSystemImage);
    terminate(parsed.extraKernelOptions);
    options = parsed;
    return true;
}

ce::BOOL BootMenu::loadOptions() {
    // A two-rename save cut between its moves leaves only the backup.
    return loadRecord(CONFIGURATION_FILE, *this) || loadRecord(TWO_RENAME_BACKUP, *this);
}

ce::BOOL BootMenu::saveOptions() {
    ce::WCHAR path[PATH_SIZE];
    ce::WCHAR scratch[PATH_SIZE];
    if (!cardPath(CONFIGURATION_FILE, path)) return ce::FALSE;

    // The record is written whole to a file no other save uses, and then takes the
    // old file's place in one step, so a reader (another boot, or the next start
    // after a cut) finds the old record or the new one, never none and never half.
    static std::uint32_t saves = 0;
    ce::HANDLE file = ce::INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < SCRATCH_ATTEMPTS && file == ce::INVALID_HANDLE_VALUE; ++attempt) {
        ce::WCHAR name[PATH_SIZE];
        ce::wsprintfW(name, u"quorvel.%x.%x.tmp", ce::GetCurrentProcessId(), saves++);
        if (!cardPath(name, scratch)) return ce::FALSE;
        file = ce::CreateFileW(scratch, ce::GENERIC_WRITE, 0, nullptr, ce::CREATE_NEW, ce::FILE_ATTRIBUTE_NORMAL,
                               nullptr);
        if (file == ce::INVALID_HANDLE_VALUE && ce::GetLastError() != ce::ERROR_FILE_EXISTS) return ce::FALSE;
    }
    if (file == ce::INVALID_HANDLE_VALUE) return ce::FALSE;
    ce::DWORD written = 0;
    bool ok = ce::WriteFile(file, static_cast<const BootOptions*>(this), BOOT_OPTIONS_SIZE, &written, nullptr) &&
              written == BOOT_OPTIONS_SIZE;
    ok = ok && ce::FlushFileBuffers(file);
    ok = ce::CloseHandle(file) && ok;
    // MoveFileExW with MOVEFILE_REPLACE_EXISTING is the one call that swaps the
    // names without a moment in which quorvel.cnf is missing (on the host it is an
    // atomic rename); write-through keeps the swap from waiting in a cache.
    ok = ok && ce::MoveFileExW(scratch, path, ce::MOVEFILE_REPLACE_EXISTING | ce::MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        ce::DeleteFileW(scratch);
        return ce::FALSE;
    }
    // A two-rename save's backup and scratch file are superseded now.
    ce::WCHAR superseded[PATH_SIZE];
    if (cardPath(TWO_RENAME_BACKUP, superseded)) ce::DeleteFileW(superseded);
    if (cardPath(TWO_RENAME_SCRATCH, superseded)) ce::DeleteFileW(superseded);
    return ce::TRUE;
}

const ce::WCHAR* BootMenu::directoryEntry(int index) {
    if (index < 0 || index > static_cast<int>(LAST_DIRECTORY_STRING - FIRST_DIRECTORY_STRING) / 2) return nullptr;
    if (index == USER_DEFINED_DIRECTORY && kernelDirectorySet) return kernelDirectory;
    const ce::WCHAR* text = nullptr;
    const ce::UINT id = FIRST_DIRECTORY_STRING + 2 * static_cast<ce::UINT>(index);
    // With size 0 the resource text itself is handed back through the buffer.
    if (ce::LoadStringW(ce::GetModuleHandleW(nullptr), id, reinterpret_cast<ce::LPWSTR>(&text), 0) == 0) return nullptr;
    return text;
}

int BootMenu::directorySelection() const { return kernelDirectorySet ? USER_DEFINED_DIRECTORY : 0; }

std::uintptr_t BootMenu::platformEntry(int index, int mode) {
    switch (mode) {
    case 0: return reinterpret_cast<std::uintptr_t>(platformEntryName(index));
    case 1: selectPlatformEntry(index); return 0;
    case 2: return static_cast<std::uintptr_t>(selectedPlatformEntry());
    default: return 0;
    }
}

const ce::WCHAR* BootMenu::platformEntryName(int index) const {
    const PlatformName* row = selectablePlatform(index);
    return row ? row->name : nullptr;
}

void BootMenu::selectPlatformEntry(int index) {
    if (const PlatformName* row = selectablePlatform(index)) platform = *row->id;
}

int BootMenu::selectedPlatformEntry() const {
    int selectable = 0;
    for (const PlatformName& row : platformNameTable) {
        if (!isSelectable(row)) continue;
        if (*row.id == platform) return selectable;
        ++selectable;
    }
    return 0;
}

void BootMenu::collectOptions() {
    if (mainTab) mainTab->collect();
    if (optionTab) optionTab->collect();
}

void BootMenu::logText(const ce::WCHAR* text) {
    if (consoleTab) consoleTab->appendLog(text, false);
}

void BootMenu::progress(const char* label) {
    if (mainWindow) {
        mainWindow->progressStep(label);
        return;
    }
    // No window to show the bar: the log still says how far the boot came.
    if (label) {
        if (Console* console = theConsole()) console->print(u"[progress] %S\n", label);
    }
}

void BootMenu::progressDone() {
    if (mainWindow) mainWindow->progressReset();
}

void BootMenu::startBoot() {
    if (safetyMessage) {
        for (const UnsupportedPlatform* row = unsupportedPlatformTable; row->cpu != 0; ++row) {
            if (row->cpu != platform.cpu || row->machine != platform.machine) continue;
            ce::MessageBoxW(mainWindowHandle(), row->message ? row->message : u"Not supported yet.", u"BOOT FAILED",
                            ce::MB_ICONHAND);
            return;
        }
    }
    if (bootHook) bootHook(bootHookArgument);
}

ce::HWND BootMenu::mainWindowHandle() const { return mainWindow ? mainWindow->messageOwner() : nullptr; }

namespace {
void logToTheMenu(const ce::WCHAR* text) {
    if (bootMenu) bootMenu->logText(text);
}
}  // namespace

BootMenu& theBootMenu() {
    if (!bootMenu) {
        bootMenu = new BootMenu;
        setLogSink(&logToTheMenu);
    }
    return *bootMenu;
}

void releaseBootMenu() {
    setLogSink(nullptr);
    delete bootMenu;
    bootMenu = nullptr;
}

}  // namespace quorvel
