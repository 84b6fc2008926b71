// Minimal RIFF file writer: nested chunks whose sizes are filled in when the
// chunk is ended, odd-size chunks padded with one zero byte. Every failure is
// sticky: once a write, seek or size check fails, the writer stays failed and
// close() reports it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace kestrel {

class RiffWriter {
public:
    RiffWriter() = default;
    RiffWriter(const RiffWriter&) = delete;
    RiffWriter& operator=(const RiffWriter&) = delete;
    ~RiffWriter();

    // Creates or truncates the file.
    bool open(const std::string& path);
    // Starts a "RIFF" chunk with the given form type.
    bool beginRiff(const char (&form)[5]);
    bool beginChunk(const char (&id)[5]);
    bool write(std::span<const std::uint8_t> bytes);
    // Pads the innermost chunk to an even size and fills in its size field.
    bool endChunk();
    // Ends any open chunk, flushes and closes; true only when every step of
    // the file's writing succeeded.
    bool close();

    bool ok() const { return file_ != nullptr && !failed_; }

private:
    struct Open {
        std::uint64_t sizeField;  // file offset of the chunk's size field
    };

    bool fail();
    bool rawWrite(const void* bytes, std::size_t n);
    bool patchSize(std::uint64_t offset, std::uint32_t size);

    std::FILE* file_ = nullptr;
    std::vector<Open> open_;
    std::uint64_t position_ = 0;  // bytes written so far = current end of file
    bool failed_ = false;
};

}  // namespace kestrel
