// Decompression of a movie's body (everything after the 8-byte header) on
// a thread of its own, so that the tag loop can walk the bytes already
// produced while the rest is still being decoded. One implementation per
// compressed signature: zlib for "CWS", LZMA for "ZWS".
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "reader/swf_format.h"

namespace kestrel {

// Where the compressed bytes come from: a file or a buffer, positioned
// just after the header the reader has consumed.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to n bytes; 0 at the end, negative on an error.
    virtual std::int64_t read(void* destination, std::int64_t n) = 0;
    // Bytes between the current position and the end.
    virtual std::int64_t remaining() = 0;
};

// How a body stream ended.
enum class BodyOutcome {
    Complete,  // the stream ended (or, for LZMA, produced the declared length)
    CutShort,  // the input ended before the stream did
    Corrupt,   // the decoder rejected the data
    TooLong,   // the stream goes on past the declared length
    NoMemory,  // the decoder's own memory could not be had
};

struct BodyResult {
    BodyOutcome outcome = BodyOutcome::Complete;
    std::size_t produced = 0;  // body bytes decoded, usable whatever the outcome
    std::string reason;        // empty when complete: "zlib stream cut short", ...
};

class BodyDecoder {
public:
    // Compressed bytes are read from the source in pieces of this size.
    static constexpr std::size_t kChunk = std::size_t{256} << 10;

    // A decoder for a compressed body, or null for Compression::None.
    // `header` holds the bytes of the format's own header that follow the
    // 8-byte file header (LZMA: 4-byte compressed length and 5 property
    // bytes; zlib: none). `expected` is the declared body length. The
    // decoder reads at most `inputBytes` from the source and writes at most
    // `room` bytes to `output`.
    static std::unique_ptr<BodyDecoder> create(Compression compression, const std::uint8_t* header,
                                               std::size_t expected, ByteSource& source, std::int64_t inputBytes,
                                               std::uint8_t* output, std::size_t room);

    // Bytes of format header after the 8-byte file header: 9 for LZMA.
    static std::size_t extraHeaderBytes(Compression compression);

    // The most body bytes `inputBytes` compressed bytes can hold. zlib
    // produces at most 1032 bytes per input byte. LZMA's densest code is a
    // repeated longest match (273 bytes) in 14 range-coder decisions at the
    // coder's most confident probability (2017/2048, 0.022 bits each): about
    // 7,090 bytes per input byte, which a 200 MB run of zeros reaches. The
    // bound allows 7,200, plus a little for the coder's start.
    static std::int64_t outputBound(Compression compression, std::int64_t inputBytes);

    virtual ~BodyDecoder();
    BodyDecoder(const BodyDecoder&) = delete;
    BodyDecoder& operator=(const BodyDecoder&) = delete;

    // Starts the thread; false when it could not be started.
    bool start();
    // Waits until `want` body bytes exist or the stream has ended; the
    // number of body bytes that exist now.
    std::size_t wait(std::size_t want);
    // Joins the thread and tells how the stream ended.
    BodyResult finish();

protected:
    BodyDecoder(ByteSource& source, std::int64_t inputBytes, std::uint8_t* output, std::size_t room);

    // The decoding loop, run on the thread: reads with readInput, reports
    // with publish, and returns how the stream ended.
    virtual BodyResult decode() = 0;

    // Next piece of input into `chunk`; 0 when the input is used up.
    std::size_t readInput(std::uint8_t* chunk);
    void publish(std::size_t produced);

    std::uint8_t* const output_;
    const std::size_t room_;

private:
    void run();

    ByteSource& source_;
    std::int64_t inputLeft_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t produced_ = 0;
    bool done_ = false;
    BodyResult result_;  // written by the thread before done_ is set
};

}  // namespace kestrel
