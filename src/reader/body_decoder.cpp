#include "reader/body_decoder.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

#include "base/byte_order.h"

namespace kestrel {

namespace {

constexpr std::size_t kLzmaHeaderBytes = 9;  // compressed length (4), properties (5)

std::unique_ptr<std::uint8_t[]> newChunk() {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[BodyDecoder::kChunk]);
}

BodyResult ended(BodyOutcome outcome, std::size_t produced, std::string reason) {
    return {outcome, produced, std::move(reason)};
}

class ZlibBody final : public BodyDecoder {
public:
    using BodyDecoder::BodyDecoder;

private:
    BodyResult decode() override {
        const auto chunk = newChunk();
        z_stream zs{};
        if (!chunk || inflateInit(&zs) != Z_OK) return ended(BodyOutcome::NoMemory, 0, "out of memory for zlib");
        zs.next_out = output_;
        zs.avail_out = uInt(std::min<std::size_t>(room_, UINT_MAX));
        BodyResult result;
        for (;;) {
            if (zs.avail_in == 0) {
                const std::size_t got = readInput(chunk.get());
                if (got == 0) {
                    result = ended(BodyOutcome::CutShort, 0, "zlib stream cut short");
                    break;
                }
                zs.next_in = chunk.get();
                zs.avail_in = uInt(got);
            }
            const int rc = inflate(&zs, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                result = ended(BodyOutcome::Complete, 0, {});
                break;
            }
            // Z_BUF_ERROR with all input used means "more input"; with input
            // left the room is full while the stream goes on.
            if (rc == Z_BUF_ERROR && zs.avail_in > 0) {
                result = ended(BodyOutcome::TooLong, 0, "body longer than declared");
                break;
            }
            if (rc == Z_MEM_ERROR) {
                result = ended(BodyOutcome::NoMemory, 0, "out of memory for zlib");
                break;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                std::string reason = "zlib stream corrupt";
                if (zs.msg) reason += std::string(" (") + zs.msg + ")";
                result = ended(BodyOutcome::Corrupt, 0, std::move(reason));
                break;
            }
            publish(std::size_t(zs.total_out));
        }
        result.produced = std::size_t(zs.total_out);
        inflateEnd(&zs);
        return result;
    }
};

// The ZWS body: a raw LZMA1 stream behind 5 property bytes. liblzma's
// .lzma decoder takes the properties followed by the uncompressed size,
// which is known here, so the stream stops at the declared length.
class LzmaBody final : public BodyDecoder {
public:
    LzmaBody(const std::uint8_t* header, std::size_t expected, ByteSource& source, std::int64_t inputBytes,
             std::uint8_t* output, std::size_t room)
        : BodyDecoder(source, inputBytes, output, room), expected_(expected) {
        std::copy(header + 4, header + 9, alone_);
        // The dictionary never needs to be larger than the output it can
        // reach back into; a crafted dictionary size would otherwise make
        // the decoder allocate up to 4 GB.
        const std::uint32_t dictionary = getLe32(alone_ + 1);
        const std::uint32_t most = std::uint32_t(std::clamp<std::size_t>(room, 4096, 0xFFFFFFFFu));
        putLe32(alone_ + 1, std::min(dictionary, most));
        std::uint64_t size = expected;
        for (int i = 0; i < 8; ++i, size >>= 8) alone_[5 + i] = std::uint8_t(size);
    }

private:
    BodyResult decode() override {
        const auto chunk = newChunk();
        lzma_stream ls = LZMA_STREAM_INIT;
        if (!chunk || lzma_alone_decoder(&ls, UINT64_MAX) != LZMA_OK) {
            return ended(BodyOutcome::NoMemory, 0, "out of memory for LZMA");
        }
        ls.next_in = alone_;
        ls.avail_in = sizeof alone_;
        ls.next_out = output_;
        ls.avail_out = room_;
        BodyResult result;
        lzma_action action = LZMA_RUN;
        for (;;) {
            if (ls.avail_in == 0 && action == LZMA_RUN) {
                const std::size_t got = readInput(chunk.get());
                ls.next_in = chunk.get();
                ls.avail_in = got;
                // Let the decoder give what its last bytes still hold.
                if (got == 0) action = LZMA_FINISH;
            }
            const lzma_ret rc = lzma_code(&ls, action);
            publish(std::size_t(ls.total_out));
            if (rc == LZMA_STREAM_END) {
                result = ended(BodyOutcome::Complete, 0, {});
                break;
            }
            if (rc == LZMA_OK && ls.avail_out > 0) continue;  // liblzma says LZMA_BUF_ERROR when stuck
            if (rc == LZMA_MEM_ERROR || rc == LZMA_MEMLIMIT_ERROR) {
                result = ended(BodyOutcome::NoMemory, 0, "out of memory for LZMA");
            } else if (rc == LZMA_DATA_ERROR && ls.total_out == expected_) {
                // The declared length is reached and the stream goes on
                // with something other than its end marker.
                result = ended(BodyOutcome::TooLong, 0, "body longer than declared");
            } else if (rc == LZMA_DATA_ERROR || rc == LZMA_FORMAT_ERROR || rc == LZMA_OPTIONS_ERROR) {
                result = ended(BodyOutcome::Corrupt, 0,
                               rc == LZMA_DATA_ERROR ? "LZMA stream corrupt" : "LZMA properties invalid");
            } else if (ls.avail_out == 0) {
                result = ended(BodyOutcome::TooLong, 0, "body longer than declared");
            } else {
                result = ended(BodyOutcome::CutShort, 0, "LZMA stream cut short");
            }
            break;
        }
        result.produced = std::size_t(ls.total_out);
        lzma_end(&ls);
        return result;
    }

    std::uint8_t alone_[13] = {};  // properties, dictionary size, uncompressed size
    std::size_t expected_;
};

}  // namespace

std::unique_ptr<BodyDecoder> BodyDecoder::create(Compression compression, const std::uint8_t* header,
                                                 std::size_t expected, ByteSource& source, std::int64_t inputBytes,
                                                 std::uint8_t* output, std::size_t room) {
    switch (compression) {
        case Compression::None: return nullptr;
        case Compression::Zlib:
            return std::unique_ptr<BodyDecoder>(new (std::nothrow) ZlibBody(source, inputBytes, output, room));
        case Compression::Lzma:
            return std::unique_ptr<BodyDecoder>(new (std::nothrow)
                                                    LzmaBody(header, expected, source, inputBytes, output, room));
    }
    return nullptr;
}

std::size_t BodyDecoder::extraHeaderBytes(Compression compression) {
    switch (compression) {
        case Compression::None:
        case Compression::Zlib: return 0;
        case Compression::Lzma: return kLzmaHeaderBytes;
    }
    return 0;
}

std::int64_t BodyDecoder::outputBound(Compression compression, std::int64_t inputBytes) {
    const std::int64_t n = std::max<std::int64_t>(inputBytes, 0);
    switch (compression) {
        case Compression::None: return n;
        case Compression::Zlib: return n * 1032 + 1024;
        case Compression::Lzma: return n * 7200 + 4096;
    }
    return n;
}

BodyDecoder::BodyDecoder(ByteSource& source, std::int64_t inputBytes, std::uint8_t* output, std::size_t room)
    : output_(output), room_(room), source_(source), inputLeft_(inputBytes) {}

BodyDecoder::~BodyDecoder() {
    if (thread_.joinable()) thread_.join();
}

bool BodyDecoder::start() {
    try {
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        return false;
    }
    return true;
}

std::size_t BodyDecoder::wait(std::size_t want) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return done_ || produced_ >= want; });
    return produced_;
}

BodyResult BodyDecoder::finish() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    return result_;
}

std::size_t BodyDecoder::readInput(std::uint8_t* chunk) {
    if (inputLeft_ <= 0) return 0;
    const std::int64_t got = source_.read(chunk, std::min<std::int64_t>(inputLeft_, std::int64_t(kChunk)));
    if (got <= 0) return 0;
    inputLeft_ -= got;
    return std::size_t(got);
}

void BodyDecoder::publish(std::size_t produced) {
    std::lock_guard lock(mutex_);
    produced_ = produced;
    changed_.notify_all();
}

void BodyDecoder::run() {
    BodyResult result = decode();
    std::lock_guard lock(mutex_);
    result_ = std::move(result);
    produced_ = result_.produced;
    done_ = true;
    changed_.notify_all();
}

}  // namespace kestrel
