#include "reader/swf_reader.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "base/byte_order.h"
#include "reader/file_io.h"
#include "reader/swf_format.h"

namespace kestrel {

namespace {

// Sprites inside sprites are not valid SWF, but files contain them; they are
// followed only this deep so that a crafted chain cannot exhaust the stack.
constexpr int kMaxSpriteDepth = 8;

constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kMinBodyBytes = 20;

}  // namespace

// Where the file's bytes come from: a file on disk or a buffer.
class SWFReader::Source {
public:
    virtual ~Source() = default;
    virtual std::int64_t read(void* destination, std::int64_t n) = 0;
    // Bytes between the current position and the end.
    virtual std::int64_t remaining() = 0;
};

class SWFReader::FileSource final : public Source {
public:
    explicit FileSource(InputFile& file) : file_(file) {}
    std::int64_t read(void* destination, std::int64_t n) override { return file_.read(destination, n); }
    std::int64_t remaining() override {
        const std::int64_t here = file_.tell();
        const std::int64_t end = file_.seek(0, InputFile::kEnd);
        file_.seek(here, InputFile::kBegin);
        return here < 0 || end < here ? 0 : end - here;
    }

private:
    InputFile& file_;
};

class SWFReader::MemorySource final : public Source {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::int64_t read(void* destination, std::int64_t n) override {
        const std::int64_t count = std::min<std::int64_t>(n, remaining());
        if (count <= 0) return 0;
        std::memcpy(destination, bytes_.data() + offset_, std::size_t(count));
        offset_ += std::size_t(count);
        return count;
    }
    std::int64_t remaining() override { return std::int64_t(bytes_.size() - offset_); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t offset_ = 0;
};

SWFReader::SWFReader(ResourceSink* sink) : sink_(sink) {}

SWFReader::~SWFReader() = default;

bool SWFReader::read(const std::string& path, ReaderProgress* progress) {
    InputFile file;
    if (!file.open(path)) {
        result_ = kReadCannotOpen;
        return false;
    }
    progress_ = progress;
    FileSource source(file);
    const bool ok = parse(source);
    file.close();
    progress_ = nullptr;
    return ok;
}

bool SWFReader::readMemory(std::span<const std::uint8_t> file, ReaderProgress* progress) {
    progress_ = progress;
    MemorySource source(file);
    const bool ok = parse(source);
    progress_ = nullptr;
    return ok;
}

void SWFReader::setDataForTesting(std::vector<std::uint8_t> bytes) {
    data_.reset(new std::uint8_t[std::max<std::size_t>(bytes.size(), 1)]);
    std::copy(bytes.begin(), bytes.end(), data_.get());
    size_ = limit_ = bytes.size();
    position_ = 0;
    bitCount_ = 0;
}

// A CWS body inflated on its own thread while the tag loop walks what is
// already there. The loop waits only when it needs bytes not yet produced;
// the outcome of the whole stream (complete, cut off, corrupt, too long) is
// known when the thread ends, and decides the result as before.
class SWFReader::Inflation {
public:
    // Body bytes are read from the source in pieces of this size.
    static constexpr std::size_t kChunk = std::size_t{256} << 10;

    Inflation(Source& source, std::int64_t length, std::uint8_t* output, std::size_t room)
        : source_(source), length_(length), output_(output), room_(room) {}
    ~Inflation() { finish(); }

    // False when the thread could not be started.
    bool start() {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (...) {
            return false;
        }
        return true;
    }

    // Waits until `want` body bytes exist or the stream has ended; the
    // number of body bytes that exist now.
    std::size_t wait(std::size_t want) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return done_ || produced_ >= want; });
        return produced_;
    }

    // Joins the thread; the body length of a complete stream, else 0.
    // `noMemory` tells whether the input buffer could not be had.
    std::size_t finish() {
        if (thread_.joinable()) thread_.join();
        return complete_ ? produced_ : 0;
    }
    bool noMemory() const { return noMemory_; }

private:
    void publish(std::size_t produced, bool done) {
        std::lock_guard lock(mutex_);
        produced_ = produced;
        done_ = done;
        changed_.notify_all();
    }

    void run() {
        std::unique_ptr<std::uint8_t[]> chunk(new (std::nothrow) std::uint8_t[kChunk]);
        z_stream zs{};
        if (!chunk || inflateInit(&zs) != Z_OK) {
            noMemory_ = !chunk;
            publish(0, true);
            return;
        }
        zs.next_out = output_;
        zs.avail_out = uInt(std::min<std::size_t>(room_, UINT_MAX));
        std::int64_t left = length_;
        for (;;) {
            if (zs.avail_in == 0) {
                const std::int64_t got =
                    left > 0 ? source_.read(chunk.get(), std::min<std::int64_t>(left, std::int64_t(kChunk))) : 0;
                if (got <= 0) break;  // the data ends before the stream does
                left -= got;
                zs.next_in = chunk.get();
                zs.avail_in = uInt(got);
            }
            const int rc = inflate(&zs, Z_NO_FLUSH);
            if (rc == Z_STREAM_END) {
                complete_ = true;
                break;
            }
            // Z_BUF_ERROR with all input used means "more input"; with input
            // left the room is full while the stream goes on. Anything else
            // but Z_OK is a corrupt stream.
            if (rc != Z_OK && !(rc == Z_BUF_ERROR && zs.avail_in == 0)) break;
            publish(std::size_t(zs.total_out), false);
        }
        const std::size_t total = std::size_t(zs.total_out);
        inflateEnd(&zs);
        publish(total, true);
    }

    Source& source_;
    std::int64_t length_;
    std::uint8_t* output_;
    std::size_t room_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t produced_ = 0;
    bool done_ = false;
    bool complete_ = false;  // written by the thread before its last publish
    bool noMemory_ = false;
};

std::size_t SWFReader::dataEnd(std::size_t want) {
    if (!inflation_ || spriteDepth_ > 0) return limit_;
    const std::size_t body = inflation_->wait(want > kHeaderBytes ? want - kHeaderBytes : 0);
    limit_ = kHeaderBytes + body;
    return limit_;
}

bool SWFReader::parse(Source& source) {
    std::uint8_t header[kHeaderBytes];
    if (source.read(header, kHeaderBytes) < std::int64_t(kHeaderBytes)) {
        result_ = kReadDamaged;
        return false;
    }
    const std::optional<Compression> compression = compressionOf(header);
    if (!compression || *compression == Compression::Lzma) {
        result_ = kReadNotSwf;
        return false;
    }
    const bool plain = *compression == Compression::None;
    version_ = header[3];
    declaredLength_ = std::int32_t(getLe32(header + 4));
    if (declaredLength_ < 21) {
        result_ = kReadDamaged;
        return false;
    }

    // Room for the body: the declared length, but never more than the data
    // present could fill (the plain body is the rest of the file; zlib
    // inflates at most about 1032 bytes per input byte). A short file that
    // declares gigabytes thus allocates only what it can use.
    const bool compressed = !plain;
    const std::int64_t available = std::max<std::int64_t>(source.remaining(), 0);
    const std::int64_t most = compressed ? available * 1032 + 1024 : available;
    const std::size_t room = std::size_t(std::min<std::int64_t>(std::int64_t(declaredLength_) - 8, most));

    data_.reset(new (std::nothrow) std::uint8_t[kHeaderBytes + room]);
    if (!data_) {
        result_ = kReadOutOfMemory;
        return false;
    }
    std::memcpy(data_.get(), header, kHeaderBytes);

    position_ = kHeaderBytes;
    if (plain) {
        const std::int64_t n = source.read(data_.get() + kHeaderBytes, std::int64_t(room));
        size_ = limit_ = kHeaderBytes + std::size_t(std::max<std::int64_t>(n, 0));
        return walk();
    }

    Inflation inflation(source, available, data_.get() + kHeaderBytes, room);
    if (!inflation.start()) {
        result_ = kReadOutOfMemory;
        return false;
    }
    inflation_ = &inflation;
    const bool walked = walk();
    const std::size_t n = inflation.finish();
    inflation_ = nullptr;
    if (inflation.noMemory()) {
        result_ = kReadOutOfMemory;
        return false;
    }
    // A body that is cut off, corrupt or longer than declared spoils the
    // whole file, whatever the walk already found.
    if (n < kMinBodyBytes) {
        result_ = kReadDamaged;
        return false;
    }
    return walked;
}

// The header fields after the signature, then the main timeline.
bool SWFReader::walk() {
    // The frame RECT, rate and count take at most 21 bytes.
    const std::size_t end = dataEnd(kHeaderBytes + 32);
    if (end - kHeaderBytes < kMinBodyBytes) {
        if (!inflation_) result_ = kReadDamaged;
        return false;
    }
    readRect();
    frameRate_ = float(readU16()) * (1.0f / 256.0f);
    frameCount_ = readU16();
    if (progress_) {
        progress_->setStepCount(frameCount_);
        progress_->setPosition(0);
    }
    reportProgress_ = true;
    tagLoop(frameCount_);
    return true;
}

bool SWFReader::tagLoop(std::uint16_t frameLimit) {
    const std::size_t soundsAtEntry = pendingSounds_.size();
    std::size_t end = limit_;  // this timeline's data ends here
    std::uint16_t frame = 0;
    bool stop = false;
    while (!stop && position_ + 2 <= (end = dataEnd(position_ + 6))) {
        if (progress_) {
            progress_->setBodyPosition(position_, std::uint64_t(std::max<std::int32_t>(declaredLength_, 0)));
            if (progress_->cancelled()) {
                result_ = kReadCancelled;
                return false;
            }
        }
        const std::size_t start = position_;
        const TagHeader tag = readTagHeader();
        // Measured from the tag's header, as files in the wild expect.
        if (std::uint64_t(start) + tag.length > (end = dataEnd(start + tag.length))) break;
        const std::uint64_t next = std::uint64_t(position_) + tag.length;
        end = dataEnd(std::size_t(next));
        limit_ = std::size_t(std::min<std::uint64_t>(next, end));
        dispatch(tag, frame, stop);
        limit_ = end;
        if (result_ != kReadOk && result_ != kReadSomeFailed) return false;
        position_ = std::size_t(next);
        bitCount_ = 0;
        if (frame > frameLimit) break;
    }
    while (pendingSounds_.size() > soundsAtEntry) {
        std::unique_ptr<OFSound> sound = std::move(pendingSounds_.back());
        pendingSounds_.pop_back();
        sink_->addSound(std::move(sound));
    }
    return true;
}

void SWFReader::dispatch(const TagHeader& tag, std::uint16_t& frame, bool& stop) {
    switch (TagCode(tag.code)) {
        case TagCode::End: stop = true; break;
        case TagCode::ShowFrame:
            ++frame;
            if (reportProgress_ && progress_) progress_->setPosition(frame + 1);
            break;
        case TagCode::DefineBits: handleDefineBits(frame, tag.length); break;
        case TagCode::JpegTables: handleJpegTables(); break;
        case TagCode::DefineSound: handleDefineSound(frame, tag.length); break;
        case TagCode::SoundStreamHead:
        case TagCode::SoundStreamHead2: handleSoundStreamHead(frame); break;
        case TagCode::SoundStreamBlock: handleSoundStreamBlock(tag.length); break;
        case TagCode::DefineBitsLossless: handleDefineBitsLossless(frame, tag.length, false); break;
        case TagCode::DefineBitsJpeg2: handleDefineBitsJpeg(frame, tag.length, false); break;
        case TagCode::DefineBitsJpeg3: handleDefineBitsJpeg(frame, tag.length, true); break;
        case TagCode::DefineBitsLossless2: handleDefineBitsLossless(frame, tag.length, true); break;
        case TagCode::DefineSprite: handleSprite(); break;
        // Named but not read (yet): names, video, embedded data, JPEG4.
        case TagCode::ExportAssets:
        case TagCode::DefineVideoStream:
        case TagCode::VideoFrame:
        case TagCode::SymbolClass:
        case TagCode::DefineBinaryData:
        case TagCode::DefineBitsJpeg4: break;
    }
}

std::span<std::uint8_t> SWFReader::body() {
    if (position_ >= limit_) return {};
    return {data_.get() + position_, limit_ - position_};
}

void SWFReader::handleSprite() {
    if (spriteDepth_ >= kMaxSpriteDepth) return;
    readU16();  // sprite id
    const std::uint16_t frames = readU16();
    const bool saved = reportProgress_;
    reportProgress_ = false;
    ++spriteDepth_;
    const bool ok = tagLoop(frames);
    --spriteDepth_;
    if (ok) reportProgress_ = saved;
}

// --- images ---------------------------------------------------------------

void SWFReader::handOver(DecodedImage decoded, std::uint16_t frame, std::uint32_t length) {
    if (decoded.code != 0 || !decoded.picture) {
        result_ = decoded.code == kReadDamaged ? kReadDamaged : kReadSomeFailed;
        return;
    }
    ImageExtras extras;
    extras.premultiplied = decoded.premultiplied;
    extras.jpegData = std::move(decoded.jpegData);
    sink_->addImage(frame, std::move(decoded.picture), decoded.isJpeg, length, std::move(extras));
}

void SWFReader::handleJpegTables() {
    if (!tablesDecoder_) {
        tablesDecoder_ = std::make_unique<JpegTablesDecoder>();
    }
    if (!tablesDecoder_->ok() || !tablesDecoder_->loadTables(body())) {
        tablesDecoder_.reset();
        result_ = kReadSomeFailed;
    }
}

void SWFReader::handleDefineBits(std::uint16_t frame, std::uint32_t length) {
    if (!tablesDecoder_) {
        result_ = kReadSomeFailed;
        return;
    }
    handOver(tablesDecoder_->decodeDefineBits(body()), frame, length);
}

void SWFReader::handleDefineBitsJpeg(std::uint16_t frame, std::uint32_t length, bool withAlpha) {
    handOver(decodeDefineBitsJpeg(body(), withAlpha), frame, length);
}

void SWFReader::handleDefineBitsLossless(std::uint16_t frame, std::uint32_t length, bool withAlpha) {
    handOver(decodeDefineBitsLossless(body(), withAlpha), frame, length);
}

// --- sounds ---------------------------------------------------------------

bool SWFReader::addBlock(OFSound& sound, std::size_t n) {
    if (sound.format == SoundFormat::Mp3) {
        if (n < 2) return true;
        readU16();  // SeekSamples
        n -= 2;
    }
    if (n == 0) return true;
    try {
        OFSoundBlock block;
        block.data.resize(n);
        readBytes(n, block.data.data());
        sound.blocks.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void SWFReader::handleDefineSound(std::uint16_t frame, std::uint32_t length) {
    if (length < 8) return;
    readU16();  // sound id
    auto sound = std::make_unique<OFSound>();
    sound->format = SoundFormat(readBits(4));
    if (sound->format == SoundFormat::UncompressedLE) return;
    sound->rate = sound->playbackRate = std::uint8_t(readBits(2));
    sound->is16Bit = sound->playback16Bit = readBits(1) != 0;
    sound->stereo = sound->playbackStereo = readBits(1) != 0;
    readU32();  // sample count
    sound->frame = frame;
    if (!addBlock(*sound, length - 7)) return;
    sink_->addSound(std::move(sound));
}

void SWFReader::handleSoundStreamHead(std::uint16_t frame) {
    auto sound = std::make_unique<OFSound>();
    readBits(4);  // reserved
    sound->playbackRate = std::uint8_t(readBits(2));
    sound->playback16Bit = readBits(1) != 0;
    sound->playbackStereo = readBits(1) != 0;
    sound->format = SoundFormat(readBits(4));
    if (sound->format == SoundFormat::UncompressedLE) return;
    sound->rate = std::uint8_t(readBits(2));
    sound->is16Bit = readBits(1) != 0;
    sound->stereo = readBits(1) != 0;
    readU16();  // average sample count
    sound->frame = frame;
    try {
        pendingSounds_.push_back(std::move(sound));
    } catch (const std::bad_alloc&) {}
}

void SWFReader::handleSoundStreamBlock(std::uint32_t length) {
    if (pendingSounds_.empty()) return;
    OFSound& sound = *pendingSounds_.back();
    std::size_t n = length;
    if (sound.format == SoundFormat::Mp3) {
        readU16();  // sample count
        if (length < 2) return;
        n = length - 2;
    }
    if (n > 0) addBlock(sound, n);
}

// --- primitives -----------------------------------------------------------

std::uint8_t SWFReader::readU8() {
    bitCount_ = 0;
    if (position_ < limit_) return data_[position_++];
    return 0;
}

std::uint16_t SWFReader::readU16() {
    if (position_ >= limit_ || limit_ - position_ < 2) return 0;
    bitCount_ = 0;
    const std::uint8_t* p = data_.get() + position_;
    position_ += 2;
    return getLe16(p);
}

std::uint32_t SWFReader::readU32() {
    if (position_ >= limit_ || limit_ - position_ < 4) return 0;
    bitCount_ = 0;
    const std::uint8_t* p = data_.get() + position_;
    position_ += 4;
    return getLe32(p);
}

std::size_t SWFReader::readBytes(std::size_t n, std::uint8_t* destination) {
    bitCount_ = 0;
    const std::size_t available = position_ < limit_ ? limit_ - position_ : 0;
    const std::size_t count = std::min(n, available);
    if (count > 0) std::memcpy(destination, data_.get() + position_, count);
    position_ += count;
    if (n > count) std::memset(destination + count, 0, n - count);
    return count;
}

std::uint32_t SWFReader::readBits(int n) {
    std::uint64_t value = 0;
    int wanted = std::clamp(n, 0, 32);
    while (wanted > 0) {
        if (bitCount_ == 0) {
            bitValue_ = position_ < limit_ ? data_[position_++] : 0;
            bitCount_ = 8;
        }
        const int take = std::min(wanted, bitCount_);
        const std::uint32_t shift = std::uint32_t(bitCount_ - take);
        value = (value << take) | ((bitValue_ >> shift) & ((1u << take) - 1));
        bitCount_ -= take;
        bitValue_ &= (1u << bitCount_) - 1;
        wanted -= take;
    }
    return std::uint32_t(value);
}

std::int32_t SWFReader::readSignedBits(int n) {
    if (n <= 0) return 0;
    n = std::min(n, 32);
    const std::uint64_t value = readBits(n);
    const std::uint64_t sign = std::uint64_t{1} << (n - 1);
    return std::int32_t(std::int64_t(value ^ sign) - std::int64_t(sign));
}

SwfRect SWFReader::readRect() {
    bitCount_ = 0;
    const int nbits = int(readBits(5));
    SwfRect r;
    r.xMin = readSignedBits(nbits);
    r.xMax = readSignedBits(nbits);
    r.yMin = readSignedBits(nbits);
    r.yMax = readSignedBits(nbits);
    return r;
}

TagHeader SWFReader::readTagHeader() {
    const std::uint16_t h = readU16();
    TagHeader tag;
    tag.code = std::uint16_t(h >> 6);
    tag.length = h & 0x3F;
    if (tag.length == 0x3F) tag.length = readU32();
    return tag;
}

}  // namespace kestrel
