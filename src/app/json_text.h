// Every JSON the program writes is made with nlohmann::json and written here: keys
// in the order they were set, two-space indents, bytes that are not UTF-8 replaced
// rather than failing the write.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace quorvel::app {

using Json = nlohmann::ordered_json;

inline std::string jsonText(const Json& value) {
    return value.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace quorvel::app
