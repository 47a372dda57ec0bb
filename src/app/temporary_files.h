// What a run makes on this computer and must not leave behind: the demo device's
// folder and the host files put on a device's card. A signal that ends the process
// outside the emulator removes them too.
#pragma once

#include <filesystem>
#include <string>

namespace quorvel::app {

// The demo device's folder in the temporary directory, removed with this object.
class DemoFolder {
public:
    DemoFolder();
    ~DemoFolder();
    DemoFolder(const DemoFolder&) = delete;
    DemoFolder& operator=(const DemoFolder&) = delete;
    // Empty when the folder could not be made.
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A host file put on the storage card for one boot, removed afterwards.
class PlacedFile {
public:
    PlacedFile() = default;
    PlacedFile(const PlacedFile&) = delete;
    PlacedFile& operator=(const PlacedFile&) = delete;
    ~PlacedFile();
    // On the demo device a file of the same name is replaced; on the user's device it
    // is kept and the boot refused.
    bool place(const std::filesystem::path& from, const std::filesystem::path& to, bool replace, std::string& why);
    // Only a copy made here is ours to remove; a kernel already on the card is the user's.
    bool ours() const { return !path_.empty(); }

private:
    std::filesystem::path path_;
};

// A file of this run's own in the temporary directory (the inflated copy of a gzip
// kernel the debugger reads), removed with this object or by the signal watcher.
class TemporaryFile {
public:
    explicit TemporaryFile(const std::string& stem);
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    // Empty when the file could not be made.
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// SIGINT and SIGTERM: stop the emulation cleanly, or outside it remove the
// temporary files and exit with 130. Called once, first thing in main.
void watchSignals();

// Whether a signal arrived while no emulation was running.
bool interruptedOutsideEmulation();

}  // namespace quorvel::app
