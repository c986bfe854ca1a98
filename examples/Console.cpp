#include "Console.h"

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include <platform/FileName.h>

namespace rvk {

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

void printError(const ErrorMessage& error) {
    std::string text = utf8(error.message);
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    std::fprintf(stderr, "rvk: %s\n", text.c_str());
}

ProgressLine::ProgressLine(const char* label)
    : m_label(label), m_enabled(client::stderrIsTerminal()) {}

void ProgressLine::erase() {
    if (m_shown)
        std::fputs("\r\033[K", stderr);
    m_shown = false;
}

void ProgressLine::update(std::size_t done, std::size_t total) {
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

void ConsoleReporter::note(const ErrorMessage& note) {
    m_line.erase();
    printError(note);
}

bool ConsoleReporter::progress(const client::Progress& progress) {
    m_line.relabel(progress.step);
    m_line.update(static_cast<std::size_t>(progress.done), static_cast<std::size_t>(progress.total));
    return true;
}

}  // namespace rvk
