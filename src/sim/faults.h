// Failures on demand: a test names a service and when it should fail.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// One call of a service, as a rule sees it.
struct FaultCall {
    std::string_view service;
    std::uint64_t index;        // 0 for the first call of this service since the device started
    std::uint32_t address;      // the address the call is about, where there is one
    std::u16string_view name;   // the path or name the call is about, where there is one
};

// What happens to a call a rule caught: it fails, or (limit > 0) it is cut short,
// delivering or accepting at most `limit` bytes.
struct Fault {
    std::uint32_t limit = 0;
};

class Faults {
public:
    using Rule = std::function<bool(const FaultCall&)>;

    void failWhen(const std::string& service, Rule rule, std::uint32_t limit = 0);
    void failAlways(const std::string& service);
    void failOnCall(const std::string& service, std::uint64_t index);
    void clear();
    // `watcher` sees every call the services check, before any rule; a test uses it
    // to stop a process at a chosen call.
    void watch(std::function<void(const FaultCall&)> watcher);

    // Called by the services; counts the call.
    std::optional<Fault> check(std::string_view service, std::uint32_t address = 0,
                               std::u16string_view name = {});
    std::uint64_t calls(const std::string& service) const;

private:
    struct Entry {
        Rule rule;
        std::uint32_t limit;
    };
    std::map<std::string, std::vector<Entry>, std::less<>> rules_;
    std::map<std::string, std::uint64_t, std::less<>> counts_;
    std::function<void(const FaultCall&)> watcher_;
};

}  // namespace sim
