// Shared helpers of the test suites: a fresh temporary folder per test, small file helpers that let
// each test state its input inline, and a way to run a block where permissions bind.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <common/FileStorage.h>
#include <common/IoInterface.h>
#include <platform/FileName.h>
#include <platform/OdString.h>

namespace testing_support {

namespace fs = std::filesystem;

// A new, empty folder under the system temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir() {
        // A name no one has taken: create_directory says whether it made the folder.
        std::mt19937_64 random(std::random_device{}() ^
                               static_cast<std::uint64_t>(
                                   std::chrono::steady_clock::now().time_since_epoch().count()));
        const fs::path base = fs::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "rvk-test-%012llx",
                          static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFULL));
            if (fs::create_directory(base / name)) {
                m_path = base / name;
                return;
            }
        }
        throw std::runtime_error("no temporary folder could be made");
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
    fs::path operator/(const std::string& relative) const { return m_path / name(relative); }
    OdString od() const { return toOd(m_path); }
    OdString od(const std::string& relative) const { return toOd(m_path / name(relative)); }

    // The file name the library gives to `bytes`: the bytes themselves where names are bytes; where
    // they are UTF-16, the library's decoding of them as UTF-8 (an undecodable byte becomes a lone
    // surrogate), not the ANSI code page that a narrow fs::path would use.
    static fs::path name(const std::string& bytes) {
#ifdef _WIN32
        return fs::path(OdString(bytes.c_str(), kCodePageUtf8).wstr());
#else
        return fs::path(bytes);
#endif
    }

    // The path's bytes where names are bytes, its UTF-8 form where they are UTF-16.
    static OdString toOd(const fs::path& p) {
        return OdString(p.u8string().c_str(), kCodePageUtf8);
    }

    // Writes `content` to `relative`, creating its folders.
    fs::path writeFile(const std::string& relative, const std::string& content = "") const {
        const fs::path p = m_path / name(relative);
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
    fs::path makeDir(const std::string& relative) const {
        fs::create_directories(m_path / name(relative));
        return m_path / name(relative);
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

// Runs `block` as a user whom file permissions bind. Root is not bound by them, so as root the
// block runs in a child process that gives up root for "nobody" first (`dir` is opened to others so
// that this user can reach what the test made there), and its failures fail the test; where root
// cannot be given up, the test is skipped with the reason. Where there are no POSIX permissions
// (Windows), the test is skipped with that reason. Call it last in a test.
void asUnprivilegedUser(const TempDir& dir, const std::function<void()>& block);

// The finest step of file modification times: a nanosecond on POSIX, 100 ns on NTFS.
extern const std::chrono::nanoseconds kFileTimeStep;

// Sets the modification time of `path` to `ticks` nanoseconds after the Unix epoch (a multiple of
// kFileTimeStep); false when the system refused.
bool setModificationTicks(const fs::path& path, std::int64_t ticks);

// A host interface that records every outcome the library reports ("ok" or the error text) and
// every path it is asked to check, answering `answer`.
class RecordingIo : public common::IoInterface {
public:
    int check(const OdString& path) const override {
        checked.push_back(path);
        return answer;
    }
    void report(Expected<void> outcome) const override {
        reports.push_back(outcome.hasValue() ? OdString(L"ok") : outcome.error().message);
    }
    int answer = 1;
    mutable std::vector<OdString> checked;
    mutable std::vector<OdString> reports;
};

// A storage that records each doMerge and answers `outcome`; merge must call nothing else.
struct RecordingStorage : common::FileStorage {
    Expected<void> outcome;
    std::vector<std::vector<OdString>> merges;  // root, target, source of each doMerge
    explicit RecordingStorage(Expected<void> outcome) : outcome(std::move(outcome)) {}
    Expected<OdString> store(const common::RootPath&, const OdString&) override { return unused(); }
    Expected<void> restore(const common::RootPath&, const OdString&, const OdString&) override {
        return unused();
    }
    Expected<void> remove(const common::RootPath&, const OdString&) override { return unused(); }
    Type type() const override { return Generic; }
    Expected<void> doMerge(const common::RootPath& root, const OdString& target,
                           const OdString& source) override {
        merges.push_back({root.path(), target, source});
        return outcome;
    }
    std::unique_ptr<FileStorage> clone() const override { return nullptr; }
    ErrorMessage unused() const {
        ADD_FAILURE() << "merge calls only check and doMerge";
        return {};
    }
};

}  // namespace testing_support

// Lets gtest print OdString values in failure messages.
inline void PrintTo(const OdString& s, std::ostream* os) {
    *os << '"' << s.ansi_str() << '"';
}
