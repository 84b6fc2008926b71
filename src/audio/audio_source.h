// Audio sources: hand out compressed sound data in fixed-size blocks, with a
// short queue of blocks read ahead. OFAudioMP3 reads the MP3 data of a sound
// collected from an SWF file.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "audio/audio_types.h"

namespace kestrel {

class OFSound;

// One block of compressed data taken from a source; `length` bytes of
// `data` are valid.
struct OBAudioBlock {
    std::unique_ptr<std::uint8_t[]> data;
    std::int32_t length = 0;
};

using AudioBlockPtr = std::unique_ptr<OBAudioBlock>;

class OBAudio {
public:
    static constexpr std::int32_t kDefaultBlockSize = 2000;
    static constexpr int kReadAhead = 10;

    // A block size of 0 or less means the default.
    OBAudio(int kind, std::int32_t blockSize);
    virtual ~OBAudio();
    OBAudio(const OBAudio&) = delete;
    OBAudio& operator=(const OBAudio&) = delete;

    // Attaches to the data and computes format, size and duration.
    virtual bool Open() = 0;
    // The format descriptor and its size in bytes.
    virtual const void* GetFormat(std::int32_t& size) const = 0;
    virtual std::int32_t GetDataSize() const = 0;
    virtual std::int32_t GetDuration() const = 0;  // milliseconds
    virtual bool Seek(std::int32_t& position, int flag) = 0;
    // Copies up to `maximum` bytes. Sets `start` when the data read begins
    // the stream (never clears it) and `end` once the last byte is out.
    virtual std::int32_t Read(std::uint8_t* buffer, std::int32_t maximum, bool& start, bool& end) = 0;

    // Tops the queue up to `target` blocks (0 means the read-ahead of 10);
    // true when the queue holds any block.
    bool Fill(int target);
    // The next block, or null when the data is exhausted. `start` is true
    // for the block that begins the stream, `end` for the last one.
    AudioBlockPtr NextBlock(bool& start, bool& end, std::int32_t& offset);
    // Seek(position, 0), then drops every queued block.
    bool SeekTo(std::int32_t position);

    int kind() const { return kind_; }
    std::int32_t blockSize() const { return blockSize_; }
    int queuedBlocks() const { return int(queue_.size()); }

private:
    int kind_;
    std::int32_t blockSize_;
    std::deque<AudioBlockPtr> queue_;
    std::int32_t queueOffset_ = 0;
    bool start_ = true;
    bool end_ = false;
};

class OBAudioMP3 : public OBAudio {
public:
    OBAudioMP3() : OBAudio(kAudioKindMp3, kDefaultBlockSize) {}

    const void* GetFormat(std::int32_t& size) const override;
    std::int32_t GetDataSize() const override { return dataSize_; }

protected:
    Mp3FormatDescriptor format_;  // 2 channels, 44100 Hz until opened
    std::int32_t dataSize_ = 0;
};

// Reads the data blocks of an MP3 sound as one byte stream. The sound is
// not owned; Detach() cuts the source off from it (every later Read reports
// the end), so that a worker that outlives its preview never touches it.
class OFAudioMP3 : public OBAudioMP3 {
public:
    explicit OFAudioMP3(const OFSound* sound);

    bool Open() override;
    std::int32_t GetDuration() const override { return duration_; }
    // Playback always continues from the current read position.
    bool Seek(std::int32_t& position, int flag) override;
    std::int32_t Read(std::uint8_t* buffer, std::int32_t maximum, bool& start, bool& end) override;

    void Detach();

private:
    mutable std::mutex mutex_;  // guards sound_ and the read position
    const OFSound* sound_;
    std::int32_t duration_ = 0;
    std::size_t blockIndex_ = 0;
    std::size_t blockOffset_ = 0;
};

}  // namespace kestrel
