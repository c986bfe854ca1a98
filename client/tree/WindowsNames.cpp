#include <client/tree/WindowsNames.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <tuple>
#include <unordered_map>
#include <utility>

#include <boost/locale/utf.hpp>

namespace client {
namespace {

using utf8 = boost::locale::utf::utf_traits<char>;
using boost::locale::utf::code_point;

// The code point that starts at `at` in `text`, moving `at` past it; none, and `at` moved by one
// byte only, when the bytes there are no UTF-8.
boost::optional<code_point> nextCodePoint(std::string_view text, std::size_t& at) {
    const char* p = text.data() + at;
    const code_point c = utf8::decode(p, text.data() + text.size());
    if (c == boost::locale::utf::illegal || c == boost::locale::utf::incomplete) {
        ++at;
        return boost::none;
    }
    at = static_cast<std::size_t>(p - text.data());
    return c;
}

// The letter that NTFS puts in place of `c` when it compares names: the simple upper case, in the
// ranges below, as its upper-case table has it. Everything else stays itself; so does what the
// table leaves alone there: "µ", "ß", "ĸ", "ŉ", the dotless "ı" and the long "ſ" (which Unicode
// would make "I" and "S"), and the accented Greek "ΐ" and "ΰ".
code_point upperCase(code_point c) {
    // Runs of capital and small letters in the same order, the small ones `distance` further on.
    struct Run {
        code_point first, last, distance;
    };
    static constexpr std::array<Run, 12> runs{{
        {0x61, 0x7A, 0x20},    // a-z
        {0xE0, 0xF6, 0x20},    // à-ö
        {0xF8, 0xFE, 0x20},    // ø-þ
        {0x3AC, 0x3AC, 0x26},  // ά
        {0x3AD, 0x3AF, 0x25},  // έ ή ί
        {0x3B1, 0x3C1, 0x20},  // α-ρ
        {0x3C2, 0x3C2, 0x1F},  // final ς, a Σ too
        {0x3C3, 0x3CB, 0x20},  // σ-ϋ
        {0x3CC, 0x3CC, 0x40},  // ό
        {0x3CD, 0x3CE, 0x3F},  // ύ ώ
        {0x430, 0x44F, 0x20},  // а-я
        {0x450, 0x45F, 0x50},  // ѐ-џ
    }};
    // Capital and small letters side by side, the capital at an even code point, or at an odd
    // one in the ranges marked so.
    struct Pairs {
        code_point first, last;
        bool capitalOdd;
    };
    static constexpr std::array<Pairs, 10> pairs{{
        {0x100, 0x12F, false},  // Ā ā ... Į į
        {0x132, 0x137, false},  // Ĳ ĳ ... Ķ ķ
        {0x139, 0x148, true},   // Ĺ ĺ ... Ň ň
        {0x14A, 0x177, false},  // Ŋ ŋ ... Ŷ ŷ
        {0x179, 0x17E, true},   // Ź ź ... Ž ž
        {0x3D8, 0x3EF, false},  // archaic and Coptic letters of the Greek block
        {0x460, 0x481, false},  // Ѡ ѡ ... Ҁ ҁ
        {0x48A, 0x4BF, false},  // Ҋ ҋ ... Ҿ ҿ
        {0x4C1, 0x4CE, true},   // Ӂ ӂ ... Ӎ ӎ
        {0x4D0, 0x52F, false},  // Ӑ ӑ ... Ԯ ԯ
    }};
    static constexpr std::array<std::pair<code_point, code_point>, 4> singles{{
        {0xFF, 0x178},   // ÿ Ÿ
        {0x3F2, 0x3F9},  // lunate sigma
        {0x3F8, 0x3F7},  // ϸ Ϸ
        {0x4CF, 0x4C0},  // palochka
    }};
    if (c < 0x61 || c > 0x52F) {
        return c;
    }
    for (const Run& run : runs) {
        if (c >= run.first && c <= run.last) {
            return c - run.distance;
        }
    }
    for (const Pairs& range : pairs) {
        if (c >= range.first && c <= range.last) {
            const bool small = (c % 2 == 1) != range.capitalOdd;
            return small ? c - 1 : c;
        }
    }
    for (const auto& [small, capital] : singles) {
        if (c == small) {
            return capital;
        }
    }
    return c;
}

// The byte `c` as \xNN.
std::string escaped(char c) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X",
                  static_cast<unsigned>(static_cast<unsigned char>(c)));
    return text;
}

// `name` in double quotes, its control characters and the bytes that are no UTF-8 as \xNN, so
// that a message shows what is there without sending it to the terminal.
std::string quoted(std::string_view name) {
    std::string shown = "\"";
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t start = at;
        const auto c = nextCodePoint(name, at);
        if (!c || *c < 0x20) {
            shown += escaped(name[start]);
        } else {
            shown.append(name, start, at - start);
        }
    }
    return shown + "\"";
}

// True when `name` opens a device wherever it is: the device names, then an extension or
// anything else after a dot, and spaces before it ("CON .txt") do not change that.
bool isDeviceName(std::string_view name) {
    std::string_view stem = name.substr(0, std::min(name.find('.'), name.find(':')));
    while (!stem.empty() && stem.back() == ' ') {
        stem.remove_suffix(1);
    }
    // Compared letter by letter in ASCII: the process's locale has no say in device names.
    std::string upper(stem);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (upper == device) {
            return true;
        }
    }
    if (upper.size() < 4 || (upper.compare(0, 3, "COM") != 0 && upper.compare(0, 3, "LPT") != 0)) {
        return false;
    }
    // Windows takes the Latin-1 superscripts ¹ ² ³ for digits here; no other digit, 0 neither.
    const std::string_view number = stem.substr(3);
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\u00B9" ||
           number == "\u00B2" || number == "\u00B3";
}

boost::optional<std::string> componentProblem(std::string_view name) {
    if (isDeviceName(name)) {
        return quoted(name) + " is a device name on Windows";
    }
    for (std::size_t at = 0; at < name.size();) {
        const std::size_t start = at;
        const auto c = nextCodePoint(name, at);
        if (!c) {
            return quoted(name) + " is not UTF-8, which Windows names cannot hold";
        }
        if (*c < 0x20) {
            return quoted(name) + " holds the control character " + escaped(name[start]) +
                   ", which Windows does not allow in a name";
        }
        if (*c < 0x80 &&
            std::string_view(R"(<>:"|?*\)").find(static_cast<char>(*c)) != std::string_view::npos) {
            return quoted(name) + " holds '" + static_cast<char>(*c) +
                   "', which Windows does not allow in a name";
        }
    }
    if (name.back() == '.') {
        return quoted(name) + " ends in a dot, which Windows drops";
    }
    if (name.back() == ' ') {
        return quoted(name) + " ends in a space, which Windows drops";
    }
    return boost::none;
}

// The number of components of `path`.
std::size_t depth(std::string_view path) {
    return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/')) + 1;
}

// The first `components` components of `path`.
std::string_view leading(std::string_view path, std::size_t components) {
    std::size_t end = 0;
    for (std::size_t k = 0; k < components; ++k) {
        end = path.find('/', k == 0 ? 0 : end + 1);
        if (end == std::string_view::npos) {
            return path;
        }
    }
    return path.substr(0, end);
}

}  // namespace

boost::optional<std::string> windowsNameProblem(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        if (end > start) {
            if (auto problem = componentProblem(path.substr(start, end - start))) {
                return problem;
            }
        }
        start = end + 1;
    }
    return boost::none;
}

std::string windowsFolding(std::string_view path) {
    std::string folded;
    folded.reserve(path.size());
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t start = at;
        const auto c = nextCodePoint(path, at);
        if (c && *c >= 0x61) {
            utf8::encode(upperCase(*c), std::back_inserter(folded));
        } else {
            folded.append(path, start, at - start);
        }
    }
    return folded;
}

std::vector<CaseClash> caseClashes(const std::vector<std::string>& paths) {
    std::vector<std::string_view> distinct(paths.begin(), paths.end());
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());

    std::vector<std::string> folded;
    folded.reserve(distinct.size());
    std::transform(distinct.begin(), distinct.end(), std::back_inserter(folded), windowsFolding);

    // The paths that each folded path is the place of: first the paths that fold to it, then
    // those that need it as a folder.
    std::unordered_map<std::string_view, std::vector<std::size_t>> places;
    places.reserve(folded.size());
    for (std::size_t i = 0; i < folded.size(); ++i) {
        places[folded[i]].push_back(i);
    }
    for (std::size_t i = 0; i < folded.size(); ++i) {
        const std::string_view path = folded[i];
        for (std::size_t slash = path.find('/'); slash != std::string_view::npos;
             slash = path.find('/', slash + 1)) {
            const auto place = places.find(path.substr(0, slash));
            if (place != places.end()) {
                place->second.push_back(i);
            }
        }
    }

    std::vector<CaseClash> clashes;
    for (const auto& [place, members] : places) {
        if (members.size() < 2) {
            continue;
        }
        CaseClash clash;
        for (const std::size_t i : members) {
            clash.paths.emplace_back(distinct[i]);
        }
        std::sort(clash.paths.begin(), clash.paths.end());
        clash.name = std::string(leading(clash.paths.front(), depth(place)));
        clashes.push_back(std::move(clash));
    }
    std::sort(clashes.begin(), clashes.end(), [](const CaseClash& a, const CaseClash& b) {
        return std::tie(a.name, a.paths) < std::tie(b.name, b.paths);
    });
    return clashes;
}

}  // namespace client
