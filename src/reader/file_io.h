// Read-only access to a regular file: open, read, seek, tell, close.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

class InputFile {
public:
    enum Origin {
        kBegin,
        kCurrent,
        kEnd
    };

    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens an existing regular file for reading. FIFOs, folders and
    // devices are refused without blocking.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // Reads up to n bytes (fewer only at the end of the file or on an
    // error); returns the number read, 0 on failure.
    std::int64_t read(void* destination, std::int64_t n);
    // New position, or -1.
    std::int64_t seek(std::int64_t offset, Origin origin);
    std::int64_t tell();
    void close();

private:
    int fd_ = -1;
};

}  // namespace kestrel
