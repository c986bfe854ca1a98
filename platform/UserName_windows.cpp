#include <platform/UserName.h>

#include <windows.h>

#include <platform/OdString.h>

namespace ut {

std::string userName() {
    // UNLEN + 1: the longest name Windows gives a user account, and its terminator.
    wchar_t name[257];
    DWORD size = sizeof name / sizeof name[0];
    if (GetUserNameW(name, &size) && size > 1)
        return OdString(name).ansi_str();
    return "unknown user";
}

}  // namespace ut
