// The extraction manifest: JSON Lines, one line per resource outcome and one
// line per movie, written as the batch goes so that a killed run leaves a
// valid prefix; and reading one back to resume a batch.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "document/swf_document.h"

namespace kestrel::cli {

using Json = nlohmann::ordered_json;

// One line of JSON text (no newline); invalid UTF-8 in strings becomes U+FFFD.
std::string jsonText(const Json& value);
// `text` as it reads back from the manifest (invalid UTF-8 replaced).
std::string jsonSafe(const std::string& text);

// The keys that name record `index` of `doc`: index, kind, number, and the
// optional ones (tag, characterId, names, origin) when the record has them.
Json recordIdentity(const SWFDocument& doc, int index);
// What went wrong while reading the movie, as an array of
// {"tag", "offset", "reason"}.
Json movieProblems(const SWFDocument& doc);

struct MovieIdentity {
    std::string movie;        // the path as given
    std::int64_t bytes = -1;  // -1 when unknown (the file could not be read)
    std::string sha256;
};

enum class ResourceStatus {
    Written,
    Skipped,
    Failed
};

// A resource line. `output` and `sameAs` are relative to the output folder.
Json resourceLine(const MovieIdentity& movie, const Json& identity, const std::string& output, std::int64_t bytes,
                  const std::string& sha256, ResourceStatus status, const std::string& reason,
                  const std::string& sameAs);

struct MovieOutcome {
    std::optional<int> result;  // the reader's result code; none when the movie was never read through
    bool failed = false;        // not usable, its folder failed, stopped half-way, or its worker died
    std::string reason;         // why it failed
    int written = 0;
    int skipped = 0;
    int failedResources = 0;
    Json problems = Json::array();
};

Json movieLine(const MovieIdentity& movie, const MovieOutcome& outcome);

// Appends lines, each flushed as it is written.
class ManifestWriter {
public:
    ManifestWriter() = default;
    ~ManifestWriter();
    ManifestWriter(const ManifestWriter&) = delete;
    ManifestWriter& operator=(const ManifestWriter&) = delete;

    // Starts the manifest at `path`, with the lines of the one there that
    // `keep` accepts (none when it is empty), replacing it in one step; false
    // with `error` set when it cannot be written.
    bool open(const std::string& path, const std::function<bool(const std::string&)>& keep, std::string& error);
    bool isOpen() const { return file_ != nullptr; }
    void write(const Json& line);
    // False once a line could not be written (a full disk, say).
    bool good() const { return good_; }

private:
    std::FILE* file_ = nullptr;
    bool good_ = true;
};

// What an earlier run recorded, for --resume.
class PreviousRun {
public:
    // Reads the manifest at `path` (missing: an empty record); outputs are
    // relative to `base`. Lines that are not JSON objects (the torn end of a
    // killed run) are dropped.
    bool load(const std::string& path, const std::string& base, std::string& error);

    // True when the movie's last record is complete: a movie line saying
    // done, the movie still has the size recorded, and every resource is
    // written and still there with its size (or left out as a duplicate of
    // a file that is still there).
    bool isDone(const std::string& movie, const std::string& absoluteMovie) const;

    // Whether a line of the manifest is kept when the movies in `redo` are
    // done again: lines that are not JSON objects and those of these movies
    // are not.
    static bool keeps(const std::string& line, const std::set<std::string>& redo);
    // Output files (absolute) recorded as written for `movie`.
    std::set<std::string> outputsOf(const std::string& movie) const;
    // SHA-256 -> absolute path of a written file, from the movies not in `redo`.
    std::map<std::string, std::string> contentExcept(const std::set<std::string>& redo) const;

private:
    // What resume needs of a line (an archive's manifest can hold millions).
    struct Entry {
        bool isMovie = false;
        std::string status;
        std::string reason;
        std::string output;
        std::string sameAs;
        std::string sha256;
        std::int64_t bytes = -1;  // of the file; of the movie for a movie line
    };
    std::string base_;
    std::map<std::string, std::vector<Entry>> byMovie_;
};

}  // namespace kestrel::cli
