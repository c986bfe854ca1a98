// The reference host's console: how rvk tells the user about errors and progress.
//
// ConsoleIo is the IoInterface rvk hands to the library. The library reports the outcome of every
// write of the state file through it, often from a Cache's destructor, so a failed write reaches
// the user on stderr and is counted, and a command can test afterwards whether its state change
// really landed. Errors of rvk's own making are ErrorMessage values too, made with hostError(), so
// that library errors and host errors travel the same road to printError().
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include <common/Expected.h>
#include <common/IoInterface.h>
#include <client/Session.h>
#include <platform/OdString.h>

#include <client/Text.h>

namespace rvk {

using namespace client;

class ConsoleIo final : public common::IoInterface {
public:
    // 1 when anything exists at `path`, so that FileStorage::merge goes on to the storage; 0 when
    // nothing is there to merge from.
    int check(const OdString& path) const override;
    // Prints a failed outcome as "rvk: <message>" on stderr and counts it; a success is silent.
    // A failed write of the state file gets the system's reason after the library's message.
    // Never throws, since Cache destructors call it.
    void report(Expected<void> outcome) const override;

    // The number of failed outcomes reported so far.
    int failures() const { return m_failures; }

private:
    mutable int m_failures = 0;
};

// Prints "rvk: <message>" and a line end on stderr. A message that already ends in a line end (the
// library's "More that one file found" does) gets no second one.
void printError(const ErrorMessage& error);

// A counter for long operations, "<label> <done>/<total>", rewritten in place on stderr with a
// carriage return. It shows only when stderr is a terminal, so scripts and logs never see it, and
// redraws at most about ten times a second, so it costs nothing next to the work it counts.
class ProgressLine {
public:
    explicit ProgressLine(const char* label);
    // Erases the counter's line, leaving the terminal as it was.
    ~ProgressLine() { erase(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void update(std::size_t done, std::size_t total);
    // Erases the line; the next update() draws it again.
    void erase();
    // Counts under another label from now on.
    void relabel(const char* label) { m_label = label; }

private:
    const char* m_label;
    bool m_enabled;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

// What the kit's operations tell rvk while they run: notes go to stderr as "rvk: <note>", and
// progress is drawn as a ProgressLine labelled with the operation's step. rvk never cancels.
class ConsoleReporter final : public client::Reporter {
public:
    void note(const ErrorMessage& note) override;
    bool progress(const client::Progress& progress) override;
    // Erases the counter, before a command prints its outcome.
    void endProgress() { m_line.erase(); }

private:
    ProgressLine m_line{""};
};

}  // namespace rvk
