// A read-only view of a shared history, straight from its server and without a clone: what a
// history panel of a host, or a web page over the history, shows. It reads with any role that may
// read the history (a member of rvk_readers is enough) and changes nothing on the server.
//
// A view holds one connection and is used by one thread at a time; a host that serves several
// people at once keeps one view for each. Every wait for the server has a limit, as the other
// shared operations' have. Everything the server sends is input: paths, names and sizes are
// checked as a clone checks them, and a value larger than any may be is refused on the server,
// before it travels.
//
// Paths are UTF-8 and '/'-separated, as the server keeps them; times of commits are seconds since
// 1970, and other times are UTC in ISO 8601 ("2026-12-08T09:30:00Z").
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/optional.hpp>

#include <client/Export.h>
#include <client/Session.h>
#include <client/SharedOperations.h>
#include <common/Expected.h>

namespace client {

// One commit as a history lists it.
struct ViewCommit {
    std::uint64_t id = 0;
    std::int64_t time = 0;
    std::string author;
    std::string message;
    std::size_t files = 0;            // the paths it added, changed or removed
    std::vector<std::string> labels;  // the labels on it, by the bytes of their names
};

// What a commit did to one path.
struct ViewChange {
    enum class Kind { added, changed, removed };
    std::string path;
    Kind kind = Kind::added;
    // The version the commit gave the path (added, changed); for a removal, none.
    std::int64_t size = 0;
    std::string sha256;
};

// One version of a file: a commit that added, changed or removed it.
struct ViewVersion {
    std::uint64_t commit = 0;
    std::int64_t time = 0;
    std::string author;
    std::string message;
    bool removed = false;  // the commit removed the file: no size, no digest
    std::int64_t size = 0;
    std::string sha256;
};

// A drawing lock, with how long it has been held as the server's clock says.
struct ViewLock {
    std::string path;
    std::string holder;
    std::string taken;
    std::int64_t heldSeconds = 0;
};

// One row of a register: a file of a commit, with the newest commit at or before it that gave the
// file the bytes it has, and that commit's author. The rows of `rvk export`'s register.
struct RegisterRow {
    std::string path;
    std::int64_t size = 0;
    std::string sha256;
    std::uint64_t commit = 0;
    std::string author;
};

// `rows` as the text of a register file: UTF-8, the header "path,size,sha256,commit,author", then
// one line a row, each line ending in LF; a field that holds a comma, a double quote, CR or LF is
// quoted as RFC 4180 says. The very bytes that export writes.
RVKCLIENT_API std::string registerCsv(const std::vector<RegisterRow>& rows);

// A stored copy: the version of `path` that the commit `commit` gave it.
struct ViewCopy {
    std::string path;
    std::uint64_t commit = 0;
    std::int64_t size = 0;
    std::string sha256;
    std::string url;  // the copy's name on the server
};

class RVKCLIENT_API HistoryView {
public:
    // Connects to the shared history at `conninfo` (a connection string or "service=NAME" that
    // holds no secret) and checks that the database holds one of a format this kit reads. The
    // server's notices go to `reporter`, which must outlive the view.
    static Expected<HistoryView> open(const std::string& conninfo, Reporter& reporter);

    HistoryView(HistoryView&&) noexcept;
    HistoryView& operator=(HistoryView&&) noexcept;
    ~HistoryView();

    // The role the view reads as.
    const std::string& role() const;

    // The newest commit; 0 before the first.
    Expected<std::uint64_t> head();
    // At most `count` commits, from `newest` down (newest first): a page of the history. Commits
    // above the head are not there, so a page past the newest is empty.
    Expected<std::vector<ViewCommit>> commits(std::uint64_t newest, std::size_t count);
    // The commit `id`, or none when the server has no such commit.
    Expected<boost::optional<ViewCommit>> commit(std::uint64_t id);
    // What the commit `id` did to each path it touched, by the bytes of the paths.
    Expected<std::vector<ViewChange>> changes(std::uint64_t id);
    // Every version of the file at `path`, newest first; empty when no commit ever touched it.
    Expected<std::vector<ViewVersion>> fileHistory(const std::string& path);
    // Every lock, the oldest first.
    Expected<std::vector<ViewLock>> locks();
    // Every label, by commit, then by the bytes of the name.
    Expected<std::vector<Label>> labels();
    // The label `name`, or none.
    Expected<boost::optional<Label>> label(const std::string& name);
    // The register of the commit `id`: one row a file it holds, by the bytes of the paths, as
    // export writes it (files inside ".rvk", the repository's own settings, left out). Fails when
    // the history has no commit `id`.
    Expected<std::vector<RegisterRow>> fileRegister(std::uint64_t id);

    // The copy that the file at `path` holds at the commit `id` (the newest version at or before
    // it), or none when the file is not there at that commit.
    Expected<boost::optional<ViewCopy>> copyAt(const std::string& path, std::uint64_t id);
    // Reads the whole copy once and checks it against its size and digest, without handing its
    // bytes on: a damaged or incomplete copy fails here, naming the file, before anything of it is
    // sent on.
    Expected<void> checkCopy(const ViewCopy& copy);
    // Hands the bytes of `copy` to `sink` as they come from the server, a chunk at a time, never
    // whole in memory, checking them again as they pass: fails, after the last chunk, when they
    // do not match (the copy changed since checkCopy()); `sink` returning false stops it.
    Expected<void> readCopy(const ViewCopy& copy,
                            const std::function<bool(const char* data, std::size_t size)>& sink);

private:
    struct Impl;
    explicit HistoryView(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

}  // namespace client
