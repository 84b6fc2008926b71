// Between the extraction of one movie and the batch it belongs to: the
// batch runs in the kestrel-cli process, the movie in a thread of it or in a
// worker process that forwards every call over a pipe.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/batch.h"

namespace kestrel::cli {

// One resource's outcome as the movie's side sees it.
struct ResourceNote {
    std::string identity;  // JSON object: index, kind, number, ...
    std::string path;      // the final file path
    std::int64_t bytes = -1;
    std::string sha256;
    ResourceStatus status = ResourceStatus::Written;
    std::string reason;
};

// What to do with a staged file.
struct CommitDecision {
    enum class Action {
        Keep,  // put it in place
        Link,  // same content as `target`: make a hard link to it instead
        Drop   // same content as `target`: leave it out
    };
    Action action = Action::Keep;
    std::string target;
};

struct MovieReport {
    std::optional<int> result;  // none when the movie was never read through
    bool usable = false;
    bool folderFailed = false;
    bool stopped = false;  // the user cancelled before its end
    int written = 0;
    int skipped = 0;
    int failed = 0;
    std::string problems = "[]";  // JSON array
    std::string failure;          // set when the movie's worker died or ran out of time
};

class BatchLink {
public:
    virtual ~BatchLink() = default;
    virtual OverwriteAnswer confirmOverwrite(int movie, const std::string& path) = 0;
    virtual MessageAnswer report(const std::string& text, MessageIcon icon, MessageButtons buttons) = 0;
    virtual void message(const std::string& text, MessageIcon icon) = 0;
    virtual void movieStarted(int movie, std::int64_t bytes, const std::string& sha256) = 0;
    // A resource is about to be written to `staged`: the file a crash or a
    // kill would leave behind.
    virtual void staging(int /*movie*/, const std::string& /*staged*/) {}
    // A resource was written to a staging file: the batch records it and
    // decides how it is put in place.
    virtual CommitDecision staged(int movie, const ResourceNote& note) = 0;
    // A resource that was skipped because its file exists, or that failed.
    virtual void resourceDone(int movie, const ResourceNote& note) = 0;
    virtual void movieDone(int movie, const MovieReport& report) = 0;
};

// Reads one movie and writes its resources, telling `link` about each.
// `record`: hash the movie and every file written (for a manifest or dedupe).
MovieReport extractMovie(int movie, const std::string& file, const std::string& folder, const MovieSelection& selection,
                         bool record, BatchLink& link);

// Hands out the movies to work on, in order, until stopped.
class MovieQueue {
public:
    explicit MovieQueue(std::vector<int> movies) : movies_(std::move(movies)) {}
    int next() {
        if (stopped_) return -1;
        const std::size_t i = next_++;
        return i < movies_.size() ? movies_[i] : -1;
    }
    void stop() { stopped_ = true; }
    std::size_t size() const { return movies_.size(); }

private:
    std::vector<int> movies_;
    std::atomic<std::size_t> next_ = 0;
    std::atomic<bool> stopped_ = false;
};

// Runs the queue's movies on settings.jobs worker processes, each movie's
// calls and outcome going to `link` (which must be safe to call from
// several threads).
void runWorkerPool(MovieQueue& queue, const std::vector<std::string>& files, const std::vector<std::string>& folders,
                   const BatchSettings& settings, BatchLink& link);

}  // namespace kestrel::cli
