// What the pages of `rvk serve` are written with: text made safe for HTML, names made safe for
// links, and the few ways a page shows numbers and times.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rvk::web {

// `text` as HTML text or as the value of a quoted attribute: & < > " ' escaped, and every
// control character but tab and line ends (and every byte that is not UTF-8) shown as U+FFFD, so
// that nothing from the server is ever read as markup.
std::string escape(std::string_view text);

// `text` as one segment of a URL's path: every byte but the unreserved ones (letters, digits,
// "-._~") percent-encoded, '/' included.
std::string encodeSegment(std::string_view text);
// A '/'-separated path as a URL's path: each of its names encoded, the '/'s between them kept.
std::string encodePath(std::string_view path);

// Whether `text` is well-formed UTF-8.
bool isUtf8(std::string_view text);

// Seconds since 1970 as ISO 8601 in UTC ("2026-12-08T09:30:00Z").
std::string isoTime(std::int64_t seconds);
// A size for people: bytes below 1 KiB, then KiB, MiB, GiB with one decimal.
std::string humanSize(std::int64_t bytes);
// A duration for people, rounded down: "40 s", "12 min", "5 h", "9 days".
std::string humanDuration(std::int64_t seconds);

}  // namespace rvk::web
