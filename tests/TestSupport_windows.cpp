// The test helpers on Windows, which has no POSIX permissions nor root to give up.
#include "TestSupport.h"

namespace testing_support {

const std::chrono::nanoseconds kFileTimeStep{100};

void asUnprivilegedUser(const TempDir& /*dir*/, const std::function<void()>& /*block*/) {
    GTEST_SKIP() << "Windows has no POSIX permissions: fs::permissions cannot take away reading";
}

}  // namespace testing_support
