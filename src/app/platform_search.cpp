#include "app/platform_search.h"

#include <algorithm>
#include <charconv>
#include <sstream>

#include "sim/utf.h"

namespace quorvel::app {

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::vector<const PlatformName*> selectablePlatforms() {
    std::vector<const PlatformName*> rows;
    for (const PlatformName& row : platformNameTable)
        if (row.id->cpu && row.id->machine) rows.push_back(&row);
    return rows;
}

std::optional<int> findPlatform(const std::string& wanted, std::string& why) {
    std::vector<const PlatformName*> rows = selectablePlatforms();
    int index = 0;
    auto [end, ec] = std::from_chars(wanted.data(), wanted.data() + wanted.size(), index);
    if (ec == std::errc() && end == wanted.data() + wanted.size()) {
        if (index >= 0 && index < static_cast<int>(rows.size())) return index;
        why = "unknown platform: " + wanted + " (indexes run from 0 to " + std::to_string(rows.size() - 1) + ")";
        return std::nullopt;
    }
    std::string key = lower(wanted);
    std::vector<int> prefixed;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        std::string name = lower(sim::toUtf8(rows[i]->name));
        if (name == key) return i;
        if (name.rfind(key, 0) == 0) prefixed.push_back(i);
    }
    if (prefixed.size() == 1) return prefixed[0];
    // A machine's own short name, as Linux and QEMU call it: "collie".
    if (prefixed.empty()) {
        std::vector<int> named;
        for (int i = 0; i < static_cast<int>(rows.size()); ++i)
            if (lower(sim::toUtf8(rows[i]->name)).find("(" + key + ")") != std::string::npos) named.push_back(i);
        if (named.size() == 1) return named[0];
    }
    std::vector<int> near = prefixed;
    if (near.empty()) {
        // Names that share a word with what was asked.
        std::istringstream words(key);
        std::string word;
        while (words >> word) {
            if (word.size() < 3) continue;
            for (int i = 0; i < static_cast<int>(rows.size()); ++i)
                if (lower(sim::toUtf8(rows[i]->name)).find(word) != std::string::npos &&
                    std::find(near.begin(), near.end(), i) == near.end())
                    near.push_back(i);
        }
    }
    why = (prefixed.size() > 1 ? "platform prefix names several platforms: " : "unknown platform: ") + wanted;
    if (!near.empty()) {
        why += "; near:";
        for (int i : near) why += "\n  " + std::to_string(i) + "  " + sim::toUtf8(rows[i]->name);
    }
    why += "\n(see `quorvel platforms`)";
    return std::nullopt;
}

}  // namespace quorvel::app
