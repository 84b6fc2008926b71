#include "cli/batch.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "base/path.h"
#include "base/task_pool.h"
#include "cli/batch_link.h"
#include "cli/file_hash.h"
#include "cli/inputs.h"

namespace kestrel::cli {

namespace {

using Clock = std::chrono::steady_clock;

// "3 min", "1 h 5 min", "42 s".
std::string durationText(double seconds) {
    const long s = long(seconds + 0.5);
    if (s < 60) return std::to_string(s) + " s";
    if (s < 3600) return std::to_string(s / 60) + " min";
    return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

// One line on a terminal for the whole batch, rewritten in place:
// "[12/400] 310 files written, 95.2 files/s, 2 min left".
class BatchProgress {
public:
    BatchProgress(int total, bool enabled) : total_(total), enabled_(enabled && total > 1) {}

    void resourceWritten() {
        ++written_;
        draw(false);
    }
    void movieDone() {
        ++done_;
        draw(true);
    }
    // Removes the line before something else is printed; redraw() puts it back.
    void clear() {
        if (enabled_ && shown_) std::fputs("\r\033[K", stderr);
        shown_ = false;
    }
    void redraw() { draw(true); }
    void finish() {
        clear();
        enabled_ = false;
    }

private:
    void draw(bool always) {
        if (!enabled_) return;
        const auto now = Clock::now();
        if (!always && shown_ && now - lastDrawn_ < std::chrono::milliseconds(100)) return;
        lastDrawn_ = now;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        std::string line = "[" + std::to_string(done_) + "/" + std::to_string(total_) + "] " +
                           std::to_string(written_) + " file" + (written_ == 1 ? "" : "s") + " written";
        if (elapsed >= 1.0) {
            char rate[32];
            std::snprintf(rate, sizeof rate, ", %.1f files/s", written_ / elapsed);
            line += rate;
        }
        if (done_ > 0 && done_ < total_) {
            line += ", " + durationText(elapsed / done_ * (total_ - done_)) + " left";
        }
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        shown_ = true;
    }

    int total_;
    bool enabled_;
    int done_ = 0;
    int written_ = 0;
    bool shown_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDrawn_;
};

std::string relativeTo(const std::string& base, const std::string& path) {
    return std::filesystem::path(path).lexically_relative(base).string();
}

// The batch's side of every movie: the user's questions, the manifest,
// the table of content written so far, the totals and the progress line.
class Coordinator final : public BatchLink {
public:
    Coordinator(const std::vector<std::string>& files, const BatchSettings& settings, ExtractionHost& user,
                MessageSink& userMessages, ManifestWriter& manifest, MovieQueue& queue, int movies)
        : files_(files), settings_(settings), user_(user), userMessages_(userMessages), manifest_(manifest),
          queue_(queue), identities_(files.size()), progress_(movies, settings.terminal) {
        if (const char* kill = std::getenv("KESTREL_TEST_KILL_ON")) killOn_ = kill;
    }

    // Files of earlier runs that a movie may replace without asking (its own,
    // when --resume does it again), and content already on disk.
    void setOwnFiles(int movie, std::set<std::string> files) { ownFiles_[movie] = std::move(files); }
    void setContent(std::map<std::string, std::string> content) { content_ = std::move(content); }

    OverwriteAnswer confirmOverwrite(int movie, const std::string& path) override {
        std::lock_guard lock(mutex_);
        const auto own = ownFiles_.find(movie);
        if (own != ownFiles_.end() && own->second.count(path)) return OverwriteAnswer::Yes;
        progress_.clear();
        const OverwriteAnswer answer = user_.confirmOverwrite(path);
        if (answer == OverwriteAnswer::Cancel) queue_.stop();
        progress_.redraw();
        return answer;
    }

    MessageAnswer report(const std::string& text, MessageIcon icon, MessageButtons buttons) override {
        std::lock_guard lock(mutex_);
        progress_.clear();
        const MessageAnswer answer = user_.report(text, icon, buttons);
        progress_.redraw();
        return answer;
    }

    void message(const std::string& text, MessageIcon icon) override {
        std::lock_guard lock(mutex_);
        progress_.clear();
        userMessages_.show(text, icon, MessageButtons::Ok);
        progress_.redraw();
    }

    void movieStarted(int movie, std::int64_t bytes, const std::string& sha256) override {
        std::lock_guard lock(mutex_);
        identities_[std::size_t(movie)] = {files_[std::size_t(movie)], bytes, sha256};
    }

    CommitDecision staged(int movie, const ResourceNote& note) override {
        std::lock_guard lock(mutex_);
        CommitDecision decision;
        if (settings_.dedupe != Dedupe::Off && !note.sha256.empty()) {
            const auto [at, first] = content_.emplace(note.sha256, note.path);
            if (!first && at->second != note.path) {
                decision.action = settings_.dedupe == Dedupe::Link ? CommitDecision::Action::Link
                                                                   : CommitDecision::Action::Drop;
                decision.target = at->second;
            }
        }
        const bool dropped = decision.action == CommitDecision::Action::Drop;
        record(movie, note, dropped ? ResourceStatus::Skipped : ResourceStatus::Written, dropped ? "duplicate" : "",
               decision.target.empty() ? "" : relativeTo(settings_.base, decision.target));
        if (!dropped) progress_.resourceWritten();
        return decision;
    }

    void resourceDone(int movie, const ResourceNote& note) override {
        std::lock_guard lock(mutex_);
        record(movie, note, note.status, note.reason, "");
    }

    void movieDone(int movie, const MovieReport& report) override {
        std::lock_guard lock(mutex_);
        MovieIdentity& identity = identities_[std::size_t(movie)];
        if (identity.movie.empty()) {
            // Not hashed, or the worker died before it could say.
            identity.movie = files_[std::size_t(movie)];
            if (manifest_.isOpen()) {
                const FileHash hash = hashFile(absolutePath(identity.movie));
                identity.bytes = hash.bytes;
                identity.sha256 = hash.sha256;
            }
        }
        MovieOutcome outcome;
        outcome.result = report.result;
        outcome.written = report.written;
        outcome.skipped = report.skipped;
        outcome.failedResources = report.failed;
        outcome.problems = Json::parse(report.problems, nullptr, false);
        if (outcome.problems.is_discarded()) outcome.problems = Json::array();
        if (!report.failure.empty()) {
            outcome.failed = true;
            outcome.reason = report.failure;
            progress_.clear();
            userMessages_.show(files_[std::size_t(movie)] + ": " + report.failure, MessageIcon::Error,
                               MessageButtons::Ok);
        } else if (report.folderFailed) {
            outcome.failed = true;
            outcome.reason = "the output folder could not be made";
        } else if (report.stopped) {
            outcome.failed = true;  // so that --resume does it again
            outcome.reason = "stopped before its end";
        } else if (!report.usable) {
            outcome.failed = true;
            outcome.reason = readerMessage(report.result.value_or(1), files_[std::size_t(movie)]);
        }
        manifest_.write(movieLine(identity, outcome));
        totals.written += report.written;
        totals.skipped += report.skipped;
        totals.failed += report.failed;
        if (outcome.failed && !report.stopped) ++totals.unusable;
        if (report.result == 2 || report.result == 3) ++totals.damaged;
        progress_.movieDone();
    }

    void finish() {
        std::lock_guard lock(mutex_);
        progress_.finish();
    }

    BatchTotals totals;

private:
    void record(int movie, const ResourceNote& note, ResourceStatus status, const std::string& reason,
                const std::string& sameAs) {
        if (!manifest_.isOpen()) return;
        Json identity = Json::parse(note.identity, nullptr, false);
        if (identity.is_discarded() || !identity.is_object()) identity = Json::object();
        manifest_.write(resourceLine(identities_[std::size_t(movie)], identity, relativeTo(settings_.base, note.path),
                                     note.bytes, note.sha256, status, reason, sameAs));
        // A test's stand-in for a kill at the worst moment: with one
        // resource of the movie recorded and the rest not.
        if (!killOn_.empty() && files_[std::size_t(movie)].find(killOn_) != std::string::npos) {
            ::kill(::getpid(), SIGKILL);
        }
    }

    const std::vector<std::string>& files_;
    const BatchSettings& settings_;
    ExtractionHost& user_;
    MessageSink& userMessages_;
    ManifestWriter& manifest_;
    MovieQueue& queue_;
    std::mutex mutex_;
    std::vector<MovieIdentity> identities_;
    std::map<int, std::set<std::string>> ownFiles_;
    std::map<std::string, std::string> content_;  // SHA-256 -> the first file with that content
    BatchProgress progress_;
    std::string killOn_;
};

// The reader's messages, sent to the batch. A warning's text does not say
// which movie it is about, so the movie's name goes in front of it.
class LinkMessages final : public MessageSink {
public:
    LinkMessages(BatchLink& link, std::string file) : link_(link), file_(std::move(file)) {}
    MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons) override {
        link_.message(icon == MessageIcon::Warning ? file_ + ": " + text : text, icon);
        return MessageAnswer::Ok;
    }

private:
    BatchLink& link_;
    std::string file_;
};

// The extraction of one movie: questions and reports go to the batch; each
// file is written under a staging name and put in place once the batch has
// recorded it.
class MovieHost final : public ExtractionHost {
public:
    MovieHost(int movie, const SWFDocument& doc, bool record, BatchLink& link)
        : movie_(movie), doc_(doc), record_(record), link_(link) {}

    OverwriteAnswer confirmOverwrite(const std::string& path) override { return link_.confirmOverwrite(movie_, path); }

    MessageAnswer report(const std::string& text, MessageIcon icon, MessageButtons buttons) override {
        return link_.report(text, icon, buttons);
    }

    std::string stagingPath(const std::string& path) override {
        const std::size_t slash = path.rfind('/');
        const std::string staged = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".kestrel-part";
        link_.staging(movie_, staged);
        return staged;
    }

    Outcome commit(int index, const std::string& staged, const std::string& path, std::string& reason) override {
        ResourceNote note = noteFor(index, path);
        if (record_) {
            const FileHash hash = hashFile(staged);
            if (hash.bytes < 0) {
                std::remove(staged.c_str());
                reason = "cannot read the written file";
                return Outcome::Failed;
            }
            note.bytes = hash.bytes;
            note.sha256 = hash.sha256;
        }
        recorded_.insert(index);
        const CommitDecision decision = link_.staged(movie_, note);
        switch (decision.action) {
            case CommitDecision::Action::Drop:
                std::remove(staged.c_str());
                reason = "duplicate";
                return Outcome::Skipped;
            case CommitDecision::Action::Link: {
                const std::string linked = staged + "-link";
                if (::link(decision.target.c_str(), linked.c_str()) == 0) {
                    if (std::rename(linked.c_str(), path.c_str()) == 0) {
                        std::remove(staged.c_str());
                        return Outcome::Written;
                    }
                    std::remove(linked.c_str());
                }
                break;  // no hard links here: keep the copy
            }
            case CommitDecision::Action::Keep: break;
        }
        if (std::rename(staged.c_str(), path.c_str()) == 0) return Outcome::Written;
        std::remove(staged.c_str());
        reason = "cannot create the file";
        return Outcome::Failed;
    }

    void resourceDone(int index, const std::string& path, Outcome outcome, const std::string& reason) override {
        if (outcome == Outcome::Written || recorded_.count(index)) return;  // recorded when staged
        ResourceNote note = noteFor(index, path);
        note.status = outcome == Outcome::Skipped ? ResourceStatus::Skipped : ResourceStatus::Failed;
        note.reason = reason;
        link_.resourceDone(movie_, note);
    }

private:
    ResourceNote noteFor(int index, const std::string& path) const {
        ResourceNote note;
        note.identity = jsonText(recordIdentity(doc_, index));
        note.path = path;
        return note;
    }

    int movie_;
    const SWFDocument& doc_;
    bool record_;
    BatchLink& link_;
    std::set<int> recorded_;
};

}  // namespace

std::int64_t defaultMaxMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return std::int64_t(1) << 31;
    return std::int64_t(pages) * pageSize / 4;
}

int threadsPerMovie(int threads, int jobs) {
    if (threads > 0) return threads;
    return std::max(1, TaskPool::cores() / std::max(1, jobs));
}

namespace {

// With more than one thread, the images are encoded while the movie is read.
// Only those whose file does not exist yet: a file that exists may be kept
// (no --overwrite, or the answer No), and a run over a folder already
// extracted should not encode everything again for nothing. That needs the
// file name before the movie is read to its end, which title-number names
// allow (numbers count each kind in reading order) and symbol names do not.
std::unique_ptr<EncodedAhead> encodeAhead(const SWFDocument& doc, const std::string& folder,
                                          const MovieSelection& selection,
                                          const std::function<bool(int, int)>& wanted) {
    const int threads = selection.write.threads > 0 ? selection.write.threads : TaskPool::defaultThreads();
    if (threads < 2 || !selection.images || selection.write.naming != FileNaming::TitleNumber) return nullptr;
    std::string base = cleanFolderText(folder);
    if (base.empty() || base.back() != '/') base += '/';
    auto images = std::make_shared<int>(0);
    return std::make_unique<EncodedAhead>(
        selection.write, threads, [&doc, base, images, wanted](int index, const SWFRes& record) {
            const int number = ++*images;  // asked about images only, each once
            if (!wanted(index, record.kind)) return false;
            struct stat st {};
            return ::stat((base + doc.resourceFileName(index, number)).c_str(), &st) != 0;
        });
}

}  // namespace

MovieReport extractMovie(int movie, const std::string& file, const std::string& folder, const MovieSelection& selection,
                         bool record, BatchLink& link) {
    const std::string path = absolutePath(file);
    if (record) {
        const FileHash hash = hashFile(path);
        link.movieStarted(movie, hash.bytes, hash.sha256);
    }
    LinkMessages messages(link, file);
    SWFDocument doc;
    auto wanted = [&selection](int index, int kind) {
        const bool kindWanted = kind == kKindImage   ? selection.images
                                : kind == kKindVideo ? selection.videos
                                                     : selection.sounds;
        return kindWanted && (selection.indices.empty() || std::find(selection.indices.begin(), selection.indices.end(),
                                                                     index) != selection.indices.end());
    };
    const std::unique_ptr<EncodedAhead> ahead = encodeAhead(doc, folder, selection, wanted);
    MovieReport report;
    report.usable = doc.readFile(path, nullptr, &messages, ahead.get());
    report.result = doc.readResult();
    if (!report.usable) return report;
    std::vector<int> indices;
    for (int i = 0; i < doc.count(); ++i) {
        if (wanted(i, doc.resource(i).kind)) indices.push_back(i);
    }
    MovieHost host(movie, doc, record, link);
    const ExtractSummary summary = extractResources(doc, folder, indices, host, selection.write, ahead.get());
    report.written = summary.written;
    report.skipped = summary.skipped;
    report.failed = summary.failed;
    report.folderFailed = summary.folderFailed;
    report.stopped = summary.stopped;
    if (record) report.problems = jsonText(movieProblems(doc));
    return report;
}

BatchTotals runBatch(const std::vector<std::string>& files, const std::vector<std::string>& folders,
                     const MovieSelection& selection, const BatchSettings& given, ExtractionHost& user,
                     MessageSink& userMessages) {
    BatchSettings settings = given;
    settings.base = cleanFolderText(settings.base);
    const bool record = !settings.manifest.empty() || settings.dedupe != Dedupe::Off;

    // With --resume, the movies the manifest shows complete are left alone
    // and keep their lines; every other movie is done again, its old lines
    // dropped, so the manifest ends up describing each movie once.
    PreviousRun previous;
    std::vector<int> todo;
    std::set<std::string> done;
    std::set<std::string> redo;
    std::map<int, std::set<std::string>> ownFiles;
    BatchTotals totals;
    std::string error;
    if (settings.resume && !previous.load(settings.manifest, settings.base, error)) {
        userMessages.show(error, MessageIcon::Error, MessageButtons::Ok);
        totals.setupFailed = true;
        return totals;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string key = jsonSafe(files[i]);
        if (settings.resume && !done.count(key) && previous.isDone(key, absolutePath(files[i]))) {
            done.insert(key);
            ++totals.alreadyDone;
            continue;
        }
        if (settings.resume) ownFiles[int(i)] = previous.outputsOf(key);
        redo.insert(key);
        todo.push_back(int(i));
    }

    ManifestWriter manifest;
    std::function<bool(const std::string&)> keep;
    if (settings.resume) keep = [&redo](const std::string& line) { return PreviousRun::keeps(line, redo); };
    if (!settings.manifest.empty()) {
        std::string folderError;
        const std::string parent = std::filesystem::path(absolutePath(settings.manifest)).parent_path().string();
        if (!createPath(parent, folderError) || !manifest.open(settings.manifest, keep, error)) {
            userMessages.show("cannot write the manifest " + (error.empty() ? folderError : error), MessageIcon::Error,
                              MessageButtons::Ok);
            totals.setupFailed = true;
            return totals;
        }
    }

    MovieQueue queue(todo);
    Coordinator coordinator(files, settings, user, userMessages, manifest, queue, int(todo.size()));
    for (auto& [movie, own] : ownFiles) coordinator.setOwnFiles(movie, std::move(own));
    if (settings.dedupe != Dedupe::Off) coordinator.setContent(previous.contentExcept(redo));

    const int jobs = int(std::min<std::size_t>(std::size_t(std::max(1, settings.jobs)), todo.size()));
    if (settings.isolate && files.size() > 1 && !todo.empty()) {
        settings.jobs = jobs;
        runWorkerPool(queue, files, folders, settings, coordinator);
    } else {
        // Each job's movie shares the cores with the others.
        TaskPool::setDefaultThreads(threadsPerMovie(settings.threads, jobs));
        auto work = [&] {
            for (int movie = queue.next(); movie >= 0; movie = queue.next()) {
                const MovieReport report = extractMovie(movie, files[std::size_t(movie)], folders[std::size_t(movie)],
                                                        selection, record, coordinator);
                coordinator.movieDone(movie, report);
            }
        };
        std::vector<std::thread> threads;
        for (int t = 1; t < jobs; ++t) threads.emplace_back(work);
        work();
        for (auto& t : threads) t.join();
    }
    coordinator.finish();
    coordinator.totals.alreadyDone = totals.alreadyDone;
    if (manifest.isOpen() && !manifest.good()) {
        userMessages.show("could not write all of the manifest " + settings.manifest, MessageIcon::Error,
                          MessageButtons::Ok);
        coordinator.totals.manifestIncomplete = true;
    }
    return coordinator.totals;
}

}  // namespace kestrel::cli
