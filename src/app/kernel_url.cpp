#include "app/kernel_url.h"

#include <algorithm>
#include <charconv>
#include <ostream>

namespace quorvel::app {

namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The scheme of a URL, lower-cased; empty when `word` is none.
std::string schemeOf(std::string_view word) {
    std::size_t colon = word.find("://");
    if (colon == 0 || colon == std::string_view::npos) return "";
    if (!std::isalpha(static_cast<unsigned char>(word[0]))) return "";
    for (char c : word.substr(0, colon))
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return "";
    return lower(std::string(word.substr(0, colon)));
}

bool refuseScheme(const std::string& scheme, std::string& why) {
    if (scheme == "http") return false;
    why = scheme + ":// is not supported: ";
    why += scheme == "https" ? "the boot loader has no TLS; serve the kernel over plain http://"
                             : "a kernel comes from the device's files, a UFS card or http://";
    return true;
}

// "http://host[:port]" and the path after it ("/" when there is none).
bool split(const std::string& url, std::string& server, std::string& path, std::string& why) {
    std::size_t hostStart = url.find("://") + 3;
    std::size_t slash = url.find('/', hostStart);
    std::string hostPort = url.substr(hostStart, slash == std::string::npos ? std::string::npos : slash - hostStart);
    path = slash == std::string::npos ? "/" : url.substr(slash);
    std::size_t colon = hostPort.find(':');
    std::string host = hostPort.substr(0, colon);
    if (host.empty()) {
        why = "no host in " + url;
        return false;
    }
    if (colon != std::string::npos) {
        std::string port = hostPort.substr(colon + 1);
        unsigned value = 0;
        auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535) {
            why = "the port of " + url + " is not a number from 1 to 65535";
            return false;
        }
    }
    server = "http://" + hostPort;
    return true;
}

}  // namespace

bool looksLikeUrl(std::string_view word) { return !schemeOf(word).empty(); }

std::optional<KernelUrl> parseKernelUrl(const std::string& url, std::string& why) {
    if (refuseScheme(schemeOf(url), why)) return std::nullopt;
    std::string server, path;
    if (!split(url, server, path, why)) return std::nullopt;
    if (path.back() == '/') {
        why = url + " names a folder, not a kernel file";
        return std::nullopt;
    }
    KernelUrl kernel;
    kernel.directory = server + "/";
    kernel.name = path.substr(1);
    std::size_t last = kernel.name.rfind('/');
    if (last != std::string::npos) kernel.folder = kernel.name.substr(0, last + 1);
    return kernel;
}

std::optional<std::string> urlDirectory(const std::string& dir, std::string& why) {
    if (refuseScheme(schemeOf(dir), why)) return std::nullopt;
    std::string server, path;
    if (!split(dir, server, path, why)) return std::nullopt;
    return server + path;
}

void warnUnusedUrlPath(const std::string& dir, std::ostream& err) {
    if (!looksLikeUrl(dir)) return;
    std::string server, path, why;
    if (!split(dir, server, path, why) || path == "/") return;
    err << "quorvel: warning: the HTTP backend asks " << server << " for /NAME; the path " << path
        << " of --dir is not used (boot " << server << path << (path.back() == '/' ? "" : "/")
        << "NAME to fetch a kernel from there)\n";
}

}  // namespace quorvel::app
