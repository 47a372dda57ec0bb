#include "app/commands.h"

#include <filesystem>
#include <ostream>

#include "app/temporary_files.h"

namespace quorvel::app {

int runCommand(const Arguments& a, std::istream& in, std::ostream& out, std::ostream& err) {
    if (a.command == Command::Version || a.help) {
        out << a.usage << (a.usage.empty() || a.usage.back() == '\n' ? "" : "\n");
        return 0;
    }
    // What runs that were ended by SIGKILL left behind.
    if (a.command == Command::Boot || a.command == Command::Options || a.command == Command::Gui) {
        std::error_code ec;
        std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
        if (!ec) sweepLeftovers(temp);
    }
    switch (a.command) {
    case Command::Boot: return bootCommand(a, in, out, err);
    case Command::Platforms: return platformsCommand(out);
    case Command::Options: return optionsCommand(a, out, err);
    case Command::Gui: return guiCommand(a, out, err);
    case Command::Help: out << usage(a.command); return 0;
    case Command::Version: break;
    }
    return 2;
}

}  // namespace quorvel::app
