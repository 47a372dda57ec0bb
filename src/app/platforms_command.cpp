// quorvel platforms
#include <cstdio>
#include <ostream>

#include "app/commands.h"
#include "app/platform_search.h"
#include "sim/utf.h"

namespace quorvel::app {

int platformsCommand(std::ostream& out) {
    int index = 0;
    for (const PlatformName* row : selectablePlatforms()) {
        // Linux's machine number, for a kernel booted with Linux's protocol.
        char number[24] = "linux=-  ";
        if (row->linuxMachine != NO_MACHINE_NUMBER) std::snprintf(number, sizeof number, "linux=%-3u", row->linuxMachine);
        char line[128];
        std::snprintf(line, sizeof line, "%2d  %s  cpu=0x%08x machine=0x%08x  ", index++, number, row->id->cpu,
                      row->id->machine);
        out << line << sim::toUtf8(row->name) << "\n";
    }
    return 0;
}

}  // namespace quorvel::app
