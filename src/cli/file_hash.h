// SHA-256 of files, for the manifest and for finding repeated content.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel::cli {

struct FileHash {
    std::int64_t bytes = -1;  // -1 when the file could not be read
    std::string sha256;       // 64 lower-case hex digits
};

FileHash hashFile(const std::string& path);

}  // namespace kestrel::cli
