// ut::TextFile: a UTF-8 text file read or written whole, line by line.
//
// Reading: open() reads the file and splits it at LF; a CR before an LF is dropped. Bytes that are
// not valid UTF-8 are kept (see OdString). Writing: addLine() buffers lines and write() replaces
// the file atomically: the text goes to a hidden temporary file in the same folder, is flushed to
// disk and renamed over the target. A crash or a full disk therefore leaves either the old content
// or the new one, never a torn file; on failure write() returns false, removes the temporary file
// and leaves the old content as it was.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <platform/Export.h>
#include <platform/OdString.h>

class wxMBConv;  // the host's text converter; only the default (null) is supported here

namespace ut {

class RVKPLATFORM_EXPORT TextFile {
public:
    explicit TextFile(const OdString& path);

    bool exists() const;
    // Reads the whole file into lines; false when it cannot be read (no lines then).
    bool open(const wxMBConv* conv = nullptr);
    // The first line, then each following one; the empty string past the last line.
    OdString getFirstLine();
    OdString getNextLine();

    // Prepares a new file for writing: drops buffered lines and creates the folders the path needs.
    // True when nothing exists at the path.
    bool create();
    void addLine(const OdString& line);
    // Writes every buffered line followed by LF, then `size` raw bytes of `data`, replacing the
    // file atomically. True on success.
    bool write(const wxMBConv* conv = nullptr, const char* data = nullptr, std::size_t size = 0);

    const OdString& path() const { return m_path; }

private:
    OdString m_path;
    std::vector<OdString> m_lines;
    std::size_t m_next = 0;
};

// Replaces the file at `path` with `bytes` by the same atomic route as TextFile::write. On failure
// errno says why, as after a failed system call (the temporary file is gone again).
RVKPLATFORM_EXPORT bool writeFileAtomically(const OdString& path, const char* bytes,
                                            std::size_t size);

// Removes the temporary files that atomic writes of `path` left behind when their writer died
// before renaming them (they are hidden, so listings never show them). Call it only while no one
// can be writing `path`, for instance under an exclusive lock that every writer takes: a live
// writer whose temporary file disappears fails its write and keeps the old content. Returns the
// number removed; a file that cannot be removed is left and not counted.
RVKPLATFORM_EXPORT int removeAbandonedTemporaries(const OdString& path);

// The whole file's bytes, as they are; empty when it cannot be read.
RVKPLATFORM_EXPORT std::string readFileBytes(const OdString& path);

// The whole file decoded from UTF-8, with CR LF turned into LF; empty when it cannot be read.
RVKPLATFORM_EXPORT OdString readEntireFile(const OdString& path);

}  // namespace ut
