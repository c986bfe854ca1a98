// A folder listing, alike on every system: one pass of the system's listing (sys::listFolder),
// sorted by the names' UTF-8 bytes. Names are kept as the system gave them (bytes on POSIX, UTF-16
// units on Windows) and decoded only when a listing hands them out, so that a name that is no
// valid text there (undecodable bytes, a lone surrogate) is handed out unchanged.
#include <platform/Dir.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <platform/SystemFiles.h>

namespace ut {

namespace {

using Unit = sys::PathUnit;

// Eight bytes as one number that orders as the bytes do.
inline std::uint64_t bigEndianAt(const char* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    value = __builtin_bswap64(value);
#endif
    return value;
}

// UTF-16 units compare as UTF-8 bytes do once the surrogates are moved above U+E000..U+FFFF,
// which UTF-8 encodes after them. Only names of UTF-16 units (Windows) need it.
[[maybe_unused]] inline std::uint32_t utf8Order(wchar_t unit) {
    const auto u = static_cast<std::uint32_t>(unit);
    if (u >= 0xD800 && u <= 0xDFFF)
        return u + 0x2000;
    if (u >= 0xE000)
        return u - 0x800;
    return u;
}

// Order of two names by their UTF-8 bytes. Bytes go eight at a time: the listing's sort compares
// names mostly alike in their first bytes ("file-0001", "file-0002"), where a call to memcmp for
// each comparison cost more than the comparison itself.
template <class U>
bool unitsBefore(const U* a, std::size_t aSize, const U* b, std::size_t bSize) {
    if constexpr (std::is_same_v<U, char>) {
        const std::size_t common = std::min(aSize, bSize);
        std::size_t i = 0;
        for (; i + 8 <= common; i += 8) {
            const std::uint64_t x = bigEndianAt(a + i), y = bigEndianAt(b + i);
            if (x != y)
                return x < y;
        }
        for (; i < common; ++i) {
            if (a[i] != b[i])
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
        }
        return aSize < bSize;
    } else {
        return std::lexicographical_compare(a, a + aSize, b, b + bSize,
                                            [](U l, U r) { return utf8Order(l) < utf8Order(r); });
    }
}

// The wildcards "*" and "?" on whole units; case counts, so a listing does not depend on where it
// runs.
bool matches(const Unit* pattern, const Unit* name) {
    const Unit* star = nullptr;
    const Unit* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == 0;
}

const Unit* unitsAt(const std::string& names, std::uint32_t offset) {
    return reinterpret_cast<const Unit*>(names.data() + offset);
}

// `text` as the units a listing holds, terminated, in raw bytes.
std::string rawUnits(const OdString& text) {
    if constexpr (std::is_same_v<Unit, char>) {
        return std::string(text.ansi_str(), text.ansiLength() + 1);
    } else {
        return std::string(reinterpret_cast<const char*>(text.c_str()),
                           (static_cast<std::size_t>(text.getLength()) + 1) * sizeof(Unit));
    }
}

}  // namespace

Dir::Dir(const OdString& path) : m_path(path) {}
Dir::~Dir() = default;

bool Dir::exists(const OdString& path) {
    return !path.isEmpty() && sys::lookAt(path, sys::Follow::yes).kind == sys::Kind::folder;
}

bool Dir::create(const OdString& path) {
    return !path.isEmpty() && sys::makeFolder(path);
}

void Dir::readOnce() {
    if (m_read)
        return;
    m_read = true;
    if (m_path.isEmpty())
        return;
    const sys::ListVisitor keep = [](void* context, const Unit* name, std::size_t length,
                                     sys::Kind kind) {
        auto& dir = *static_cast<Dir*>(context);
        // Neither hidden names nor links, whatever they lead to: what one leads to may lie
        // outside the tree, and a link to a folder could make a walk run round a loop.
        if (name[0] == '.' || (kind != sys::Kind::file && kind != sys::Kind::folder))
            return;
        const Entry entry{static_cast<std::uint32_t>(dir.m_names.size()),
                          static_cast<std::uint32_t>(length)};
        // With its terminator, for the wildcard match.
        dir.m_names.append(reinterpret_cast<const char*>(name), length * sizeof(Unit));
        dir.m_names.append(sizeof(Unit), '\0');
        (kind == sys::Kind::file ? dir.m_files : dir.m_folders).push_back(entry);
    };
    sys::listFolder(m_path, keep, this);
    const auto byUtf8 = [&names = m_names](const Entry& a, const Entry& b) {
        return unitsBefore(unitsAt(names, a.offset), a.size, unitsAt(names, b.offset), b.size);
    };
    std::sort(m_files.begin(), m_files.end(), byUtf8);
    std::sort(m_folders.begin(), m_folders.end(), byUtf8);
}

bool Dir::getFirst(OdString* name, const OdString& filespec, int flags) {
    readOnce();
    m_current = (flags & kFiles) ? &m_files : (flags & kFolders) ? &m_folders : nullptr;
    m_next = 0;
    m_filespec = filespec.isEmpty() ? std::string() : rawUnits(filespec);
    return getNext(name);
}

bool Dir::getNext(OdString* name) {
    if (m_current) {
        const auto* const filespec = reinterpret_cast<const Unit*>(m_filespec.data());
        while (m_next < m_current->size()) {
            const Entry& candidate = (*m_current)[m_next++];
            const Unit* const units = unitsAt(m_names, candidate.offset);
            if (m_filespec.empty() || matches(filespec, units)) {
                if (name)
                    *name = sys::nameOf(units, candidate.size);
                return true;
            }
        }
    }
    if (name)
        *name = OdString::kEmpty;
    return false;
}

}  // namespace ut
