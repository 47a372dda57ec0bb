// Failures on demand.
#include "sim/faults.h"

namespace sim {

void Faults::failWhen(const std::string& service, Rule rule, std::uint32_t limit) {
    rules_[service].push_back({std::move(rule), limit});
}

void Faults::failAlways(const std::string& service) {
    failWhen(service, [](const FaultCall&) { return true; });
}

void Faults::failOnCall(const std::string& service, std::uint64_t index) {
    failWhen(service, [index](const FaultCall& call) { return call.index == index; });
}

void Faults::clear() {
    rules_.clear();
    watcher_ = nullptr;
}

void Faults::watch(std::function<void(const FaultCall&)> watcher) { watcher_ = std::move(watcher); }

std::optional<Fault> Faults::check(std::string_view service, std::uint32_t address, std::u16string_view name) {
    auto count = counts_.find(service);
    if (count == counts_.end()) count = counts_.emplace(std::string(service), 0).first;
    FaultCall call{service, count->second++, address, name};
    if (watcher_) watcher_(call);
    auto found = rules_.find(service);
    if (found == rules_.end()) return std::nullopt;
    for (const Entry& entry : found->second) {
        if (entry.rule(call)) return Fault{entry.limit};
    }
    return std::nullopt;
}

std::uint64_t Faults::calls(const std::string& service) const {
    auto found = counts_.find(service);
    return found == counts_.end() ? 0 : found->second;
}

}  // namespace sim
