// Extraction of many movies: the manifest, resume, dedupe, the progress
// line, and the dispatch of movies to threads or to worker processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/manifest.h"
#include "document/extract.h"

namespace kestrel::cli {

// What to take from each movie and how to write it.
struct MovieSelection {
    bool images = true;
    bool sounds = true;
    bool videos = true;
    std::vector<int> indices;  // empty: every resource
    WriteOptions write;
};

enum class Dedupe {
    Off,
    Link,  // later copies of content already written become hard links to the first
    Skip   // later copies are left out
};

struct BatchSettings {
    std::string base;      // the output folder (absolute); manifest paths are relative to it
    std::string manifest;  // empty: none
    bool resume = false;
    Dedupe dedupe = Dedupe::Off;
    bool isolate = true;                       // worker processes when there is more than one movie
    int jobs = 1;                              // threads or worker processes
    int threads = 0;                           // pool threads of one movie; 0: cores / jobs, at least 1
    std::int64_t maxMemory = 0;                // address space of one worker process, bytes
    int timeoutSeconds = 300;                  // per movie in a worker process; 0: none
    bool terminal = false;                     // stderr is a terminal: draw the progress line
    std::string self = "/proc/self/exe";       // the program the workers run
    std::vector<std::string> workerArguments;  // the extract options, given to every worker again
};

struct BatchTotals {
    int written = 0;
    int skipped = 0;
    int failed = 0;
    int unusable = 0;          // movies that could not be read, or whose folder could not be made, or whose worker died
    int damaged = 0;           // movies read in part: result 2 (damaged) or 3 (some resources failed)
    int alreadyDone = 0;       // movies left alone by --resume
    bool setupFailed = false;  // the manifest could not be read or started: nothing was done
    bool manifestIncomplete = false;  // some lines could not be written
};

// Default --max-memory: a quarter of the physical memory.
std::int64_t defaultMaxMemory();

// The pool threads each movie of a batch gets: `threads` when given, else
// its share of the cores (cores / jobs, at least one).
int threadsPerMovie(int threads, int jobs);

// Runs the batch. `user` answers the overwrite question and shows failure
// reports, `userMessages` shows the reader's messages; both are called from
// one thread at a time.
BatchTotals runBatch(const std::vector<std::string>& files, const std::vector<std::string>& folders,
                     const MovieSelection& selection, const BatchSettings& settings, ExtractionHost& user,
                     MessageSink& userMessages);

// The worker process: reads movies from the parent on fd 3 and answers on
// fd 4 until the parent closes the pipe.
int runWorker(const MovieSelection& selection, const BatchSettings& settings);

}  // namespace kestrel::cli
