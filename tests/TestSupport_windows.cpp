// The test helpers on Windows, which has no POSIX permissions nor root to give up.
#include "TestSupport.h"

#include <windows.h>

namespace testing_support {

const std::chrono::nanoseconds kFileTimeStep{100};

bool setModificationTicks(const fs::path& path, std::int64_t ticks) {
    // FILETIME counts 100 ns steps since 1601.
    const auto units = static_cast<std::uint64_t>(ticks / 100 + 116444736000000000LL);
    const FILETIME time{static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
    const HANDLE handle = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool set = SetFileTime(handle, nullptr, nullptr, &time) != 0;
    CloseHandle(handle);
    return set;
}

void asUnprivilegedUser(const TempDir& /*dir*/, const std::function<void()>& /*block*/) {
    GTEST_SKIP() << "Windows has no POSIX permissions: fs::permissions cannot take away reading";
}

}  // namespace testing_support
