#include "app/run_files.h"

#include <cerrno>
#include <cstring>
#include <ostream>

namespace quorvel::app {

namespace {

bool usableDisk(const std::filesystem::path& image, std::ostream& err) {
    std::error_code ec;
    if (!std::filesystem::exists(image, ec)) {
        err << "quorvel: no disk image at " << image.string() << "\n";
        return false;
    }
    if (!std::filesystem::is_regular_file(image, ec)) {
        err << "quorvel: the disk image " << image.string() << " is not a file\n";
        return false;
    }
    std::ifstream file(image, std::ios::binary);
    char sector[512] = {};
    file.read(sector, sizeof sector);
    if (file.gcount() < 512 || static_cast<unsigned char>(sector[510]) != 0x55 ||
        static_cast<unsigned char>(sector[511]) != 0xAA) {
        err << "quorvel: the disk image " << image.string() << " holds no MBR (no 0x55 0xAA at byte 510)\n";
        return false;
    }
    return true;
}

}  // namespace

bool writeFile(const std::filesystem::path& path, const std::string& bytes, std::ostream& err) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        err << "quorvel: can't write " << path.string() << ": " << std::strerror(errno) << "\n";
        return false;
    }
    return true;
}

bool writable(const std::filesystem::path& file, const char* what, std::ostream& err) {
    std::error_code ec;
    bool existed = std::filesystem::exists(file, ec);
    std::ofstream probe(file, std::ios::app);
    if (!probe) {
        err << "quorvel: can't write " << what << " to " << file.string() << ": " << std::strerror(errno) << "\n";
        return false;
    }
    probe.close();
    if (!existed) std::filesystem::remove(file, ec);
    return true;
}

bool writableFolder(const std::filesystem::path& folder, std::ostream& err) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        err << "quorvel: can't make the folder " << folder.string() << " for --save-memory: "
            << (ec ? ec.message() : "not a folder") << "\n";
        return false;
    }
    return writable(folder / ".quorvel-probe", "the saved memory", err);
}

bool usableDeviceFiles(const Arguments& a, std::ostream& err) {
    for (const auto& [name, image] : a.disks)
        if (!usableDisk(image, err)) return false;
    return !(a.com1 && *a.com1 != "-" && !writable(*a.com1, "COM1's output", err));
}

std::ostream& kernelSerial(const Arguments& a, std::ofstream& file, std::ostream& out) {
    if (!a.com1 || *a.com1 == "-") return out;
    file.open(*a.com1, std::ios::binary | std::ios::app);
    return file.is_open() ? static_cast<std::ostream&>(file) : out;
}

}  // namespace quorvel::app
