// Text as the host kit shows it in its messages: UTF-8, with names quoted so that a name from a
// file or a folder of someone else's never sends control characters to a terminal.
#pragma once

#include <string>
#include <string_view>

#include <client/Export.h>
#include <common/Expected.h>
#include <platform/OdString.h>

namespace client {

// An ErrorMessage (code 0) holding `utf8Text`. The kit's own messages are English
// only.
RVKCLIENT_API ErrorMessage hostError(const std::string& utf8Text);

// The UTF-8 text of `text`, embedded zero elements included.
RVKCLIENT_API std::string utf8(const OdString& text);

// `utf8Text` cut to its first 60 characters and "..." when longer, so that a pattern of any length
// fits a message.
RVKCLIENT_API std::string shortened(const std::string& utf8Text);
// `path` as the kit shows it to people, in UTF-8: as it is, unless it holds a control character, a
// double quote or a backslash; then in double quotes, with C-style escapes (\t, \n, \", \\ and
// three octal digits a byte for the other control characters, C1 ones included), the way git
// shows such names, so that every name takes one line and reads back unambiguously. Other bytes
// from 0x80 up stay as they are.
RVKCLIENT_API std::string quotePath(const OdString& path);
// The same for a name given in UTF-8.
RVKCLIENT_API std::string quotePath(std::string utf8Path);
// Whether quotePath() would quote `utf8Path`.
RVKCLIENT_API bool needsQuoting(std::string_view utf8Path);
// `utf8Text` with every control character (C0, DEL and C1) written as a C-style escape, so that
// text from someone else (a commit message) never sends the terminal a command.
RVKCLIENT_API std::string escapeControls(const std::string& utf8Text);
// A name (a path, a pattern, a word typed) as messages show it: in single quotes, unless
// quotePath() would quote it; then as quotePath() shows it. A name from a file or a folder of
// someone else's never sends control characters to the terminal.
RVKCLIENT_API std::string quoteName(const std::string& utf8Text);

}  // namespace client

namespace client {

// Whether the process's standard error goes to a terminal, where a host may draw progress with
// its escapes (on Windows the console is asked to take them the first time).
RVKCLIENT_API bool stderrIsTerminal();

}  // namespace client
