#include "reader/file_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

InputFile::~InputFile() { close(); }

bool InputFile::open(const std::string& path) {
    close();
    // O_NONBLOCK keeps open() from waiting for a writer on a FIFO; the
    // file type is checked before anything is read.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

std::int64_t InputFile::read(void* destination, std::int64_t n) {
    if (fd_ < 0 || n <= 0) return 0;
    auto* out = static_cast<unsigned char*>(destination);
    std::int64_t total = 0;
    while (total < n) {
        const std::int64_t chunk = std::min<std::int64_t>(n - total, std::int64_t{1} << 30);
        ssize_t got = ::read(fd_, out + total, std::size_t(chunk));
        if (got < 0) {
            if (errno == EINTR) continue;
            return total;
        }
        if (got == 0) break;
        total += got;
    }
    return total;
}

std::int64_t InputFile::seek(std::int64_t offset, Origin origin) {
    if (fd_ < 0) return -1;
    const int whence = origin == kBegin ? SEEK_SET : origin == kCurrent ? SEEK_CUR : SEEK_END;
    return ::lseek(fd_, off_t(offset), whence);
}

std::int64_t InputFile::tell() { return seek(0, kCurrent); }

void InputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace kestrel
