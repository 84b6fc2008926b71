// One opened SWF file: its path and its resource records in display order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document/messages.h"
#include "document/swf_res.h"
#include "reader/swf_reader.h"

namespace kestrel {

// Told about each record as the reading thread makes it, before the rest of
// the file is read. Records keep their place while the file is read, and
// setNames and the numbering that follows touch neither their payload nor
// their kind.
class RecordListener {
public:
    virtual ~RecordListener() = default;
    // The record now at `index`.
    virtual void recordAdded(int index, const SWFRes& record) = 0;
    // Every record is about to be destroyed (the file was unusable):
    // anything still using one must stop first.
    virtual void recordsDropped() = 0;
};

class SWFDocument : public ResourceSink {
public:
    SWFDocument() = default;
    ~SWFDocument() override = default;
    SWFDocument(const SWFDocument&) = delete;
    SWFDocument& operator=(const SWFDocument&) = delete;

    // Reads the file; shows the reader's message through `messages` (may be
    // null) and returns true when the document is usable: read in full or
    // in part (result 0 or 3), or damaged (result 2) with resources found
    // before the damage, which stay listed.
    bool readFile(const std::string& path, ReaderProgress* progress, MessageSink* messages,
                  RecordListener* listener = nullptr);
    // Threads that decode the pictures in readFile; 0 (the default) takes
    // TaskPool::defaultThreads().
    void setThreads(int threads) { threads_ = threads; }

    // Appends a record; false (and the record is dropped) when the array
    // cannot grow.
    bool addResource(std::unique_ptr<SWFRes> record);

    int count() const { return int(resources_.size()); }
    SWFRes& resource(int index) { return *resources_[std::size_t(index)]; }
    const SWFRes& resource(int index) const { return *resources_[std::size_t(index)]; }
    const std::string& path() const { return path_; }
    // The reader's result code of the last readFile.
    int readResult() const { return readResult_; }
    // What went wrong in the last readFile, in file order: failed tags,
    // pictures refused for memory, a body that could not be decoded.
    const std::vector<Problem>& problems() const { return problems_; }
    // Whether the movie's body is compressed, and how many of its bytes
    // (after the 8-byte header) were recovered to read tags from.
    bool compressed() const { return compressed_; }
    std::size_t bodyBytes() const { return bodyBytes_; }

    // Sorts by key: magnitude 1 type, 2 frame, 3 memory size, 4 dimension
    // (images by pixels, sounds by duration, videos by frame count; kinds
    // in the order images, sounds, videos); negative descends. 0 or a magnitude above 5 does nothing.
    void sort(int key);

    // Output file name of record `index`: title-number.extension, or with
    // FileNaming::Symbol the name made from its symbol when it has one.
    std::string resourceFileName(int index, int number, FileNaming naming = FileNaming::TitleNumber) const;

    // ResourceSink
    void addImage(std::uint16_t frame, std::unique_ptr<OBPicture> picture, bool isJpeg, std::uint32_t bodyLength,
                  ImageExtras extras = {}) override;
    void addSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin = {}) override;
    void setNames(std::size_t ordinal, std::vector<std::string> names) override;
    // Streams with frames become records, their first frame decoded.
    void addVideo(std::unique_ptr<OFVideo> video, ResourceOrigin origin = {}) override;

private:
    void numberRecords();
    // Gives every record with a usable name its symbolFileName, in reading
    // order: NAME.ext, then NAME-2.ext, ... for names already taken, by
    // another symbol or by a record named title-number.
    void nameFiles();
    // Keeps the record made of the resource the reader just handed over
    // (null when none was), so that names find it by its ordinal.
    void noteHandedOver(SWFRes* record);

    std::vector<std::unique_ptr<SWFRes>> resources_;
    std::vector<SWFRes*> handedOver_;  // while reading: the record of each resource handed over, or null
    std::string path_;
    int readResult_ = 0;
    bool refusedForMemory_ = false;
    std::vector<Problem> problems_;
    bool compressed_ = false;
    std::size_t bodyBytes_ = 0;
    int threads_ = 0;
    RecordListener* listener_ = nullptr;  // during readFile
};

// The message the reader's result code gives, empty for 0.
std::string readerMessage(int result, const std::string& path);

// One line for a problem: "DefineBitsJPEG2 (tag 21) at offset 1234: JPEG:
// bogus Huffman table", "Body at offset 5000: zlib stream cut short"
// ("Header" for offsets within the 8-byte header, "Tag N" for tags Kestrel
// does not name).
std::string problemText(const Problem& problem);

// The reader's message followed by the problems, one a line; the lines
// stop after `most`, with a count of the rest.
std::string messageWithProblems(const std::string& message, const std::vector<Problem>& problems,
                                std::size_t most = 20);

}  // namespace kestrel
