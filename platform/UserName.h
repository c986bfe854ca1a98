// Who is running the program, as the operating system names its user: what a commit made here
// records as its author until a server records its own.
#pragma once

#include <string>

#include <platform/Export.h>

namespace ut {

// The name of the user the process runs as, UTF-8; the user id as text ("uid 1000") when the
// system knows no name for it, never empty.
RVKPLATFORM_EXPORT std::string userName();

}  // namespace ut
