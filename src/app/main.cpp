// quorvel on Linux: the Boot command of the main window on a simulated handheld.
#include <unistd.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/temporary_files.h"
#include "app/command_line.h"

int main(int argc, char** argv) {
    quorvel::app::watchSignals();
    std::vector<std::string> words(argv + 1, argv + argc);
    quorvel::app::ParseResult parsed = quorvel::app::parseCommandLine(words);
    if (!parsed.arguments) {
        // The one line; the whole help only when no command was recognised.
        std::cerr << "quorvel: " << parsed.error << "\n";
        if (words.empty())
            std::cerr << "\n" << parsed.usage;
        else if (parsed.command.empty())
            std::cerr << "Run 'quorvel --help' for the commands.\n";
        else
            std::cerr << "Run 'quorvel " << parsed.command << " --help' for its options.\n";
        return 2;
    }
    parsed.arguments->terminalInput = isatty(0);
    parsed.arguments->terminalOutput = isatty(2);
    // Caught so that the temporary demo folder is removed on the way out.
    try {
        return quorvel::app::runCommand(*parsed.arguments, std::cin, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "quorvel: " << e.what() << "\n";
        return 1;
    }
}
