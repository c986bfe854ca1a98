#include <platform/File.h>

#include <algorithm>

#include <platform/internal/WidePath.h>

namespace ut {

namespace {

HANDLE handleOf(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

File::File(const OdString& path, EOpenMode /*mode*/) {
    // FILE_SHARE_DELETE: a reader never stops another program from replacing or removing the
    // file (the atomic write renames over it). A read once from start to end, as the system is
    // told.
    const HANDLE handle = CreateFileW(win::widePath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        CloseHandle(handle);
        return;
    }
    m_fd = reinterpret_cast<std::intptr_t>(handle);
}

File::~File() {
    close();
}

std::uint64_t File::length() const {
    LARGE_INTEGER size;
    if (m_fd < 0 || GetFileSizeEx(handleOf(m_fd), &size) == 0)
        return 0;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t File::read(void* buffer, std::size_t size) {
    if (m_fd < 0)
        return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        constexpr std::size_t kMaxChunk = 1u << 30;  // ReadFile counts in 32 bits
        const auto chunk = static_cast<DWORD>(std::min(size - total, kMaxChunk));
        DWORD n = 0;
        if (ReadFile(handleOf(m_fd), out + total, chunk, &n, nullptr) == 0 || n == 0)
            break;
        total += n;
    }
    return total;
}

void File::close() {
    if (m_fd >= 0) {
        CloseHandle(handleOf(m_fd));
        m_fd = -1;
    }
}

}  // namespace ut
