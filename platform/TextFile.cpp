#include <platform/TextFile.h>

#include <string>

#include <platform/SystemFiles.h>
#include <platform/Utf8.h>

namespace ut {

std::string readFileBytes(const OdString& path) {
    std::string bytes;
    const sys::Handle file = sys::openForReading(path, sys::Follow::yes);
    if (file == sys::kNoHandle)
        return bytes;
    // The size is a hint only: a file may grow or shrink while it is read.
    const sys::Info info = sys::lookAt(file);
    if (info.kind == sys::Kind::file) {
        bytes.resize(static_cast<std::size_t>(info.size) + 1);
        std::size_t filled = 0;
        for (std::ptrdiff_t got;; filled += static_cast<std::size_t>(got)) {
            if (filled == bytes.size())
                bytes.resize(bytes.size() * 2);
            got = sys::read(file, &bytes[filled], bytes.size() - filled);
            if (got <= 0) {
                // A read that failed gives nothing, never a part taken for the whole.
                bytes.resize(got == 0 ? filled : 0);
                break;
            }
        }
    }
    sys::close(file);
    return bytes;
}

OdString readEntireFile(const OdString& path) {
    std::string bytes = readFileBytes(path);
    std::size_t out = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        bytes[out++] = bytes[i];
    }
    bytes.resize(out);
    return OdString(decodeUtf8(bytes));
}

TextFile::TextFile(const OdString& path) : m_path(path) {}

bool TextFile::open(const wxMBConv* /*conv*/) {
    m_lines.clear();
    m_next = 0;
    if (!exists())
        return false;
    const std::wstring text = readEntireFile(m_path).wstr();
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        m_lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return true;
}

OdString TextFile::getFirstLine() {
    m_next = 0;
    return getNextLine();
}

OdString TextFile::getNextLine() {
    if (m_next >= m_lines.size())
        return OdString();
    return m_lines[m_next++];
}

void TextFile::addLine(const OdString& line) {
    m_lines.push_back(line);
}

bool TextFile::exists() const {
    if (m_path.isEmpty())
        return false;
    const sys::Kind kind = sys::lookAt(m_path, sys::Follow::yes).kind;
    return kind != sys::Kind::none && kind != sys::Kind::folder;
}

bool TextFile::create() {
    m_lines.clear();
    m_next = 0;
    // Make the folders a new file needs; one that exists already is fine, and one that cannot be
    // made fails the write.
    sys::makeFolders(sys::folderOf(m_path));
    return !exists();
}

bool writeFileAtomically(const OdString& path, const char* bytes, std::size_t size) {
    return sys::writeFileAtomically(path, bytes, size);
}

int removeAbandonedTemporaries(const OdString& path) {
    return sys::removeTemporaries(sys::folderOf(path), sys::temporaryPrefixOf(path));
}

bool TextFile::write(const wxMBConv* /*conv*/, const char* data, std::size_t size) {
    std::string bytes;
    for (const auto& line : m_lines) {
        appendUtf8(bytes, line.c_str(), static_cast<std::size_t>(line.getLength()));
        bytes.push_back('\n');
    }
    if (data && size > 0)
        bytes.append(data, size);
    return writeFileAtomically(m_path, bytes.data(), bytes.size());
}

}  // namespace ut
