// Reads one SWF file into resources: loads (and inflates) the file, checks
// the header and walks the tag stream of the main timeline and of every
// sprite, handing images and sounds to a sink as they are decoded and video
// streams once the whole movie is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/task_pool.h"
#include "reader/body_decoder.h"
#include "reader/image_decode.h"
#include "reader/picture/ob_picture.h"
#include "reader/problem.h"
#include "reader/sound/of_sound.h"
#include "reader/video/of_video.h"

namespace kestrel {

enum ReaderResult : int {
    kReadOk = 0,
    kReadCannotOpen = 1,
    kReadDamaged = 2,
    kReadSomeFailed = 3,
    kReadOutOfMemory = 4,
    kReadNotSwf = 5,
    kReadCancelled = 6,
};

// Progress of a read: one step per frame of the main timeline.
class ReaderProgress {
public:
    virtual ~ReaderProgress() = default;
    virtual void setStepCount(int steps) = 0;
    virtual void setPosition(int position) = 0;
    // Called before every tag (sprites' tags too): `done` of the `total`
    // body bytes lie behind the read.
    virtual void setBodyPosition(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
    // Asked before every tag; true stops the read with kReadCancelled.
    virtual bool cancelled() { return false; }
};

// Where a resource was defined.
struct ResourceOrigin {
    std::uint16_t tag = 0;          // code of the defining tag (the head of a stream sound)
    std::int32_t characterId = -1;  // -1 when the tag has none (stream sounds)
    std::uint16_t timeline = 0;     // 0 for the main timeline, else the sprite's id
    std::uint64_t offset = 0;       // of the tag header in the uncompressed file image
    std::vector<Problem> problems;  // what went wrong with this resource while it was read
    // Empty for the movie's own resources; "binary 12" for a resource of a
    // movie or file inside DefineBinaryData 12, "binary 12/binary 3" for one
    // a level deeper. Offsets and timelines then count in that movie.
    std::string container;
};

// What an image brings besides its picture.
struct ImageExtras {
    bool premultiplied = false;               // colours stored multiplied by alpha
    std::vector<std::uint8_t> jpegData;       // the tag's JPEG as one file (JPEG images only)
    std::optional<std::uint16_t> deblocking;  // DefineBitsJPEG4 only
    ResourceOrigin origin;
};

// Receives every decoded resource, in reading order. A compressed body is
// decoded while its tags are read, so a read that ends with code 2 may have
// handed over resources first: those precede the damage and stay valid.
class ResourceSink {
public:
    virtual ~ResourceSink() = default;
    virtual void addImage(std::uint16_t frame, std::unique_ptr<OBPicture> picture, bool isJpeg,
                          std::uint32_t bodyLength, ImageExtras extras = {}) = 0;
    // Called when a sound is complete (event sounds at once, stream sounds
    // when their timeline ends). Sounds without data are passed too.
    virtual void addSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin = {}) = 0;
    // The names (ExportAssets, SymbolClass) of the resource handed over as
    // the `ordinal`-th (0-based, every resource of any kind handed to this
    // sink counted, those of nested movies too), in tag order. Names usually
    // follow their define tag, so they come at the end of the read, for the
    // resources that have any.
    virtual void setNames(std::size_t /*ordinal*/, std::vector<std::string> /*names*/) {}
    // Called for every DefineVideoStream once the whole movie is read (its
    // VideoFrame tags may come from any timeline), in the order of the
    // definitions; streams without frames are passed too.
    virtual void addVideo(std::unique_ptr<OFVideo> /*video*/, ResourceOrigin /*origin*/ = {}) {}
};

// What a tag handler reports: success, or why it failed and how far that
// reaches (the result code it gives the read). The tag loop adds the tag
// code and the file offset and keeps it as a Problem.
struct TagStatus {
    // kReadOk, kReadSomeFailed (this tag's resource is lost), kReadDamaged
    // (the read stops), kReadOutOfMemory (the read stops for want of memory)
    int code = 0;
    std::string reason;

    static TagStatus ok() { return {}; }
    static TagStatus failed(std::string why) { return {kReadSomeFailed, std::move(why)}; }
    static TagStatus stop(std::string why) { return {kReadDamaged, std::move(why)}; }
    bool isOk() const { return code == 0; }
};

struct SwfRect {
    std::int32_t xMin = 0, xMax = 0, yMin = 0, yMax = 0;
};

struct TagHeader {
    std::uint16_t code = 0;
    std::uint32_t length = 0;
};

class SWFReader {
public:
    explicit SWFReader(ResourceSink* sink);
    ~SWFReader();
    SWFReader(const SWFReader&) = delete;
    SWFReader& operator=(const SWFReader&) = delete;

    // False when the file could not be opened or its header was rejected;
    // result() tells the outcome either way.
    bool read(const std::string& path, ReaderProgress* progress);
    // The same over a file image in memory (tests, fuzzing).
    bool readMemory(std::span<const std::uint8_t> file, ReaderProgress* progress);

    // Movies inside DefineBinaryData tags are read after the movie's own
    // tags, this many levels deep; their resources follow the movie's own.
    static constexpr int kMaxNesting = 4;
    // Threads that decode the pictures, this one included (default:
    // TaskPool::defaultThreads()). With more than one, pictures are decoded
    // on a pool while the tags after them are read; the sink still gets
    // everything in reading order, and problems come in the same order.
    // With one, each picture is decoded where its tag is read.
    void setThreads(int threads) { threads_ = threads; }

    int result() const { return result_; }
    // Every failure of the read, in the order met: a tag that failed, the
    // body (tag 0) when it could not be decoded to its end, or a failure
    // inside a movie in DefineBinaryData (tag 87, at the outermost such tag,
    // the reason naming the movie and the place in it).
    const std::vector<Problem>& problems() const { return problems_; }
    // Whether the body was compressed ("CWS" or "ZWS"), and how many body
    // bytes (after the 8-byte header) the tags could be read from.
    bool compressed() const { return compressed_; }
    std::size_t bodyBytes() const { return size_ > kHeaderSize ? size_ - kHeaderSize : 0; }
    int version() const { return version_; }
    std::int32_t declaredLength() const { return declaredLength_; }
    float frameRate() const { return frameRate_; }
    std::uint16_t frameCount() const { return frameCount_; }

    // Reading primitives over the loaded data. Past the end of the current
    // tag body they give zeros.
    std::uint8_t readU8();
    std::uint16_t readU16();
    std::uint32_t readU32();
    std::size_t readBytes(std::size_t n, std::uint8_t* destination);
    std::uint32_t readBits(int n);
    std::int32_t readSignedBits(int n);
    SwfRect readRect();
    TagHeader readTagHeader();

    // Loads a file image directly, without header checks (primitive tests).
    void setDataForTesting(std::vector<std::uint8_t> bytes);
    std::size_t position() const { return position_; }

private:
    static constexpr std::size_t kHeaderSize = 8;

    class FileSource;
    class MemorySource;
    class NestedSink;
    class NestedProgress;

    // A movie inside a DefineBinaryData tag, waiting for the end of the tags.
    struct PendingMovie {
        std::uint16_t id = 0;
        std::uint64_t offset = 0;  // of the tag header
        std::size_t start = 0;     // of the payload in data_
        std::size_t length = 0;
    };

    bool parse(ByteSource& source);
    bool parseMovie(ByteSource& source);
    bool allocateBody(std::size_t bytes);
    void readNestedMovies();
    void readNestedMovie(const PendingMovie& movie);
    // After a nested movie's own tags: its problems become the file's.
    void reportToRoot();
    bool decodeBody(Compression compression, ByteSource& source, const std::uint8_t* header);
    // Keeps a failure as a Problem and raises the result to its code; behind
    // resources still being decoded, once they have been handed over.
    void report(std::uint16_t tag, std::uint64_t offset, const TagStatus& status);
    void applyReport(std::uint16_t tag, std::uint64_t offset, const TagStatus& status);
    ResourceOrigin origin(std::int32_t characterId) const;
    bool walk();
    // End of the data the tag loop may use now, after waiting until it
    // reaches `want` or the body is complete.
    std::size_t dataEnd(std::size_t want);
    bool tagLoop(std::uint16_t frameLimit);
    TagStatus dispatch(const TagHeader& tag, std::uint16_t& frame, bool& stop);
    std::span<std::uint8_t> body();

    TagStatus handleSprite();
    TagStatus handleJpegTables();
    TagStatus handleDefineBits(std::uint16_t frame, std::uint32_t length);
    TagStatus handleDefineBitsJpeg(std::uint16_t frame, std::uint32_t length, bool withAlpha);
    TagStatus handleDefineBitsLossless(std::uint16_t frame, std::uint32_t length, bool withAlpha);
    // A decoded picture (or why it failed), handed over in its turn.
    TagStatus handOver(DecodedImage decoded, std::uint16_t frame, std::uint32_t length);
    ImageExtras extrasHere(std::uint32_t length) const;
    // A picture decoded by `decode`: on the pool when there is one, else now.
    TagStatus decodeImage(std::function<DecodedImage()> decode, std::uint16_t frame, std::uint32_t length);
    TagStatus handOverImage(DecodedImage decoded, std::uint16_t frame, std::uint32_t length, ImageExtras extras);
    void handOverSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin);

    // A picture decoded on the pool. The worker keeps the result unless
    // the budget cannot hold it as well; then the reading thread decodes it
    // again when its turn comes.
    struct ImageJob {
        std::function<DecodedImage()> decode;
        DecodedImage result;
        std::int64_t heldBytes = 0;
        bool dropped = false;
    };
    // Resources and problems waiting behind a picture still being decoded,
    // in reading order.
    struct Pending {
        enum class Kind {
            Image,
            Sound,
            Problem
        } kind = Kind::Problem;
        std::shared_ptr<ImageJob> job;   // Image
        TaskPool::Handle task;           // Image: null when decoded already
        std::uint16_t frame = 0;         // Image
        std::uint32_t length = 0;        // Image
        ImageExtras extras;              // Image: its origin
        std::unique_ptr<OFSound> sound;  // Sound
        ResourceOrigin origin;           // Sound
        std::uint16_t tag = 0;           // Problem
        std::uint64_t offset = 0;        // Problem
        TagStatus status;                // Problem
    };
    // A waiting picture of the tag being read; the job is filled in by the caller.
    static Pending imageEntry(std::uint16_t frame, std::uint32_t length, ImageExtras extras);
    // Hands over the waiting entries in order: those ready, or (`all`) every
    // one, waiting for the pictures.
    void drainPending(bool all);
    void applyPending(Pending& entry);
    // The end of the tag walk: everything waiting is handed over.
    void finishPending();
    TagStatus handleDefineSound(std::uint16_t frame, std::uint32_t length);
    TagStatus handleSoundStreamHead(std::uint16_t frame, TagCode code);
    TagStatus handleSoundStreamBlock(std::uint32_t length);
    TagStatus handleBinaryData(std::uint16_t frame, std::uint32_t length);
    TagStatus handOverBinaryImage(std::span<const std::uint8_t> payload, std::uint16_t frame, std::uint32_t length,
                                  ResourceOrigin origin);
    bool addBlock(OFSound& sound, std::size_t n);
    void handleNames();
    // Keeps the character id whose names the resource about to be handed
    // over takes.
    void noteHandOver(std::int32_t nameKey);
    // Hands the names met to the sink for every resource handed over.
    void deliverNames();
    // Hands a sound to the sink, noting the id whose names it takes.
    void deliverSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin);
    TagStatus handleDefineVideoStream(std::uint16_t frame, std::uint32_t length);
    TagStatus handleVideoFrame(std::uint32_t length);
    void handOverVideos();

    // A stream sound waiting for the end of its timeline.
    struct PendingSound {
        std::unique_ptr<OFSound> sound;
        ResourceOrigin origin;
    };

    ResourceSink* sink_;
    int version_ = 0;
    std::int32_t declaredLength_ = 0;
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
    std::size_t position_ = 0;
    std::size_t limit_ = 0;  // end of the bytes the primitives may read
    int bitCount_ = 0;
    std::uint32_t bitValue_ = 0;
    std::unique_ptr<JpegTablesDecoder> tablesDecoder_;
    float frameRate_ = 12.0f;
    std::uint16_t frameCount_ = 0;
    bool reportProgress_ = true;
    ReaderProgress* progress_ = nullptr;
    std::vector<PendingSound> pendingSounds_;
    // Video streams collect frames until the read ends.
    struct PendingVideo {
        std::unique_ptr<OFVideo> video;
        ResourceOrigin origin;
    };
    std::vector<PendingVideo> pendingVideos_;
    std::map<std::uint16_t, std::size_t> videoById_;  // stream id to its latest definition
    std::uint16_t frameRate88_ = 0;
    int spriteDepth_ = 0;
    std::uint16_t timeline_ = 0;   // id of the sprite being read, 0 on the main timeline
    std::uint16_t tagCode_ = 0;    // the tag being dispatched
    std::uint64_t tagOffset_ = 0;  // and the offset of its header
    std::size_t tagBody_ = 0;      // and of its body
    int result_ = kReadOk;
    std::vector<Problem> problems_;
    bool compressed_ = false;
    BodyDecoder* decoder_ = nullptr;  // a compressed body still being decoded, or null
    std::size_t handedOver_ = 0;      // resources given to the sink, those of nested movies included

    // Movies inside DefineBinaryData. A nested movie's reader knows the
    // reader of the file (root_), where it sits ("binary 12/binary 3"), how
    // deep, and the offset in the file of the DefineBinaryData that holds it
    // (or its outermost container), which its problems are reported at.
    std::vector<PendingMovie> pendingMovies_;
    SWFReader* root_ = this;
    std::string container_;
    int depth_ = 0;
    std::uint64_t anchor_ = 0;
    std::int64_t chargedBytes_ = 0;      // this body's share of the MemoryBudget (nested movies)
    std::uint64_t nestedBodyBytes_ = 0;  // root: room taken by nested bodies so far

    // Names by character id, in tag order, and what they have cost so far.
    std::map<std::uint16_t, std::vector<std::string>> names_;
    std::size_t nameBytes_ = 0;
    bool namesLost_ = false;  // out of memory for the bookkeeping: no names at all
    // Per resource handed over: the character id whose names it takes
    // (a stream sound: its sprite's), or -1.
    std::vector<std::int32_t> nameKeys_;

    int threads_ = 0;  // 0: TaskPool::defaultThreads()
    std::unique_ptr<TaskPool> pool_;
    std::deque<Pending> pending_;
    std::size_t pendingImages_ = 0;
    // Bytes of decoded pictures waiting to be handed over; with the
    // budget's use they stay within its limit.
    std::mutex heldMutex_;
    std::int64_t heldBytes_ = 0;
    // A waiting picture stopped the read: what was read after it is dropped
    // until the tag walk has ended.
    bool discarding_ = false;
};

}  // namespace kestrel
