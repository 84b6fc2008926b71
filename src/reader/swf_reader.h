// Reads one SWF file into resources: loads (and inflates) the file, checks
// the header and walks the tag stream of the main timeline and of every
// sprite, handing images and sounds to a sink as they are decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "reader/image_decode.h"
#include "reader/picture/ob_picture.h"
#include "reader/sound/of_sound.h"

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

// What an image brings besides its picture.
struct ImageExtras {
    bool premultiplied = false;          // colours stored multiplied by alpha
    std::vector<std::uint8_t> jpegData;  // the tag's JPEG as one file (JPEG images only)
};

// Receives every decoded resource, in reading order. A compressed body is
// inflated while its tags are read, so a read that ends with code 2 may have
// handed over resources first; the caller discards them with the file.
class ResourceSink {
public:
    virtual ~ResourceSink() = default;
    virtual void addImage(std::uint16_t frame, std::unique_ptr<OBPicture> picture, bool isJpeg,
                          std::uint32_t bodyLength, ImageExtras extras = {}) = 0;
    // Called when a sound is complete (event sounds at once, stream sounds
    // when their timeline ends). Sounds without data are passed too.
    virtual void addSound(std::unique_ptr<OFSound> sound) = 0;
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

    int result() const { return result_; }
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
    class Source;
    class FileSource;
    class MemorySource;

    class Inflation;

    bool parse(Source& source);
    bool walk();
    // End of the data the tag loop may use now, after waiting until it
    // reaches `want` or the body is complete.
    std::size_t dataEnd(std::size_t want);
    bool tagLoop(std::uint16_t frameLimit);
    void dispatch(const TagHeader& tag, std::uint16_t& frame, bool& stop);
    std::span<std::uint8_t> body();

    void handleSprite();
    void handleJpegTables();
    void handleDefineBits(std::uint16_t frame, std::uint32_t length);
    void handleDefineBitsJpeg(std::uint16_t frame, std::uint32_t length, bool withAlpha);
    void handleDefineBitsLossless(std::uint16_t frame, std::uint32_t length, bool withAlpha);
    void handOver(DecodedImage decoded, std::uint16_t frame, std::uint32_t length);
    void handleDefineSound(std::uint16_t frame, std::uint32_t length);
    void handleSoundStreamHead(std::uint16_t frame);
    void handleSoundStreamBlock(std::uint32_t length);
    bool addBlock(OFSound& sound, std::size_t n);

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
    std::vector<std::unique_ptr<OFSound>> pendingSounds_;
    int spriteDepth_ = 0;
    int result_ = kReadOk;
    Inflation* inflation_ = nullptr;  // a CWS body still being inflated, or null
};

}  // namespace kestrel
