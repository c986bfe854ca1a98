// Stored copies in the server's database: chunks of at most 1 MiB in rvk.copy_chunks, each stored
// through rvk.put_chunk() in a statement of its own, and then rvk.finish_copy(), which checks the
// chunks against the digest of the whole copy and only then adds the row of rvk.copies that says
// the copy is whole. An upload cut off leaves chunks that no commit may name; sent again, it
// replaces them. Copies are read back one chunk at a time, never more than the copy's size.
#include <algorithm>
#include <string>
#include <vector>

#include <common/ContentHash.h>

#include <client/Text.h>
#include <client/shared/RemoteCopies.h>
#include <client/shared/ServerConnection.h>

namespace client {

namespace {

constexpr std::size_t kChunkSize = 1 << 20;
// The server takes the digest of a copy as one value, which PostgreSQL keeps below 1 GiB.
constexpr std::int64_t kLargestCopy = std::int64_t{1023} << 20;

class DatabaseCopies final : public RemoteCopies {
public:
    explicit DatabaseCopies(ServerConnection& server) : m_server(server) {}

    Expected<bool> has(const std::string& url, const std::string& sha256) override {
        auto found = m_server.query("SELECT 1 FROM rvk.copies WHERE url = $1 AND sha256 = $2",
                                    {url, sha256});
        if (!found.hasValue())
            return found.error();
        return found.value().rows() > 0;
    }

    Expected<void> put(const std::string& url, const std::string& sha256, std::int64_t size,
                       const ChunkSource& source) override {
        if (size > kLargestCopy)
            return hostError("the copy " + quoteName(url) + " is larger than 1023 MiB, more than "
                             "the server can check: it cannot be shared");
        auto there = has(url, sha256);
        if (!there.hasValue())
            return there.error();
        if (there.value())
            return {};
        std::string pending;
        std::int64_t seq = 0, sent = 0;
        common::ContentDigest whole;
        ErrorMessage problem;
        bool failed = false, wholeAlready = false;
        const auto flush = [&]() -> bool {
            auto stored = m_server.query(
                "SELECT rvk.put_chunk($1, $2, $3, $4)",
                {url, sha256, seq, Param(pending.data(), static_cast<int>(pending.size()))});
            if (!stored.hasValue()) {
                problem = stored.error();
                failed = true;
                return false;
            }
            // Stored meanwhile by another clone: nothing more to send.
            if (stored.value().text(0, 0) != "t") {
                wholeAlready = true;
                return false;
            }
            ++seq;
            pending.clear();
            return true;
        };
        const auto read = source([&](const char* data, std::size_t n) {
            whole.update(data, n);
            sent += static_cast<std::int64_t>(n);
            while (n > 0) {
                const std::size_t take = std::min(n, kChunkSize - pending.size());
                pending.append(data, take);
                data += take;
                n -= take;
                if (pending.size() == kChunkSize && !flush())
                    return false;
            }
            return true;
        });
        if (wholeAlready)
            return {};
        if (failed)
            return problem;
        if (!read.hasValue())
            return read;
        if ((!pending.empty() || seq == 0) && !flush())
            return wholeAlready ? Expected<void>() : Expected<void>(problem);
        if (sent != size || utf8(whole.hexDigest()) != sha256)
            return hostError("the copy " + quoteName(url) +
                             " changed while it was sent: its bytes no longer match its digest");
        auto finished = m_server.query("SELECT rvk.finish_copy($1, $2, $3)", {url, sha256, size});
        if (!finished.hasValue())
            return finished.error();
        return {};
    }

    Expected<void> get(const std::string& url, const std::string& sha256,
                       const ChunkSink& sink) override {
        auto found = m_server.query(
            "SELECT size FROM rvk.copies WHERE url = $1 AND sha256 = $2", {url, sha256});
        if (!found.hasValue())
            return found.error();
        if (found.value().rows() == 0)
            return hostError("the server lacks the copy " + quoteName(url));
        const std::int64_t size = found.value().integer(0, 0);
        // One chunk a query, by its number, until the copy's size has come: at most one chunk in
        // memory, and never more bytes than the copy has. A chunk larger than any may be comes
        // as NULL and is refused.
        std::int64_t received = 0;
        for (std::int64_t seq = 0; received < size || seq == 0; ++seq) {
            auto chunk = m_server.query(
                "SELECT CASE WHEN octet_length(data) <= $4 THEN data END FROM rvk.copy_chunks "
                "WHERE url = $1 AND sha256 = $2 AND seq = $3",
                {url, sha256, seq, static_cast<std::int64_t>(kChunkSize)}, true);
            if (!chunk.hasValue())
                return chunk.error();
            if (chunk.value().rows() == 0) {
                if (received == size)
                    return {};
                return hostError("the server lacks part of the copy " + quoteName(url));
            }
            if (chunk.value().isNull(0, 0))
                return hostError("the server sends a chunk of the copy " + quoteName(url) +
                                 " larger than 1 MiB");
            const auto n = chunk.value().length(0, 0);
            received += n;
            if (received > size)
                return hostError("the server sends more bytes of the copy " + quoteName(url) +
                                 " than it has");
            if (!sink(chunk.value().bytes(0, 0), static_cast<std::size_t>(n)))
                return hostError("cannot take the copy " + quoteName(url) + " from the server");
        }
        return {};
    }

private:
    ServerConnection& m_server;
};

}  // namespace

std::unique_ptr<RemoteCopies> databaseCopies(ServerConnection& server) {
    return std::make_unique<DatabaseCopies>(server);
}

}  // namespace client
