// Shared helpers of the test suites: a fresh temporary folder per test, and small file helpers
// that let each test state its input inline.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <common/IoInterface.h>
#include <platform/FileName.h>
#include <platform/OdString.h>

namespace testing_support {

namespace fs = std::filesystem;

// A new, empty folder under the system temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "rvk-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        // Give back permissions a test took away, so removal cannot fail on them.
        for (auto it = fs::recursive_directory_iterator(m_path, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (!it->is_symlink())
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        }
        fs::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& relative) const { return m_path / relative; }
    OdString od() const { return toOd(m_path); }
    OdString od(const std::string& relative) const { return toOd(m_path / relative); }

    static OdString toOd(const fs::path& p) { return OdString(p.string().c_str(), kCodePageUtf8); }

    // Writes `content` to `relative`, creating its folders.
    fs::path writeFile(const std::string& relative, const std::string& content = "") const {
        const fs::path p = m_path / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    fs::path makeDir(const std::string& relative) const {
        fs::create_directories(m_path / relative);
        return m_path / relative;
    }

private:
    fs::path m_path;
};

inline std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Joins path pieces with the library's separator, so no test hard-codes one.
inline OdString joinPath(std::initializer_list<const wchar_t*> parts) {
    OdString out;
    for (const wchar_t* part : parts) {
        if (!out.isEmpty())
            out += ut::FileName::getPathSeparator();
        out += part;
    }
    return out;
}

inline bool runningAsRoot() {
    return ::geteuid() == 0;
}

// A host interface that records every outcome the library reports: "ok" or the error text.
class RecordingIo : public common::IoInterface {
public:
    int check(const OdString&) const override { return 1; }
    void report(Expected<void> outcome) const override {
        reports.push_back(outcome.hasValue() ? OdString(L"ok") : outcome.error().message);
    }
    mutable std::vector<OdString> reports;
};

}  // namespace testing_support

// Lets gtest print OdString values in failure messages.
inline void PrintTo(const OdString& s, std::ostream* os) {
    *os << '"' << s.ansi_str() << '"';
}
