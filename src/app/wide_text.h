// Text between the terminal's UTF-8 and the options' fixed UTF-16 buffers.
#pragma once

#include <cstddef>
#include <string>

#include "platform/types.h"

namespace quorvel::app {

std::string text(const ce::WCHAR* w);
std::u16string wide(const std::string& text);
// Copies `text` into a buffer of `size` units, cut to fit and always ended.
void copyOption(ce::WCHAR* to, std::size_t size, const std::string& text);

}  // namespace quorvel::app
