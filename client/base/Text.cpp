#include <client/Text.h>

#include <cstring>

#include <client/tree/HostFiles.h>

namespace client {

ErrorMessage hostError(const std::string& utf8Text) {
    return ErrorMessage{OdString(utf8Text.data(), utf8Text.size(), kCodePageUtf8), 0};
}

std::string utf8(const OdString& text) {
    return std::string(text.ansi_str(), text.ansiLength());
}

std::string shortened(const std::string& utf8Text) {
    constexpr std::size_t kCharacters = 60;
    std::size_t characters = 0;
    for (std::size_t i = 0; i < utf8Text.size(); ++i) {
        // Cut only before the first byte of a sequence, never inside one.
        if ((static_cast<unsigned char>(utf8Text[i]) & 0xC0) != 0x80 && characters++ == kCharacters)
            return utf8Text.substr(0, i) + "...";
    }
    return utf8Text;
}

std::string quotePath(const OdString& path) {
    return quotePath(utf8(path));
}

std::string quoteName(const std::string& utf8Text) {
    std::string quoted = quotePath(utf8Text);
    return quoted.size() == utf8Text.size() ? "'" + quoted + "'" : quoted;
}

namespace {

// The length of the control character at `at` of `text`: 1 for C0 controls and DEL, 2 for the
// C1 controls U+0080..U+009F (UTF-8 C2 80..C2 9F), which some terminals obey as well; 0 for
// anything else.
std::size_t controlAt(std::string_view text, std::size_t at) {
    const auto c = static_cast<unsigned char>(text[at]);
    if (c < 0x20 || c == 0x7F)
        return 1;
    if (c == 0xC2 && at + 1 < text.size()) {
        const auto next = static_cast<unsigned char>(text[at + 1]);
        if (next >= 0x80 && next <= 0x9F)
            return 2;
    }
    return 0;
}

// `text` with control characters, and with '"' and '\' when `quoting`, written as C-style
// escapes (\t, \n, \", \\ and three octal digits a byte for the rest).
std::string escaped(const std::string& text, bool quoting) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = static_cast<unsigned char>(ch);
        const std::size_t control = controlAt(text, i);
        const char* named = c == '\a'   ? "\\a"
                            : c == '\b' ? "\\b"
                            : c == '\t' ? "\\t"
                            : c == '\n' ? "\\n"
                            : c == '\v' ? "\\v"
                            : c == '\f' ? "\\f"
                            : c == '\r' ? "\\r"
                                        : nullptr;
        if (quoting && (ch == '"' || ch == '\\')) {
            out += '\\';
            out += ch;
        } else if (named != nullptr) {
            out += named;
        } else if (control > 0) {
            for (std::size_t k = 0; k < control; ++k) {
                const auto b = static_cast<unsigned char>(text[i + k]);
                const char octal[] = {'\\', static_cast<char>('0' + (b >> 6)),
                                      static_cast<char>('0' + ((b >> 3) & 7)),
                                      static_cast<char>('0' + (b & 7)), '\0'};
                out += octal;
            }
            i += control - 1;
        } else {
            out += ch;
        }
    }
    return out;
}

bool hasControls(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (controlAt(text, i) > 0)
            return true;
    }
    return false;
}

}  // namespace

bool needsQuoting(std::string_view utf8Path) {
    // Where "\\" separates folders (Windows), it is part of no name and needs no quotes.
    static const bool backslashSeparates = std::strchr(kHostSeparators, '\\') != nullptr;
    // One pass of plain comparisons: status asks this of every line it prints.
    for (std::size_t i = 0; i < utf8Path.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8Path[i]);
        if (c < 0x20 || c == 0x7F || c == '"' || (c == '\\' && !backslashSeparates) ||
            (c == 0xC2 && controlAt(utf8Path, i) > 0))
            return true;
    }
    return false;
}

std::string quotePath(std::string text) {
    if (!needsQuoting(text))
        return text;
    return "\"" + escaped(text, true) + "\"";
}

std::string escapeControls(const std::string& utf8Text) {
    return hasControls(utf8Text) ? escaped(utf8Text, false) : utf8Text;
}

}  // namespace client
