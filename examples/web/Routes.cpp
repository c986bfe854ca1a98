#include "Routes.h"

#include <vector>

#include "Html.h"

namespace rvk::web {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A segment of the target decoded, or the refusal of it.
std::variant<std::string, Refusal> decode(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            out += raw[i];
            continue;
        }
        const bool whole = i + 2 < raw.size();
        const int high = whole ? hexDigit(raw[i + 1]) : -1;
        const int low = whole ? hexDigit(raw[i + 2]) : -1;
        if (high < 0 || low < 0)
            return Refusal{400, "a malformed percent-escape"};
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!isUtf8(out))
        return Refusal{400, "a name that is not UTF-8"};
    for (const char c : out) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            return Refusal{400, "a name with a control character"};
    }
    if (out == "." || out == "..")
        return Refusal{400, "\".\" or \"..\" in a path"};
    return out;
}

// A commit or page number: decimal digits from 1, no sign, no leading zero, at most 18 digits.
bool number(const std::string& text, std::uint64_t& value) {
    if (text.empty() || text.size() > 18 || text[0] == '0')
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return true;
}

// `names` from `first` on joined with '/': a file's path. None of them may be empty or hold a '/'
// of its own (an encoded one), which would make another path of the same names.
bool joinPath(const std::vector<std::string>& names, std::size_t first, std::string& path) {
    if (first >= names.size())
        return false;
    for (std::size_t i = first; i < names.size(); ++i) {
        if (names[i].empty() || names[i].find('/') != std::string::npos)
            return false;
        if (i > first)
            path += '/';
        path += names[i];
    }
    return true;
}

}  // namespace

std::string topOf(std::string_view target) {
    target = target.substr(0, target.find_first_of("?#"));
    std::string top;
    for (std::size_t slash = target.find('/', 1); slash != std::string_view::npos;
         slash = target.find('/', slash + 1))
        top += "../";
    return top.empty() ? "./" : top;
}

std::variant<Route, Refusal> route(std::string_view target) {
    if (target.size() > kLongestTarget)
        return Refusal{414, "a target longer than " + std::to_string(kLongestTarget) + " bytes"};
    if (target.empty() || target[0] != '/')
        return Refusal{400, "a target that is not a path"};
    if (const auto query = target.find_first_of("?#"); query != std::string_view::npos)
        target = target.substr(0, query);

    // The segments after the leading '/', each decoded; "a/" ends in an empty one.
    std::vector<std::string> names;
    for (std::size_t start = 1;;) {
        const std::size_t end = target.find('/', start);
        auto decoded = decode(target.substr(start, end == std::string_view::npos ? end : end - start));
        if (const auto* refusal = std::get_if<Refusal>(&decoded))
            return *refusal;
        names.push_back(std::move(std::get<std::string>(decoded)));
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }

    Route r;
    r.top = topOf(target);
    const auto notFound = Refusal{404, "no such page"};
    const std::string& first = names[0];
    const std::size_t count = names.size();
    if (count == 1 && first.empty()) {
        r.page = Route::Page::history;
        r.number = 1;
    } else if (first == "history" && count == 2 && number(names[1], r.number)) {
        r.page = Route::Page::history;
    } else if (first == "commit" && count == 2 && number(names[1], r.number)) {
        r.page = Route::Page::commit;
    } else if (first == "file" && joinPath(names, 1, r.name)) {
        r.page = Route::Page::file;
    } else if (first == "download" && count >= 3 && number(names[1], r.number) &&
               joinPath(names, 2, r.name)) {
        r.page = Route::Page::download;
    } else if (first == "locks" && count == 1) {
        r.page = Route::Page::locks;
    } else if (first == "labels" && count == 1) {
        r.page = Route::Page::labels;
    } else if (first == "labels" && count == 2 && !names[1].empty()) {
        r.page = Route::Page::label;
        r.name = names[1];
    } else if (first == "labels" && count == 3 && !names[1].empty() &&
               names[2] == "register.csv") {
        r.page = Route::Page::labelCsv;
        r.name = names[1];
    } else if (first == "style.css" && count == 1) {
        r.page = Route::Page::stylesheet;
    } else {
        return notFound;
    }
    return r;
}

}  // namespace rvk::web
