// Writing resources of a document into a folder: the folder check that
// creates what is missing, file naming, the overwrite question and the
// per-file error reports. The window and the command-line tool answer the
// questions through ExtractionHost.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/task_pool.h"
#include "document/messages.h"
#include "document/swf_document.h"

namespace kestrel {

enum class OverwriteAnswer {
    Yes,
    All,
    No,
    Cancel,
    NoToAll  // skip this file and every other one that exists
};

class ExtractionHost {
public:
    virtual ~ExtractionHost() = default;
    // A file exists at path: overwrite it?
    virtual OverwriteAnswer confirmOverwrite(const std::string& path) = 0;
    // Folder problems and per-file failures.
    virtual MessageAnswer report(const std::string& text, MessageIcon icon, MessageButtons buttons) = 0;
    virtual void beginProgress(int /*steps*/) {}
    virtual void setProgress(int /*step*/) {}
    virtual void endProgress() {}
    // Called once per index with what happened to it; `reason` says why
    // for Skipped and Failed ("exists", "cannot create the file", ...).
    enum class Outcome {
        Written,
        Skipped,
        Failed
    };
    virtual void resourceDone(int /*index*/, const std::string& /*path*/, Outcome /*outcome*/,
                              const std::string& /*reason*/) {}
    // Staged writing: when stagingPath returns another name than `path`, the
    // record is written there first and commit() puts it in place (rename,
    // hard link or drop), so a run killed half-way never leaves a partial
    // file under the final name. By default files are written in place.
    virtual std::string stagingPath(const std::string& path) { return path; }
    // Puts the complete file `staged` in place of `path`. Written, or Skipped
    // or Failed with `reason` set.
    virtual Outcome commit(int /*index*/, const std::string& /*staged*/, const std::string& /*path*/,
                           std::string& /*reason*/) {
        return Outcome::Written;
    }
    // Asked before each file; true stops the extraction there.
    virtual bool cancelRequested() { return false; }
};

struct ExtractSummary {
    int written = 0;
    int skipped = 0;
    int failed = 0;
    bool folderFailed = false;
    bool stopped = false;    // Cancel, or No to "continue?"
    bool cancelled = false;  // stopped because the host asked to
};

namespace text {
inline constexpr const char* kCouldNotExtract = "Could not extract the resources.\n";
inline constexpr const char* kCannotCreateFile = "Unable to create the following file";
inline constexpr const char* kCannotWriteResource = "Could not create the following resource";
inline constexpr const char* kContinue = "\nDo you want to continue ?";
inline constexpr const char* kFileExists = "The file '%s' already exists.\n\nDo you want to overwrite it?";
}  // namespace text

// The process's current folder as Kestrel keeps it (the working directory at
// start; changed by createPath and by the folder dialogs). Never chdir.
std::string currentFolder();
void setCurrentFolder(const std::string& folder);

// Replaces * ? " < > | by '_'.
std::string cleanFolderText(std::string folder);

// Creates every missing folder of an absolute path. False with a message
// such as "/srv/x : Access denied" in `error`.
bool createPath(const std::string& path, std::string& error);

// Image files encoded while their movie is still being read. As the
// listener of SWFDocument::readFile it starts encoding each image that
// `wanted` accepts on its pool as soon as the record exists, in memory; the
// extraction that follows takes those bytes and encodes only the rest, on the
// same pool, so the cores are busy while the tags are walked. The bytes are
// what writeResourceFile writes. They are kept apart from the MemoryBudget,
// which decides which pictures a read keeps, to at most an eighth of its
// limit; an image that does not fit is left to the extraction.
class EncodedAhead final : public RecordListener {
public:
    using Wanted = std::function<bool(int index, const SWFRes& record)>;
    EncodedAhead(const WriteOptions& options, int threads, Wanted wanted);
    // Drops what has not started and waits for the rest.
    ~EncodedAhead() override;
    EncodedAhead(const EncodedAhead&) = delete;
    EncodedAhead& operator=(const EncodedAhead&) = delete;

    void recordAdded(int index, const SWFRes& record) override;
    void recordsDropped() override;

    // The file made for the record at `index`, waiting (and helping) while
    // it is being made; null when there is none. Each is taken once.
    std::shared_ptr<const std::string> take(int index);
    TaskPool& pool() { return pool_; }

private:
    struct Made;
    struct Encoding {
        TaskPool::Handle task;
        std::shared_ptr<Made> made;
    };

    struct Held;

    const WriteOptions options_;
    const Wanted wanted_;
    const std::int64_t most_;     // bytes held at once
    std::shared_ptr<Held> held_;  // shared with what take() hands out
    std::mutex mutex_;            // guards encodings_
    std::unordered_map<int, Encoding> encodings_;
    TaskPool pool_;  // last: destroyed first, while what its tasks use still exists
};

// Writes the records at `indices` into the folder named by folderText.
// With `ahead`, the files it made are written as they are and its pool
// encodes the others.
ExtractSummary extractResources(const SWFDocument& document, const std::string& folderText,
                                const std::vector<int>& indices, ExtractionHost& host, const WriteOptions& options = {},
                                EncodedAhead* ahead = nullptr);

}  // namespace kestrel
