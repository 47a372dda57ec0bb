// Kernels named by URL. The HTTP backend reaches a server by the host and port of
// the kernel directory ("http://host:port/") and asks it for "/" + the file's name,
// so a URL's path becomes the name; schemes it cannot speak are refused here.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::app {

struct KernelUrl {
    std::string directory;  // "http://host:port/"
    std::string name;       // the path without its first "/": "kernels/k.gz"
    std::string folder;     // the path's folder, "kernels/", or ""
};

// "scheme://...": a word that is meant as a URL.
bool looksLikeUrl(std::string_view word);

// http://host[:port]/path, the scheme in any case; otherwise why not.
std::optional<KernelUrl> parseKernelUrl(const std::string& url, std::string& why);

// A --dir that is a URL, its scheme lower-cased; why not when its scheme is not http.
std::optional<std::string> urlDirectory(const std::string& dir, std::string& why);

// Says so when a --dir URL has a path the HTTP backend will not use.
void warnUnusedUrlPath(const std::string& dir, std::ostream& err);

}  // namespace quorvel::app
