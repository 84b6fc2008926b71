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

namespace kestrel {

enum ResourceKind : int {
    kKindImage = 1,
    kKindSound = 2
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
    std::uint16_t tag = 0;          // code of the defining tag (a stream sound's head)
    std::int32_t characterId = -1;  // the tag's character id; -1 when it has none (stream sounds)
    std::uint16_t timeline = 0;     // 0 for the main timeline, else the id of the sprite holding the tag
    std::vector<Problem> problems;  // what went wrong with this resource, if anything
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

// Choices for writing, both off by default. PNG files hold straight alpha
// (colours divided by alpha, fully transparent pixels as 0, 0, 0, 0) unless
// `premultipliedAlpha` asks for the values as the movie stores them.
struct WriteOptions {
    bool originalJpeg = false;        // JPEG images without alpha: the file's own JPEG bytes, not re-encoded
    bool premultipliedAlpha = false;  // PNGs of premultiplied images: colours as stored, multiplied by alpha
    int threads = 0;                  // files encoded at once by an extraction; 0: TaskPool::defaultThreads()
};

// Writes the record's payload to path; a partly written file is deleted.
WriteResult writeResourceFile(const SWFRes& record, const std::string& path, const WriteOptions& options = {});

// A copy whose colours are divided by alpha (RGBA, Gray+Alpha, or an
// indexed picture's palette); fully transparent pixels become all zero.
// Null for pictures without alpha.
std::unique_ptr<OBPicture> unpremultiplied(const OBPicture& picture);

// A copy in which fully transparent pixels (or palette entries) are all
// zero and every other value is kept; null for pictures without alpha.
std::unique_ptr<OBPicture> clearedTransparent(const OBPicture& picture);

// "%d KB" of size / 1024, or "1 KB" up to 1024 bytes.
std::string memoryTextFor(std::int64_t size);
// "999 ms", "1 s", "1 min 1 s", "2 min".
std::string durationText(std::int32_t ms);

}  // namespace kestrel
