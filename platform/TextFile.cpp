#include <platform/TextFile.h>

#include <string>

#include <platform/File.h>
#include <platform/Utf8.h>

namespace ut {

std::string readFileBytes(const OdString& path) {
    File file(path, File::kRead);
    std::string bytes;
    if (!file.isOpen())
        return bytes;
    // length() is a hint only: a file may grow or shrink while it is read.
    bytes.resize(static_cast<std::size_t>(file.length()));
    bytes.resize(file.read(bytes.data(), bytes.size()));
    char chunk[65536];
    for (std::size_t n; (n = file.read(chunk, sizeof chunk)) > 0;)
        bytes.append(chunk, n);
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
