#include <platform/File.h>

#include <platform/SystemFiles.h>

namespace ut {

File::File(const OdString& path, EOpenMode /*mode*/) {
    const sys::Handle handle = sys::openForReading(path, sys::Follow::yes);
    if (handle == sys::kNoHandle)
        return;
    // A folder opens on some systems; it is no file to read.
    if (sys::lookAt(handle).kind == sys::Kind::folder) {
        sys::close(handle);
        return;
    }
    m_fd = handle;
}

File::~File() {
    close();
}

std::uint64_t File::length() const {
    if (m_fd < 0)
        return 0;
    const sys::Info info = sys::lookAt(m_fd);
    return info.kind == sys::Kind::none ? 0 : static_cast<std::uint64_t>(info.size);
}

std::size_t File::read(void* buffer, std::size_t size) {
    if (m_fd < 0)
        return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const std::ptrdiff_t n = sys::read(m_fd, out + total, size - total);
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    return total;
}

void File::close() {
    if (m_fd >= 0) {
        sys::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace ut
