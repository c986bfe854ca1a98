// Stored copies in the server's database: rows of rvk.copy_chunks of at most 1 MiB each, written
// in one transaction with the row of rvk.copies that says the copy is whole, and read back one
// chunk at a time. The server checks every chunk against the digest sent with it.
#include <algorithm>
#include <string>
#include <vector>

#include <common/ContentHash.h>

#include "Console.h"
#include "RemoteCopies.h"
#include "ServerConnection.h"

namespace host {

namespace {

constexpr std::size_t kChunkSize = 1 << 20;

std::string digestOf(const char* data, std::size_t size) {
    common::ContentDigest sha;
    sha.update(data, size);
    return utf8(sha.hexDigest());
}

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
        auto begun = m_server.begin();
        if (!begun.hasValue())
            return begun;
        auto sent = send(url, sha256, size, source);
        if (!sent.hasValue()) {
            m_server.rollback();
            return sent;
        }
        auto done = m_server.commit();
        if (!done.hasValue())
            m_server.rollback();
        return done;
    }

    Expected<void> get(const std::string& url, const std::string& sha256,
                       const ChunkSink& sink) override {
        auto count = m_server.query(
            "SELECT count(*) FROM rvk.copies WHERE url = $1 AND sha256 = $2", {url, sha256});
        if (!count.hasValue())
            return count.error();
        if (count.value().integer(0, 0) == 0)
            return hostError("the server lacks the copy " + quoteName(url));
        // One chunk a query, by its number, until none is left: at most one chunk in memory.
        for (std::int64_t seq = 0;; ++seq) {
            auto chunk = m_server.query(
                "SELECT data FROM rvk.copy_chunks WHERE url = $1 AND sha256 = $2 AND seq = $3",
                {url, sha256, seq}, true);
            if (!chunk.hasValue())
                return chunk.error();
            if (chunk.value().rows() == 0)
                return {};
            if (!sink(chunk.value().bytes(0, 0),
                      static_cast<std::size_t>(chunk.value().length(0, 0))))
                return hostError("cannot take the copy " + quoteName(url) + " from the server");
        }
    }

private:
    Expected<void> send(const std::string& url, const std::string& sha256, std::int64_t size,
                        const ChunkSource& source) {
        auto there = has(url, sha256);
        if (!there.hasValue())
            return there.error();
        if (there.value())
            return {};
        std::string pending;
        std::int64_t seq = 0, sent = 0;
        common::ContentDigest whole;
        ErrorMessage problem;
        bool failed = false;
        const auto flush = [&]() -> bool {
            auto stored = m_server.query(
                "INSERT INTO rvk.copy_chunks (url, sha256, seq, data, chunk_sha256) "
                "VALUES ($1, $2, $3, $4, $5) ON CONFLICT DO NOTHING",
                {url, sha256, seq, Param(pending.data(), static_cast<int>(pending.size())),
                 digestOf(pending.data(), pending.size())});
            if (!stored.hasValue()) {
                problem = stored.error();
                failed = true;
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
        if (failed)
            return problem;
        if (!read.hasValue())
            return read;
        if ((!pending.empty() || seq == 0) && !flush())
            return problem;
        if (sent != size || utf8(whole.hexDigest()) != sha256)
            return hostError("the copy " + quoteName(url) +
                             " changed while it was sent: its bytes no longer match its digest");
        auto recorded = m_server.query(
            "INSERT INTO rvk.copies (url, sha256, size) VALUES ($1, $2, $3) "
            "ON CONFLICT DO NOTHING",
            {url, sha256, size});
        if (!recorded.hasValue())
            return recorded.error();
        return {};
    }

    ServerConnection& m_server;
};

}  // namespace

std::unique_ptr<RemoteCopies> databaseCopies(ServerConnection& server) {
    return std::make_unique<DatabaseCopies>(server);
}

}  // namespace host
