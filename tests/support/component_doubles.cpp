// Component doubles for boot-attempt tests.
#include "support/component_doubles.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "boot/boot_menu.h"
#include "console/console.h"
#include "sim/handheld.h"
#include "sim/utf.h"

namespace testing_support {

using quorvel::Console;
using quorvel::FileManager;
using quorvel::MemoryManager;

void Script::fail(const std::string& call, int occurrence) { failures_[call].push_back(occurrence); }

bool Script::shouldFail(const std::string& call) {
    int occurrence = seen_[call]++;
    auto rule = failures_.find(call);
    if (rule == failures_.end()) return false;
    const std::vector<int>& when = rule->second;
    return std::find(when.begin(), when.end(), -1) != when.end() ||
           std::find(when.begin(), when.end(), occurrence) != when.end();
}

int Script::count(const std::string& call) const {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

std::vector<std::string> Script::matching(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& call : calls)
        if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
    return found;
}

// --- Architecture

ArchitectureDouble::ArchitectureDouble(Script& script, Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : Architecture(consoleIn, memoryManagerIn), script_(script) {}

ArchitectureDouble::~ArchitectureDouble() { script_.note("arch.~"); }

ce::BOOL ArchitectureDouble::init() { return script_.record("arch.init") ? ce::FALSE : ce::TRUE; }

void ArchitectureDouble::reportSystem() {
    script_.note("arch.reportSystem");
    if (reportBase) Architecture::reportSystem();
}

ce::BOOL ArchitectureDouble::placeSecondStage() {
    if (script_.record("arch.placeSecondStage")) return ce::FALSE;
    MemoryManager* memory = memoryManagerSlot;
    std::uint32_t vaddr = 0;
    if (!memory->takeBackPage(vaddr, loaderPaddr)) return ce::FALSE;
    while (leavePages >= 0 && memory->poolCount() - memory->frontIndex() > leavePages) {
        std::uint32_t paddr = 0;
        memory->takeBackPage(vaddr, paddr);
    }
    return ce::TRUE;
}

void ArchitectureDouble::jump(std::uint32_t parameterPagePhys, std::uint32_t pageLinkPhys) {
    script_.note("arch.jump");
    jumpParameterPage = parameterPagePhys;
    jumpPageLink = pageLinkPhys;
}

// --- File manager

FileManagerDouble::FileManagerDouble(Script& script, Console*& consoleIn, std::map<std::u16string, std::string> files)
    : FileManager(consoleIn), script_(script), files_(std::move(files)) {}

FileManagerDouble::~FileManagerDouble() { script_.note("files.~"); }

ce::BOOL FileManagerDouble::setLocation(const ce::WCHAR* directory) {
    location = directory;
    return script_.record("files.setLocation " + sim::toUtf8(location)) ? ce::FALSE : ce::TRUE;
}

ce::BOOL FileManagerDouble::open(const ce::WCHAR* name, int) {
    std::u16string wanted = name;
    if (script_.record("files.open " + sim::toUtf8(wanted))) return ce::FALSE;
    auto file = files_.find(wanted);
    if (file == files_.end()) return ce::FALSE;
    open_ = &file->second;
    openName = wanted;
    position_ = 0;
    return ce::TRUE;
}

std::uint32_t FileManagerDouble::storedSize() { return open_ ? static_cast<std::uint32_t>(open_->size()) : 0; }

std::uint32_t FileManagerDouble::size() { return storedSize(); }

int FileManagerDouble::close() {
    script_.note("files.close");
    open_ = nullptr;
    openName.clear();
    return 1;
}

std::int32_t FileManagerDouble::read(void* buffer, std::uint32_t length, std::int32_t offset) {
    if (!open_ || script_.shouldFail("files.read " + sim::toUtf8(openName))) return -1;
    if (offset != -1) position_ = static_cast<std::uint32_t>(offset);
    std::uint32_t size = storedSize();
    if (position_ >= size) return 0;
    std::uint32_t count = std::min(length, size - position_);
    std::memcpy(buffer, open_->data() + position_, count);
    position_ += count;
    return static_cast<std::int32_t>(count);
}

std::int32_t FileManagerDouble::write(const void*, std::uint32_t, std::int32_t) { return -1; }

ce::BOOL FileManagerDouble::seek(std::uint32_t offset) {
    if (!open_ || offset > storedSize()) return ce::FALSE;
    position_ = offset;
    return ce::TRUE;
}

// --- Loader

LoaderDouble::LoaderDouble(Script& script, Console*& consoleIn, MemoryManager*& memoryManagerIn)
    : Loader(consoleIn, memoryManagerIn), script_(script) {}

LoaderDouble::~LoaderDouble() { script_.note("loader.~"); }

int LoaderDouble::attachFile(FileManager*& fileManagerSlot) {
    if (script_.record("loader.attachFile")) return 0;
    return Loader::attachFile(fileManagerSlot);
}

std::uint32_t LoaderDouble::neededMemory() {
    script_.note("loader.neededMemory");
    return needed;
}

int LoaderDouble::load() {
    if (script_.record("loader.load")) return 0;
    startLinks();
    loadMemory(loadAddress, static_cast<std::uint32_t>(payload.size()), payload.data());
    return error ? 0 : 1;
}

std::uint32_t LoaderDouble::entryAddress() {
    script_.note("loader.entryAddress");
    return entry;
}

// --- Memory manager

MemoryManagerDouble::MemoryManagerDouble(Script& script, Console*& consoleIn)
    : MemoryManager(consoleIn, 4096), script_(script) {}

MemoryManagerDouble::~MemoryManagerDouble() { script_.note("memory.~"); }

std::uint32_t MemoryManagerDouble::lookupPhysical(std::uint32_t vaddr) {
    ++lookups;
    if (script_.shouldFail("memory.lookup")) return quorvel::NO_ADDRESS;
    auto physical = sim::Handheld::current().addressSpace().physicalOf(vaddr);
    return physical ? physical->value() : quorvel::NO_ADDRESS;
}

// --- Boot context

DoubleBootContext::DoubleBootContext(Script& script) : script_(script) {}

DoubleBootContext::~DoubleBootContext() {
    // As the real context: the loader and file manager go in the base destructor.
    delete architecture;
    architecture = nullptr;
    delete memoryManagerSlot;
    memoryManagerSlot = nullptr;
    // A console the test lent must not outlive it as the current one.
    if (settings.console && quorvel::theConsole() == settings.console) quorvel::setConsole(nullptr);
}

ce::BOOL DoubleBootContext::setup() {
    if (script_.record("context.setup")) return ce::FALSE;
    return BootContext::setup();
}

ce::BOOL DoubleBootContext::create() {
    if (script_.record("context.create")) return ce::FALSE;
    // The previous attempt's components go, as they do in the real context.
    releaseFileAndLoader();
    delete architecture;
    delete memoryManagerSlot;

    if (settings.console) consoleSlot = settings.console;
    quorvel::setConsole(consoleSlot);
    memoryManagerSlot = new MemoryManagerDouble(script_, consoleSlot);
    auto* arch = new ArchitectureDouble(script_, consoleSlot, memoryManagerSlot);
    arch->leavePages = settings.leavePages;
    arch->reportBase = settings.reportBase;
    architecture = arch;
    fileManagerSlot = new FileManagerDouble(script_, consoleSlot, settings.files);
    return ce::TRUE;
}

std::unique_ptr<quorvel::Loader> DoubleBootContext::makeLoader(quorvel::LoaderFormat format) {
    probedFormats.push_back(format);
    if (script_.record("context.makeLoader")) return nullptr;
    auto made = std::make_unique<LoaderDouble>(script_, consoleSlot, memoryManagerSlot);
    made->needed = settings.neededMemory;
    made->entry = settings.entryAddress;
    return made;
}

ArchitectureDouble* DoubleBootContext::architectureDouble() const { return static_cast<ArchitectureDouble*>(architecture); }
FileManagerDouble* DoubleBootContext::fileDouble() const { return static_cast<FileManagerDouble*>(fileManagerSlot); }
LoaderDouble* DoubleBootContext::loaderDouble() const { return static_cast<LoaderDouble*>(loader.get()); }
MemoryManagerDouble* DoubleBootContext::memoryDouble() const {
    return static_cast<MemoryManagerDouble*>(memoryManagerSlot);
}

// --- Console

void CapturingConsole::print(const ce::WCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    this->format(format, args);
    va_end(args);
    lines.emplace_back(text);
}

// --- Main window

void logProgress(const char* label) {
    if (!label) return;
    if (Console* console = quorvel::theConsole()) console->print(u"[progress] %S\n", label);
}

RecordingMainWindow::RecordingMainWindow(Script* script)
    : script_(script), previous_(quorvel::theBootMenu().mainWindow) {
    quorvel::theBootMenu().mainWindow = this;
}

RecordingMainWindow::~RecordingMainWindow() {
    quorvel::BootMenu& menu = quorvel::theBootMenu();
    if (menu.mainWindow == this) menu.mainWindow = previous_;
}

void RecordingMainWindow::progressStep(const char* label) {
    ++position;
    ++steps;
    if (script_) script_->note("window.progress");
    logProgress(label);
}

void RecordingMainWindow::progressReset() {
    position = 0;
    ++resets;
    if (script_) script_->note("window.progressDone");
}

}  // namespace testing_support
