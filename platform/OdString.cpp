#include <platform/OdString.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <vector>

#include <platform/Utf8.h>
#include <platform/internal/WideFormat.h>

const OdString OdString::kEmpty;

void OdString::invalidateNarrow() const {
    if (m_narrow)
        m_narrow->valid = false;
}

OdString::OdString(const wchar_t* text) : m_data(text ? text : L"") {}

OdString::OdString(const wchar_t* text, int length)
    : m_data(text && length > 0 ? std::wstring(text, static_cast<std::size_t>(length))
                                : std::wstring()) {}

OdString::OdString(std::wstring text) : m_data(std::move(text)) {}

OdString::OdString(const char* text, int /*codePage*/)
    : m_data(text ? ut::decodeUtf8(text, std::strlen(text)) : std::wstring()) {}

OdString::OdString(const char* text, std::size_t size, int /*codePage*/)
    : m_data(text ? ut::decodeUtf8(text, size) : std::wstring()) {}

OdString::OdString(const OdString& other) : m_data(other.m_data) {}

// The source's narrow form, if it has one, describes the text that moves here, so it comes along.
OdString::OdString(OdString&& other) noexcept
    : m_data(std::move(other.m_data)), m_narrow(std::move(other.m_narrow)) {
    other.m_data.clear();
}

OdString& OdString::operator=(const OdString& other) {
    if (this != &other) {
        m_data = other.m_data;
        invalidateNarrow();
    }
    return *this;
}

OdString& OdString::operator=(OdString&& other) noexcept {
    if (this != &other) {
        m_data = std::move(other.m_data);
        other.m_data.clear();
        if (other.m_narrow && other.m_narrow->valid) {
            m_narrow.swap(other.m_narrow);  // it describes the text that moved here
            other.invalidateNarrow();
        } else {
            invalidateNarrow();  // keep the buffer for this string's next encoding
        }
    }
    return *this;
}

OdString& OdString::operator=(const wchar_t* text) {
    m_data = text ? text : L"";
    invalidateNarrow();
    return *this;
}

OdString::~OdString() = default;

OdString& OdString::assignUtf8(const char* text, std::size_t size) {
    // ASCII, the common case, widens in place, eight bytes to a test; anything else goes
    // through the decoder.
    m_data.resize(size);
    wchar_t* const wide = m_data.data();
    const auto* const bytes = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        unsigned any = 0;
        for (std::size_t k = 0; k < 8; ++k)
            any |= bytes[i + k];
        if (any >= 0x80)
            break;
        for (std::size_t k = 0; k < 8; ++k)
            wide[i + k] = static_cast<wchar_t>(bytes[i + k]);
    }
    for (; i < size; ++i) {
        if (bytes[i] >= 0x80) {
            m_data = ut::decodeUtf8(text, size);
            break;
        }
        wide[i] = static_cast<wchar_t>(bytes[i]);
    }
    // Decoding and encoding again gives back every byte string unchanged.
    if (m_narrow) {
        m_narrow->text.assign(text, size);
        m_narrow->valid = true;
    }
    return *this;
}

const char* OdString::ansi_str() const {
    if (!m_narrow)
        m_narrow = std::make_unique<Narrow>();
    if (!m_narrow->valid) {
        m_narrow->text.clear();
        ut::appendUtf8(m_narrow->text, m_data.data(), m_data.size());
        m_narrow->valid = true;
    }
    return m_narrow->text.c_str();
}

std::size_t OdString::ansiLength() const {
    ansi_str();
    return m_narrow->text.size();
}

OdString& OdString::format(const wchar_t* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    ut::sys::formatWide(m_data, fmt, args);  // a format error leaves nothing sensible to keep
    va_end(args);
    invalidateNarrow();
    return *this;
}

OdString OdString::left(int count) const {
    if (count <= 0)
        return OdString();
    return OdString(m_data.substr(0, static_cast<std::size_t>(count)));
}

OdString OdString::mid(int index) const {
    if (index < 0)
        index = 0;
    if (static_cast<std::size_t>(index) >= m_data.size())
        return OdString();
    return OdString(m_data.substr(static_cast<std::size_t>(index)));
}

OdString OdString::mid(int index, int count) const {
    if (index < 0)
        index = 0;
    if (count <= 0 || static_cast<std::size_t>(index) >= m_data.size())
        return OdString();
    return OdString(
        m_data.substr(static_cast<std::size_t>(index), static_cast<std::size_t>(count)));
}

OdString OdString::right(int count) const {
    if (count <= 0)
        return OdString();
    const auto n = static_cast<std::size_t>(count);
    if (n >= m_data.size())
        return *this;
    return OdString(m_data.substr(m_data.size() - n));
}

int OdString::reverseFind(wchar_t ch) const {
    const auto pos = m_data.rfind(ch);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int OdString::find(wchar_t ch, int start) const {
    if (start < 0)
        start = 0;
    const auto pos = m_data.find(ch, static_cast<std::size_t>(start));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int OdString::compare(const char* narrow) const {
    const std::wstring other =
        narrow ? ut::decodeUtf8(narrow, std::strlen(narrow)) : std::wstring();
    return m_data.compare(other);
}

OdString& OdString::operator+=(const OdString& other) {
    m_data += other.m_data;
    invalidateNarrow();
    return *this;
}

OdString& OdString::operator+=(const wchar_t* text) {
    if (text)
        m_data += text;
    invalidateNarrow();
    return *this;
}

OdString& OdString::operator+=(wchar_t ch) {
    m_data += ch;
    invalidateNarrow();
    return *this;
}

OdString operator+(const OdString& a, const OdString& b) {
    OdString result(a);
    result += b;
    return result;
}

OdString operator+(const wchar_t* a, const OdString& b) {
    OdString result(a);
    result += b;
    return result;
}

OdString operator+(const OdString& a, const wchar_t* b) {
    OdString result(a);
    result += b;
    return result;
}
