// Content digests and the test of whether a working file differs from its stored copy.
//
// A digest is the SHA-256 value of the bytes, written as 64 lower-case hexadecimal digits, two per
// byte in byte order, with no separator; it is what follows "po" in the storage URL of an ordinary
// file. isModified() decides cheaply first (modification times) and exactly last (the digest of the
// whole working file, read in fixed-size pieces so that files of any size, 2 GiB and more
// included, are hashed whole in little memory). Drawings are never read.
#pragma once

#include <cstddef>
#include <memory>

#include <common/Expected.h>
#include <common/Export.h>
#include <common/RootPath.h>
#include <platform/OdString.h>

// The digest of the `length` bytes at `data`; zero bytes (and `data` null) are allowed. A negative
// length counts as zero. Never fails.
RVK_EXPORT OdString generateSha(const char* data, int length);

// The digest of the UTF-8 bytes of `text` (its narrow form, every byte of it, terminator
// excluded), so it equals generateSha(narrow, byteCount). Never fails.
RVK_EXPORT OdString generateSha(const OdString& text);

namespace common {

// An addition of ours, beside generateSha(): the same digest of content fed piece by piece, for a
// host that reads a file in pieces anyway (to copy it, say) and so never holds it whole, whatever
// its size. Feeding "ab" then "c" gives what generateSha("abc", 3) gives. One object makes one
// digest: after hexDigest() it must not be fed again. Movable, not copyable; the constructor
// throws std::runtime_error when the platform's SHA-256 is not available, and update() when it
// fails (never seen in practice: it only fails for lack of memory).
class RVK_EXPORT ContentDigest {
public:
    ContentDigest();
    ContentDigest(ContentDigest&& other) noexcept;
    ContentDigest& operator=(ContentDigest&& other) noexcept;
    ~ContentDigest();

    // Adds `size` bytes at `data` to the content; zero bytes (and `data` null with them) are
    // allowed.
    void update(const void* data, std::size_t size);
    // The digest of everything fed so far, as 64 lower-case hexadecimal digits.
    OdString hexDigest();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// Whether the working file at `relativePath` below `root` differs from the stored copy named by
// `url`, decided by the first rule that applies:
//   - a URL getStoragePath() rejects: its error ("invalid url: %ls"), unchanged;
//   - a working file modified later than the stored copy: true (a missing stored copy counts as
//     oldest, so that too is true);
//   - a drawing URL (beginning with "tf"): false; the drawing is never opened;
//   - otherwise: whether the digest of the whole working file differs, case-sensitively, from the
//     URL without its first two characters (an upper-case digest never matches).
// A working file that cannot be opened or read is hashed as what its reads gave, not reported.
RVK_EXPORT Expected<bool> isModified(const OdString& relativePath, const OdString& url,
                                     const RootPath& root);

}  // namespace common
