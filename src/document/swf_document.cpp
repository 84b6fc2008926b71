#include "document/swf_document.h"

#include <algorithm>
#include <new>
#include <set>
#include <utility>

#include "base/memory_budget.h"
#include "base/path.h"
#include "document/symbol_names.h"
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

bool SWFDocument::readFile(const std::string& path, ReaderProgress* progress, MessageSink* messages,
                           RecordListener* listener) {
    path_ = path;
    handedOver_.clear();
    listener_ = listener;
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
    handedOver_.clear();
    handedOver_.shrink_to_fit();
    listener_ = nullptr;
    // Pictures refused for want of memory are resources that failed.
    if (readResult_ == kReadOk && refusedForMemory_) readResult_ = kReadSomeFailed;
    const std::string message = messageWithProblems(readerMessage(readResult_, path), problems_);
    // A damaged movie keeps what was found before the damage.
    const bool salvaged = readResult_ == kReadDamaged && !resources_.empty();
    if (readResult_ != kReadOk && readResult_ != kReadSomeFailed && !salvaged) {
        if (listener) listener->recordsDropped();
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
    int videos = 1;
    for (auto& record : resources_) {
        record->number = record->kind == kKindImage ? images++ : record->kind == kKindVideo ? videos++ : sounds++;
    }
    nameFiles();
}

void SWFDocument::nameFiles() {
    try {
        std::set<std::string> taken;
        std::vector<std::string> stems(resources_.size());
        for (std::size_t i = 0; i < resources_.size(); ++i) {
            SWFRes& record = *resources_[i];
            record.symbolFileName.clear();
            stems[i] = fileStemOf(record.names);
            if (stems[i].empty()) taken.insert(resourceFileName(int(i), record.number));
        }
        for (std::size_t i = 0; i < resources_.size(); ++i) {
            if (stems[i].empty()) continue;
            SWFRes& record = *resources_[i];
            const std::string extension = record.extension();
            std::string name = stems[i] + extension;
            for (int n = 2; taken.count(name); ++n) name = stems[i] + "-" + std::to_string(n) + extension;
            taken.insert(name);
            record.symbolFileName = std::move(name);
        }
    } catch (const std::bad_alloc&) {
        for (auto& record : resources_) record->symbolFileName.clear();
    }
}

void SWFDocument::noteHandedOver(SWFRes* record) {
    try {
        handedOver_.push_back(record);
    } catch (const std::bad_alloc&) {}
}

void SWFDocument::setNames(std::size_t ordinal, std::vector<std::string> names) {
    if (ordinal < handedOver_.size() && handedOver_[ordinal]) handedOver_[ordinal]->names = std::move(names);
}

bool SWFDocument::addResource(std::unique_ptr<SWFRes> record) {
    try {
        resources_.push_back(std::move(record));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (listener_) listener_->recordAdded(int(resources_.size()) - 1, *resources_.back());
    return true;
}

void SWFDocument::addImage(std::uint16_t frame, std::unique_ptr<OBPicture> picture, bool isJpeg,
                           std::uint32_t bodyLength, ImageExtras extras) {
    if (!picture) {
        noteHandedOver(nullptr);
        return;
    }
    const std::int64_t bytes = std::int64_t(picture->stride()) * picture->height();
    if (!MemoryBudget::charge(bytes)) {
        noteHandedOver(nullptr);
        refusedForMemory_ = true;
        try {
            std::string reason = "not enough memory for the picture";
            if (!extras.origin.container.empty()) reason += " in " + extras.origin.container;
            problems_.push_back({extras.origin.tag, extras.origin.offset, std::move(reason)});
        } catch (const std::bad_alloc&) {}
        return;
    }
    try {
        auto image = std::make_unique<SWFImage>(frame, std::move(picture), isJpeg, bodyLength);
        image->chargedBytes = bytes;
        image->tag = extras.origin.tag;
        image->characterId = extras.origin.characterId;
        image->timeline = extras.origin.timeline;
        image->container = std::move(extras.origin.container);
        image->problems = std::move(extras.origin.problems);
        image->premultiplied = extras.premultiplied;
        image->originalJpeg = std::move(extras.jpegData);
        image->deblocking = extras.deblocking;
        SWFRes* record = image.get();
        noteHandedOver(addResource(std::move(image)) ? record : nullptr);
    } catch (const std::bad_alloc&) {
        MemoryBudget::release(bytes);  // the record was never made
        noteHandedOver(nullptr);
    }
}

void SWFDocument::addSound(std::unique_ptr<OFSound> sound, ResourceOrigin origin) {
    if (!sound || sound->blocks.empty()) {
        noteHandedOver(nullptr);
        return;
    }
    try {
        auto record = std::make_unique<SWFSound>(std::move(sound));
        record->tag = origin.tag;
        record->characterId = origin.characterId;
        record->timeline = origin.timeline;
        record->container = std::move(origin.container);
        // The sound's own problems (a codec that fails) come from the tag at its origin.
        for (Problem& problem : record->problems) {
            if (problem.offset == 0) problem.offset = origin.offset;
        }
        record->problems.insert(record->problems.end(), origin.problems.begin(), origin.problems.end());
        SWFRes* made = record.get();
        noteHandedOver(addResource(std::move(record)) ? made : nullptr);
    } catch (const std::bad_alloc&) {
        noteHandedOver(nullptr);
    }
}

void SWFDocument::addVideo(std::unique_ptr<OFVideo> video, ResourceOrigin origin) {
    if (!video || video->frames.empty()) {
        noteHandedOver(nullptr);
        return;
    }
    try {
        auto record = std::make_unique<SWFVideo>(std::move(video));
        record->tag = origin.tag;
        record->characterId = origin.characterId;
        record->timeline = origin.timeline;
        record->container = std::move(origin.container);
        record->problems = std::move(origin.problems);
        record->decodeFirstFrame();
        for (Problem& problem : record->problems) {
            if (problem.offset == 0) problem.offset = origin.offset;
        }
        SWFRes* made = record.get();
        noteHandedOver(addResource(std::move(record)) ? made : nullptr);
    } catch (const std::bad_alloc&) {
        noteHandedOver(nullptr);
    }
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
                    if (a.kind != b.kind) return sign(a.kind - b.kind);
                    return sign(a.typeText.compare(b.typeText));
                case 2: return sign(std::int64_t(a.frame) - b.frame);
                case 3: return sign(a.memorySize - b.memorySize);
                case 4:
                    if (a.kind != b.kind) return sign(a.kind - b.kind);
                    if (a.kind == kKindImage) return sign(pixelCount(a) - pixelCount(b));
                    if (a.kind == kKindVideo) {
                        return sign(static_cast<const SWFVideo&>(a).frameCount() -
                                    static_cast<const SWFVideo&>(b).frameCount());
                    }
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

std::string SWFDocument::resourceFileName(int index, int number, FileNaming naming) const {
    if (naming == FileNaming::Symbol && !resource(index).symbolFileName.empty()) return resource(index).symbolFileName;
    const PathParts parts = splitPath(path_);
    std::string title = parts.title;
    if (parts.title.empty() && parts.extension.empty()) title.clear();
    return title + "-" + std::to_string(number) + resource(index).extension();
}

}  // namespace kestrel
