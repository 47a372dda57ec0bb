// The text `quorvel gui --keys` types: characters as a person types them, and a key
// by its name in braces ({Tab}, {Shift+Tab}, {Enter}, ...); "{{" types a brace.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/windows/window_system.h"

namespace sim {

// The input events of `text`; nothing, with the reason in `error`, for an unknown
// or unclosed name.
std::optional<std::vector<InputEvent>> keyScript(const std::u16string& text, std::string& error);

// The names, for help texts: "Tab, Shift+Tab, Enter, ...".
std::string keyNames();

}  // namespace sim
