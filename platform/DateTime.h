// ut::DateTime: a file time stamp as the file utilities report it.
#pragma once

#include <cstdint>

#include <platform/Export.h>

namespace ut {

class RVKPLATFORM_EXPORT DateTime {
public:
    DateTime() = default;
    explicit DateTime(std::int64_t ticks) : m_ticks(ticks) {}

    // Nanoseconds since the Unix epoch; 0 until filled.
    std::int64_t getTicks() const { return m_ticks; }
    void setTicks(std::int64_t ticks) { m_ticks = ticks; }

private:
    std::int64_t m_ticks = 0;
};

}  // namespace ut
