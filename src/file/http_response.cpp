// HTTP/1.0 requests and replies, byte by byte.
#include "file/http_response.h"

#include <algorithm>
#include <cstring>

#include "base/bounded_reader.h"

namespace quorvel {

namespace {

const char PROTOCOL_PIECE[] = " HTTP/1.0\r\nHOST: ";
const char AGENT_PIECE[] = "\r\nUser-Agent: QUORVEL/ZERO(1st impact; Windows CE; ARM)\r\n\r\n";
const char LONGEST_METHOD[] = "HEAD ";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Header names compare equal regardless of the case of ASCII letters.
int compareHeaderName(const char* a, const char* b) {
    for (;; ++a, ++b) {
        int difference = static_cast<unsigned char>(lower(*a)) - static_cast<unsigned char>(lower(*b));
        if (difference || !*a) return difference;
    }
}

bool isDelimiter(char c) { return c == ' ' || c == ':' || c == '\r' || c == '\n'; }

// The next token of `text` at or after `*at`, terminated in place; null when none is
// left. *cut tells whether the token runs to the end of the text, where it may go on
// in the next chunk.
char* nextToken(char* text, std::size_t length, std::size_t* at, bool* cut) {
    while (*at < length && isDelimiter(text[*at])) ++*at;
    if (*at >= length) return nullptr;
    char* token = text + *at;
    while (*at < length && !isDelimiter(text[*at])) ++*at;
    *cut = *at >= length;
    if (*at < length) text[(*at)++] = '\0';
    return token;
}

// A decimal Content-Length value; false for a sign, no digits or more than 32 bits.
bool parseLength(const char* text, std::uint32_t* value) {
    while (*text == ' ' || *text == '\t') ++text;
    if (*text == '+') ++text;
    if (*text < '0' || *text > '9') return false;
    std::uint64_t result = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        result = result * 10 + static_cast<std::uint64_t>(*text - '0');
        if (result > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<std::uint32_t>(result);
    return true;
}

}  // namespace

bool composeRequest(char (&request)[HTTP_REQUEST_SIZE], const char* method, const char* file, const char* host) {
    request[0] = '\0';
    const char* pieces[] = {method, file, PROTOCOL_PIECE, host, AGENT_PIECE};
    std::size_t length = 0;
    for (const char* piece : pieces) length += std::strlen(piece);
    length += std::max(std::strlen(LONGEST_METHOD), std::strlen(method)) - std::strlen(method);
    if (length >= HTTP_REQUEST_SIZE) return false;
    for (const char* piece : pieces) std::strcat(request, piece);
    return true;
}

void HeadReply::take(const char* bytes, std::size_t length) {
    while (length > 0) {
        std::size_t size = std::min<std::size_t>(length, HTTP_HEAD_CHUNK);
        takeChunk(bytes, size);
        bytes += size;
        length -= size;
    }
}

void HeadReply::takeChunk(const char* bytes, std::size_t size) {
    char chunk[HTTP_HEAD_CHUNK + 1];
    std::memcpy(chunk, bytes, size);
    chunk[size] = '\0';
    std::size_t at = 0;
    bool cut = false;
    while (char* token = nextToken(chunk, size, &at, &cut)) {
        if (observer) observer(Event::Token, token, 0);
        if (compareHeaderName(token, "content-length") != 0) continue;
        if (observer) observer(Event::LengthName, token, 0);
        // A name that ends the chunk has no value here, and a value that ends it
        // may be only its first digits: either counts as no value.
        char* value = cut ? nullptr : nextToken(chunk, size, &at, &cut);
        std::uint32_t parsed = 0;
        if (!value || cut || !parseLength(value, &parsed)) continue;
        contentLength_ = parsed;
        found_ = true;
        if (observer) observer(Event::LengthValue, value, parsed);
    }
    length_ += static_cast<std::uint32_t>(size);
}

std::uint32_t responseHeaderEnd(const char* text, std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i) {
        if (text[i] != '\n') continue;
        if (fitsWithin(length, i, 2) && text[i + 1] == '\n') return i + 2;
        if (fitsWithin(length, i, 3) && text[i + 1] == '\r' && text[i + 2] == '\n') return i + 3;
    }
    return 0;
}

int responseStatus(const char* text, std::uint32_t length) {
    if (!fitsWithin(length, 0, 5) || std::memcmp(text, "HTTP/", 5) != 0) return -1;
    std::uint32_t i = 5;
    while (i < length && text[i] != ' ') ++i;
    while (i < length && text[i] == ' ') ++i;
    if (!fitsWithin(length, i, 3)) return -1;
    int code = 0;
    for (int digit = 0; digit < 3; ++digit, ++i) {
        if (text[i] < '0' || text[i] > '9') return -1;
        code = code * 10 + (text[i] - '0');
    }
    return code;
}

}  // namespace quorvel
