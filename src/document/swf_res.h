// Resource records: one per image or sound of an opened file, with the
// display texts built once and the knowledge of how to write the payload.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "reader/picture/ob_picture.h"
#include "reader/problem.h"
#include "reader/sound/of_sound.h"
#include "reader/video/of_video.h"

namespace kestrel {

enum ResourceKind : int {
    kKindImage = 1,
    kKindSound = 2,
    kKindVideo = 3
};

enum WriteResult : int {
    WriteOk = 0,
    WriteFailed = 1,
    CreateFailed = 2
};

class SWFRes {
public:
    explicit SWFRes(int kind) : kind(kind) {}
    virtual ~SWFRes() = default;
    virtual std::string extension() const = 0;

    int largeIconIndex = -1;
    int smallIconIndex = -1;
    int kind;
    std::string typeText;
    std::int32_t frame = -1;
    std::string frameText;
    std::int64_t memorySize = -1;
    std::string memoryText;
    std::string sizeText;
    std::string detailText;
    std::string description;
    std::string formatName;
    std::unique_ptr<OBPicture> thumbnail;
    std::int32_t number = 0;
    std::uint16_t tag = 0;           // code of the defining tag (a stream sound's head)
    std::int32_t characterId = -1;   // the tag's character id; -1 when it has none (stream sounds)
    std::uint16_t timeline = 0;      // 0 for the main timeline, else the id of the sprite holding the tag
    std::vector<Problem> problems;   // what went wrong with this resource, if anything
    std::vector<std::string> names;  // given by the movie (ExportAssets, SymbolClass), in tag order; raw bytes
    std::string symbolFileName;      // file name after the names, unique in the movie; empty when none is usable
    // The DefineBinaryData holding the movie or file the resource comes
    // from ("binary 12", "binary 12/binary 3"); empty for the file's own.
    std::string container;
};

class SWFImage final : public SWFRes {
public:
    // Reduces the picture to its simplest layout and builds the texts.
    SWFImage(std::uint16_t frameIndex, std::unique_ptr<OBPicture> picture, bool isJpeg, std::uint32_t bodyLength);
    std::string extension() const override;

    std::unique_ptr<OBPicture> payload;
    bool isJpeg;
    bool premultiplied = false;               // colours stored multiplied by alpha
    std::vector<std::uint8_t> originalJpeg;   // the JPEG bytes the file holds, as one file
    std::optional<std::uint16_t> deblocking;  // DefineBitsJPEG4: stored 8.8 strength, not applied
    std::int64_t chargedBytes = 0;            // held against the MemoryBudget, given back on destruction
    ~SWFImage() override;
};

class SWFSound final : public SWFRes {
public:
    // Computes the duration and builds the texts.
    explicit SWFSound(std::unique_ptr<OFSound> sound);
    std::string extension() const override;

    std::unique_ptr<OFSound> payload;
    std::int32_t durationMs = 0;
};

class SWFVideo final : public SWFRes {
public:
    // Builds the texts; the first frame is decoded separately (decodeFirstFrame).
    explicit SWFVideo(std::unique_ptr<OFVideo> video);
    ~SWFVideo() override;
    std::string extension() const override;

    // Decodes the first frame into `firstFrame`, charging its pixels to
    // the MemoryBudget; a failure is kept as a problem of the record.
    void decodeFirstFrame();
    // "Sorenson H.263", ... or "codec N" for an id without a name.
    std::string codecText() const;
    int frameCount() const { return int(payload->frames.size()); }

    std::unique_ptr<OFVideo> payload;
    std::unique_ptr<OBPicture> firstFrame;  // RGB, or RGBA with straight alpha; null when it did not decode
    std::int32_t durationMs = 0;
    std::int64_t chargedBytes = 0;  // of firstFrame, held against the MemoryBudget
};

// How output files are named: "title-number.ext", or after the
// resource's symbol name where it has a usable one.
enum class FileNaming {
    TitleNumber,
    Symbol
};

// Choices for writing, all off by default. PNG files hold straight alpha
// (colours divided by alpha, fully transparent pixels as 0, 0, 0, 0) unless
// `premultipliedAlpha` asks for the values as the movie stores them.
struct WriteOptions {
    bool originalJpeg = false;        // JPEG images without alpha: the file's own JPEG bytes, not re-encoded
    bool premultipliedAlpha = false;  // PNGs of premultiplied images: colours as stored, multiplied by alpha
    FileNaming naming = FileNaming::TitleNumber;
    int threads = 0;  // files encoded at once by an extraction; 0: TaskPool::defaultThreads()
};

// Writes the record's payload to path; a partly written file is deleted.
WriteResult writeResourceFile(const SWFRes& record, const std::string& path, const WriteOptions& options = {});

// The bytes writeResourceFile writes for an image record, made in memory;
// false when they cannot be made there (another kind, an encoder that
// fails, no memory), and writeResourceFile is left to find out why.
bool encodeImageFile(const SWFRes& record, const WriteOptions& options, std::string& bytes);

// Writes bytes made by encodeImageFile to path, with writeResourceFile's
// results: CreateFailed when the file cannot be made, WriteFailed (and the
// partial file deleted) when the bytes do not all reach it.
WriteResult writeEncodedFile(const std::string& bytes, const std::string& path);

// A copy whose colours are divided by alpha (RGBA, Gray+Alpha, or an
// indexed picture's palette); fully transparent pixels become all zero.
// Null for pictures without alpha.
std::unique_ptr<OBPicture> unpremultiplied(const OBPicture& picture);

// A copy in which fully transparent pixels (or palette entries) are all
// zero and every other value is kept; null for pictures without alpha.
std::unique_ptr<OBPicture> clearedTransparent(const OBPicture& picture);

// "image", "sound" or "video": the kind as JSON and manifests name it.
const char* kindName(int kind);

// "%d KB" of size / 1024, or "1 KB" up to 1024 bytes.
std::string memoryTextFor(std::int64_t size);
// "999 ms", "1 s", "1 min 1 s", "2 min".
std::string durationText(std::int32_t ms);

}  // namespace kestrel
