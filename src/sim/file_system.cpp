// Device paths to host paths.
#include "sim/file_system.h"

#include <system_error>
#include <vector>

#include "sim/utf.h"

namespace sim {

namespace {

std::u16string lower(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    return out;
}

// The path's components, lower-cased, joined by one backslash.
std::u16string normalised(std::u16string_view path) {
    std::u16string out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == u'\\' || path[i] == u'/') {
            if (i > start) out += u'\\' + lower(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

}  // namespace

std::optional<std::filesystem::path> linkedFile(const LinkedFiles& links, std::u16string_view path) {
    if (links.empty()) return std::nullopt;
    std::u16string wanted = normalised(path);
    for (const auto& [devicePath, hostPath] : links)
        if (normalised(devicePath) == wanted) return hostPath;
    return std::nullopt;
}

std::optional<std::filesystem::path> resolveDevicePath(const std::filesystem::path& root, std::u16string_view path,
                                                       bool lastMayBeMissing) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == u'\\' || path[i] == u'/') {
            if (i > start) parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    std::filesystem::path current = root;
    for (std::size_t k = 0; k < parts.size(); ++k) {
        std::u16string_view part = parts[k];
        if (part == u"." || part == u"..") return std::nullopt;
        std::filesystem::path exact = current / toUtf8(part);
        std::error_code ec;
        if (std::filesystem::exists(exact, ec)) {
            current = exact;
            continue;
        }
        std::optional<std::filesystem::path> match;
        std::u16string wanted = lower(part);
        for (const auto& entry : std::filesystem::directory_iterator(current, ec)) {
            if (lower(fromUtf8(entry.path().filename().string())) == wanted) {
                match = entry.path();
                break;
            }
        }
        if (match) {
            current = *match;
        } else if (k + 1 == parts.size() && lastMayBeMissing) {
            current = exact;
        } else {
            return std::nullopt;
        }
    }
    return current;
}

}  // namespace sim
