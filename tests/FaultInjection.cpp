// The counters behind the fault seam of platform/internal/FaultSeam.h, for the tests alone: they
// are compiled into the test build of the platform sources (RVK_FAULT_INJECTION), and the shipped
// library, which has no seam, keeps no state.
#include <platform/internal/FaultSeam.h>

#include <array>

namespace ut::sys {

namespace {

struct Plan {
    int remaining = 0;  // calls to let through before the failing one, plus one; 0: no plan
    int error = 0;
};

std::array<Plan, static_cast<std::size_t>(Call::kCount)> plans;

}  // namespace

void failNth(Call call, int nth, int error) {
    plans[static_cast<std::size_t>(call)] = Plan{nth, error};
}

void clearFaults() {
    plans.fill(Plan{});
}

bool faultPending(Call call) {
    return plans[static_cast<std::size_t>(call)].remaining > 0;
}

bool shouldFail(Call call) {
    Plan& plan = plans[static_cast<std::size_t>(call)];
    if (plan.remaining == 0 || --plan.remaining > 0)
        return false;
    errno = plan.error;
    return true;
}

}  // namespace ut::sys
