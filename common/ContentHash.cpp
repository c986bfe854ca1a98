#include <common/ContentHash.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include <common/FileStorage.h>
#include <common/StoragePaths.h>
#include <platform/DateTime.h>
#include <platform/File.h>
#include <platform/FileName.h>

namespace {

// Big enough that the per-call cost of read() and of the digest update vanishes next to the
// hashing itself, small enough that hashing a huge file costs no noticeable memory.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;

// An incremental SHA-256 through OpenSSL's EVP interface, which gives the same digest as the
// one-shot SHA256_* calls without their deprecation in OpenSSL 3.
class Sha256 {
public:
    Sha256() : m_context(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
        if (!m_context)
            throw std::bad_alloc();
        if (EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("SHA-256 is not available from libcrypto");
    }

    void update(const void* data, std::size_t size) {
        if (size > 0 && EVP_DigestUpdate(m_context.get(), data, size) != 1)
            throw std::runtime_error("SHA-256 update failed");
    }

    // The digest as 64 lower-case hexadecimal digits; ends the use of this object.
    OdString hexDigest() {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(m_context.get(), digest, &size) != 1)
            throw std::runtime_error("SHA-256 final failed");
        static const char kDigits[] = "0123456789abcdef";
        std::string hex;
        hex.reserve(2 * size);
        for (unsigned int i = 0; i < size; ++i) {
            hex.push_back(kDigits[digest[i] >> 4]);
            hex.push_back(kDigits[digest[i] & 0x0F]);
        }
        return OdString(hex.c_str(), kCodePageUtf8);
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> m_context;
};

// The digest of the first length() bytes of the file at `path`, read piece by piece. Where the
// reads come up short (a file that cannot be opened, shrinks, or fails), the missing bytes count
// as zeros, exactly as if the whole length had been read into one zero-filled buffer.
OdString hashFile(const OdString& path) {
    ut::File file(path, ut::File::kRead);
    std::uint64_t remaining = file.length();
    std::vector<char> chunk(
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkSize)));
    Sha256 sha;
    bool exhausted = false;
    while (remaining > 0) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkSize));
        const std::size_t got = exhausted ? 0 : file.read(chunk.data(), wanted);
        if (got < wanted) {
            std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(got),
                      chunk.begin() + static_cast<std::ptrdiff_t>(wanted), '\0');
            exhausted = true;  // the file gave all it will; do not ask again
        }
        sha.update(chunk.data(), wanted);
        remaining -= wanted;
    }
    file.close();
    return sha.hexDigest();
}

}  // namespace

OdString generateSha(const char* data, int length) {
    Sha256 sha;
    if (length > 0)
        sha.update(data, static_cast<std::size_t>(length));
    return sha.hexDigest();
}

OdString generateSha(const OdString& text) {
    // Hashed directly rather than through the int overload, so no text is too long for it.
    Sha256 sha;
    sha.update(text.ansi_str(), text.ansiLength());
    return sha.hexDigest();
}

namespace common {

Expected<bool> isModified(const OdString& relativePath, const OdString& url, const RootPath& root) {
    const OdString workingPath = root.pathTo(relativePath);
    const Expected<OdString> storedPath = getStoragePath(root, url);
    if (!storedPath.hasValue())
        return storedPath.error();
    if (storedPath.value().isEmpty())
        return true;

    // Times first: a newer working file, and any drawing, is decided without reading it.
    ut::DateTime workingTime;
    ut::DateTime storedTime;
    ut::FileName(workingPath).getTimes(nullptr, &workingTime, nullptr);
    ut::FileName(storedPath.value()).getTimes(nullptr, &storedTime, nullptr);
    if (workingTime.getTicks() > storedTime.getTicks())
        return true;
    if (urlToType(url) == FileStorage::Drawing)
        return false;

    return hashFile(workingPath) != url.mid(2);
}

}  // namespace common
