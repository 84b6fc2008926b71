#include "cli/file_hash.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace kestrel::cli {

FileHash hashFile(const std::string& path) {
    FileHash out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    std::vector<unsigned char> buffer(1 << 16);
    std::int64_t total = 0;
    while (ok) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        total += n;
        ok = EVP_DigestUpdate(context.get(), buffer.data(), std::size_t(n)) == 1;
    }
    ::close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return out;
    static const char* const kHex = "0123456789abcdef";
    out.sha256.reserve(length * 2);
    for (unsigned i = 0; i < length; ++i) {
        out.sha256 += kHex[digest[i] >> 4];
        out.sha256 += kHex[digest[i] & 15];
    }
    out.bytes = total;
    return out;
}

}  // namespace kestrel::cli
