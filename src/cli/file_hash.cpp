#include "cli/file_hash.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace kestrel::cli {

FileHash hashFile(const std::string& path) {
    FileHash out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return out;
    sha256_ctx context;
    sha256_init(&context);
    std::vector<unsigned char> buffer(1 << 16);
    std::int64_t total = 0;
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        total += n;
        sha256_update(&context, std::size_t(n), buffer.data());
    }
    ::close(fd);
    if (!ok) return out;
    unsigned char digest[SHA256_DIGEST_SIZE];
    sha256_digest(&context, sizeof digest, digest);
    static const char* const kHex = "0123456789abcdef";
    out.sha256.reserve(2 * sizeof digest);
    for (const unsigned char byte : digest) {
        out.sha256 += kHex[byte >> 4];
        out.sha256 += kHex[byte & 15];
    }
    out.bytes = total;
    return out;
}

}  // namespace kestrel::cli
