// The front end's commands: boot, platforms, options.
#pragma once

#include <iosfwd>

#include "app/command_line.h"

namespace quorvel::app {

// Exit status: 0 when the kernel was entered and reported success (boot) or the
// command did its work; 1 when the boot failed or the kernel reported failure.
int runCommand(const Arguments& arguments, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace quorvel::app
