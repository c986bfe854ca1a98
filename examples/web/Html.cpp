#include "Html.h"

#include <cstdio>
#include <ctime>

#include <boost/date_time/posix_time/posix_time.hpp>

namespace rvk::web {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the well-formed UTF-8 sequence at the start of `text`, and its code point; 0 when
// the bytes there are none.
std::size_t sequence(std::string_view text, char32_t& point) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        point = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, point = lead & 0x1Fu, lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, point = lead & 0x0Fu, lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, point = lead & 0x07u, lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u)
            return 0;
        point = (point << 6) | (byte(i) & 0x3Fu);
    }
    if (point < lowest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

bool isControl(char32_t point) {
    return (point < 0x20 && point != '\t' && point != '\n' && point != '\r') || point == 0x7F ||
           (point >= 0x80 && point <= 0x9F);
}

}  // namespace

bool isUtf8(std::string_view text) {
    while (!text.empty()) {
        char32_t point = 0;
        const std::size_t n = sequence(text, point);
        if (n == 0)
            return false;
        text.remove_prefix(n);
    }
    return true;
}

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    while (!text.empty()) {
        char32_t point = 0;
        const std::size_t n = sequence(text, point);
        if (n == 0 || isControl(point)) {
            out += kReplacement;
            text.remove_prefix(n == 0 ? 1 : n);
            continue;
        }
        switch (point) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out.append(text.data(), n);
        }
        text.remove_prefix(n);
    }
    return out;
}

std::string encodeSegment(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string encodePath(std::string_view path) {
    std::string out;
    for (std::size_t start = 0;;) {
        const std::size_t end = path.find('/', start);
        out += encodeSegment(path.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return out;
        out += '/';
        start = end + 1;
    }
}

std::string isoTime(std::int64_t seconds) {
    namespace pt = boost::posix_time;
    try {
        const pt::ptime at = pt::from_time_t(0) + pt::seconds(seconds);
        return pt::to_iso_extended_string(at) + "Z";
    } catch (const std::exception&) {
        // A time outside what a calendar shows (the server keeps what a clone sent).
        return std::to_string(seconds) + " s after 1970";
    }
}

std::string humanSize(std::int64_t bytes) {
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(kUnits)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string humanDuration(std::int64_t seconds) {
    if (seconds < 60)
        return std::to_string(seconds < 0 ? 0 : seconds) + " s";
    if (seconds < 3600)
        return std::to_string(seconds / 60) + " min";
    if (seconds < 2 * 86400)
        return std::to_string(seconds / 3600) + " h";
    return std::to_string(seconds / 86400) + " days";
}

}  // namespace rvk::web
