#include "reader/sound/riff_writer.h"

#include <sys/types.h>

#include <cstring>
#include <limits>

#include "base/byte_order.h"

namespace kestrel {

namespace {

bool seekTo(std::FILE* file, std::uint64_t offset) {
    if (offset > std::uint64_t(std::numeric_limits<off_t>::max())) return false;
    return fseeko(file, off_t(offset), SEEK_SET) == 0;
}

}  // namespace

RiffWriter::~RiffWriter() {
    if (file_) std::fclose(file_);
}

bool RiffWriter::fail() {
    failed_ = true;
    return false;
}

bool RiffWriter::open(const std::string& path) {
    if (file_) return false;
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    open_.clear();
    position_ = 0;
    failed_ = false;
    return true;
}

bool RiffWriter::rawWrite(const void* bytes, std::size_t n) {
    if (!ok()) return false;
    if (n == 0) return true;
    if (std::fwrite(bytes, 1, n, file_) != n) return fail();
    position_ += n;
    return true;
}

bool RiffWriter::beginChunk(const char (&id)[5]) {
    if (!ok()) return false;
    std::uint8_t header[8];
    std::memcpy(header, id, 4);
    putLe32(header + 4, 0);  // filled in by endChunk
    const std::uint64_t sizeField = position_ + 4;
    if (!rawWrite(header, sizeof header)) return false;
    open_.push_back(Open{sizeField});
    return true;
}

bool RiffWriter::beginRiff(const char (&form)[5]) {
    if (!beginChunk("RIFF")) return false;
    return rawWrite(form, 4);
}

bool RiffWriter::write(std::span<const std::uint8_t> bytes) {
    if (open_.empty()) return fail();
    return rawWrite(bytes.data(), bytes.size());
}

bool RiffWriter::patchSize(std::uint64_t offset, std::uint32_t size) {
    std::uint8_t field[4];
    putLe32(field, size);
    if (!seekTo(file_, offset)) return fail();
    if (std::fwrite(field, 1, sizeof field, file_) != sizeof field) return fail();
    if (!seekTo(file_, position_)) return fail();
    return true;
}

bool RiffWriter::endChunk() {
    if (!ok() || open_.empty()) return fail();
    const Open chunk = open_.back();
    open_.pop_back();
    const std::uint64_t size = position_ - (chunk.sizeField + 4);
    if (size > std::numeric_limits<std::uint32_t>::max()) return fail();
    if (size & 1) {
        const std::uint8_t pad = 0;
        if (!rawWrite(&pad, 1)) return false;
    }
    return patchSize(chunk.sizeField, std::uint32_t(size));
}

bool RiffWriter::close() {
    if (!file_) return false;
    while (!open_.empty() && endChunk()) {}
    bool good = !failed_ && open_.empty();
    if (std::fflush(file_) != 0 || std::ferror(file_)) good = false;
    if (std::fclose(file_) != 0) good = false;
    file_ = nullptr;
    open_.clear();
    return good;
}

}  // namespace kestrel
