// OdString: the wide-character string that every path, name, URL, key and message is made of.
//
// One code point per wchar_t element where wchar_t has 32 bits; where it has 16 (Windows), UTF-16
// code units, a code point beyond U+FFFF taking a surrogate pair. The narrow form (ansi_str(), and the constructor from
// `const char*` with code page 46) is UTF-8. Bytes that are not valid UTF-8 decode to the lone
// surrogates U+DC80..U+DCFF, one element per byte, and encode back to the same bytes, so every file
// name the operating system hands us survives narrow -> wide -> narrow unchanged.
//
// OdString is a value type: copies are independent. ansi_str() fills a narrow buffer owned by the
// object on first use, so even const objects must not be shared between threads without care.
// That buffer lives behind a pointer, made by the first ansi_str(): most strings (every record of
// a large scan) never need their narrow form, and a string is then no bigger than its wide text.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <platform/Export.h>

// Code page identifiers understood by OdString(const char*, int). Only UTF-8 is used.
enum OdCodePageId : int { kCodePageUtf8 = 46 };

class RVKPLATFORM_EXPORT OdString {
public:
    static const OdString kEmpty;

    OdString() = default;
    OdString(const wchar_t* text);  // NOLINT(google-explicit-constructor): literals are paths
    OdString(const wchar_t* text, int length);
    explicit OdString(std::wstring text);
    // Decodes `text` (up to its terminating zero) from UTF-8; `codePage` must be kCodePageUtf8.
    OdString(const char* text, int codePage);
    // Decodes exactly `size` bytes, embedded zeros included.
    OdString(const char* text, std::size_t size, int codePage);

    OdString(const OdString& other);
    OdString(OdString&& other) noexcept;
    OdString& operator=(const OdString& other);
    OdString& operator=(OdString&& other) noexcept;
    OdString& operator=(const wchar_t* text);
    ~OdString();

    // Replaces the text with `size` bytes of UTF-8 decoded, as the constructor from UTF-8 does,
    // reusing the buffers this string already has. Its narrow form is then those very bytes,
    // known without encoding: a walk that reads names from the file system and tests them in
    // their narrow form converts each name only once.
    OdString& assignUtf8(const char* text, std::size_t size);

    // Always terminated; valid until the string is changed or destroyed.
    const wchar_t* c_str() const { return m_data.c_str(); }
    const std::wstring& wstr() const { return m_data; }
    int getLength() const { return static_cast<int>(m_data.size()); }
    bool isEmpty() const { return m_data.empty(); }
    wchar_t getAt(int index) const { return m_data[static_cast<std::size_t>(index)]; }
    wchar_t operator[](int index) const { return getAt(index); }

    // The UTF-8 form, terminated; valid until the string is changed or destroyed. An element
    // U+0000 inside the string ends the narrow text for callers that stop at the terminator.
    const char* ansi_str() const;
    // Byte length of the whole UTF-8 form (embedded zero elements included).
    std::size_t ansiLength() const;

    // printf-style formatting into this string; `%ls` takes a `const wchar_t*`.
    OdString& format(const wchar_t* fmt, ...);

    // First `count` characters; characters from `index` to the end; last `count` characters.
    // Counts beyond the string are clamped, negative ones give the empty string.
    OdString left(int count) const;
    OdString mid(int index) const;
    OdString mid(int index, int count) const;
    OdString right(int count) const;
    // Index of the last occurrence of `ch`, or -1.
    int reverseFind(wchar_t ch) const;
    // Index of the first occurrence of `ch` at or after `start`, or -1.
    int find(wchar_t ch, int start = 0) const;
    // 0 when equal to the UTF-8 text `narrow`; <0 or >0 by code point order otherwise.
    int compare(const char* narrow) const;
    int compare(const OdString& other) const { return m_data.compare(other.m_data); }

    OdString& operator+=(const OdString& other);
    OdString& operator+=(const wchar_t* text);
    OdString& operator+=(wchar_t ch);

    friend bool operator==(const OdString& a, const OdString& b) { return a.m_data == b.m_data; }
    friend bool operator!=(const OdString& a, const OdString& b) { return a.m_data != b.m_data; }
    friend bool operator<(const OdString& a, const OdString& b) { return a.m_data < b.m_data; }
    friend bool operator==(const OdString& a, const wchar_t* b) { return a.m_data == b; }
    friend bool operator!=(const OdString& a, const wchar_t* b) { return a.m_data != b; }

private:
    // The UTF-8 form of m_data when `valid`; otherwise a buffer kept for the next encoding.
    struct Narrow {
        std::string text;
        bool valid = false;
    };

    // Kept allocated once made, so a string that changes and is encoded again reuses its buffer.
    void invalidateNarrow() const;

    std::wstring m_data;
    mutable std::unique_ptr<Narrow> m_narrow;  // null until the first ansi_str()
};

RVKPLATFORM_EXPORT OdString operator+(const OdString& a, const OdString& b);
RVKPLATFORM_EXPORT OdString operator+(const wchar_t* a, const OdString& b);
RVKPLATFORM_EXPORT OdString operator+(const OdString& a, const wchar_t* b);

namespace std {
template <>
struct hash<OdString> {
    std::size_t operator()(const OdString& s) const noexcept {
        return std::hash<std::wstring>()(s.wstr());
    }
};
}  // namespace std
