// Parsing of the front end's command line.
#include "app/command_line.h"

#include <charconv>
#include <map>

namespace quorvel::app {

namespace {

template <typename T>
bool number(const std::string& text, T& value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

const std::map<std::string, int> roots = {{"wd", 0}, {"sd", 1}, {"md", 2}, {"nfs", 3}, {"dk", 4}, {"ld", 5}};

bool takesValue(const std::string& flag) {
    static const char* const flags[] = {"--device", "--card",     "--cpu",   "--ram",   "--screen", "--com1",
                                        "--disk",   "--platform", "--dir",   "--kernel", "--root",  "--image",
                                        "--speed",  "--extra",    "--save-memory"};
    for (const char* f : flags)
        if (flag == f) return true;
    return false;
}

}  // namespace

std::string usage(Command command) {
    switch (command) {
    case Command::Boot:
        return "usage: quorvel boot [options]\n"
               "Boots as the Boot button would: options start from the device's quorvel.cnf\n"
               "(or the defaults) and the flags change them.\n\n"
               "Options:\n"
               "  --platform NAME|INDEX  platform, as `quorvel platforms` lists it\n"
               "  --dir DIR              kernel directory (\\Storage Card\\, 2:/, http://host:port/)\n"
               "  --kernel NAME          kernel file name\n"
               "  --root wd|sd|md|nfs|dk|ld  root file system (md loads --image)\n"
               "  --image NAME           file-system image for root md\n"
               "  -h -v -s -a -d         serial console, verbose, single user, ask name, debugger\n"
               "  --speed N              COM1 speed: 9600, 19200 or 115200\n"
               "  --extra \"OPTIONS\"      extra kernel options\n"
               "  --no-pause             no \"Last chance...\" question\n"
               "  --no-safety            no safety question, no platform refusal check\n"
               "  --yes                  answer every question with YES\n"
               "  --save-memory DIR      write each RAM bank, as the kernel left it, to DIR\n\n"
               "Device:\n"
               "  --device DIR           root file system of the handheld (default: a demo device)\n"
               "  --card NAME            a storage-card folder of DIR (repeatable; \"Storage Card\")\n"
               "  --cpu sa1100|sa1110|pxa250|pxa270  processor (default: from the platform)\n"
               "  --ram MB               populated RAM (default 32)\n"
               "  --screen WxHxBPP       screen (default 640x240x16)\n"
               "  --com1 FILE|-          where COM1 output goes (default: nowhere)\n"
               "  --disk NAME=IMAGE      a block device (\"DSK1:\") served by a disk image\n";
    case Command::Platforms: return "usage: quorvel platforms\nLists the selectable platforms with their index and ids.\n";
    case Command::Options:
        return "usage: quorvel options [--device DIR] [--card NAME]...\nPrints the options a boot would start from.\n";
    case Command::Help: break;
    }
    return "usage: quorvel boot|platforms|options [--help] [options]\n";
}

ParseResult parseCommandLine(const std::vector<std::string>& words) {
    Arguments a;
    if (words.empty()) return {std::nullopt, "no command given"};
    const std::string& command = words[0];
    if (command == "boot")
        a.command = Command::Boot;
    else if (command == "platforms")
        a.command = Command::Platforms;
    else if (command == "options")
        a.command = Command::Options;
    else if (command == "--help" || command == "help")
        return {a, ""};
    else
        return {std::nullopt, "unknown command: " + command};

    auto fail = [](std::string why) { return ParseResult{std::nullopt, std::move(why)}; };
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& flag = words[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= words.size()) return false;
            out = words[++i];
            return true;
        };
        std::string v;
        bool deviceFlag = flag == "--device" || flag == "--card";
        if (a.command != Command::Boot && flag != "--help" && !deviceFlag) return fail("unknown option for " + command + ": " + flag);

        if (flag == "--help") {
            a.help = true;
        } else if (flag == "-h") {
            a.serial = true;
        } else if (flag == "-v") {
            a.verbose = true;
        } else if (flag == "-s") {
            a.single = true;
        } else if (flag == "-a") {
            a.ask = true;
        } else if (flag == "-d") {
            a.debugger = true;
        } else if (flag == "--no-pause") {
            a.noPause = true;
        } else if (flag == "--no-safety") {
            a.noSafety = true;
        } else if (flag == "--yes") {
            a.yes = true;
        } else if (takesValue(flag)) {
            if (!value(v)) return fail("option " + flag + " needs a value");
            if (flag == "--device") {
                a.device = v;
            } else if (flag == "--card") {
                a.cards.push_back(v);
            } else if (flag == "--cpu") {
                if (v != "sa1100" && v != "sa1110" && v != "pxa250" && v != "pxa270") return fail("unknown cpu: " + v);
                a.cpu = v;
            } else if (flag == "--ram") {
                std::uint32_t mb = 0;
                if (!number(v, mb) || mb == 0 || mb > 256) return fail("--ram takes 1 to 256 (megabytes): " + v);
                a.ramMegabytes = mb;
            } else if (flag == "--screen") {
                int w = 0, h = 0, b = 0;
                std::size_t x1 = v.find('x'), x2 = v.find('x', x1 == std::string::npos ? 0 : x1 + 1);
                if (x1 == std::string::npos || x2 == std::string::npos || !number(v.substr(0, x1), w) ||
                    !number(v.substr(x1 + 1, x2 - x1 - 1), h) || !number(v.substr(x2 + 1), b) || w <= 0 || h <= 0 || b <= 0)
                    return fail("--screen takes WIDTHxHEIGHTxBITS: " + v);
                a.screenWidth = w;
                a.screenHeight = h;
                a.screenBits = b;
            } else if (flag == "--com1") {
                a.com1 = v;
            } else if (flag == "--disk") {
                std::size_t eq = v.find('=');
                if (eq == std::string::npos || eq == 0 || eq + 1 == v.size()) return fail("--disk takes NAME=IMAGE: " + v);
                a.disks.emplace_back(v.substr(0, eq), v.substr(eq + 1));
            } else if (flag == "--platform") {
                a.platform = v;
            } else if (flag == "--dir") {
                a.directory = v;
            } else if (flag == "--kernel") {
                a.kernel = v;
            } else if (flag == "--root") {
                auto r = roots.find(v);
                if (r == roots.end()) return fail("--root takes wd, sd, md, nfs, dk or ld: " + v);
                a.root = r->second;
            } else if (flag == "--image") {
                a.image = v;
            } else if (flag == "--speed") {
                std::uint32_t speed = 0;
                if (!number(v, speed) || (speed != 9600 && speed != 19200 && speed != 115200))
                    return fail("--speed takes 9600, 19200 or 115200: " + v);
                a.speed = speed;
            } else if (flag == "--extra") {
                a.extra = v;
            } else {  // --save-memory
                a.saveMemory = v;
            }
        } else {
            return fail("unknown option: " + flag);
        }
    }
    return {a, ""};
}

}  // namespace quorvel::app
