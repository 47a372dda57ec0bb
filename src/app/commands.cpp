#include "app/commands.h"

#include <ostream>

namespace quorvel::app {

int runCommand(const Arguments& a, std::istream& in, std::ostream& out, std::ostream& err) {
    if (a.command == Command::Version || a.help) {
        out << a.usage << (a.usage.empty() || a.usage.back() == '\n' ? "" : "\n");
        return 0;
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
