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
#include <platform/OdString.h>

namespace host {

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

// An ErrorMessage (code 0) holding `utf8Text`. rvk's own messages are English only.
ErrorMessage hostError(const std::string& utf8Text);

// The UTF-8 text of `text`, embedded zero elements included.
std::string utf8(const OdString& text);

// `utf8Text` cut to its first 60 characters and "..." when longer, so that a pattern of any length
// fits a message.
std::string shortened(const std::string& utf8Text);
// `path` as rvk shows it to people, in UTF-8: as it is, unless it holds a control character, a
// double quote or a backslash; then in double quotes, with C-style escapes (\t, \n, \", \\ and
// three octal digits a byte for the other control characters, C1 ones included), the way git
// shows such names, so that every name takes one line and reads back unambiguously. Other bytes
// from 0x80 up stay as they are.
std::string quotePath(const OdString& path);
// The same for a name given in UTF-8.
std::string quotePath(std::string utf8Path);
// Whether quotePath() would quote `utf8Path`.
bool needsQuoting(std::string_view utf8Path);
// `utf8Text` with every control character (C0, DEL and C1) written as a C-style escape, so that
// text from someone else (a commit message) never sends the terminal a command.
std::string escapeControls(const std::string& utf8Text);
// A name (a path, a pattern, a word typed) as messages show it: in single quotes, unless
// quotePath() would quote it; then as quotePath() shows it. A name from a file or a folder of
// someone else's never sends control characters to the terminal.
std::string quoteName(const std::string& utf8Text);

// Prints "rvk: <message>" and a line end on stderr. A message that already ends in a line end (the
// library's "More that one file found" does) gets no second one.
void printError(const ErrorMessage& error);

// A counter for long operations, "<label> <done>/<total>", rewritten in place on stderr with a
// carriage return. It shows only when stderr is a terminal, so scripts and logs never see it, and
// redraws at most about ten times a second, so it costs nothing next to the work it counts.
class Progress {
public:
    explicit Progress(const char* label);
    // Erases the counter's line, leaving the terminal as it was.
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void update(std::size_t done, std::size_t total);

private:
    const char* m_label;
    bool m_enabled;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_lastDraw;
};

}  // namespace host
