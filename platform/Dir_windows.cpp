#include <platform/Dir.h>

#include <algorithm>
#include <cstring>

#include <platform/Utf8.h>
#include <platform/internal/WidePath.h>
#include <platform/internal/WriteCalls.h>

namespace ut {

namespace {

// Names are kept as the UTF-16 units the system gave, so that one holding a lone surrogate (NTFS
// allows it) is handed out unchanged. UTF-16 units compare as UTF-8 bytes do once the surrogates
// are moved above U+E000..U+FFFF, which UTF-8 encodes after them.
std::uint32_t utf8Order(wchar_t unit) {
    const auto u = static_cast<std::uint32_t>(unit);
    if (u >= 0xD800 && u <= 0xDFFF)
        return u + 0x2000;
    if (u >= 0xE000)
        return u - 0x800;
    return u;
}

const wchar_t* nameAt(const std::string& names, std::uint32_t offset) {
    return reinterpret_cast<const wchar_t*>(names.data() + offset);
}

}  // namespace

bool Dir::exists(const OdString& path) {
    if (path.isEmpty())
        return false;
    const DWORD attributes = GetFileAttributesW(win::widePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Dir::create(const OdString& path) {
    if (path.isEmpty())
        return false;
    if (sys::shouldFail(sys::Call::kMkdir))
        return false;
    if (CreateDirectoryW(win::widePath(path).c_str(), nullptr) != 0)
        return true;
    win::setErrnoFromLastError();
    return false;
}

void Dir::readOnce() {
    if (m_read)
        return;
    m_read = true;
    if (m_path.isEmpty())
        return;
    std::wstring pattern = win::widePath(m_path);
    if (!pattern.empty() && pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    // Basic information (no short names) fetched in large batches: the listing's one pass.
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (data.cFileName[0] == L'.')
            continue;  // ".", ".." and hidden names
        // Reparse points (symbolic links, junctions, mount points) are never followed: what one
        // leads to may lie outside the tree, and a walk could run round a loop.
        if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)
            continue;
        const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const std::size_t units = std::wcslen(data.cFileName);
        const Entry name{static_cast<std::uint32_t>(m_names.size()),
                         static_cast<std::uint32_t>(units)};
        m_names.append(reinterpret_cast<const char*>(data.cFileName),
                       (units + 1) * sizeof(wchar_t));
        (folder ? m_folders : m_files).push_back(name);
    } while (FindNextFileW(find, &data) != 0);
    FindClose(find);
    const auto byUtf8 = [this](const Entry& a, const Entry& b) {
        const wchar_t* const x = nameAt(m_names, a.offset);
        const wchar_t* const y = nameAt(m_names, b.offset);
        return std::lexicographical_compare(x, x + a.size, y, y + b.size, [](wchar_t l, wchar_t r) {
            return utf8Order(l) < utf8Order(r);
        });
    };
    std::sort(m_files.begin(), m_files.end(), byUtf8);
    std::sort(m_folders.begin(), m_folders.end(), byUtf8);
}

namespace {

// The shell's wildcards, "*" and "?", on whole UTF-16 units; case counts, as on the other systems,
// so a listing does not depend on where it runs.
bool matches(const wchar_t* pattern, const wchar_t* name) {
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name) {
        if (*pattern == L'*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == L'?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*')
        ++pattern;
    return *pattern == 0;
}

}  // namespace

bool Dir::getNext(OdString* name) {
    if (m_current) {
        const std::wstring filespec = decodeUtf8(m_filespec);
        while (m_next < m_current->size()) {
            const Entry& candidate = (*m_current)[m_next++];
            const wchar_t* const units = nameAt(m_names, candidate.offset);
            if (filespec.empty() || matches(filespec.c_str(), units)) {
                if (name)
                    *name = OdString(units, static_cast<int>(candidate.size));
                return true;
            }
        }
    }
    if (name)
        *name = OdString::kEmpty;
    return false;
}

}  // namespace ut
