// Scripted stand-ins for the components of a boot attempt. Each double writes the
// calls it receives into a shared journal and fails the calls a test names; the
// DoubleBootContext installs them in place of the real components.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "boot/architecture.h"
#include "boot/boot_context.h"
#include "boot/boot_window.h"
#include "console/console.h"
#include "file/file_manager.h"
#include "loader/loader.h"
#include "memory/memory_manager.h"

namespace testing_support {

// The calls the doubles received, in order, and the calls that must fail.
class Script {
public:
    // Makes `call` fail: every time (occurrence -1) or only its n-th time (from 0).
    void fail(const std::string& call, int occurrence = -1);
    // Journals `call` and says whether it must fail.
    bool record(const std::string& call) {
        note(call);
        return shouldFail(call);
    }
    // Counts `call` without journaling it and says whether it must fail.
    bool shouldFail(const std::string& call);
    // Journals without a failure check (destructors, notes of the test).
    void note(const std::string& call) { calls.push_back(call); }
    // How often `call` was journaled.
    int count(const std::string& call) const;
    // The journaled calls that start with `prefix`, in order.
    std::vector<std::string> matching(const std::string& prefix) const;

    std::vector<std::string> calls;

private:
    std::map<std::string, std::vector<int>> failures_;
    std::map<std::string, int> seen_;
};

// Journal names: "arch.init", "arch.reportSystem", "arch.placeSecondStage",
// "arch.jump", "arch.~".
class ArchitectureDouble : public quorvel::Architecture {
public:
    ArchitectureDouble(Script& script, quorvel::Console*& consoleSlot, quorvel::MemoryManager*& memoryManagerSlot);
    ~ArchitectureDouble() override;

    ce::BOOL init() override;
    // Journals only, unless `reportBase` asks for the shared report as well.
    void reportSystem() override;
    // Takes one back page for the loader copy, then, when `leavePages` is not -1,
    // more until only that many pages are free.
    ce::BOOL placeSecondStage() override;
    // Records its arguments and returns, as a failed jump would.
    void jump(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys) override;

    bool reportBase = false;
    int leavePages = -1;
    std::uint32_t jumpParameterPage = 0;
    std::uint32_t jumpPageLink = 0;

private:
    Script& script_;
};

// Serves files from memory. Journal names: "files.setLocation <dir>", "files.open
// <name>", "files.close", "files.~"; reads fail with "files.read <name>".
class FileManagerDouble : public quorvel::FileManager {
public:
    FileManagerDouble(Script& script, quorvel::Console*& consoleSlot, std::map<std::u16string, std::string> files);
    ~FileManagerDouble() override;

    ce::BOOL setLocation(const ce::WCHAR* directory) override;
    ce::BOOL open(const ce::WCHAR* name, int mode) override;
    std::uint32_t storedSize() override;
    std::uint32_t size() override;
    int close() override;
    std::int32_t read(void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    std::int32_t write(const void* buffer, std::uint32_t length, std::int32_t offset = -1) override;
    ce::BOOL seek(std::uint32_t offset) override;

    bool isOpen() const { return open_ != nullptr; }
    std::u16string location;
    std::u16string openName;

private:
    Script& script_;
    std::map<std::u16string, std::string> files_;
    const std::string* open_ = nullptr;
    std::uint32_t position_ = 0;
};

// A loader whose load lays `payload` at `loadAddress` through the real page links.
// Journal names: "loader.attachFile", "loader.neededMemory", "loader.load",
// "loader.entryAddress", "loader.~".
class LoaderDouble : public quorvel::Loader {
public:
    LoaderDouble(Script& script, quorvel::Console*& consoleSlot, quorvel::MemoryManager*& memoryManagerSlot);
    ~LoaderDouble() override;

    int attachFile(quorvel::FileManager*& fileManagerSlot) override;
    std::uint32_t neededMemory() override;
    int load() override;
    std::uint32_t entryAddress() override;

    std::uint32_t needed = 4096;
    std::uint32_t entry = 0xC0008000;
    std::uint32_t loadAddress = 0xC0008000;
    std::string payload = "kernel";

private:
    Script& script_;
};

// Pool pages are found in the simulated address space. "memory.lookup" fails a
// lookup on demand; "memory.~" is journaled.
class MemoryManagerDouble : public quorvel::MemoryManager {
public:
    MemoryManagerDouble(Script& script, quorvel::Console*& consoleSlot);
    ~MemoryManagerDouble() override;
    std::uint32_t lookupPhysical(std::uint32_t vaddr) override;

    // Pages looked up, which is the size of every pool built.
    int lookups = 0;

private:
    Script& script_;
};

// What the doubles of the next create() are made with.
struct DoubleSettings {
    std::map<std::u16string, std::string> files;
    std::uint32_t neededMemory = 4096;
    std::uint32_t entryAddress = 0xC0008000;
    int leavePages = -1;
    bool reportBase = false;
    // Made the attempt's console; null keeps the console the context holds.
    quorvel::Console* console = nullptr;
};

// A boot context whose setup runs the real one (journaled as "context.setup") and
// whose create installs the doubles ("context.create"); the loader comes from
// "context.makeLoader", whatever the probed format.
class DoubleBootContext : public quorvel::BootContext {
public:
    explicit DoubleBootContext(Script& script);
    ~DoubleBootContext() override;

    ce::BOOL setup() override;
    ce::BOOL create() override;

    ArchitectureDouble* architectureDouble() const;
    FileManagerDouble* fileDouble() const;
    LoaderDouble* loaderDouble() const;
    MemoryManagerDouble* memoryDouble() const;

    DoubleSettings settings;
    // Formats the base probe reported, one per makeLoader.
    std::vector<quorvel::LoaderFormat> probedFormats;

protected:
    std::unique_ptr<quorvel::Loader> makeLoader(quorvel::LoaderFormat format) override;

private:
    Script& script_;
};

// A console that keeps each text it is asked to print.
class CapturingConsole : public quorvel::Console {
public:
    explicit CapturingConsole(std::int16_t kind = quorvel::CONSOLE_LCD) { consoleKind = kind; }
    void print(const ce::WCHAR* format, ...) override;
    std::vector<std::u16string> lines;
};

// What the boot loader's window logs for a labelled progress step.
void logProgress(const char* label);

// The main window as the boot path sees it, counting its progress steps and logging
// each labelled one as the boot loader's window does; installed as the BootMenu's main
// window while it lives. Journal names: "window.progress", "window.progressDone".
class RecordingMainWindow : public quorvel::BootWindow {
public:
    static constexpr std::uintptr_t HANDLE = 0x4D57;
    explicit RecordingMainWindow(Script* script = nullptr);
    ~RecordingMainWindow();
    RecordingMainWindow(const RecordingMainWindow&) = delete;
    RecordingMainWindow& operator=(const RecordingMainWindow&) = delete;

    ce::HWND messageOwner() const override { return reinterpret_cast<ce::HWND>(HANDLE); }
    ce::HWND handle() const { return messageOwner(); }
    void progressStep(const char* label) override;
    void progressReset() override;

    int position = 0;
    int steps = 0;
    int resets = 0;

private:
    Script* script_;
    quorvel::BootWindow* previous_;
};

}  // namespace testing_support
