#include <client/store/HostStorage.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <common/ContentHash.h>
#include <common/StoragePaths.h>

#include <client/Text.h>
#include <client/store/Database.h>
#include <client/tree/HostFiles.h>
#include <client/tree/SafePaths.h>
#include <client/tree/StatCache.h>
#include <client/tree/WindowsNames.h>

namespace client {

namespace {

constexpr std::size_t kChunkSize = std::size_t{1} << 20;
// The name of every temporary copy begins with this; removeAbandonedCopies() looks for it.
constexpr const char kIncomingPrefix[] = ".incoming-";

OdString fromUtf8(const std::string& text) {
    return OdString(text.data(), text.size(), kCodePageUtf8);
}

// The folder that holds the file at `path`.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(kHostSeparators);
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// A copy that is complete and on disk, but not yet in its place.
struct Incoming {
    std::string tempPath;
    std::int64_t modifiedNs = 0;  // the source's modification time when it was opened
    std::int64_t size = 0;
    OdString digest;  // set when the copy was hashed: the digest of the bytes written
};

// Opens the file at `path` for reading, never through a symbolic link; an error naming `shown`.
Expected<HostFile> openSource(const std::string& path, const std::string& shown) {
    HostFile file = HostFile::openForReading(path);
    if (file.isOpen())
        return file;
    if (errno == ELOOP)
        return hostError(quoteName(shown) +
                         " is a symbolic link: rvk keeps files, never links or what they lead to");
    return hostError("cannot read " + quoteName(shown) + ": " + lastSystemError());
}

// Reads the open file `in` to its end, handing each piece to `consume` until that returns false;
// an error naming `shown` when a read fails.
template <class Consume>
Expected<void> readChunks(HostFile& in, const std::string& shown, Consume&& consume) {
    std::vector<char> chunk(kChunkSize);
    for (;;) {
        const std::ptrdiff_t got = in.read(chunk.data(), chunk.size());
        if (got < 0)
            return hostError("cannot read " + quoteName(shown) + ": " + lastSystemError());
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
            removeFile(m_path);
    }
    TempGuard(const TempGuard&) = delete;
    TempGuard& operator=(const TempGuard&) = delete;
    void release() { m_path.clear(); }

private:
    std::string m_path;
};

// How a copy is left once written: stored copies read-only, so that nobody edits history by
// accident; restored working files as writable as the user's new files.
enum class Access : bool { writable, readOnly };

// Copies the regular file at `source` into a new temporary file in `folder`, with `access` and
// with the modification time `source` had when it was opened (not yet flushed to disk). The name
// is hidden, so that a copy a crash leaves behind is never offered for tracking. `shown` names the
// source in messages. Hashes the content on the way when `hash` is set. `modifiedNs`, when given,
// is the copy's modification time instead of the source's. The temporary file is gone again on
// failure.
Expected<Incoming> copyToTemp(const std::string& source, const std::string& shown,
                              const std::string& folder, Access access, bool hash,
                              const boost::optional<std::int64_t>& modifiedNs = boost::none) {
    auto opened = openSource(source, shown);
    if (!opened.hasValue())
        return opened.error();
    HostFile& in = opened.value();
    FileStat info;
    const PathKind kind = in.kind(info);
    if (kind == PathKind::none)
        return hostError("cannot read " + quoteName(shown) + ": " + lastSystemError());
    if (kind != PathKind::file)
        return hostError("cannot read " + quoteName(shown) + ": not a regular file");

    Incoming incoming;
    incoming.modifiedNs = info.modifiedNs;
    ut::sys::TemporaryFile out;
    if (!out.create(fromUtf8(folder), OdString(kIncomingPrefix, kCodePageUtf8)))
        return hostError("cannot write in " + quoteName(folder) + ": " + lastSystemError());
    const auto writeFailed = [&] {
        return hostError("cannot store " + quoteName(shown) + ": " + lastSystemError());
    };

    common::ContentDigest sha;
    bool written = true;
    const auto read = readChunks(in, shown, [&](const char* data, std::size_t size) {
        if (hash)
            sha.update(data, size);
        written = out.writeAll(data, size);
        incoming.size += static_cast<std::int64_t>(size);
        return written;
    });
    if (!written)
        return writeFailed();
    if (!read.hasValue())
        return read.error();
    const std::int64_t time = modifiedNs ? *modifiedNs : incoming.modifiedNs;
    if (!finishCopy(out, access == Access::readOnly, time))
        return writeFailed();
    if (hash)
        incoming.digest = sha.hexDigest();
    incoming.tempPath = utf8(out.keep());
    return incoming;
}

// Renames the finished copy to `target`, making its folder when needed.
Expected<void> place(const Incoming& incoming, const std::string& target,
                     const std::string& shown) {
    TempGuard guard(incoming.tempPath);
    const std::string folder = folderOf(target);
    if (!makeFolders(folder))
        return hostError("cannot store " + quoteName(shown) + " in " + quoteName(folder) + ": " +
                         lastSystemError());
    if (!placeCopy(incoming.tempPath, target))
        return hostError("cannot store " + quoteName(shown) + " as " + quoteName(target) + ": " +
                         lastSystemError());
    guard.release();
    return {};
}

// Flushes every write to the file system that holds `folder`: file contents, times and renames.
Expected<void> flushFolder(const std::string& folder) {
    if (!flushFileSystem(folder))
        return hostError("cannot flush " + quoteName(folder) + " to disk: " + lastSystemError());
    return {};
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
                               Access::writable, true, file.modifiedNs);
    if (!incoming.hasValue())
        return incoming.error();
    prepared.incoming = std::move(incoming.value());
    if (file.digest && prepared.incoming.digest != *file.digest) {
        removeFile(prepared.incoming.tempPath);
        return hostError("the stored copy of " + quotePath(file.path) + " (" +
                         quoteName(prepared.source) +
                         ") is damaged: its content does not match the digest recorded when it "
                         "was committed; nothing was restored (see rvk verify)");
    }
    return prepared;
}

// What became of a prepared copy: in place, or left out because the working file it was to
// replace is held open by another program, which stays whole as it was.
enum class Placing : bool { placed, heldOpen };

// Renames a prepared copy over its working file, making the folder when needed. The copy is made
// inside ".rvk", where removeAbandonedCopies() finds it after a crash; only a working folder on
// another file system than ".rvk" needs the copy made again beside the file.
Expected<Placing> putInPlace(Prepared& prepared) {
    const std::string shown = utf8(prepared.file->path);
    const std::string folder = folderOf(prepared.target);
    if (!makeFolders(folder))
        return hostError("cannot restore " + quoteName(shown) + ": " + lastSystemError());
    if (replaceFile(prepared.incoming.tempPath, prepared.target)) {
        prepared.incoming.tempPath.clear();
        return Placing::placed;
    }
    const int error = errno;
    TempGuard discard(prepared.incoming.tempPath);
    prepared.incoming.tempPath.clear();
    // A CAD program holds the drawing it shows open that way: the rename changed nothing, and the
    // other files can still be placed, so that the user has only this one to close.
    if (error == EBUSY)
        return Placing::heldOpen;
    if (error != EXDEV) {
        errno = error;
        return hostError("cannot restore " + quoteName(shown) + ": " + lastSystemError());
    }
    auto beside = copyToTemp(prepared.source, utf8(prepared.file->url), folder, Access::writable,
                             true, prepared.file->modifiedNs);
    if (!beside.hasValue())
        return beside.error();
    if (beside.value().digest != prepared.incoming.digest) {
        removeFile(beside.value().tempPath);
        return hostError("cannot restore " + quoteName(shown) +
                         ": its stored copy changed while "
                         "it was read");
    }
    if (!placeCopy(beside.value().tempPath, prepared.target)) {
        if (errno == EBUSY)
            return Placing::heldOpen;
        return hostError("cannot restore " + quoteName(shown) + ": " + lastSystemError());
    }
    const auto flushed = flushFolder(folder);
    if (!flushed.hasValue())
        return flushed.error();
    return Placing::placed;
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
    if (!removeFile(utf8(stored.value())))
        return hostError("cannot remove " + quoteName(utf8(stored.value())) + ": " +
                         lastSystemError());
    return {};
}

// Where folders take names as Windows does, the paths of `files` that such a folder would refuse,
// change or take for one file: an error naming the first, before anything is written.
Expected<void> checkNames(const std::vector<Restoring>& files, const Naming& naming) {
    if (!naming.windowsNames)
        return {};
    std::vector<std::string> paths;
    paths.reserve(files.size());
    for (const Restoring& file : files) {
        const auto nameable = checkWindowsName(file.path, naming);
        if (!nameable.hasValue())
            return nameable;
        paths.push_back(slashed(utf8(file.path), naming));
    }
    const auto clashes = caseClashes(paths);
    if (clashes.empty())
        return {};
    std::string named;
    for (const std::string& path : clashes.front().paths)
        named += (named.empty() ? "" : " and ") + quoteName(path);
    return hostError("cannot restore " + named +
                     ": they differ only in letter case, and Windows takes them for one file, so "
                     "one would overwrite the other; nothing was restored (rename one where they "
                     "were committed)");
}

// A store's restore of one file, for which a file held open is a failure like any other.
Expected<void> restoreOne(const common::RootPath& root, const Restoring& file) {
    const auto restored = restoreFiles(root, {file}, nullptr);
    if (!restored.hasValue())
        return restored.error();
    if (!restored.value().empty())
        return hostError("cannot restore " + quoteName(utf8(file.path)) + ": " +
                         ut::sys::errorText(EBUSY));
    return {};
}

}  // namespace

Expected<void> checkWindowsName(const OdString& path, const Naming& naming) {
    if (!naming.windowsNames)
        return {};
    if (const auto problem = windowsNameProblem(slashed(utf8(path), naming)))
        return hostError("cannot restore " + quotePath(path) + ": " + *problem +
                         "; nothing was restored (rename it where it was committed)");
    return {};
}

namespace {

// The URL under which a drawing store filing under `revision` keeps `relativePath`.
OdString drawingUrl(const OdString& relativePath, std::uint64_t revision) {
    const OdString number(std::to_string(revision).c_str(), kCodePageUtf8);
    return OdString(L"tf:") + generateSha(relativePath) + L"-" + number + L"#" + number;
}

}  // namespace

Expected<KeptCopy> DrawingStore::keep(const common::RootPath& root, const OdString& relativePath) {
    const OdString url = drawingUrl(relativePath, m_revision);
    const auto stored = common::getStoragePath(root, url);
    if (!stored.hasValue())
        return stored.error();
    const std::string shown = utf8(relativePath);
    auto incoming =
        copyToTemp(utf8(root.pathTo(relativePath)), shown, utf8(root.rvkPath()), Access::readOnly, true);
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
    return restoreOne(root, Restoring{relativePath, url, boost::none, boost::none});
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
        copyToTemp(utf8(root.pathTo(relativePath)), shown, utf8(root.rvkPath()), Access::readOnly, true);
    if (!incoming.hasValue())
        return incoming.error();
    const OdString url = OdString(L"po") + incoming.value().digest;
    const auto stored = common::getStoragePath(root, url);
    if (!stored.hasValue())
        return stored.error();
    const std::string target = utf8(stored.value());

    const KeptCopy kept{url, incoming.value().size, incoming.value().digest};
    FileStat existing;
    if (lookAt(target, &existing) == PathKind::none) {
        const auto placed = place(incoming.value(), target, shown);
        if (!placed.hasValue())
            return placed.error();
        return kept;
    }
    // The content is stored already; the copy just made is not needed. The object must not be
    // older than any working file it stands for, or isModified() would call that file changed.
    TempGuard discard(incoming.value().tempPath);
    if (existing.modifiedNs < incoming.value().modifiedNs &&
        !setModifiedTime(target, incoming.value().modifiedNs))
        return hostError("cannot store " + quoteName(shown) + ": " + lastSystemError());
    return kept;
}

Expected<void> ObjectStore::restore(const common::RootPath& root, const OdString& url,
                                    const OdString& relativePath) {
    return restoreOne(root, Restoring{relativePath, url, url.mid(2), boost::none});
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

Expected<std::vector<OdString>> restoreFiles(const common::RootPath& root,
                                             const std::vector<Restoring>& files,
                                             const std::function<void(const OdString&)>& done,
                                             const Naming& naming) {
    std::vector<Prepared> prepared;
    // Whatever is left unplaced when this ends, by failure or not, goes.
    struct Discard {
        std::vector<Prepared>& all;
        ~Discard() {
            for (const Prepared& p : all) {
                if (!p.incoming.tempPath.empty())
                    removeFile(p.incoming.tempPath);
            }
        }
    } discard{prepared};
    const auto named = checkNames(files, naming);
    if (!named.hasValue())
        return named.error();
    prepared.reserve(files.size());
    for (const Restoring& file : files) {
        auto one = prepare(root, file);
        if (!one.hasValue())
            return one.error();
        prepared.push_back(std::move(one.value()));
    }
    std::vector<OdString> held;
    for (Prepared& p : prepared) {
        const auto placed = putInPlace(p);
        if (!placed.hasValue())
            return placed.error();
        if (placed.value() == Placing::heldOpen) {
            held.push_back(p.file->path);
            continue;
        }
        if (done)
            done(p.file->path);
    }
    if (const auto flushed = flushFolder(utf8(root.path())); !flushed.hasValue())
        return flushed.error();
    return held;
}

Expected<OdString> fileDigest(const std::string& path, const std::string& shown) {
    auto opened = openSource(path, shown);
    if (!opened.hasValue())
        return opened.error();
    common::ContentDigest sha;
    const auto read = readChunks(opened.value(), shown, [&](const char* data, std::size_t size) {
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
    return ut::sys::removeTemporaries(root.rvkPath(), OdString(kIncomingPrefix, kCodePageUtf8),
                                      exclusive ? OdString()
                                                : OdString(kStatCacheTempPrefix, kCodePageUtf8));
}

Expected<void> flushStoredCopies(const common::RootPath& root) {
    return flushFolder(utf8(root.rvkPath()));
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
        fill,
    const std::string& shownFile) {
    const std::string shown = shownFile.empty() ? quoteName(utf8(url)) : shownFile;
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    ut::sys::TemporaryFile out;
    if (!out.create(root.rvkPath(), OdString(kIncomingPrefix, kCodePageUtf8)))
        return hostError("cannot receive " + shown + ": cannot write in " +
                         quoteName(utf8(root.rvkPath())) + ": " + lastSystemError());
    common::ContentDigest sha;
    Incoming incoming;
    bool written = true;
    const auto filled = fill([&](const char* data, std::size_t size) {
        sha.update(data, size);
        incoming.size += static_cast<std::int64_t>(size);
        written = out.writeAll(data, size);
        return written;
    });
    if (!written)
        return hostError("cannot receive " + shown + ": " + lastSystemError());
    if (!filled.hasValue())
        return filled.error();
    incoming.digest = sha.hexDigest();
    if (incoming.digest != sha256)
        return hostError("the copy of " + shown +
                         " that arrived does not match its digest: it is damaged or forged");
    if (!finishCopy(out, true, boost::none))
        return hostError("cannot receive " + shown + ": " + lastSystemError());
    incoming.tempPath = utf8(out.keep());
    const auto placed = place(incoming, utf8(stored.value()), utf8(url));
    if (!placed.hasValue())
        return placed.error();
    return KeptCopy{url, incoming.size, incoming.digest};
}

Expected<KeptCopy> keepStoredCopy(const common::RootPath& root, const OdString& url,
                                  const OdString& digest, const OdString& relativePath,
                                  std::uint64_t revision) {
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    if (common::fileToType(relativePath) != common::FileStorage::Drawing &&
        common::urlToType(url) == common::FileStorage::Generic) {
        FileStat info;
        if (!statFile(utf8(stored.value()), info))
            return hostError("the stored copy " + quoteName(utf8(url)) + " is missing; see rvk verify");
        return KeptCopy{url, info.size, digest};
    }
    const OdString kept = drawingUrl(relativePath, revision);
    const auto target = storedCopyPath(root, kept);
    if (!target.hasValue())
        return target.error();
    // Made already by a pull that was cut off, perhaps before the copy it came from was replaced.
    FileStat there;
    if (statFile(utf8(target.value()), there)) {
        const auto held = fileDigest(utf8(target.value()), utf8(kept));
        if (held.hasValue() && held.value() == digest)
            return KeptCopy{kept, there.size, digest};
    }
    return receiveCopy(
        root, kept, digest,
        [&](const std::function<bool(const char*, std::size_t)>& sink) {
            return readCopy(root, url, sink);
        },
        quotePath(relativePath));
}

Expected<void> setAsideCopy(const common::RootPath& root, const OdString& relativePath,
                            const boost::optional<OdString>& url, const OdString& digest,
                            const OdString& asidePath) {
    std::string source = utf8(root.pathTo(relativePath));
    if (url) {
        const auto stored = storedCopyPath(root, *url);
        if (!stored.hasValue())
            return stored.error();
        source = utf8(stored.value());
    }
    const std::string shown = utf8(relativePath);
    // Made inside ".rvk", where removeAbandonedCopies() finds it after a crash, then renamed.
    auto incoming = copyToTemp(source, shown, utf8(root.rvkPath()), Access::writable, true);
    if (!incoming.hasValue())
        return incoming.error();
    TempGuard guard(incoming.value().tempPath);
    if (incoming.value().digest != digest)
        return hostError("cannot keep your " + quotePath(relativePath) +
                         ": it changed while it was read; nothing was pulled");
    const std::string target = utf8(root.pathTo(asidePath));
    const std::string folder = folderOf(target);
    const std::string asShown = quotePath(asidePath);
    if (replaceFile(incoming.value().tempPath, target)) {
        guard.release();
        return flushFolder(folder);
    }
    if (errno != EXDEV)
        return hostError("cannot write " + asShown + ": " + lastSystemError());
    // The working tree lies on another file system than ".rvk": copied again, beside the file.
    auto beside = copyToTemp(incoming.value().tempPath, shown, folder, Access::writable, true);
    if (!beside.hasValue())
        return beside.error();
    if (const auto placed = place(beside.value(), target, shown); !placed.hasValue())
        return placed;
    return flushFolder(folder);
}

Expected<KeptCopy> exportCopy(const common::RootPath& root, const OdString& url,
                              const boost::optional<OdString>& digest, const std::string& target,
                              const std::string& shown, std::int64_t modifiedNs) {
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    const std::string source = utf8(stored.value());
    if (lookAt(source) == PathKind::none)
        return hostError("the stored copy of " + quotePath(shown) + " is missing (" +
                         quotePath(stored.value()) + "); see rvk verify");
    auto incoming =
        copyToTemp(source, utf8(url), folderOf(target), Access::writable, true, modifiedNs);
    if (!incoming.hasValue())
        return incoming.error();
    TempGuard guard(incoming.value().tempPath);
    if (digest && incoming.value().digest != *digest)
        return hostError("the stored copy of " + quotePath(shown) + " (" + quoteName(source) +
                         ") is damaged: its content does not match the digest recorded when it "
                         "was committed (see rvk verify)");
    guard.release();
    const auto placed = place(incoming.value(), target, shown);
    if (!placed.hasValue())
        return placed.error();
    return KeptCopy{url, incoming.value().size, incoming.value().digest};
}

Expected<void> readCopy(const common::RootPath& root, const OdString& url,
                        const std::function<bool(const char*, std::size_t)>& sink) {
    const auto stored = storedCopyPath(root, url);
    if (!stored.hasValue())
        return stored.error();
    auto opened = openSource(utf8(stored.value()), utf8(url));
    if (!opened.hasValue())
        return opened.error();
    return readChunks(opened.value(), utf8(url), sink);
}

}  // namespace client
