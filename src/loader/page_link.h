// The physical copy list the second-stage loader performs with the MMU off.
#pragma once

#include <cstdint>

namespace quorvel {

constexpr std::uint32_t PAGE_LINK_END = 0xFFFFFFFFu;   // in `next`
constexpr std::uint32_t PAGE_LINK_ZERO = 0xFFFFFFFFu;  // in `src`: clear the destination

struct PageLink {
    std::uint32_t next;
    std::uint32_t src;
    std::uint32_t dst;
    std::uint32_t size;
};
static_assert(sizeof(PageLink) == 16);

}  // namespace quorvel
