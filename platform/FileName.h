// ut::FileName: a path value with the questions the library asks about it.
//
// The path separator is "/" (and only '/' is a separator); on Windows it is "\\", and "/" is taken
// as one too wherever a path is read. Nothing is normalised: the path is kept
// as given, and getFullPath() only puts the current folder in front of a relative path.
#pragma once

#include <platform/DateTime.h>
#include <platform/Export.h>
#include <platform/OdString.h>

namespace ut {

class RVKPLATFORM_EXPORT FileName {
public:
    // Flags of exists(): which kinds of file-system object count.
    enum : int {
        kRegularFile = 0x1,
        kDirectory = 0x2,
        kSymbolicLink = 0x4,
        kOtherFile = 0x8,  // fifo, socket, device
        kAnyObject = 0x1FFF,
    };

    explicit FileName(const OdString& fullPath);
    // `path` + separator + `name` + "." + `ext`; an empty `path` or `ext` leaves its part out.
    FileName(const OdString& path, const OdString& name, const OdString& ext);

    // True when an object of one of the kinds in `flags` exists at the path (links not followed).
    bool exists(int flags) const;
    // The absolute path: the path itself when absolute, else the current folder + separator + path.
    OdString getFullPath() const;
    // The text after the last dot of the last path component, when that dot is neither its first
    // nor its last character ("a.dwg" -> "dwg"; ".bashrc", "a." and "dir.v2/plan" have none).
    OdString getExt() const;
    bool hasExt() const;
    // Fills the times whose pointers are not null; false (and all requested times 0) when the
    // path cannot be examined. `creation` receives the status-change time, the nearest POSIX has
    // (on Windows, the creation time). Ticks are nanoseconds since the Unix epoch on both systems.
    bool getTimes(DateTime* access, DateTime* modification, DateTime* creation) const;

    const OdString& path() const { return m_path; }

    static OdString getPathSeparator();
    static bool isPathSeparator(wchar_t ch);
    // True when `path` does not depend on the current folder.
    static bool isAbsolute(const OdString& path);

private:
    OdString m_path;
};

}  // namespace ut
