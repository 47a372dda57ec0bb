// The front end's commands: boot, platforms, options.
#pragma once

#include <iosfwd>

#include "app/command_line.h"

namespace quorvel::app {

// Exit status: 0 the command did its work (boot: the kernel halted on its own or
// stopped where asked), 1 the boot failed before the jump, 2 usage, 3 the kernel
// faulted, 4 the instruction budget or the time limit ran out, 130 interrupted.
int runCommand(const Arguments& arguments, std::istream& in, std::ostream& out, std::ostream& err);

// SIGINT and SIGTERM: stop the emulation cleanly, or outside it remove the
// temporary files and exit with 130. Called once, first thing in main.
void watchSignals();

}  // namespace quorvel::app
