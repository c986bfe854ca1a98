#include <platform/File.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace ut {

File::File(const OdString& path, EOpenMode /*mode*/) {
    // Non-blocking, so a FIFO in a file's place reads as empty instead of waiting for a writer;
    // regular files ignore the flag.
    m_fd = ::open(path.ansi_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd >= 0) {
        // Tell the kernel the file is read once from start to end, which doubles its read-ahead.
        ::posix_fadvise(static_cast<int>(m_fd), 0, 0, POSIX_FADV_SEQUENTIAL);
    }
}

File::~File() {
    close();
}

std::uint64_t File::length() const {
    struct stat st;
    if (m_fd < 0 || ::fstat(static_cast<int>(m_fd), &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

std::size_t File::read(void* buffer, std::size_t size) {
    if (m_fd < 0)
        return 0;
    auto* out = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const ssize_t n = ::read(static_cast<int>(m_fd), out + total, size - total);
        if (n > 0) {
            total += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return total;
}

void File::close() {
    if (m_fd >= 0) {
        ::close(static_cast<int>(m_fd));
        m_fd = -1;
    }
}

}  // namespace ut
