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

// The digest of the first length() bytes of the file at `path`, read piece by piece. Where the
// reads come up short (a file that cannot be opened, shrinks, or fails), the missing bytes count
// as zeros, exactly as if the whole length had been read into one zero-filled buffer.
OdString hashFile(const OdString& path) {
    ut::File file(path, ut::File::kRead);
    std::uint64_t remaining = file.length();
    std::vector<char> chunk(
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kChunkSize)));
    common::ContentDigest sha;
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
    common::ContentDigest sha;
    if (length > 0)
        sha.update(data, static_cast<std::size_t>(length));
    return sha.hexDigest();
}

OdString generateSha(const OdString& text) {
    // Hashed directly rather than through the int overload, so no text is too long for it.
    common::ContentDigest sha;
    sha.update(text.ansi_str(), text.ansiLength());
    return sha.hexDigest();
}

namespace common {

// OpenSSL's EVP interface gives the same digest as the one-shot SHA256_* calls without their
// deprecation in OpenSSL 3; the context type stays out of the public header.
struct ContentDigest::Context {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> evp{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
};

ContentDigest::ContentDigest() : m_context(std::make_unique<Context>()) {
    if (!m_context->evp)
        throw std::bad_alloc();
    if (EVP_DigestInit_ex(m_context->evp.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available from libcrypto");
}

ContentDigest::ContentDigest(ContentDigest&& other) noexcept = default;
ContentDigest& ContentDigest::operator=(ContentDigest&& other) noexcept = default;
ContentDigest::~ContentDigest() = default;

void ContentDigest::update(const void* data, std::size_t size) {
    if (size > 0 && EVP_DigestUpdate(m_context->evp.get(), data, size) != 1)
        throw std::runtime_error("SHA-256 update failed");
}

OdString ContentDigest::hexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(m_context->evp.get(), digest, &size) != 1)
        throw std::runtime_error("SHA-256 final failed");
    static const char kDigits[] = "0123456789abcdef";
    char hex[2 * EVP_MAX_MD_SIZE + 1];
    for (unsigned int i = 0; i < size; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    hex[2 * size] = '\0';
    return OdString(hex, kCodePageUtf8);
}

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
