// Results of fallible operations: Expected<T>, ErrorMessage and NotFound.
//
// Every operation that can fail for a reason a user should see returns an Expected<T>: either the
// value or an ErrorMessage whose text is complete (translated and formatted where it was made).
// Callers test hasValue() first; there is no throwing accessor. An error passed on by a caller is
// copied whole, code included, never wrapped or extended. A result may not be dropped unread (the
// class is [[nodiscard]]), and reading the member it does not hold ends the process with a message
// in every build: carrying on would use storage that holds the other member.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

#include <platform/OdString.h>

struct ErrorMessage {
    OdString message;       // the complete text for the user
    std::int32_t code = 0;  // always 0 for errors the library makes
};

namespace expected_detail {

[[noreturn]] inline void readMissing(const char* member, const ErrorMessage* held) {
    std::fprintf(stderr, "Expected: %s read, but it holds %s%s\n", member,
                 held ? "the error: " : "a value", held ? held->message.ansi_str() : "");
    std::abort();
}

}  // namespace expected_detail

// One shared storage for the value or the error, and a flag that says which one is alive. Only the
// live member is ever destroyed: an Expected<Cache> holding an error never runs ~Cache().
template <typename T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : m_hasValue(true) {  // NOLINT(google-explicit-constructor)
        ::new (&m_value) T(std::move(value));
    }
    Expected(ErrorMessage error) : m_hasValue(false) {  // NOLINT(google-explicit-constructor)
        ::new (&m_error) ErrorMessage(std::move(error));
    }
    Expected(const Expected& other) : m_hasValue(other.m_hasValue) {
        if (m_hasValue)
            ::new (&m_value) T(other.m_value);
        else
            ::new (&m_error) ErrorMessage(other.m_error);
    }
    Expected(Expected&& other) noexcept(std::is_nothrow_move_constructible<T>::value)
        : m_hasValue(other.m_hasValue) {
        if (m_hasValue)
            ::new (&m_value) T(std::move(other.m_value));
        else
            ::new (&m_error) ErrorMessage(std::move(other.m_error));
    }
    // Assignment needs T's own assignment and is only available where T has one.
    Expected& operator=(const Expected& other) {
        if (this != &other)
            assignFrom(other);
        return *this;
    }
    Expected& operator=(Expected&& other) {
        if (this != &other)
            assignFrom(std::move(other));
        return *this;
    }
    ~Expected() { destroy(); }

    bool hasValue() const { return m_hasValue; }
    explicit operator bool() const { return m_hasValue; }

    T& value() & {
        if (!m_hasValue)
            expected_detail::readMissing("value()", &m_error);
        return m_value;
    }
    const T& value() const& {
        if (!m_hasValue)
            expected_detail::readMissing("value()", &m_error);
        return m_value;
    }
    T&& value() && {
        if (!m_hasValue)
            expected_detail::readMissing("value()", &m_error);
        return std::move(m_value);
    }
    const ErrorMessage& error() const {
        if (m_hasValue)
            expected_detail::readMissing("error()", nullptr);
        return m_error;
    }

private:
    void destroy() {
        if (m_hasValue)
            m_value.~T();
        else
            m_error.~ErrorMessage();
    }
    template <typename Other>
    void assignFrom(Other&& other) {
        if (m_hasValue && other.m_hasValue) {
            m_value = std::forward<Other>(other).m_value;
        } else if (!m_hasValue && !other.m_hasValue) {
            m_error = std::forward<Other>(other).m_error;
        } else {
            destroy();
            m_hasValue = other.m_hasValue;
            if (m_hasValue)
                ::new (&m_value) T(std::forward<Other>(other).m_value);
            else
                ::new (&m_error) ErrorMessage(std::forward<Other>(other).m_error);
        }
    }

    union {
        T m_value;
        ErrorMessage m_error;
    };
    bool m_hasValue;
};

// Success without a value, or an ErrorMessage.
template <>
class [[nodiscard]] Expected<void> {
public:
    Expected() : m_hasValue(true) {}
    Expected(ErrorMessage error) : m_hasValue(false) {  // NOLINT(google-explicit-constructor)
        ::new (&m_error) ErrorMessage(std::move(error));
    }
    Expected(const Expected& other) : m_hasValue(other.m_hasValue) {
        if (!m_hasValue)
            ::new (&m_error) ErrorMessage(other.m_error);
    }
    Expected(Expected&& other) noexcept : m_hasValue(other.m_hasValue) {
        if (!m_hasValue)
            ::new (&m_error) ErrorMessage(std::move(other.m_error));
    }
    Expected& operator=(Expected other) noexcept {
        destroy();
        m_hasValue = other.m_hasValue;
        if (!m_hasValue)
            ::new (&m_error) ErrorMessage(std::move(other.m_error));
        return *this;
    }
    ~Expected() { destroy(); }

    bool hasValue() const { return m_hasValue; }
    explicit operator bool() const { return m_hasValue; }
    const ErrorMessage& error() const {
        if (m_hasValue)
            expected_detail::readMissing("error()", nullptr);
        return m_error;
    }

private:
    void destroy() {
        if (!m_hasValue)
            m_error.~ErrorMessage();
    }

    union {
        char m_none;
        ErrorMessage m_error;
    };
    bool m_hasValue;
};

namespace common {

// The "nothing was found" alternative of a lookup that can also fail.
struct NotFound {};

}  // namespace common
