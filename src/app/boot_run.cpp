#include "app/boot_run.h"

#include "ui/boot_steps.h"

namespace quorvel::app {

namespace {
// The Boot command takes a plain function as its runner, so the run it reports to
// is found here. One at a time: a boot is never started inside another.
HandOverRun* current = nullptr;
}  // namespace

HandOverRun::HandOverRun(std::function<void(const BootOutcome&)> afterEach) : afterEach_(std::move(afterEach)) {
    current = this;
    ui::setBootRunner(&HandOverRun::run);
}

HandOverRun::~HandOverRun() {
    ui::setBootRunner(nullptr);
    current = nullptr;
}

void HandOverRun::run(BootMenu& menu) {
    HandOverRun& self = *current;
    self.outcome_ = {};
    try {
        self.outcome_.result = sim::runBoot([&menu] { menu.startBoot(); });
    } catch (const std::exception& e) {
        self.outcome_.error = e.what();
    }
    if (self.afterEach_) self.afterEach_(self.outcome_);
}

bool HandOverRun::startBootSteps(BootMenu& menu, bool save) {
    outcome_ = {};
    bool saved = true;
    ui::startBootSteps(menu, save, &saved);
    return saved;
}

int exitStatusOf(sim::HaltReason reason) {
    switch (reason) {
    case sim::HaltReason::Halted:
    case sim::HaltReason::Returned:
    case sim::HaltReason::Stopped: return 0;
    case sim::HaltReason::Exception:
    case sim::HaltReason::UnmappedAccess:
    case sim::HaltReason::ProtectedAccess: return 3;
    case sim::HaltReason::BudgetExhausted:
    case sim::HaltReason::TimedOut: return 4;
    case sim::HaltReason::Interrupted: return 130;
    case sim::HaltReason::Failed: return 1;
    }
    return 1;
}

}  // namespace quorvel::app
