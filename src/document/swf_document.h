// One opened SWF file: its path and its resource records in display order.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "document/messages.h"
#include "document/swf_res.h"
#include "reader/swf_reader.h"

namespace kestrel {

class SWFDocument : public ResourceSink {
public:
    SWFDocument() = default;
    ~SWFDocument() override = default;
    SWFDocument(const SWFDocument&) = delete;
    SWFDocument& operator=(const SWFDocument&) = delete;

    // Reads the file; shows the reader's message through `messages` (may be
    // null) and returns true when the document is usable.
    bool readFile(const std::string& path, ReaderProgress* progress, MessageSink* messages);

    // Appends a record; false (and the record is dropped) when the array
    // cannot grow.
    bool addResource(std::unique_ptr<SWFRes> record);

    int count() const { return int(resources_.size()); }
    SWFRes& resource(int index) { return *resources_[std::size_t(index)]; }
    const SWFRes& resource(int index) const { return *resources_[std::size_t(index)]; }
    const std::string& path() const { return path_; }
    // The reader's result code of the last readFile.
    int readResult() const { return readResult_; }

    // Sorts by key: magnitude 1 type, 2 frame, 3 memory size, 4 dimension;
    // negative descends. 0 or a magnitude above 5 does nothing.
    void sort(int key);

    // Output file name of record `index`: title-number.extension.
    std::string resourceFileName(int index, int number) const;

    // ResourceSink
    void addImage(std::uint16_t frame, std::unique_ptr<OBPicture> picture, bool isJpeg, std::uint32_t bodyLength,
                  ImageExtras extras = {}) override;
    void addSound(std::unique_ptr<OFSound> sound) override;

private:
    void numberRecords();

    std::vector<std::unique_ptr<SWFRes>> resources_;
    std::string path_;
    int readResult_ = 0;
    bool refusedForMemory_ = false;
};

// The message the reader's result code gives, empty for 0.
std::string readerMessage(int result, const std::string& path);

}  // namespace kestrel
