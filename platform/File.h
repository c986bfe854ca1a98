// ut::File: a binary file opened for reading.
#pragma once

#include <cstddef>
#include <cstdint>

#include <platform/Export.h>
#include <platform/OdString.h>

namespace ut {

class RVKPLATFORM_EXPORT File {
public:
    enum EOpenMode : int { kRead = 0 };

    // Opens `path` for reading; isOpen() tells whether that worked. Never throws.
    File(const OdString& path, EOpenMode mode);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    // Size in bytes; 0 when the file is not open.
    std::uint64_t length() const;
    // Reads up to `size` bytes (fewer only at the end of the file or on an error); bytes read.
    std::size_t read(void* buffer, std::size_t size);
    void close();

private:
    std::intptr_t m_fd = -1;  // a descriptor, or a handle on Windows; -1 when closed
};

}  // namespace ut
