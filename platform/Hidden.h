// Marking a folder hidden, the one operating-system call the library makes outside the file
// utilities. On POSIX a name that begins with "." is already hidden, so this is a no-op there.
#pragma once

#include <platform/Export.h>
#include <platform/OdString.h>

namespace ut {

// True when the folder is hidden afterwards. On Windows this sets FILE_ATTRIBUTE_HIDDEN alone,
// replacing the other attributes.
RVKPLATFORM_EXPORT bool markHidden(const OdString& path);

}  // namespace ut
