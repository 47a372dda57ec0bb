// HTTP/1.0 as the HTTP backend speaks it, with no socket in sight: the request
// text, the Content-Length of a HEAD reply read chunk by chunk, and the header and
// status of a GET reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quorvel {

inline constexpr std::size_t HTTP_REQUEST_SIZE = 260;
// A HEAD reply is read in chunks of this many bytes, each tokenised on its own.
inline constexpr std::uint32_t HTTP_HEAD_CHUNK = 255;

// "<method><file> HTTP/1.0\r\nHOST: <host>\r\nUser-Agent: ...\r\n\r\n" into `request`;
// false, with `request` empty, when the names do not fit. Names are measured
// against the longer method, so that HEAD and GET are refused alike.
bool composeRequest(char (&request)[HTTP_REQUEST_SIZE], const char* method, const char* file, const char* host);

// The reply to a HEAD request, taken one chunk at a time.
class HeadReply {
public:
    enum class Event { Token, LengthName, LengthValue };
    // Sees every token, the "content-length" names and the values taken.
    using Observer = std::function<void(Event event, const char* token, std::uint32_t value)>;

    explicit HeadReply(Observer onEvent = {}) : observer(std::move(onEvent)) {}

    // One chunk as received: a token that the chunk's end cuts is not completed
    // from the next one, so a Content-Length cut there counts as missing. Longer
    // input is taken as consecutive chunks of HTTP_HEAD_CHUNK bytes.
    void take(const char* bytes, std::size_t length);

    bool found() const { return found_; }
    std::uint32_t contentLength() const { return contentLength_; }
    // Every byte taken: the status line and headers all count as header.
    std::uint32_t length() const { return length_; }

private:
    void takeChunk(const char* bytes, std::size_t length);

    Observer observer;
    bool found_ = false;
    std::uint32_t contentLength_ = 0;
    std::uint32_t length_ = 0;
};

// Where the header of a reply ends (the byte after its blank line, "\n\n" or
// "\n\r\n"); 0 while the blank line is not within `length` bytes.
std::uint32_t responseHeaderEnd(const char* text, std::uint32_t length);

// The status code of the first line "HTTP/x.y nnn ...", or -1.
int responseStatus(const char* text, std::uint32_t length);

}  // namespace quorvel
