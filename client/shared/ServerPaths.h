// Paths as the server of a shared history writes them: '/'-separated UTF-8 on every system.
#pragma once

#include <string>

#include <platform/OdString.h>

namespace client {

// A repository path as the server writes it.
std::string serverPath(const OdString& path);
// A path the server writes, as this system writes it ('\\' between folders on Windows).
OdString localPath(const std::string& serverPath);
// The same, quoted where it needs to be (quotePath), for messages.
std::string shownPath(const std::string& serverPath);

}  // namespace client
