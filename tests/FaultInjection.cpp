// The counters behind the fault seam of platform/internal/FaultSeam.h, for the tests alone: they
// are compiled into the test build of the platform sources (RVK_FAULT_INJECTION), and the shipped
// library, which has no seam, keeps no state.
#include <platform/internal/FaultSeam.h>

#include <array>
#include <string>

#include <platform/SystemFiles.h>

namespace ut::sys {

namespace {

struct Plan {
    int remaining = 0;  // calls to let through before the failing one, plus one; 0: no plan
    int error = 0;
};

// A file that refuses a kind of call for as long as the plan stands.
struct Named {
    OdString name;  // empty: no plan
    int error = 0;
};

std::array<Plan, static_cast<std::size_t>(Call::kCount)> plans;
std::array<Named, static_cast<std::size_t>(Call::kCount)> named;

// The last part of `path`, after its last separator.
OdString lastName(const Path& path) {
#if defined(_WIN32)
    const PathUnit separators[] = L"\\/";
#else
    const PathUnit separators[] = "/";
#endif
    const std::basic_string<PathUnit>& text = path.text();
    const std::size_t slash = text.find_last_of(separators);
    const std::size_t start = slash == std::basic_string<PathUnit>::npos ? 0 : slash + 1;
    return nameOf(text.data() + start, text.size() - start);
}

}  // namespace

void failNth(Call call, int nth, int error) {
    plans[static_cast<std::size_t>(call)] = Plan{nth, error};
}

void failOn(Call call, const char* name, int error) {
    named[static_cast<std::size_t>(call)] = Named{OdString(name, kCodePageUtf8), error};
}

void clearFaults() {
    plans.fill(Plan{});
    named.fill(Named{});
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

bool shouldFail(Call call, const Path& path) {
    // Counted first, so that a call on a named file still counts towards failNth().
    if (shouldFail(call))
        return true;
    const Named& plan = named[static_cast<std::size_t>(call)];
    if (plan.name.isEmpty() || lastName(path) != plan.name)
        return false;
    errno = plan.error;
    return true;
}

}  // namespace ut::sys
