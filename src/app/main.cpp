// quorvel on Linux: the Boot command of the main window on a simulated handheld.
#include <iostream>
#include <string>
#include <vector>

#include "app/boot_command.h"
#include "app/command_line.h"

int main(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    quorvel::app::ParseResult parsed = quorvel::app::parseCommandLine(words);
    if (!parsed.arguments) {
        std::cerr << "quorvel: " << parsed.error << "\n" << quorvel::app::usage(quorvel::app::Command::Help);
        return 2;
    }
    return quorvel::app::runCommand(*parsed.arguments, std::cin, std::cout, std::cerr);
}
