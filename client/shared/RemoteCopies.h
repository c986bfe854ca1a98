// Where a shared history keeps its stored copies: behind this interface, so that the copies may
// move to another store (an object store reached over HTTP, say) while commits and locks stay in
// the database. A copy is named by its URL and the SHA-256 digest of its bytes together: copies of
// one URL stored by two clones that never met differ by digest and never mix.
//
// Copies travel in a stream, a chunk at a time, never whole in memory. Both sides check digests:
// the sender hashes what it sends and gives up when that is not the digest it announced, and the
// receiver hashes what arrives and refuses a copy whose bytes do not match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <common/Expected.h>

namespace client {

class ServerConnection;

// Takes the bytes of a copy as they arrive; false stops the transfer.
using ChunkSink = std::function<bool(const char* data, std::size_t size)>;
// Reads the bytes of a copy to send, calling its sink for each chunk; fails when reading does.
using ChunkSource = std::function<Expected<void>(const ChunkSink& sink)>;

class RemoteCopies {
public:
    virtual ~RemoteCopies() = default;
    // Whether the store holds the whole copy `url` with the digest `sha256`.
    virtual Expected<bool> has(const std::string& url, const std::string& sha256) = 0;
    // Stores the copy whose `size` bytes `source` gives; the store names it only once it has
    // all of it, checked against its digest, and a copy cut off is sent whole again. Storing a
    // copy the store holds already is no error.
    virtual Expected<void> put(const std::string& url, const std::string& sha256,
                               std::int64_t size, const ChunkSource& source) = 0;
    // Hands the bytes of the copy to `sink`, in order. Fails when the store lacks it; the caller
    // checks the digest of what arrived.
    virtual Expected<void> get(const std::string& url, const std::string& sha256,
                               const ChunkSink& sink) = 0;
};

// The copies kept in the server's database itself, in chunks of rvk.copy_chunks, stored through
// the server's functions, which check them.
std::unique_ptr<RemoteCopies> databaseCopies(ServerConnection& server);

}  // namespace client
