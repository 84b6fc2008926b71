#include "reader/swf_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "base/byte_order.h"
#include "base/memory_budget.h"
#include "reader/embedded_image.h"
#include "reader/file_io.h"
#include "reader/picture/gif_codec.h"
#include "reader/picture/jpeg_codec.h"
#include "reader/picture/png_codec.h"
#include "reader/swf_format.h"

namespace kestrel {

namespace {

// Sprites inside sprites are not valid SWF, but files contain them; they are
// followed only this deep so that a crafted chain cannot exhaust the stack.
constexpr int kMaxSpriteDepth = 8;

constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kMinBodyBytes = 20;

// Where a problem of a nested movie lies in it: "body at offset 5000",
// "DefineBitsJPEG2 at offset 345".
std::string placeOf(const Problem& problem) {
    std::string where;
    if (problem.tag == 0) {
        where = problem.offset < kHeaderBytes ? "header" : "body";
    } else if (const char* name = tagName(TagCode(problem.tag))) {
        where = name;
    } else {
        where = "tag " + std::to_string(problem.tag);
    }
    return where + " at offset " + std::to_string(problem.offset);
}

bool isJpegFile(std::span<const std::uint8_t> data) {
    return data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

bool isPngOrGifFile(std::span<const std::uint8_t> data) {
    switch (embeddedKind(data)) {
        case EmbeddedKind::Png: return true;
        case EmbeddedKind::Gif: return data[4] == '7' || data[4] == '9';
        case EmbeddedKind::Jpeg: return false;
    }
    return false;
}

// Bounds on what names may cost: a movie can repeat an id in as many tags
// as it likes, and a sprite's names go to each of its stream sounds.
// Movies in the wild use a few kilobytes; names past these are dropped.
constexpr std::size_t kMaxNamesPerId = 256;
constexpr std::size_t kMaxNameBytes = std::size_t(16) << 20;       // kept while reading
constexpr std::size_t kMaxDeliveredBytes = std::size_t(64) << 20;  // handed to the sink
constexpr std::size_t kNameOverhead = sizeof(std::string);

}  // namespace

// Hands a nested movie's resources to the sink of the movie holding it,
// marked with the DefineBinaryData they come from; their ordinals follow
// the resources handed over before the nested read began.
class SWFReader::NestedSink final : public ResourceSink {
public:
    NestedSink(ResourceSink* outer, std::string container, std::size_t firstOrdinal)
        : outer_(outer), container_(std::move(container)), first_(firstOrdinal) {}

    void addImage(std::uint16_t frame, std::unique_ptr<OBPicture> picture, bool isJpeg, std::uint32_t bodyLength,
                  ImageExtras extras) override {
        mark(extras.origin);
        outer_->addImage(frame, std::move(picture), isJpeg, bodyLength, std::move(extras));
    }
    void addSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin) override {
        mark(origin);
        outer_->addSound(std::move(sound), std::move(origin));
    }
    void addVideo(std::unique_ptr<OFVideo> video, ResourceOrigin origin) override {
        mark(origin);
        outer_->addVideo(std::move(video), std::move(origin));
    }
    void setNames(std::size_t ordinal, std::vector<std::string> names) override {
        outer_->setNames(first_ + ordinal, std::move(names));
    }

private:
    void mark(ResourceOrigin& origin) const {
        origin.container = origin.container.empty() ? container_ : container_ + "/" + origin.container;
    }

    ResourceSink* outer_;
    std::string container_;
    std::size_t first_;
};

// A nested movie is read after the file's own tags, when the progress has
// run its course: it reports no steps, but stops when the file's read is
// cancelled.
class SWFReader::NestedProgress final : public ReaderProgress {
public:
    explicit NestedProgress(ReaderProgress* outer) : outer_(outer) {}
    void setStepCount(int) override {}
    void setPosition(int) override {}
    bool cancelled() override { return outer_->cancelled(); }

private:
    ReaderProgress* outer_;
};

class SWFReader::FileSource final : public ByteSource {
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

class SWFReader::MemorySource final : public ByteSource {
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

SWFReader::~SWFReader() {
    data_.reset();
    if (chargedBytes_ > 0) MemoryBudget::release(chargedBytes_);
}

namespace {

// Pictures decoded ahead of the one being handed over, per thread.
constexpr std::size_t kAheadPerThread = 4;

}  // namespace

bool SWFReader::read(const std::string& path, ReaderProgress* progress) {
    InputFile file;
    if (!file.open(path)) {
        result_ = kReadCannotOpen;
        return false;
    }
    progress_ = progress;
    FileSource source(file);
    const bool ok = parse(source);
    deliverNames();
    file.close();
    progress_ = nullptr;
    return ok;
}

bool SWFReader::readMemory(std::span<const std::uint8_t> file, ReaderProgress* progress) {
    progress_ = progress;
    MemorySource source(file);
    const bool ok = parse(source);
    deliverNames();
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

std::size_t SWFReader::dataEnd(std::size_t want) {
    if (!decoder_ || spriteDepth_ > 0) return limit_;
    const std::size_t body = decoder_->wait(want > kHeaderBytes ? want - kHeaderBytes : 0);
    limit_ = kHeaderBytes + body;
    return limit_;
}

void SWFReader::report(std::uint16_t tag, std::uint64_t offset, const TagStatus& status) {
    if (status.isOk() || discarding_) return;
    if (!pending_.empty()) {
        try {
            Pending entry;
            entry.kind = Pending::Kind::Problem;
            entry.tag = tag;
            entry.offset = offset;
            entry.status = status;
            pending_.push_back(std::move(entry));
            return;
        } catch (const std::bad_alloc&) {
            drainPending(true);
        }
    }
    applyReport(tag, offset, status);
}

void SWFReader::applyReport(std::uint16_t tag, std::uint64_t offset, const TagStatus& status) {
    if (status.isOk()) return;
    try {
        problems_.push_back({tag, offset, status.reason});
    } catch (const std::bad_alloc&) {}
    // A stop (2) or want of memory (4) outranks a failed resource (3).
    if (status.code == kReadSomeFailed) {
        if (result_ == kReadOk) result_ = kReadSomeFailed;
    } else if (result_ == kReadOk || result_ == kReadSomeFailed) {
        result_ = status.code;
    }
}

ResourceOrigin SWFReader::origin(std::int32_t characterId) const {
    ResourceOrigin o;
    o.tag = tagCode_;
    o.characterId = characterId;
    o.timeline = timeline_;
    o.offset = tagOffset_;
    return o;
}

bool SWFReader::parse(ByteSource& source) {
    const int threads = threads_ > 0 ? threads_ : TaskPool::defaultThreads();
    if (threads > 1) {
        pool_.reset(new (std::nothrow) TaskPool(threads));
    }
    const bool ok = parseMovie(source);
    if (root_ != this) reportToRoot();
    readNestedMovies();
    return ok;
}

bool SWFReader::allocateBody(std::size_t bytes) {
    if (root_ != this) {
        // Nested bodies are held against the memory budget and, together,
        // may not take more than it allows: a few kilobytes of compressed
        // movies inside one another could otherwise expand without end.
        const std::uint64_t total = root_->nestedBodyBytes_ + bytes;
        if (total > std::uint64_t(std::max<std::int64_t>(MemoryBudget::limit(), 0)) ||
            !MemoryBudget::charge(std::int64_t(bytes))) {
            report(0, kHeaderBytes, {kReadOutOfMemory, "not enough memory for the body"});
            return false;
        }
        root_->nestedBodyBytes_ = total;
        chargedBytes_ = std::int64_t(bytes);
    }
    data_.reset(new (std::nothrow) std::uint8_t[bytes]);
    if (!data_) {
        report(0, kHeaderBytes, {kReadOutOfMemory, "out of memory for the body"});
        return false;
    }
    return true;
}

bool SWFReader::parseMovie(ByteSource& source) {
    std::uint8_t header[kHeaderBytes];
    if (source.read(header, kHeaderBytes) < std::int64_t(kHeaderBytes)) {
        report(0, 0, TagStatus::stop("header cut short"));
        return false;
    }
    const std::optional<Compression> compression = compressionOf(header);
    if (!compression) {
        result_ = kReadNotSwf;
        return false;
    }
    compressed_ = *compression != Compression::None;
    version_ = header[3];
    declaredLength_ = std::int32_t(getLe32(header + 4));
    if (declaredLength_ < 21) {
        report(0, 4, TagStatus::stop("declared length out of range"));
        return false;
    }
    if (*compression != Compression::None) return decodeBody(*compression, source, header);

    // A plain body is the rest of the file, but never more than declared; a
    // short file that declares gigabytes thus allocates only what it has.
    const std::int64_t available = std::max<std::int64_t>(source.remaining(), 0);
    const std::size_t room = std::size_t(std::min<std::int64_t>(std::int64_t(declaredLength_) - 8, available));
    if (!allocateBody(kHeaderBytes + room)) return false;
    std::memcpy(data_.get(), header, kHeaderBytes);
    position_ = kHeaderBytes;
    const std::int64_t n = source.read(data_.get() + kHeaderBytes, std::int64_t(room));
    size_ = limit_ = kHeaderBytes + std::size_t(std::max<std::int64_t>(n, 0));
    return walk();
}

// A compressed body is decoded on its own thread while the tag loop walks
// what is already there. However the stream ends, the tags in the part
// that was decoded are read as those of a plain file that is shorter than
// declared, and a stream that does not end cleanly makes the result 2.
bool SWFReader::decodeBody(Compression compression, ByteSource& source, const std::uint8_t* header) {
    std::uint8_t extra[16] = {};
    const std::size_t extraBytes = BodyDecoder::extraHeaderBytes(compression);
    if (source.read(extra, std::int64_t(extraBytes)) < std::int64_t(extraBytes)) {
        report(0, kHeaderBytes, TagStatus::stop("compression header cut short"));
        return false;
    }
    // Room for the body: the declared length, but never more than the data
    // present could fill, so that a short file that declares gigabytes
    // allocates only what it can use.
    const std::int64_t available = std::max<std::int64_t>(source.remaining(), 0);
    const std::size_t expected = std::size_t(declaredLength_) - kHeaderBytes;
    const std::size_t room =
        std::size_t(std::min<std::int64_t>(std::int64_t(expected), BodyDecoder::outputBound(compression, available)));
    if (!allocateBody(kHeaderBytes + room)) return false;
    std::memcpy(data_.get(), header, kHeaderBytes);
    position_ = kHeaderBytes;

    const std::unique_ptr<BodyDecoder> decoder =
        BodyDecoder::create(compression, extra, expected, source, available, data_.get() + kHeaderBytes, room);
    if (!decoder || !decoder->start()) {
        report(0, kHeaderBytes, {kReadOutOfMemory, "out of memory for the body decoder"});
        return false;
    }
    decoder_ = decoder.get();
    walk();
    const BodyResult body = decoder->finish();
    decoder_ = nullptr;
    size_ = limit_ = kHeaderBytes + body.produced;
    switch (body.outcome) {
        case BodyOutcome::Complete: break;
        case BodyOutcome::NoMemory:
            report(0, kHeaderBytes + body.produced, {kReadOutOfMemory, body.reason});
            return false;
        case BodyOutcome::CutShort:
        case BodyOutcome::Corrupt:
        case BodyOutcome::TooLong: report(0, kHeaderBytes + body.produced, TagStatus::stop(body.reason)); return false;
    }
    if (body.produced < kMinBodyBytes) {
        report(0, kHeaderBytes + body.produced, TagStatus::stop("body too short"));
        return false;
    }
    return result_ == kReadOk || result_ == kReadSomeFailed;
}

// The header fields after the signature, then the main timeline.
bool SWFReader::walk() {
    // The frame RECT, rate and count take at most 21 bytes.
    const std::size_t end = dataEnd(kHeaderBytes + 32);
    if (end - kHeaderBytes < kMinBodyBytes) {
        // A compressed body reports this once its decoder is done.
        if (!decoder_) report(0, end, TagStatus::stop("body too short"));
        return false;
    }
    readRect();
    frameRate88_ = readU16();
    frameRate_ = float(frameRate88_) * (1.0f / 256.0f);
    frameCount_ = readU16();
    if (progress_) {
        progress_->setStepCount(frameCount_);
        progress_->setPosition(0);
    }
    reportProgress_ = true;
    const bool finished = tagLoop(frameCount_);
    finishPending();
    if (finished || result_ != kReadCancelled) handOverVideos();
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
        tagCode_ = tag.code;
        tagOffset_ = start;
        tagBody_ = position_;
        // Measured from the tag's header, as files in the wild expect.
        if (std::uint64_t(start) + tag.length > (end = dataEnd(start + tag.length))) break;
        const std::uint64_t next = std::uint64_t(position_) + tag.length;
        end = dataEnd(std::size_t(next));
        limit_ = std::size_t(std::min<std::uint64_t>(next, end));
        const TagStatus status = dispatch(tag, frame, stop);
        limit_ = end;
        report(tag.code, start, status);
        if (!pending_.empty()) drainPending(false);
        if (result_ != kReadOk && result_ != kReadSomeFailed) return false;
        position_ = std::size_t(next);
        bitCount_ = 0;
        if (frame > frameLimit) break;
    }
    while (pendingSounds_.size() > soundsAtEntry) {
        PendingSound pending = std::move(pendingSounds_.back());
        pendingSounds_.pop_back();
        handOverSound(std::move(pending.sound), std::move(pending.origin));
    }
    return true;
}

TagStatus SWFReader::dispatch(const TagHeader& tag, std::uint16_t& frame, bool& stop) {
    switch (TagCode(tag.code)) {
        case TagCode::End: stop = true; break;
        case TagCode::ShowFrame:
            ++frame;
            if (reportProgress_ && progress_) progress_->setPosition(frame + 1);
            break;
        case TagCode::DefineBits: return handleDefineBits(frame, tag.length);
        case TagCode::JpegTables: return handleJpegTables();
        case TagCode::DefineSound: return handleDefineSound(frame, tag.length);
        case TagCode::SoundStreamHead:
        case TagCode::SoundStreamHead2: return handleSoundStreamHead(frame, TagCode(tag.code));
        case TagCode::SoundStreamBlock: return handleSoundStreamBlock(tag.length);
        case TagCode::DefineBitsLossless: return handleDefineBitsLossless(frame, tag.length, false);
        case TagCode::DefineBitsJpeg2: return handleDefineBitsJpeg(frame, tag.length, false);
        case TagCode::DefineBitsJpeg3: return handleDefineBitsJpeg(frame, tag.length, true);
        case TagCode::DefineBitsLossless2: return handleDefineBitsLossless(frame, tag.length, true);
        case TagCode::DefineSprite: return handleSprite();
        case TagCode::DefineBitsJpeg4:
            return decodeImage([body = body()] { return decodeDefineBitsJpeg4(body); }, frame, tag.length);
        case TagCode::DefineBinaryData: return handleBinaryData(frame, tag.length);
        case TagCode::DefineVideoStream: return handleDefineVideoStream(frame, tag.length);
        case TagCode::VideoFrame: return handleVideoFrame(tag.length);
        case TagCode::ExportAssets:
        case TagCode::SymbolClass: handleNames(); break;
    }
    return TagStatus::ok();
}

std::span<std::uint8_t> SWFReader::body() {
    if (position_ >= limit_) return {};
    return {data_.get() + position_, limit_ - position_};
}

TagStatus SWFReader::handleSprite() {
    if (spriteDepth_ >= kMaxSpriteDepth) return TagStatus::ok();
    const std::uint16_t id = readU16();
    const std::uint16_t frames = readU16();
    const bool saved = reportProgress_;
    const std::uint16_t outer = timeline_;
    reportProgress_ = false;
    timeline_ = id;
    ++spriteDepth_;
    const bool ok = tagLoop(frames);
    --spriteDepth_;
    timeline_ = outer;
    if (ok) reportProgress_ = saved;
    // The sprite's own tags have reported their problems.
    return TagStatus::ok();
}

// --- images ---------------------------------------------------------------

ImageExtras SWFReader::extrasHere(std::uint32_t length) const {
    ImageExtras extras;
    // Every bitmap tag starts with its character id.
    extras.origin = origin(length >= 2 && tagBody_ + 2 <= limit_ ? std::int32_t(getLe16(data_.get() + tagBody_)) : -1);
    return extras;
}

SWFReader::Pending SWFReader::imageEntry(std::uint16_t frame, std::uint32_t length, ImageExtras extras) {
    Pending entry;
    entry.kind = Pending::Kind::Image;
    entry.job = std::make_shared<ImageJob>();
    entry.frame = frame;
    entry.length = length;
    entry.extras = std::move(extras);
    return entry;
}

TagStatus SWFReader::handOver(DecodedImage decoded, std::uint16_t frame, std::uint32_t length) {
    if (discarding_) return TagStatus::ok();
    if (!pending_.empty()) {
        try {
            Pending entry = imageEntry(frame, length, extrasHere(length));
            entry.job->result = std::move(decoded);
            pending_.push_back(std::move(entry));
            ++pendingImages_;
            return TagStatus::ok();
        } catch (const std::bad_alloc&) {
            drainPending(true);
        }
    }
    return handOverImage(std::move(decoded), frame, length, extrasHere(length));
}

TagStatus SWFReader::handOverImage(DecodedImage decoded, std::uint16_t frame, std::uint32_t length,
                                   ImageExtras extras) {
    if (decoded.code != 0 || !decoded.picture) {
        std::string reason = decoded.reason.empty() ? "image could not be decoded" : std::move(decoded.reason);
        return decoded.code == kReadDamaged ? TagStatus::stop(std::move(reason)) : TagStatus::failed(std::move(reason));
    }
    extras.premultiplied = decoded.premultiplied;
    extras.jpegData = std::move(decoded.jpegData);
    extras.deblocking = decoded.deblocking;
    noteHandOver(extras.origin.characterId);
    sink_->addImage(frame, std::move(decoded.picture), decoded.isJpeg, length, std::move(extras));
    return TagStatus::ok();
}

TagStatus SWFReader::decodeImage(std::function<DecodedImage()> decode, std::uint16_t frame, std::uint32_t length) {
    if (!pool_) return handOver(decode(), frame, length);
    if (discarding_) return TagStatus::ok();
    ImageExtras extras = extrasHere(length);

    // Room for one more: the oldest waiting pictures are handed over first.
    const std::size_t most = kAheadPerThread * std::size_t(pool_->threads());
    while (pendingImages_ >= most && !pending_.empty()) {
        Pending& front = pending_.front();
        if (front.task) pool_->wait(front.task);
        drainPending(false);
    }
    if (discarding_) return TagStatus::ok();

    try {
        Pending entry = imageEntry(frame, length, std::move(extras));
        entry.job->decode = std::move(decode);
        entry.task = pool_->submit([job = entry.job, this] {
            try {
                job->result = job->decode();
            } catch (const std::bad_alloc&) {
                job->result = {};
                job->dropped = true;  // decoded again in order, where the failure shows as it would there
                return;
            }
            if (!job->result.picture) return;
            const std::int64_t bytes = std::int64_t(job->result.picture->stride()) * job->result.picture->height();
            std::lock_guard lock(heldMutex_);
            if (heldBytes_ + bytes > MemoryBudget::limit() - MemoryBudget::inUse()) {
                job->result = {};
                job->dropped = true;
                return;
            }
            heldBytes_ += bytes;
            job->heldBytes = bytes;
        });
        if (!entry.task) {
            entry.job->dropped = true;
        }
        pending_.push_back(std::move(entry));
        ++pendingImages_;
    } catch (const std::bad_alloc&) {
        return TagStatus::failed("out of memory for the picture");
    }
    return TagStatus::ok();
}

void SWFReader::handOverSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin) {
    if (discarding_) return;
    if (!pending_.empty()) {
        try {
            Pending entry;
            entry.kind = Pending::Kind::Sound;
            entry.sound = std::move(sound);
            entry.origin = std::move(origin);
            pending_.push_back(std::move(entry));
            return;
        } catch (const std::bad_alloc&) {
            drainPending(true);
        }
    }
    deliverSound(std::move(sound), std::move(origin));
}

void SWFReader::applyPending(Pending& entry) {
    switch (entry.kind) {
        case Pending::Kind::Problem: applyReport(entry.tag, entry.offset, entry.status); break;
        case Pending::Kind::Sound: deliverSound(std::move(entry.sound), std::move(entry.origin)); break;
        case Pending::Kind::Image: {
            ImageJob& job = *entry.job;
            if (entry.task) pool_->wait(entry.task);
            if (job.dropped) job.result = job.decode();
            if (job.heldBytes > 0) {
                std::lock_guard lock(heldMutex_);
                heldBytes_ -= job.heldBytes;
            }
            const std::uint16_t tag = entry.extras.origin.tag;
            const std::uint64_t offset = entry.extras.origin.offset;
            const TagStatus status =
                handOverImage(std::move(job.result), entry.frame, entry.length, std::move(entry.extras));
            applyReport(tag, offset, status);
            break;
        }
    }
}

void SWFReader::drainPending(bool all) {
    while (!pending_.empty()) {
        Pending& front = pending_.front();
        if (!all && front.task && !pool_->done(front.task)) return;
        Pending entry = std::move(front);
        pending_.pop_front();
        if (entry.kind == Pending::Kind::Image) --pendingImages_;
        const int before = result_;
        applyPending(entry);
        if (result_ != before && result_ != kReadSomeFailed) {
            // The read ends at this picture: what was read after it was
            // read too early. (No decoder stops a read today; the tag walk
            // only runs ahead of the pictures, never of the other stops.)
            discarding_ = true;
            pool_->discardQueued();
            pending_.clear();
            pendingImages_ = 0;
            std::lock_guard lock(heldMutex_);
            heldBytes_ = 0;
            return;
        }
    }
}

void SWFReader::finishPending() {
    // A cancelled read, too, hands over what was read before it stopped.
    drainPending(true);
    discarding_ = false;
}

TagStatus SWFReader::handleJpegTables() {
    if (!tablesDecoder_) {
        tablesDecoder_ = std::make_unique<JpegTablesDecoder>();
    }
    if (!tablesDecoder_->ok() || !tablesDecoder_->loadTables(body())) {
        tablesDecoder_.reset();
        return TagStatus::failed("JPEG tables could not be read");
    }
    return TagStatus::ok();
}

TagStatus SWFReader::handleDefineBits(std::uint16_t frame, std::uint32_t length) {
    if (!tablesDecoder_) return TagStatus::failed("no usable JPEGTables before DefineBits");
    if (pool_) {
        if (auto detached = tablesDecoder_->detachedDefineBits(body())) {
            return decodeImage(std::move(detached), frame, length);
        }
    }
    return handOver(tablesDecoder_->decodeDefineBits(body()), frame, length);
}

TagStatus SWFReader::handleDefineBitsJpeg(std::uint16_t frame, std::uint32_t length, bool withAlpha) {
    return decodeImage([body = body(), withAlpha] { return decodeDefineBitsJpeg(body, withAlpha); }, frame, length);
}

TagStatus SWFReader::handleDefineBitsLossless(std::uint16_t frame, std::uint32_t length, bool withAlpha) {
    return decodeImage([body = body(), withAlpha] { return decodeDefineBitsLossless(body, withAlpha); }, frame, length);
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

TagStatus SWFReader::handleDefineSound(std::uint16_t frame, std::uint32_t length) {
    if (length < 8) return TagStatus::ok();
    const std::uint16_t id = readU16();
    auto sound = std::make_unique<OFSound>();
    sound->format = SoundFormat(readBits(4));
    sound->rate = sound->playbackRate = std::uint8_t(readBits(2));
    sound->is16Bit = sound->playback16Bit = readBits(1) != 0;
    sound->stereo = sound->playbackStereo = readBits(1) != 0;
    sound->sampleCount = readU32();
    sound->frame = frame;
    if (!addBlock(*sound, length - 7)) return TagStatus::failed("out of memory for the sound data");
    handOverSound(std::move(sound), origin(id));
    return TagStatus::ok();
}

void SWFReader::deliverSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin) {
    // A sound is named by its id; a stream sound, which has none, by the
    // sprite that plays it.
    noteHandOver(origin.characterId >= 0 ? origin.characterId : origin.timeline != 0 ? origin.timeline : -1);
    sink_->addSound(std::move(sound), std::move(origin));
}

// --- names ----------------------------------------------------------------

void SWFReader::noteHandOver(std::int32_t nameKey) {
    ++handedOver_;
    if (namesLost_) return;
    try {
        nameKeys_.push_back(nameKey);
    } catch (const std::bad_alloc&) {
        // The ordinals would no longer match: no resource gets names.
        namesLost_ = true;
        names_.clear();
        nameKeys_.clear();
        nameKeys_.shrink_to_fit();
    }
}

// ExportAssets and SymbolClass: a count, then that many character ids each
// followed by a null-terminated name. A count that runs past the tag keeps
// the entries that are complete.
void SWFReader::handleNames() {
    const std::span<std::uint8_t> data = body();
    if (data.size() < 2) return;
    const std::size_t count = getLe16(data.data());
    std::size_t at = 2;
    for (std::size_t i = 0; i < count && data.size() - at >= 3; ++i) {
        const std::uint16_t id = getLe16(data.data() + at);
        const auto* text = reinterpret_cast<const char*>(data.data() + at + 2);
        const auto* nul = static_cast<const char*>(std::memchr(text, 0, data.size() - at - 2));
        if (!nul) break;
        const std::size_t length = std::size_t(nul - text);
        at += 2 + length + 1;
        if (length == 0 || namesLost_ || nameBytes_ + length + kNameOverhead > kMaxNameBytes) continue;
        try {
            std::vector<std::string>& names = names_[id];
            const std::string_view name(text, length);
            if (names.size() >= kMaxNamesPerId || std::find(names.begin(), names.end(), name) != names.end()) {
                continue;
            }
            names.emplace_back(name);
            nameBytes_ += length + kNameOverhead;
        } catch (const std::bad_alloc&) {
            nameBytes_ = kMaxNameBytes;  // no more names
        }
    }
}

void SWFReader::deliverNames() {
    std::size_t delivered = 0;
    for (std::size_t ordinal = 0; ordinal < nameKeys_.size(); ++ordinal) {
        const std::int32_t key = nameKeys_[ordinal];
        if (key < 0) continue;
        const auto found = names_.find(std::uint16_t(key));
        if (found == names_.end()) continue;
        std::size_t bytes = 0;
        for (const std::string& name : found->second) bytes += name.size() + kNameOverhead;
        if (delivered + bytes > kMaxDeliveredBytes) break;
        delivered += bytes;
        try {
            sink_->setNames(ordinal, found->second);
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    names_.clear();
    nameKeys_.clear();
}

TagStatus SWFReader::handleSoundStreamHead(std::uint16_t frame, TagCode code) {
    auto sound = std::make_unique<OFSound>();
    sound->tag = code;
    readBits(4);  // reserved
    sound->playbackRate = std::uint8_t(readBits(2));
    sound->playback16Bit = readBits(1) != 0;
    sound->playbackStereo = readBits(1) != 0;
    sound->format = SoundFormat(readBits(4));
    sound->rate = std::uint8_t(readBits(2));
    sound->is16Bit = readBits(1) != 0;
    sound->stereo = readBits(1) != 0;
    readU16();  // average sample count
    sound->frame = frame;
    try {
        pendingSounds_.push_back({std::move(sound), origin(-1)});
    } catch (const std::bad_alloc&) {
        return TagStatus::failed("out of memory for the stream sound");
    }
    return TagStatus::ok();
}

TagStatus SWFReader::handleSoundStreamBlock(std::uint32_t length) {
    if (pendingSounds_.empty()) return TagStatus::ok();
    PendingSound& pending = pendingSounds_.back();
    OFSound& sound = *pending.sound;
    std::size_t n = length;
    if (sound.format == SoundFormat::Mp3) {
        readU16();  // sample count
        if (length < 2) return TagStatus::ok();
        n = length - 2;
    }
    if (n > 0 && !addBlock(sound, n)) {
        // The sound stays listed without this block; it says so itself.
        TagStatus status = TagStatus::failed("out of memory for a stream block");
        try {
            pending.origin.problems.push_back({tagCode_, tagOffset_, status.reason});
        } catch (const std::bad_alloc&) {}
        return status;
    }
    return TagStatus::ok();
}

// --- binary data -----------------------------------------------------------

// A DefineBinaryData payload that is a movie is kept for later, one that
// is a picture or an MP3 file becomes a resource now; any other is left alone.
TagStatus SWFReader::handleBinaryData(std::uint16_t frame, std::uint32_t length) {
    const std::uint16_t id = readU16();
    readU32();  // reserved
    const std::span<const std::uint8_t> payload = body();
    if (payload.size() < 4) return TagStatus::ok();
    if (compressionOf(payload.data())) {
        if (depth_ >= kMaxNesting) return TagStatus::ok();
        try {
            pendingMovies_.push_back({id, tagOffset_, position_, payload.size()});
        } catch (const std::bad_alloc&) {
            return TagStatus::failed("out of memory for the nested movie");
        }
        return TagStatus::ok();
    }
    ResourceOrigin where = origin(id);
    where.container = "binary " + std::to_string(id);
    if (isPngOrGifFile(payload) || isJpegFile(payload))
        return handOverBinaryImage(payload, frame, length, std::move(where));
    const std::optional<Mp3Stream> mp3 = scanMp3(payload);
    if (!mp3) return TagStatus::ok();
    auto sound = std::make_unique<OFSound>();
    sound->tag = TagCode::DefineBinaryData;
    sound->tagOffset = tagOffset_;
    sound->format = SoundFormat::Mp3;
    // The rate code of each MPEG version's family of rates (MPEG-1 44.1,
    // 48 and 32 kHz, MPEG-2 half those, MPEG-2.5 a quarter); playback
    // resamples to it.
    sound->rate = sound->playbackRate = mp3->version == 3 ? 3 : mp3->version == 2 ? 2 : 1;
    sound->is16Bit = sound->playback16Bit = true;
    sound->stereo = sound->playbackStereo = mp3->stereo;
    sound->sampleCount = std::uint32_t(std::min<std::uint64_t>(mp3->samples, 0xFFFFFFFFu));
    sound->frame = frame;
    if (!sound->addBlock(payload.data(), payload.size())) return TagStatus::failed("out of memory for the sound data");
    handOverSound(std::move(sound), std::move(where));
    return TagStatus::ok();
}

TagStatus SWFReader::handOverBinaryImage(std::span<const std::uint8_t> payload, std::uint16_t frame,
                                         std::uint32_t length, ResourceOrigin origin) {
    std::string reason;
    std::unique_ptr<OBPicture> picture;
    ImageExtras extras;
    const bool jpeg = isJpegFile(payload);
    if (jpeg) {
        picture = decodeJpeg(payload, false, &reason);
        if (picture) extras.jpegData = mergeJpegStreams({payload});
    } else if (embeddedKind(payload) == EmbeddedKind::Png) {
        picture = readPng(payload.data(), payload.size(), nullptr, nullptr, &reason);
    } else {
        picture = decodeGif(payload, &reason);
    }
    if (!picture) return TagStatus::failed(reason.empty() ? "image could not be decoded" : std::move(reason));
    extras.origin = std::move(origin);
    drainPending(true);  // after the pictures still being decoded
    noteHandOver(extras.origin.characterId);
    sink_->addImage(frame, std::move(picture), jpeg, length, std::move(extras));
    return TagStatus::ok();
}

void SWFReader::readNestedMovies() {
    for (const PendingMovie& movie : pendingMovies_) {
        if (result_ == kReadCancelled || result_ == kReadOutOfMemory || root_->result_ == kReadCancelled) break;
        readNestedMovie(movie);
    }
    pendingMovies_.clear();
}

void SWFReader::readNestedMovie(const PendingMovie& movie) {
    const std::string here = "binary " + std::to_string(movie.id);
    NestedSink sink(sink_, here, handedOver_);
    NestedProgress progress(progress_);
    SWFReader nested(&sink);
    nested.root_ = root_;
    nested.container_ = container_.empty() ? here : container_ + "/" + here;
    nested.depth_ = depth_ + 1;
    nested.anchor_ = root_ == this ? movie.offset : anchor_;
    nested.readMemory({data_.get() + movie.start, movie.length}, progress_ ? &progress : nullptr);
    // The nested movie's resources take the ordinals that follow; their
    // names came with the nested read.
    for (std::size_t i = 0; i < nested.handedOver_; ++i) noteHandOver(-1);
    if (nested.result_ == kReadCancelled) root_->result_ = kReadCancelled;
}

// The file gets one problem for each of the nested movie's, at the
// DefineBinaryData that holds it; what the movie yielded stays.
void SWFReader::reportToRoot() {
    if (result_ == kReadCancelled) return;
    const std::string prefix = "movie in " + container_ + ": ";
    const auto code = std::uint16_t(TagCode::DefineBinaryData);
    for (const Problem& problem : problems_)
        root_->report(code, anchor_, TagStatus::failed(prefix + placeOf(problem) + ": " + problem.reason));
    // A file shorter than it declares is read without a word; a movie in a
    // tag that is complete has lost its end.
    if (data_ && !compressed_ && size_ < std::size_t(std::max<std::int32_t>(declaredLength_, 0))) {
        root_->report(code, anchor_,
                      TagStatus::failed(prefix + "cut short (" + std::to_string(size_) + " of " +
                                        std::to_string(declaredLength_) + " bytes)"));
    }
}

// --- video ----------------------------------------------------------------

TagStatus SWFReader::handleDefineVideoStream(std::uint16_t frame, std::uint32_t length) {
    if (length < 10) return TagStatus::failed("DefineVideoStream cut short");
    auto video = std::make_unique<OFVideo>();
    video->frame = frame;
    video->streamId = readU16();
    video->declaredFrames = readU16();
    video->width = readU16();
    video->height = readU16();
    readBits(4);  // reserved
    video->deblocking = std::uint8_t(readBits(3));
    video->smoothing = readBits(1) != 0;
    video->codec = VideoCodec(readU8());
    video->frameRate88 = frameRate88_;
    const std::uint16_t id = video->streamId;
    try {
        pendingVideos_.push_back({std::move(video), origin(id)});
        // A stream id defined again takes the frames from here on.
        videoById_[id] = pendingVideos_.size() - 1;
    } catch (const std::bad_alloc&) {
        return TagStatus::failed("out of memory for the video stream");
    }
    return TagStatus::ok();
}

TagStatus SWFReader::handleVideoFrame(std::uint32_t length) {
    if (length < 4) return TagStatus::failed("VideoFrame cut short");
    const std::uint16_t id = readU16();
    const std::uint16_t number = readU16();
    const auto found = videoById_.find(id);
    if (found == videoById_.end()) return TagStatus::failed("no video stream with id " + std::to_string(id));
    PendingVideo& pending = pendingVideos_[found->second];
    const std::span<std::uint8_t> packet = body();
    if (packet.empty()) return TagStatus::ok();  // nothing to show
    if (!pending.video->addFrame(number, packet.data(), packet.size())) {
        // The stream stays listed without this frame; it says so itself.
        TagStatus status = TagStatus::failed("not enough memory for a video frame");
        try {
            pending.origin.problems.push_back({tagCode_, tagOffset_, status.reason});
        } catch (const std::bad_alloc&) {}
        return status;
    }
    return TagStatus::ok();
}

void SWFReader::handOverVideos() {
    for (PendingVideo& pending : pendingVideos_) {
        noteHandOver(pending.origin.characterId);
        sink_->addVideo(std::move(pending.video), std::move(pending.origin));
    }
    pendingVideos_.clear();
    videoById_.clear();
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
