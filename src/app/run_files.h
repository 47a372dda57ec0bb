// The host files a run reads and writes besides the device: disk images, COM1's
// output, the report, the saved memory. Each is tried before the boot, so that a
// mistake costs nothing.
#pragma once

#include <filesystem>
#include <fstream>
#include <iosfwd>
#include <string>

#include "app/command_line.h"

namespace quorvel::app {

// Writes `bytes` to `path`, saying why on `err` when it could not.
bool writeFile(const std::filesystem::path& path, const std::string& bytes, std::ostream& err);

// A file the run will write to; the system's reason when it cannot be written.
bool writable(const std::filesystem::path& file, const char* what, std::ostream& err);

// The --save-memory folder, made when missing.
bool writableFolder(const std::filesystem::path& folder, std::ostream& err);

// The device's disk images (each a file that holds an MBR) and COM1's file.
bool usableDeviceFiles(const Arguments& a, std::ostream& err);

// Where the kernel's serial output goes: the --com1 file after the boot loader's own
// lines on COM1, or standard output.
std::ostream& kernelSerial(const Arguments& a, std::ofstream& file, std::ostream& out);

}  // namespace quorvel::app
