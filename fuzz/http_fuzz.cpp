// HTTP replies as any server might send them, through the reply parsing of the
// HTTP backend: as a HEAD reply, whole and in chunks of the sizes the backend
// receives, and as the header of a GET reply.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "file/http_response.h"

using namespace quorvel;

namespace {

// The backend looks for a GET reply's header in a buffer of this many bytes.
constexpr std::uint32_t GET_HEADER_LIMIT = 8192;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);

    HeadReply whole;
    whole.take(text, size);
    check(whole.length() == static_cast<std::uint32_t>(size));
    check(whole.found() || whole.contentLength() == 0);

    // The reply as the backend sees it on the wire: chunks of 255 bytes, the last
    // shorter. The result may not depend on how the caller handed them over.
    HeadReply chunked;
    for (std::size_t at = 0; at < size; at += HTTP_HEAD_CHUNK) {
        chunked.take(text + at, std::min<std::size_t>(HTTP_HEAD_CHUNK, size - at));
    }
    check(chunked.found() == whole.found());
    check(chunked.contentLength() == whole.contentLength());

    auto length = static_cast<std::uint32_t>(std::min<std::size_t>(size, GET_HEADER_LIMIT));
    std::uint32_t end = responseHeaderEnd(text, length);
    check(end <= length);
    int status = responseStatus(text, end ? end : length);
    check(status == -1 || (status >= 0 && status <= 999));
    return 0;
}
