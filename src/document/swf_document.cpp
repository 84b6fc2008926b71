#include "document/swf_document.h"

#include <algorithm>
#include <new>
#include <utility>

#include "base/memory_budget.h"
#include "base/path.h"
#include "reader/swf_format.h"

namespace kestrel {

std::string formatMessage(const char* pattern, const std::string& argument) {
    std::string out(pattern);
    const auto at = out.find("%s");
    if (at != std::string::npos) out.replace(at, 2, argument);
    return out;
}

std::string readerMessage(int result, const std::string& path) {
    switch (result) {
        case kReadCannotOpen: return formatMessage(text::kCannotOpen, path);
        case kReadDamaged:
        case kReadOutOfMemory: return text::kDamaged;
        case kReadSomeFailed: return text::kSomeFailed;
        case kReadNotSwf: return formatMessage(text::kNotSwf, path);
        default: return {};
    }
}

std::string problemText(const Problem& problem) {
    std::string where;
    if (problem.tag == 0) {
        where = problem.offset < 8 ? "Header" : "Body";
    } else if (const char* name = tagName(TagCode(problem.tag))) {
        where = std::string(name) + " (tag " + std::to_string(problem.tag) + ")";
    } else {
        where = "Tag " + std::to_string(problem.tag);
    }
    return where + " at offset " + std::to_string(problem.offset) + ": " + problem.reason;
}

std::string messageWithProblems(const std::string& message, const std::vector<Problem>& problems, std::size_t most) {
    std::string out = message;
    const std::size_t shown = std::min(problems.size(), most);
    for (std::size_t i = 0; i < shown; ++i) out += "\n  " + problemText(problems[i]);
    if (problems.size() > shown) out += "\n  ... and " + std::to_string(problems.size() - shown) + " more";
    return out;
}

bool SWFDocument::readFile(const std::string& path, ReaderProgress* progress, MessageSink* messages) {
    path_ = path;
    {
        SWFReader reader(this);
        reader.setThreads(threads_);
        reader.read(path, progress);
        readResult_ = reader.result();
        compressed_ = reader.compressed();
        bodyBytes_ = reader.bodyBytes();
        // Refusals for memory were noted while reading; keep file order.
        try {
            problems_.insert(problems_.end(), reader.problems().begin(), reader.problems().end());
            std::stable_sort(problems_.begin(), problems_.end(),
                             [](const Problem& a, const Problem& b) { return a.offset < b.offset; });
        } catch (const std::bad_alloc&) {}
    }
    // Pictures refused for want of memory are resources that failed.
    if (readResult_ == kReadOk && refusedForMemory_) readResult_ = kReadSomeFailed;
    const std::string message = messageWithProblems(readerMessage(readResult_, path), problems_);
    // A damaged movie keeps what was found before the damage.
    const bool salvaged = readResult_ == kReadDamaged && !resources_.empty();
    if (readResult_ != kReadOk && readResult_ != kReadSomeFailed && !salvaged) {
        resources_.clear();
        if (messages) messages->show(message, MessageIcon::Error, MessageButtons::Ok);
        return false;
    }
    if (readResult_ != kReadOk && messages) {
        messages->show(message, salvaged ? MessageIcon::Error : MessageIcon::Warning, MessageButtons::Ok);
    }
    numberRecords();
    return true;
}

void SWFDocument::numberRecords() {
    int images = 1;
    int sounds = 1;
    for (auto& record : resources_) record->number = record->kind == kKindImage ? images++ : sounds++;
}

bool SWFDocument::addResource(std::unique_ptr<SWFRes> record) {
    try {
        resources_.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void SWFDocument::addImage(std::uint16_t frame, std::unique_ptr<OBPicture> picture, bool isJpeg,
                           std::uint32_t bodyLength, ImageExtras extras) {
    if (!picture) return;
    const std::int64_t bytes = std::int64_t(picture->stride()) * picture->height();
    if (!MemoryBudget::charge(bytes)) {
        refusedForMemory_ = true;
        try {
            problems_.push_back({extras.origin.tag, extras.origin.offset, "not enough memory for the picture"});
        } catch (const std::bad_alloc&) {}
        return;
    }
    try {
        auto image = std::make_unique<SWFImage>(frame, std::move(picture), isJpeg, bodyLength);
        image->chargedBytes = bytes;
        image->tag = extras.origin.tag;
        image->characterId = extras.origin.characterId;
        image->timeline = extras.origin.timeline;
        image->problems = std::move(extras.origin.problems);
        image->premultiplied = extras.premultiplied;
        image->originalJpeg = std::move(extras.jpegData);
        image->deblocking = extras.deblocking;
        addResource(std::move(image));
    } catch (const std::bad_alloc&) {
        MemoryBudget::release(bytes);  // the record was never made
    }
}

void SWFDocument::addSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin) {
    if (!sound || sound->blocks.empty()) return;
    try {
        auto record = std::make_unique<SWFSound>(std::move(sound));
        record->tag = origin.tag;
        record->characterId = origin.characterId;
        record->timeline = origin.timeline;
        // The sound's own problems (a codec that fails) come from the tag at its origin.
        for (Problem& problem : record->problems) {
            if (problem.offset == 0) problem.offset = origin.offset;
        }
        record->problems.insert(record->problems.end(), origin.problems.begin(), origin.problems.end());
        addResource(std::move(record));
    } catch (const std::bad_alloc&) {}
}

namespace {

int sign(std::int64_t v) { return (v > 0) - (v < 0); }

std::int64_t pixelCount(const SWFRes& r) {
    const auto& image = static_cast<const SWFImage&>(r);
    return std::int64_t(image.payload->width()) * image.payload->height();
}

}  // namespace

void SWFDocument::sort(int key) {
    if (key == 0 || key > 5 || key < -5 || resources_.empty()) return;

    // Ordering value: negative when a belongs before b in ascending order.
    struct ColSort {
        int magnitude;
        int compare(const SWFRes& a, const SWFRes& b) const {
            switch (magnitude) {
                case 1:
                    if (a.kind != b.kind) return a.kind == kKindImage ? -1 : 1;
                    return sign(a.typeText.compare(b.typeText));
                case 2: return sign(std::int64_t(a.frame) - b.frame);
                case 3: return sign(a.memorySize - b.memorySize);
                case 4:
                    if (a.kind != b.kind) return a.kind == kKindImage ? -1 : 1;
                    if (a.kind == kKindImage) return sign(pixelCount(a) - pixelCount(b));
                    return sign(std::int64_t(static_cast<const SWFSound&>(a).durationMs) -
                                static_cast<const SWFSound&>(b).durationMs);
                default: return 0;
            }
        }
    };
    const ColSort cmp{key < 0 ? -key : key};
    const bool ascending = key > 0;

    const std::size_t n = resources_.size();
    for (std::size_t j = 0; j < n; ++j) {
        std::size_t best = j;
        for (std::size_t i = j + 1; i < n; ++i) {
            const int c = cmp.compare(*resources_[i], *resources_[best]);
            if (ascending ? -c > 0 : c > 0) best = i;
        }
        if (best != j) std::swap(resources_[j], resources_[best]);
    }
}

std::string SWFDocument::resourceFileName(int index, int number) const {
    const PathParts parts = splitPath(path_);
    std::string title = parts.title;
    if (parts.title.empty() && parts.extension.empty()) title.clear();
    return title + "-" + std::to_string(number) + resource(index).extension();
}

}  // namespace kestrel
