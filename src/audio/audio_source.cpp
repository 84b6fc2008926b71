#include "audio/audio_source.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "reader/sound/of_sound.h"

namespace kestrel {

OBAudio::OBAudio(int kind, std::int32_t blockSize)
    : kind_(kind), blockSize_(blockSize > 0 ? blockSize : kDefaultBlockSize) {}

OBAudio::~OBAudio() = default;

bool OBAudio::Fill(int target) {
    if (target <= 0) target = kReadAhead;
    while (int(queue_.size()) < target) {
        AudioBlockPtr block(new (std::nothrow) OBAudioBlock);
        if (!block) break;
        block->data.reset(new (std::nothrow) std::uint8_t[std::size_t(blockSize_)]);
        if (!block->data) break;
        block->length = Read(block->data.get(), blockSize_, start_, end_);
        if (block->length <= 0) break;
        try {
            queue_.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    return !queue_.empty();
}

AudioBlockPtr OBAudio::NextBlock(bool& start, bool& end, std::int32_t& offset) {
    if (int(queue_.size()) < kReadAhead) Fill(kReadAhead);
    if (queue_.empty()) {
        start = start_;
        end = end_;
        offset = 0;
        return nullptr;
    }
    AudioBlockPtr block = std::move(queue_.front());
    queue_.pop_front();
    offset = queueOffset_;
    queueOffset_ = 0;
    start = start_;
    start_ = false;
    end = end_ && queue_.empty();
    return block;
}

bool OBAudio::SeekTo(std::int32_t position) {
    const bool moved = Seek(position, 0);
    queue_.clear();
    queueOffset_ = 0;
    return moved;
}

const void* OBAudioMP3::GetFormat(std::int32_t& size) const {
    size = std::int32_t(sizeof(format_));
    return &format_;
}

OFAudioMP3::OFAudioMP3(const OFSound* sound) : sound_(sound) {}

bool OFAudioMP3::Open() {
    std::lock_guard lock(mutex_);
    if (!sound_) return false;
    const std::int64_t total = sound_->totalBytes();
    dataSize_ = std::int32_t(std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max()));
    duration_ = sound_->mp3Duration();
    format_.channels = sound_->stereo ? 2 : 1;
    format_.rate = std::int32_t(soundRateHz(sound_->rate));
    return true;
}

bool OFAudioMP3::Seek(std::int32_t& /*position*/, int /*flag*/) { return true; }

std::int32_t OFAudioMP3::Read(std::uint8_t* buffer, std::int32_t maximum, bool& start, bool& end) {
    std::lock_guard lock(mutex_);
    if (!sound_) {
        end = true;
        return 0;
    }
    const auto& blocks = sound_->blocks;
    if (blockIndex_ == 0 && blockOffset_ == 0) start = true;
    if (blockIndex_ >= blocks.size()) {
        end = true;
        return 0;
    }
    if (!buffer || maximum <= 0) return 0;

    std::size_t copied = 0;
    const std::size_t wanted = std::size_t(maximum);
    while (copied < wanted && blockIndex_ < blocks.size()) {
        const auto& data = blocks[blockIndex_].data;
        const std::size_t rest = data.size() - std::min(blockOffset_, data.size());
        const std::size_t room = wanted - copied;
        if (rest > room) {
            std::memcpy(buffer + copied, data.data() + blockOffset_, room);
            blockOffset_ += room;
            copied += room;
            break;
        }
        if (rest > 0) std::memcpy(buffer + copied, data.data() + blockOffset_, rest);
        copied += rest;
        ++blockIndex_;
        blockOffset_ = 0;
    }
    if (blockIndex_ >= blocks.size()) end = true;
    return std::int32_t(copied);
}

void OFAudioMP3::Detach() {
    std::lock_guard lock(mutex_);
    sound_ = nullptr;
}

}  // namespace kestrel
