#include "Console.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <platform/FileName.h>

namespace host {

int ConsoleIo::check(const OdString& path) const {
    return ut::FileName(path).exists(ut::FileName::kAnyObject) ? 1 : 0;
}

void ConsoleIo::report(Expected<void> outcome) const {
    if (outcome.hasValue())
        return;
    ++m_failures;
    try {
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

std::string quotePath(std::string text) {
    const auto plain = [](unsigned char c) {
        return c >= 0x20 && c != 0x7F && c != '"' && c != '\\';
    };
    if (std::all_of(text.begin(), text.end(), plain))
        return text;
    std::string quoted = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const char* named = c == '\a'   ? "\\a"
                            : c == '\b' ? "\\b"
                            : c == '\t' ? "\\t"
                            : c == '\n' ? "\\n"
                            : c == '\v' ? "\\v"
                            : c == '\f' ? "\\f"
                            : c == '\r' ? "\\r"
                            : c == '"'  ? "\\\""
                            : c == '\\' ? "\\\\"
                                        : nullptr;
        if (named != nullptr) {
            quoted += named;
        } else if (!plain(c)) {
            const char octal[] = {'\\', static_cast<char>('0' + (c >> 6)),
                                  static_cast<char>('0' + ((c >> 3) & 7)),
                                  static_cast<char>('0' + (c & 7)), '\0'};
            quoted += octal;
        } else {
            quoted += ch;
        }
    }
    return quoted + "\"";
}

void printError(const ErrorMessage& error) {
    std::string text = utf8(error.message);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::fprintf(stderr, "rvk: %s\n", text.c_str());
}

Progress::Progress(const char* label) : m_label(label), m_enabled(::isatty(STDERR_FILENO) == 1) {}

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
