// Cases of parameterised tests print as their names wherever gtest shows a parameter
// (its test list, and so ctest's test names), not as their raw bytes. A test file
// brings it in with `using testing_support::PrintTo;` in the namespace of its cases.
#pragma once

#include <concepts>
#include <ostream>
#include <string_view>

namespace testing_support {

template <typename Case>
concept NamedCase = requires(const Case& c) {
    { c.name } -> std::convertible_to<std::string_view>;
};

template <NamedCase Case>
void PrintTo(const Case& c, std::ostream* out) {
    *out << std::string_view(c.name);
}

}  // namespace testing_support
