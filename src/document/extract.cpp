#include "document/extract.h"

#include <cerrno>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "base/memory_budget.h"
#include "base/task_pool.h"

namespace kestrel {

namespace {

std::mutex folderMutex;
std::string folderValue;
bool folderKnown = false;

std::string failureReason(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return "Path not found";
        case EACCES:
        case EPERM:
        case EROFS: return "Access denied";
        default: return "Invalid Path";
    }
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates one folder; 0 when it exists afterwards, else the error.
int makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return 0;
    const int error = errno;
    if (error == EEXIST) return isDirectory(path) ? 0 : EEXIST;
    return error;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string currentFolder() {
    std::lock_guard lock(folderMutex);
    if (!folderKnown) {
        char buffer[4096];
        folderValue = ::getcwd(buffer, sizeof buffer) ? buffer : "";
        folderKnown = true;
    }
    return folderValue;
}

void setCurrentFolder(const std::string& folder) {
    std::lock_guard lock(folderMutex);
    folderValue = folder;
    folderKnown = true;
}

std::string cleanFolderText(std::string folder) {
    for (char& c : folder) {
        if (c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') c = '_';
    }
    return folder;
}

bool createPath(const std::string& path, std::string& error) {
    if (path.find_first_not_of(' ') == std::string::npos) {
        error = "Empty Path";
        return false;
    }
    if (path[0] != '/') {
        error = path + " : Invalid Path";
        return false;
    }
    // Every prefix that ends before a separator, then the whole text.
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        if (path[i - 1] == '/') continue;  // "//" or a trailing separator: same folder again
        const std::string prefix = path.substr(0, i);
        const int result = makeFolder(prefix);
        if (result != 0) {
            error = prefix + " : " + failureReason(result);
            return false;
        }
        setCurrentFolder(prefix);
    }
    if (path == "/") setCurrentFolder(path);
    return true;
}

namespace {

// Files waiting to be started, per thread. Files that are being encoded or
// are done but wait for an earlier one (a large file at the front) do not
// count, so no thread runs out of work while one file holds up the rest.
constexpr std::size_t kAheadPerThread = 8;

// One extraction. Files are encoded on a pool, ahead of the one being
// finished; everything the host sees (questions, staging names, commits,
// reports) happens on the calling thread in the order of the records, as
// if each file were written before the next is looked at.
class Extraction {
public:
    Extraction(const SWFDocument& document, std::string folder, const std::vector<int>& indices, ExtractionHost& host,
               const WriteOptions& options, EncodedAhead* ahead)
        : document_(document), folder_(std::move(folder)), indices_(indices), host_(host), options_(options),
          ahead_(ahead) {
        const int threads = options.threads > 0 ? options.threads : TaskPool::defaultThreads();
        if (ahead) {
            pool_ = &ahead->pool();
        } else if (threads > 1 && indices.size() > 1) {
            ownPool_.reset(new (std::nothrow) TaskPool(threads));
            pool_ = ownPool_.get();
        }
        if (pool_) most_ = kAheadPerThread * std::size_t(pool_->threads());
    }

    ExtractSummary run();

private:
    // A file handed to the pool.
    struct Writing {
        std::size_t step = 0;
        int index = 0;
        std::string path;
        std::string staged;
        bool created = false;  // nothing was at `path` before: written ahead of the records before it
        std::shared_ptr<WriteResult> result;
        TaskPool::Handle task;
    };

    void startWriting(std::size_t step, int index, std::string path, bool created);
    // The record's file at path: the bytes made ahead, or encoded now.
    WriteResult write(const SWFRes& record, int index, const std::string& path);
    // Finishes the files at the front that are done, then keeps at most
    // most_ files waiting to start, working on them meanwhile: false when
    // the extraction stops.
    bool settle();
    // The rest of the oldest file: false when the extraction stops there.
    bool finishOldest();
    bool finishAll();
    bool finish(Writing& writing);

    const SWFDocument& document_;
    const std::string folder_;
    const std::vector<int>& indices_;
    ExtractionHost& host_;
    const WriteOptions options_;
    EncodedAhead* const ahead_;
    std::unique_ptr<TaskPool> ownPool_;
    TaskPool* pool_ = nullptr;
    std::size_t most_ = 0;  // files waiting to start; 0 without a pool
    std::deque<Writing> writing_;
    std::unordered_set<std::string> paths_;  // of writing_
    ExtractSummary summary_;
};

ExtractSummary Extraction::run() {
    host_.beginProgress(int(indices_.size()));
    bool overwriteAll = false;
    bool skipExisting = false;
    for (std::size_t step = 0; step < indices_.size(); ++step) {
        host_.setProgress(int(step));
        if (host_.cancelRequested()) {
            if (finishAll()) summary_.stopped = summary_.cancelled = true;
            break;
        }
        const int index = indices_[step];
        if (index < 0 || index >= document_.count()) continue;
        const SWFRes& record = document_.resource(index);
        const std::string path = folder_ + document_.resourceFileName(index, record.number, options_.naming);

        // A file that exists is decided on after every file before it is
        // done, as a question may come or the extraction may stop first.
        bool exists = fileExists(path);
        if ((exists || paths_.count(path)) && !writing_.empty()) {
            if (!finishAll()) break;
            exists = fileExists(path);
        }
        if (!overwriteAll && exists) {
            const OverwriteAnswer answer = skipExisting ? OverwriteAnswer::No : host_.confirmOverwrite(path);
            if (answer == OverwriteAnswer::NoToAll) skipExisting = true;
            if (answer == OverwriteAnswer::Cancel) {
                summary_.stopped = true;
                break;
            }
            if (answer == OverwriteAnswer::No || answer == OverwriteAnswer::NoToAll) {
                ++summary_.skipped;
                host_.resourceDone(index, path, ExtractionHost::Outcome::Skipped, "exists");
                continue;
            }
            if (answer == OverwriteAnswer::All) overwriteAll = true;
        }
        startWriting(step, index, path, !exists);
        if (!settle()) break;
    }
    finishAll();
    host_.endProgress();
    return summary_;
}

void Extraction::startWriting(std::size_t step, int index, std::string path, bool created) {
    Writing writing;
    writing.step = step;
    writing.index = index;
    writing.staged = host_.stagingPath(path);
    writing.path = std::move(path);
    writing.created = created;
    writing.result = std::make_shared<WriteResult>(WriteOk);
    const SWFRes& record = document_.resource(index);
    if (pool_) {
        writing.task = pool_->submit([&record, index, staged = writing.staged, result = writing.result, this] {
            *result = write(record, index, staged);
        });
    }
    if (!writing.task) *writing.result = write(record, index, writing.staged);
    paths_.insert(writing.path);
    writing_.push_back(std::move(writing));
}

WriteResult Extraction::write(const SWFRes& record, int index, const std::string& path) {
    const std::shared_ptr<const std::string> bytes = ahead_ ? ahead_->take(index) : nullptr;
    return bytes ? writeEncodedFile(*bytes, path) : writeResourceFile(record, path, options_);
}

bool Extraction::settle() {
    for (;;) {
        while (!writing_.empty() && (!writing_.front().task || pool_->done(writing_.front().task))) {
            if (!finishOldest()) return false;
        }
        if (!pool_ || pool_->queued() <= most_) return true;
        pool_->helpOrWait();
    }
}

bool Extraction::finishOldest() {
    Writing writing = std::move(writing_.front());
    writing_.pop_front();
    paths_.erase(writing.path);
    if (finish(writing)) return true;
    // The extraction stops at this file: the ones written ahead of it are
    // taken back. They are new files, so nothing that was there is lost.
    for (Writing& ahead : writing_) {
        if (ahead.task) pool_->wait(ahead.task);
        if (*ahead.result == WriteOk && (ahead.created || ahead.staged != ahead.path))
            std::remove(ahead.staged.c_str());
    }
    writing_.clear();
    paths_.clear();
    return false;
}

bool Extraction::finishAll() {
    while (!writing_.empty()) {
        if (!finishOldest()) return false;
    }
    return true;
}

bool Extraction::finish(Writing& writing) {
    if (writing.task) pool_->wait(writing.task);
    WriteResult result = *writing.result;
    const int index = writing.index;
    const std::string& path = writing.path;
    if (result == WriteOk) {
        std::string reason;
        const auto outcome = writing.staged == path ? ExtractionHost::Outcome::Written
                                                    : host_.commit(index, writing.staged, path, reason);
        if (outcome == ExtractionHost::Outcome::Written) {
            ++summary_.written;
            host_.resourceDone(index, path, outcome, reason);
            return true;
        }
        if (outcome == ExtractionHost::Outcome::Skipped) {
            ++summary_.skipped;
            host_.resourceDone(index, path, outcome, reason);
            return true;
        }
        result = CreateFailed;  // the file was written but could not be put in place
    }
    const SWFRes& record = document_.resource(index);
    ++summary_.failed;
    host_.resourceDone(index, path, ExtractionHost::Outcome::Failed,
                       result == CreateFailed ? "cannot create the file" : "cannot write the resource");
    std::string message = result == CreateFailed
                              ? std::string(text::kCannotCreateFile) + ":\t \n" + path + "\n"
                              : std::string(text::kCannotWriteResource) + ":\t \n" + record.description + "\n";
    if (result != CreateFailed) {
        for (const Problem& problem : record.problems) message += problem.reason + "\n";
    }
    if (writing.step + 1 == indices_.size()) {
        host_.report(message, MessageIcon::Warning, MessageButtons::Ok);
    } else if (host_.report(message + text::kContinue, MessageIcon::Warning, MessageButtons::YesNo) ==
               MessageAnswer::No) {
        summary_.stopped = true;
        return false;
    }
    return true;
}

}  // namespace

struct EncodedAhead::Held {
    std::mutex mutex;
    std::int64_t bytes = 0;
};

struct EncodedAhead::Made {
    std::string bytes;
    bool ok = false;
    std::shared_ptr<Held> held;  // set when ok: `bytes` counted there
    ~Made() {
        if (!held) return;
        std::lock_guard lock(held->mutex);
        held->bytes -= std::int64_t(bytes.size());
    }
};

EncodedAhead::EncodedAhead(const WriteOptions& options, int threads, Wanted wanted)
    : options_(options), wanted_(std::move(wanted)), most_(MemoryBudget::limit() / 8), held_(std::make_shared<Held>()),
      pool_(threads) {}

EncodedAhead::~EncodedAhead() { pool_.discardQueued(); }

void EncodedAhead::recordAdded(int index, const SWFRes& record) {
    if (record.kind != kKindImage || !wanted_(index, record)) return;
    try {
        auto made = std::make_shared<Made>();
        TaskPool::Handle task = pool_.submit([&record, made, this] {
            std::string bytes;
            if (!encodeImageFile(record, options_, bytes)) return;
            std::lock_guard lock(held_->mutex);
            if (held_->bytes + std::int64_t(bytes.size()) > most_) return;
            held_->bytes += std::int64_t(bytes.size());
            made->bytes = std::move(bytes);
            made->held = held_;
            made->ok = true;
        });
        if (!task) return;  // the extraction encodes it
        std::lock_guard lock(mutex_);
        encodings_.emplace(index, Encoding{std::move(task), std::move(made)});
    } catch (const std::bad_alloc&) {}
}

void EncodedAhead::recordsDropped() {
    pool_.discardQueued();
    std::lock_guard lock(mutex_);
    encodings_.clear();
}

std::shared_ptr<const std::string> EncodedAhead::take(int index) {
    Encoding encoding;
    {
        std::lock_guard lock(mutex_);
        const auto found = encodings_.find(index);
        if (found == encodings_.end()) return nullptr;
        encoding = std::move(found->second);
        encodings_.erase(found);
    }
    pool_.wait(encoding.task);
    if (!encoding.made->ok) return nullptr;
    return std::shared_ptr<const std::string>(encoding.made, &encoding.made->bytes);
}

ExtractSummary extractResources(const SWFDocument& document, const std::string& folderText,
                                const std::vector<int>& indices, ExtractionHost& host, const WriteOptions& options,
                                EncodedAhead* ahead) {
    std::string folder = cleanFolderText(folderText);
    std::string error;
    if (!createPath(folder, error)) {
        host.report(text::kCouldNotExtract + error, MessageIcon::Error, MessageButtons::Ok);
        ExtractSummary summary;
        summary.folderFailed = true;
        return summary;
    }
    if (folder.back() != '/') folder += '/';
    return Extraction(document, folder, indices, host, options, ahead).run();
}

}  // namespace kestrel
