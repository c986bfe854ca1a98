// The data the benchmark programs and the peer comparison run on, made the same way by both: a
// working tree of many files in many folders, a state with many staged files, the changes record a
// host would build from a scan, and large files to hash. Everything is made in a fresh temporary
// folder that removes itself, so no run leaves anything behind or depends on an earlier one.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include <common/RootPath.h>
#include <common/StagingExplorer.h>
#include <common/State.h>
#include <platform/OdString.h>

namespace bench_support {

namespace fs = std::filesystem;

// A new, empty folder under TMPDIR (or /tmp), removed with everything in it when this ends.
class ScratchDir {
public:
    explicit ScratchDir(const char* label = "rvk-bench") {
        std::string pattern = (fs::temp_directory_path() / (std::string(label) + "-XXXXXX"));
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed in " + fs::temp_directory_path().string());
        m_path = pattern;
    }
    ~ScratchDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const fs::path& path() const { return m_path; }
    OdString od() const { return OdString(m_path.c_str(), kCodePageUtf8); }

private:
    fs::path m_path;
};

inline void writeBytes(const fs::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path.string());
    const bool ok = bytes.empty() ||
                    ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    if (!ok)
        throw std::runtime_error("cannot write " + path.string());
}

// Folder i of a tree of `folders` folders: 50 top folders, the rest spread below them one level
// down, so a walk meets both wide and nested folders.
inline std::string folderName(std::size_t i) {
    char name[32];
    if (i < 50)
        std::snprintf(name, sizeof name, "dept%02zu", i);
    else
        std::snprintf(name, sizeof name, "dept%02zu/sheet%04zu", i % 50, i / 50);
    return name;
}

// File j of a folder: mostly drawings, some other documents, and every 97th one a name the
// built-in ignore rules refuse (a backup or a lock file).
inline std::string fileName(std::size_t j, std::size_t serial) {
    static const char* const kExtensions[] = {"dwg", "dwg", "dwg", "dxf", "pdf", "xlsx"};
    char name[48];
    if (serial % 97 == 96)
        std::snprintf(name, sizeof name, "plan-%06zu.%s", serial, serial % 2 ? "bak" : "dwl");
    else
        std::snprintf(name, sizeof name, "plan-%06zu.%s", serial, kExtensions[j % 6]);
    return name;
}

// A repository at `root` holding `files` files spread evenly over `folders` folders, plus a folder
// named "old.bak" (ignored with everything in it). No ignore file: the built-in rules apply.
// Returns the number of files the scan is expected to list.
inline std::size_t makeTree(const fs::path& root, std::size_t files, std::size_t folders = 5000) {
    fs::create_directories(root / ".rvk" / "properties");
    std::vector<std::string> names;
    names.reserve(folders);
    for (std::size_t i = 0; i < folders; ++i) {
        names.push_back(folderName(i));
        fs::create_directories(root / names.back());
    }
    std::size_t listed = 0;
    for (std::size_t serial = 0; serial < files; ++serial) {
        const std::string name = fileName(serial / folders, serial);
        writeBytes(root / names[serial % folders] / name, "");
        listed += serial % 97 != 96;
    }
    fs::create_directories(root / "old.bak");
    for (int i = 0; i < 10; ++i)
        writeBytes(root / "old.bak" / ("kept-" + std::to_string(i) + ".dwg"), "");
    return listed;
}

// The relative path of generated file `serial` (as the scan spells it).
inline OdString relativePath(std::size_t serial, std::size_t folders = 5000) {
    const std::string path =
        folderName(serial % folders) + "/" + fileName(serial / folders, serial);
    return OdString(path.c_str(), kCodePageUtf8);
}

// A state with `staged` staged files (alternately modified and added), a few renames, on branch
// "main" at commit 42.
inline common::State makeState(std::size_t staged) {
    common::State state;
    state.head.reference = L"main";
    state.head.commit = 42;
    state.stagedFiles.reserve(staged);
    for (std::size_t i = 0; i < staged; ++i) {
        state.stagedFiles.emplace_back(
            relativePath(i), i % 2 ? common::EFileChange::added : common::EFileChange::modified);
    }
    for (std::size_t i = 0; i < staged / 100; ++i)
        state.renames.emplace(relativePath(i + staged), relativePath(i + 2 * staged));
    return state;
}

// The changes record of a working tree with `count` files: one in ten modified, the rest untracked,
// all with distinct paths.
inline common::RepoChanges makeChanges(std::size_t count) {
    common::RepoChanges changes;
    for (std::size_t i = 0; i < count; ++i) {
        auto& list = i % 10 == 0 ? changes.modified : changes.untracked;
        list.emplace_back(relativePath(i));
    }
    return changes;
}

// A file of `size` bytes of varied content (not sparse, not all zeros), written in 1 MiB pieces.
inline void makeLargeFile(const fs::path& path, std::uint64_t size) {
    std::string piece(std::size_t{1} << 20, '\0');
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (char& c : piece) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path.string());
    for (std::uint64_t left = size; left > 0;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
        if (::write(fd, piece.data(), n) != static_cast<ssize_t>(n)) {
            ::close(fd);
            throw std::runtime_error("cannot write " + path.string());
        }
        piece[left % piece.size()] ^= 1;  // no two pieces alike
        left -= n;
    }
    ::close(fd);
}

// Sets the modification time of `path` `seconds` after the epoch, so a test of times can be made
// to go either way.
inline void setModificationTime(const fs::path& path, long seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot set the times of " + path.string());
}

}  // namespace bench_support
