#include <corekit/json/internal/writer.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cwctype>
#include <iomanip>
#include <locale>
#include <sstream>
#include <system_error>

#include <platform/Utf8.h>

namespace corekit {
namespace json {
namespace {

// Plain ASCII runs, escape sequences and printable non-ASCII characters, into a wide or a UTF-8
// output: the one escaping routine behind both write_formatted and append_string_utf8, so that the
// two can never disagree on a character.
void append_run(std::wstring& out, const wchar_t* begin, const wchar_t* end) {
    out.append(begin, end);
}
void append_run(std::string& out, const wchar_t* begin, const wchar_t* end) {
    // Only printable ASCII comes here, one byte per element.
    const std::size_t old = out.size();
    out.resize(old + static_cast<std::size_t>(end - begin));
    std::transform(begin, end, &out[old], [](wchar_t c) { return static_cast<char>(c); });
}
template <std::size_t N>
void append_ascii_literal(std::wstring& out, const char (&text)[N]) {
    for (std::size_t i = 0; i + 1 < N; ++i)
        out.push_back(static_cast<wchar_t>(text[i]));
}
template <std::size_t N>
void append_ascii_literal(std::string& out, const char (&text)[N]) {
    out.append(text, N - 1);
}
void append_printable(std::wstring& out, wchar_t c) {
    out.push_back(c);
}
void append_printable(std::string& out, wchar_t c) {
    ut::appendUtf8(out, &c, 1);
}

template <class Out>
void append_unit_escape(Out& out, std::uint32_t unit) {
    static const char kHex[] = "0123456789ABCDEF";
    const char escape[] = {'\\',
                           'u',
                           kHex[(unit >> 12) & 0xF],
                           kHex[(unit >> 8) & 0xF],
                           kHex[(unit >> 4) & 0xF],
                           kHex[unit & 0xF],
                           '\0'};
    append_ascii_literal(out, escape);
}

// Whether a character beyond ASCII is written as it is: whatever the C library's classification
// under the current LC_CTYPE says, on every system. (glibc calls nothing beyond ASCII printable in
// the "C" locale, MinGW's C library classifies by Unicode in every locale: the same text may be
// written with escapes on one system and raw on the other, and reads back the same on both.)
bool printable_beyond_ascii(std::uint32_t c) {
    return std::iswprint(static_cast<std::wint_t>(c)) != 0;
}

template <class Out>
void append_special(Out& out, std::uint32_t c) {
    switch (c) {
        case 0x08:
            append_ascii_literal(out, "\\b");
            return;
        case 0x09:
            append_ascii_literal(out, "\\t");
            return;
        case 0x0A:
            append_ascii_literal(out, "\\n");
            return;
        case 0x0C:
            append_ascii_literal(out, "\\f");
            return;
        case 0x0D:
            append_ascii_literal(out, "\\r");
            return;
        case '"':
            append_ascii_literal(out, "\\\"");
            return;
        case '\\':
            append_ascii_literal(out, "\\\\");
            return;
        default:
            break;
    }
    if (c > 0x10FFFF) {
        // Not a code point at all: no escape can carry it, and a raw element could not be
        // encoded in the file.
        append_unit_escape(out, 0xFFFD);
    } else if (c >= 0x80 && printable_beyond_ascii(c)) {
        append_printable(out, static_cast<wchar_t>(c));
    } else if (c > 0xFFFF) {
        c -= 0x10000;
        append_unit_escape(out, 0xD800 + (c >> 10));
        append_unit_escape(out, 0xDC00 + (c & 0x3FF));
    } else {
        append_unit_escape(out, c);
    }
}

// Printable ASCII other than the two that must be escaped: by far the common case, written as it
// is.
bool is_plain(wchar_t c) {
    const auto unit = static_cast<std::uint32_t>(c);
    return (unit >= 0x20 && unit <= 0x7E) & (unit != '"') & (unit != '\\');
}

template <class Out>
void append_escaped(Out& out, const std::wstring& text) {
    append_ascii_literal(out, "\"");
    const wchar_t* run = text.data();
    const wchar_t* const end = run + text.size();
    for (const wchar_t* p = run; p != end; ++p) {
        const wchar_t c = *p;
        if (is_plain(c)) {
            continue;
        }
        append_run(out, run, p);
        run = p + 1;
        append_special(out, static_cast<std::uint32_t>(c));
    }
    append_run(out, run, end);
    append_ascii_literal(out, "\"");
}

// Appends straight into one string. Numbers are formatted with the locale-free std::to_chars,
// which gives the same characters as the stream does in the classic locale; for reals under any
// other global locale the stream itself is used, so the output never depends on which path ran.
class Writer {
public:
    // An upper bound of the length of `value`'s text, so that the output is allocated once. Growing
    // by doubling would copy the text at each step and touch twice its memory; reserved pages that
    // are never written cost no memory.
    static std::size_t bound(const Value& value, std::size_t level) {
        const std::size_t indentation = 4 * level;
        std::size_t n = 0;
        switch (value.type()) {
            case object_type:
                for (const auto& member : value.as_object()) {
                    n += indentation + 4 + bound(member.first) + 3 +
                         bound(member.second, level + 1) + 2;
                }
                return n + 2 + indentation + 1;
            case array_type:
                for (const Value& element : value.as_array()) {
                    n += indentation + 4 + bound(element, level + 1) + 2;
                }
                return n + 2 + indentation + 1;
            case string_type:
                return bound(value.as_string());
            case real_type: {
                // Digits before the point, each possibly followed by a group separator, a sign,
                // the point and 16 decimals; "inf" and "nan" are shorter.
                if (!std::isfinite(value.as_real())) {
                    return 20;
                }
                int exponent = 0;
                std::frexp(value.as_real(), &exponent);
                return 2 * (exponent > 0 ? static_cast<std::size_t>(exponent * 0.30103) + 2 : 1) +
                       20;
            }
            default:
                // The longest int is 20 characters; bool and null are shorter.
                return 20;
        }
    }

    static std::size_t bound(const std::wstring& text) {
        std::size_t n = 2;
        for (wchar_t c : text) {
            // Anything outside printable ASCII takes at most two \u escapes.
            n += c >= 0x20 && c <= 0x7E ? (c == L'"' || c == L'\\' ? 2 : 1) : 12;
        }
        return n;
    }

    explicit Writer(std::wstring& out)
        : out_(out), classic_locale_(std::locale() == std::locale::classic()) {}

    void write(const Value& value) {
        switch (value.type()) {
            case object_type:
                write_object(value.as_object());
                break;
            case array_type:
                write_array(value.as_array());
                break;
            case string_type:
                write_string(value.as_string());
                break;
            case bool_type:
                out_.append(value.as_bool() ? L"true" : L"false");
                break;
            case int_type:
                if (value.is_unsigned()) {
                    append_ascii(value.as_uint64());
                } else {
                    append_ascii(value.as_int64());
                }
                break;
            case real_type:
                write_real(value.as_real());
                break;
            case null_type:
                out_.append(L"null");
                break;
        }
    }

private:
    void write_object(const Object& object) {
        out_.append(L"{\n");
        ++level_;
        std::size_t left = object.size();
        for (const auto& member : object) {
            indent();
            write_string(member.first);
            out_.append(L" : ");
            write(member.second);
            end_line(--left != 0);
        }
        --level_;
        indent();
        out_.push_back(L'}');
    }

    void write_array(const Array& array) {
        out_.append(L"[\n");
        ++level_;
        std::size_t left = array.size();
        for (const Value& element : array) {
            indent();
            write(element);
            end_line(--left != 0);
        }
        --level_;
        indent();
        out_.push_back(L']');
    }

    void indent() { out_.append(static_cast<std::size_t>(level_) * 4, L' '); }

    void end_line(bool more) { out_.append(more ? L",\n" : L"\n"); }

    void write_string(const std::wstring& text) { append_escaped(out_, text); }

    void write_real(double number) {
        // Spelled here, not by the stream: C libraries differ on the sign of a not-a-number.
        if (std::isnan(number)) {
            out_.append(std::signbit(number) ? L"-nan" : L"nan");
            return;
        }
        if (std::isinf(number)) {
            out_.append(number < 0 ? L"-inf" : L"inf");
            return;
        }
        if (!classic_locale_) {
            std::wostringstream stream;
            stream << std::fixed << std::setprecision(16) << number;
            out_.append(stream.str());
            return;
        }
        // DBL_MAX takes 309 digits before the point and 16 after.
        char buffer[400];
        auto written =
            std::to_chars(buffer, buffer + sizeof buffer, number, std::chars_format::fixed, 16);
        out_.append(buffer, written.ptr);
    }

    template <class Integer>
    void append_ascii(Integer number) {
        char buffer[24];
        auto written = std::to_chars(buffer, buffer + sizeof buffer, number);
        out_.append(buffer, written.ptr);
    }

    std::wstring& out_;
    const bool classic_locale_;
    int level_ = 0;
};

}  // namespace

std::wstring write_formatted(const Value& value) {
    std::wstring out;
    out.reserve(Writer::bound(value, 0));
    Writer(out).write(value);
    return out;
}

void append_string_utf8(std::string& out, const std::wstring& text) {
    // Most strings are plain throughout: tested whole without stopping (an unsigned flag, so that
    // the test vectorises), and narrowed in one step.
    unsigned plain = 1;
    for (const wchar_t c : text) {
        plain &= static_cast<unsigned>(is_plain(c));
    }
    if (plain == 0) {
        append_escaped(out, text);
        return;
    }
    const std::size_t old = out.size();
    out.resize(old + text.size() + 2);
    char* p = &out[old];
    *p++ = '"';
    p = std::transform(text.begin(), text.end(), p, [](wchar_t c) { return static_cast<char>(c); });
    *p = '"';
}

}  // namespace json
}  // namespace corekit
