#include "Console.h"
#include "HostFiles.h"

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include <platform/FileName.h>

namespace host {

int ConsoleIo::check(const OdString& path) const {
    return ut::FileName(path).exists(ut::FileName::kAnyObject) ? 1 : 0;
}

void ConsoleIo::report(Expected<void> outcome) const {
    // Taken first: the platform leaves the reason for a failed write of the state file in errno,
    // and nothing between that write and this call makes a system call.
    const int reason = errno;
    if (outcome.hasValue())
        return;
    ++m_failures;
    try {
        const std::string message = utf8(outcome.error().message);
        if (reason != 0 && message.rfind("Error writing to file", 0) == 0) {
            printError(hostError(message + ": " + std::strerror(reason)));
            return;
        }
        printError(outcome.error());
    } catch (...) {
        // Only an allocation failure can get here; the count above still tells the command.
    }
}

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

void printError(const ErrorMessage& error) {
    std::string text = utf8(error.message);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::fprintf(stderr, "rvk: %s\n", text.c_str());
}

Progress::Progress(const char* label) : m_label(label), m_enabled(stderrIsTerminal()) {}

Progress::~Progress() {
    if (m_shown)
        std::fputs("\r\033[K", stderr);
}

void Progress::update(std::size_t done, std::size_t total) {
    if (!m_enabled)
        return;
    const auto now = std::chrono::steady_clock::now();
    if (m_shown && done < total && now - m_lastDraw < std::chrono::milliseconds(100))
        return;
    m_lastDraw = now;
    m_shown = true;
    std::fprintf(stderr, "\r%s %zu/%zu", m_label, done, total);
    std::fflush(stderr);
}

}  // namespace host
