#include "HostStorage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <common/ContentHash.h>
#include <common/StoragePaths.h>

#include "Console.h"
#include "Database.h"
#include "SafePaths.h"
#include "StatCache.h"

namespace host {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunkSize = std::size_t{1} << 20;
// The name of every temporary copy begins with this; removeAbandonedCopies() looks for it.
constexpr const char kIncomingPrefix[] = ".incoming-";

// Stored copies are read-only, so that nobody edits history by accident.
constexpr mode_t kStoredMode = 0444;

std::string lastError() {
    return std::strerror(errno);
}

// A file descriptor that is closed when it goes out of scope.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    // Closes now, so that a failure of close (a delayed write error) can be seen.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

// A copy that is complete and on disk, but not yet in its place.
struct Incoming {
    std::string tempPath;
    timespec modified{};  // the source's modification time when it was opened
    std::int64_t size = 0;
    OdString digest;  // set when the copy was hashed: the digest of the bytes written
};

// Opens the file at `path` for reading, never through a symbolic link; an error naming `shown`.
Expected<int> openSource(const std::string& path, const std::string& shown) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0)
        return fd;
    if (errno == ELOOP)
        return hostError(quoteName(shown) +
                         " is a symbolic link: rvk keeps files, never links or what they lead to");
    return hostError("cannot read " + quoteName(shown) + ": " + lastError());
}

// Reads the open file `fd` to its end, handing each piece to `consume` until that returns false;
// an error naming `shown` when a read fails.
template <class Consume>
Expected<void> readChunks(int fd, const std::string& shown, Consume&& consume) {
    std::vector<char> chunk(kChunkSize);
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return hostError("cannot read " + quoteName(shown) + ": " + lastError());
        if (got == 0 || !consume(chunk.data(), static_cast<std::size_t>(got)))
            return {};
    }
}

// Removes a temporary file unless it was handed on.
class TempGuard {
public:
    explicit TempGuard(std::string path) : m_path(std::move(path)) {}
    ~TempGuard() {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    TempGuard(const TempGuard&) = delete;
    TempGuard& operator=(const TempGuard&) = delete;
    void release() { m_path.clear(); }

private:
    std::string m_path;
};

// Copies the regular file at `source` into a new temporary file in `folder`, with `mode` and with
// the modification time `source` had when it was opened (not yet flushed to disk). The name is
// hidden, so that a copy a crash leaves behind is never offered for tracking. `shown` names the
// source in messages. Hashes the content on the way when `hash` is set. `modified`, when given,
// is the copy's modification time instead of the source's. The temporary file is gone again on
// failure.
Expected<Incoming> copyToTemp(const std::string& source, const std::string& shown,
                              const std::string& folder, mode_t mode, bool hash,
                              const boost::optional<timespec>& modified = boost::none) {
    const auto opened = openSource(source, shown);
    if (!opened.hasValue())
        return opened.error();
    Fd in(opened.value());
    struct stat info {};
    if (::fstat(in.get(), &info) != 0)
        return hostError("cannot read " + quoteName(shown) + ": " + lastError());
    if (!S_ISREG(info.st_mode))
        return hostError("cannot read " + quoteName(shown) + ": not a regular file");

    Incoming incoming;
    incoming.modified = info.st_mtim;
    std::string pattern = folder + "/" + kIncomingPrefix + "XXXXXX";
    Fd out(::mkstemp(pattern.data()));
    if (out.get() < 0)
        return hostError("cannot write in " + quoteName(folder) + ": " + lastError());
    TempGuard guard(pattern);
    const auto writeFailed = [&] {
        return hostError("cannot store " + quoteName(shown) + ": " + lastError());
    };

    common::ContentDigest sha;
    bool written = true;
    const auto read = readChunks(in.get(), shown, [&](const char* data, std::size_t size) {
        if (hash)
            sha.update(data, size);
        written = writeAll(out.get(), data, size);
        incoming.size += static_cast<std::int64_t>(size);
        return written;
    });
    if (!written)
        return writeFailed();
    if (!read.hasValue())
        return read.error();
    const timespec times[2] = {{0, UTIME_OMIT}, modified ? *modified : incoming.modified};
    if (::fchmod(out.get(), mode) != 0 || ::futimens(out.get(), times) != 0 || !out.close())
        return writeFailed();
    if (hash)
        incoming.digest = sha.hexDigest();
    incoming.tempPath = pattern;
    guard.release();
    return incoming;
}

// Renames the finished copy to `target`, making its folder when needed.
Expected<void> place(const Incoming& incoming, const std::string& target,
                     const std::string& shown) {
    TempGuard guard(incoming.tempPath);
    const fs::path folder = fs::path(target).parent_path();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return hostError("cannot store " + quoteName(shown) + " in " + quoteName(folder.string()) +
                         ": " + ec.message());
    if (::rename(incoming.tempPath.c_str(), target.c_str()) != 0)
        return hostError("cannot store " + quoteName(shown) + " as " + quoteName(target) + ": " +
                         lastError());
    guard.release();
    return {};
}

// Flushes every write to the file system that holds `folder`: file contents, times and renames.
Expected<void> flushFileSystem(const std::string& folder) {
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || ::syncfs(dir.get()) != 0)
        return hostError("cannot flush " + quoteName(folder) + " to disk: " + lastError());
    return {};
}

mode_t workingFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// A copy of a stored copy, made in ".rvk" and found sound, waiting to be renamed into the tree.
struct Prepared {
    const Restoring* file;
    std::string source;  // the stored copy
    std::string target;  // the working file
    Incoming incoming;
};

Expected<Prepared> prepare(const common::RootPath& root, const Restoring& file) {
    const auto stored = common::getStoragePath(root, file.url);
    if (!stored.hasValue())
        return stored.error();
    Prepared prepared{&file, utf8(stored.value()), utf8(root.pathTo(file.path)), {}};
    auto incoming = copyToTemp(prepared.source, utf8(file.url), utf8(root.rvkPath()),
                               workingFileMode(), true, file.modified);
    if (!incoming.hasValue())
        return incoming.error();
    prepared.incoming = std::move(incoming.value());
    if (file.digest && prepared.incoming.digest != *file.digest) {
        ::unlink(prepared.incoming.tempPath.c_str());
        return hostError("the stored copy of " + quotePath(file.path) + " (" +
                         quoteName(prepared.source) +
                         ") is damaged: its content does not match the digest recorded when it "
                         "was committed; nothing was restored (see rvk verify)");
    }
    return prepared;
}

// Renames a prepared copy over its working file, making the folder when needed. The copy is made
// inside ".rvk", where removeAbandonedCopies() finds it after a crash; only a working folder on
// another file system than ".rvk" needs the copy made again beside the file.
Expected<void> putInPlace(Prepared& prepared) {
    const std::string shown = utf8(prepared.file->path);
    const std::string folder = fs::path(prepared.target).parent_path().string();
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec)
        return hostError("cannot restore " + quoteName(shown) + ": " + ec.message());
    if (::rename(prepared.incoming.tempPath.c_str(), prepared.target.c_str()) == 0) {
        prepared.incoming.tempPath.clear();
        return {};
    }
    TempGuard discard(prepared.incoming.tempPath);
    prepared.incoming.tempPath.clear();
    if (errno != EXDEV)
        return hostError("cannot restore " + quoteName(shown) + ": " + lastError());
    auto beside = copyToTemp(prepared.source, utf8(prepared.file->url), folder, workingFileMode(),
                             true, prepared.file->modified);
    if (!beside.hasValue())
        return beside.error();
    if (beside.value().digest != prepared.incoming.digest) {
        ::unlink(beside.value().tempPath.c_str());
        return hostError("cannot restore " + quoteName(shown) +
                         ": its stored copy changed while "
                         "it was read");
    }
    const auto placed = place(beside.value(), prepared.target, shown);
    if (!placed.hasValue())
        return placed;
    return flushFileSystem(folder);
}

// The URL of a kept copy, or why it could not be kept: what store() answers.
Expected<OdString> urlOf(const Expected<KeptCopy>& kept) {
    if (!kept.hasValue())
        return kept.error();
    return kept.value().url;
}

Expected<void> removeCopy(const common::RootPath& root, const OdString& url) {
    const auto stored = common::getStoragePath(root, url);
    if (!stored.hasValue())
        return stored.error();
    if (::unlink(stored.value().ansi_str()) != 0 && errno != ENOENT)
        return hostError("cannot remove " + quoteName(utf8(stored.value())) + ": " + lastError());
    return {};
}

}  // namespace

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

Expected<KeptCopy> DrawingStore::keep(const common::RootPath& root, const OdString& relativePath) {
    const OdString revision(std::to_string(m_revision).c_str(), kCodePageUtf8);
    const OdString url =
        OdString(L"tf:") + generateSha(relativePath) + L"-" + revision + L"#" + revision;
    const auto stored = common::getStoragePath(root, url);
    if (!stored.hasValue())
        return stored.error();
    const std::string shown = utf8(relativePath);
    auto incoming =
        copyToTemp(utf8(root.pathTo(relativePath)), shown, utf8(root.rvkPath()), kStoredMode, true);
    if (!incoming.hasValue())
        return incoming.error();
    const auto placed = place(incoming.value(), utf8(stored.value()), shown);
    if (!placed.hasValue())
        return placed.error();
    return KeptCopy{url, incoming.value().size, incoming.value().digest};
}

Expected<OdString> DrawingStore::store(const common::RootPath& root, const OdString& relativePath) {
    return urlOf(keep(root, relativePath));
}

Expected<void> DrawingStore::restore(const common::RootPath& root, const OdString& url,
                                     const OdString& relativePath) {
    return restoreFiles(root, {Restoring{relativePath, url, boost::none, boost::none}}, nullptr);
}

Expected<void> DrawingStore::remove(const common::RootPath& root, const OdString& url) {
    return removeCopy(root, url);
}

Expected<void> DrawingStore::doMerge(const common::RootPath&, const OdString& target,
                                     const OdString& source) {
    return hostError("cannot merge the drawing " + quoteName(utf8(source)) + " into " +
                     quoteName(utf8(target)) + ": merging drawings needs the CAD application");
}

std::unique_ptr<common::FileStorage> DrawingStore::clone() const {
    return std::make_unique<DrawingStore>(*this);
}

Expected<OdString> ObjectStore::store(const common::RootPath& root, const OdString& relativePath) {
    return urlOf(keep(root, relativePath));
}

Expected<KeptCopy> ObjectStore::keep(const common::RootPath& root, const OdString& relativePath) {
    const std::string shown = utf8(relativePath);
    auto incoming =
        copyToTemp(utf8(root.pathTo(relativePath)), shown, utf8(root.rvkPath()), kStoredMode, true);
    if (!incoming.hasValue())
        return incoming.error();
    const OdString url = OdString(L"po") + incoming.value().digest;
    const auto stored = common::getStoragePath(root, url);
    if (!stored.hasValue())
        return stored.error();
    const std::string target = utf8(stored.value());

    const KeptCopy kept{url, incoming.value().size, incoming.value().digest};
    struct stat existing {};
    if (::stat(target.c_str(), &existing) != 0) {
        const auto placed = place(incoming.value(), target, shown);
        if (!placed.hasValue())
            return placed.error();
        return kept;
    }
    // The content is stored already; the copy just made is not needed. The object must not be
    // older than any working file it stands for, or isModified() would call that file changed.
    TempGuard discard(incoming.value().tempPath);
    const timespec& mine = incoming.value().modified;
    const timespec& theirs = existing.st_mtim;
    if (theirs.tv_sec < mine.tv_sec ||
        (theirs.tv_sec == mine.tv_sec && theirs.tv_nsec < mine.tv_nsec)) {
        const timespec times[2] = {{0, UTIME_OMIT}, mine};
        if (::utimensat(AT_FDCWD, target.c_str(), times, 0) != 0)
            return hostError("cannot store " + quoteName(shown) + ": " + lastError());
    }
    return kept;
}

Expected<void> ObjectStore::restore(const common::RootPath& root, const OdString& url,
                                    const OdString& relativePath) {
    return restoreFiles(root, {Restoring{relativePath, url, url.mid(2), boost::none}}, nullptr);
}

Expected<void> ObjectStore::remove(const common::RootPath& root, const OdString& url) {
    return removeCopy(root, url);
}

Expected<void> ObjectStore::doMerge(const common::RootPath&, const OdString& target,
                                    const OdString& source) {
    return hostError("cannot merge " + quoteName(utf8(source)) + " into " +
                     quoteName(utf8(target)) + ": rvk has no merge tool");
}

std::unique_ptr<common::FileStorage> ObjectStore::clone() const {
    return std::make_unique<ObjectStore>(*this);
}

Expected<void> restoreFiles(const common::RootPath& root, const std::vector<Restoring>& files,
                            const std::function<void(const OdString&)>& done) {
    std::vector<Prepared> prepared;
    // Whatever is left unplaced when this ends, by failure or not, goes.
    struct Discard {
        std::vector<Prepared>& all;
        ~Discard() {
            for (const Prepared& p : all) {
                if (!p.incoming.tempPath.empty())
                    ::unlink(p.incoming.tempPath.c_str());
            }
        }
    } discard{prepared};
    prepared.reserve(files.size());
    for (const Restoring& file : files) {
        auto one = prepare(root, file);
        if (!one.hasValue())
            return one.error();
        prepared.push_back(std::move(one.value()));
    }
    for (Prepared& p : prepared) {
        const auto placed = putInPlace(p);
        if (!placed.hasValue())
            return placed;
        if (done)
            done(p.file->path);
    }
    return flushFileSystem(utf8(root.path()));
}

Expected<OdString> fileDigest(const std::string& path, const std::string& shown) {
    const auto opened = openSource(path, shown);
    if (!opened.hasValue())
        return opened.error();
    Fd in(opened.value());
    common::ContentDigest sha;
    const auto read = readChunks(in.get(), shown, [&](const char* data, std::size_t size) {
        sha.update(data, size);
        return true;
    });
    if (!read.hasValue())
        return read.error();
    return sha.hexDigest();
}

Expected<boost::optional<OdString>> expectedDigest(Database& db, const OdString& url) {
    if (common::urlToType(url) == common::FileStorage::Generic)
        return boost::optional<OdString>(url.mid(2));
    const auto record = db.copyRecord(url);
    if (!record.hasValue())
        return record.error();
    if (!record.value())
        return boost::optional<OdString>();
    return boost::optional<OdString>(record.value()->digest);
}

Expected<OdString> copyDigest(Database& db, const common::RootPath& root, const OdString& url) {
    const auto expected = expectedDigest(db, url);
    if (!expected.hasValue())
        return expected.error();
    if (expected.value())
        return *expected.value();
    // Nothing recorded: the stored copy's bytes are what it holds.
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    return fileDigest(utf8(stored.value()), utf8(url));
}

int removeAbandonedCopies(const common::RootPath& root, bool exclusive) {
    int removed = 0;
    std::error_code ec;
    for (fs::directory_iterator it(utf8(root.rvkPath()), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kIncomingPrefix, 0) != 0 ||
            (!exclusive && name.rfind(kStatCacheTempPrefix, 0) == 0))
            continue;
        if (fs::remove(it->path(), ec))
            ++removed;
    }
    return removed;
}

Expected<void> flushStoredCopies(const common::RootPath& root) {
    return flushFileSystem(utf8(root.rvkPath()));
}

std::unique_ptr<common::FileStorage> storageFor(const OdString& relativePath,
                                                std::uint64_t revision) {
    if (common::fileToType(relativePath) == common::FileStorage::Drawing)
        return std::make_unique<DrawingStore>(revision);
    return std::make_unique<ObjectStore>();
}

Expected<KeptCopy> keepCopy(const common::RootPath& root, const OdString& relativePath,
                            std::uint64_t revision) {
    if (common::fileToType(relativePath) == common::FileStorage::Drawing)
        return DrawingStore(revision).keep(root, relativePath);
    return ObjectStore().keep(root, relativePath);
}

Expected<KeptCopy> receiveCopy(
    const common::RootPath& root, const OdString& url, const OdString& sha256,
    const std::function<Expected<void>(const std::function<bool(const char*, std::size_t)>&)>&
        fill) {
    const std::string shown = utf8(url);
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    std::string pattern = utf8(root.rvkPath()) + "/" + kIncomingPrefix + "XXXXXX";
    Fd out(::mkstemp(pattern.data()));
    if (out.get() < 0)
        return hostError("cannot write in " + quoteName(utf8(root.rvkPath())) + ": " + lastError());
    TempGuard guard(pattern);
    common::ContentDigest sha;
    Incoming incoming;
    bool written = true;
    const auto filled = fill([&](const char* data, std::size_t size) {
        sha.update(data, size);
        incoming.size += static_cast<std::int64_t>(size);
        written = writeAll(out.get(), data, size);
        return written;
    });
    if (!written)
        return hostError("cannot store " + quoteName(shown) + ": " + lastError());
    if (!filled.hasValue())
        return filled.error();
    incoming.digest = sha.hexDigest();
    if (incoming.digest != sha256)
        return hostError("the copy " + quoteName(shown) +
                         " that arrived does not match its digest: it is damaged or forged");
    if (::fchmod(out.get(), kStoredMode) != 0 || !out.close())
        return hostError("cannot store " + quoteName(shown) + ": " + lastError());
    incoming.tempPath = pattern;
    guard.release();
    const auto placed = place(incoming, utf8(stored.value()), shown);
    if (!placed.hasValue())
        return placed.error();
    return KeptCopy{url, incoming.size, incoming.digest};
}

Expected<void> readCopy(const common::RootPath& root, const OdString& url,
                        const std::function<bool(const char*, std::size_t)>& sink) {
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    const auto opened = openSource(utf8(stored.value()), utf8(url));
    if (!opened.hasValue())
        return opened.error();
    Fd in(opened.value());
    return readChunks(in.get(), utf8(url), sink);
}

}  // namespace host
