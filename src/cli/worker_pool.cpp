// Worker processes for a batch: each runs `kestrel-cli __extract-worker`
// with the batch's options and takes movies one after another over a pipe,
// under an address-space limit; the parent enforces the time limit per
// movie. A worker that crashes, is killed or runs out of time costs only
// the movie it was on: that movie is recorded as failed and a new worker
// takes the next one.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>

#include "base/memory_budget.h"
#include "base/task_pool.h"
#include "cli/batch_link.h"

#if defined(__SANITIZE_ADDRESS__)
#define KESTREL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTREL_UNDER_ASAN 1
#endif
#endif

namespace kestrel::cli {

namespace {

using Clock = std::chrono::steady_clock;
using Frame = std::vector<std::string>;

constexpr int kWorkerIn = 3;   // the worker reads the parent's frames here
constexpr int kWorkerOut = 4;  // and writes its own here

// A frame on the pipe: a field count, then each field as its length and its
// bytes (32-bit lengths in host order: both ends are the same program).
bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool readAll(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

void putNumber(std::string& out, std::uint32_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }

bool writeFrame(int fd, const Frame& frame) {
    std::string out;
    putNumber(out, std::uint32_t(frame.size()));
    for (const std::string& field : frame) {
        putNumber(out, std::uint32_t(field.size()));
        out += field;
    }
    return writeAll(fd, out.data(), out.size());
}

bool readFrame(int fd, Frame& frame) {
    constexpr std::uint32_t kMaxField = 1u << 30;
    std::uint32_t count = 0;
    if (!readAll(fd, reinterpret_cast<char*>(&count), sizeof count) || count > 64) return false;
    frame.assign(count, {});
    for (std::string& field : frame) {
        std::uint32_t size = 0;
        if (!readAll(fd, reinterpret_cast<char*>(&size), sizeof size) || size > kMaxField) return false;
        field.resize(size);
        if (!readAll(fd, field.data(), size)) return false;
    }
    return true;
}

int toInt(const std::string& text) { return int(std::strtol(text.c_str(), nullptr, 10)); }
std::int64_t toInt64(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// --- the worker's side -----------------------------------------------------

// Every call becomes a frame to the parent; questions wait for its answer.
class PipeLink final : public BatchLink {
public:
    OverwriteAnswer confirmOverwrite(int movie, const std::string& path) override {
        return OverwriteAnswer(toInt(ask({"ask", std::to_string(movie), path}).at(1)));
    }
    MessageAnswer report(const std::string& text, MessageIcon icon, MessageButtons buttons) override {
        return MessageAnswer(
            toInt(ask({"report", text, std::to_string(int(icon)), std::to_string(int(buttons))}).at(1)));
    }
    void message(const std::string& text, MessageIcon icon) override {
        send({"message", text, std::to_string(int(icon))});
    }
    void movieStarted(int movie, std::int64_t bytes, const std::string& sha256) override {
        send({"start", std::to_string(movie), std::to_string(bytes), sha256});
    }
    void staging(int movie, const std::string& staged) override { send({"staging", std::to_string(movie), staged}); }
    CommitDecision staged(int movie, const ResourceNote& note) override {
        const Frame answer =
            ask({"staged", std::to_string(movie), note.identity, note.path, std::to_string(note.bytes), note.sha256});
        CommitDecision decision;
        decision.action = CommitDecision::Action(toInt(answer.at(1)));
        decision.target = answer.at(2);
        return decision;
    }
    void resourceDone(int movie, const ResourceNote& note) override {
        send({"resource", std::to_string(movie), note.identity, note.path, std::to_string(int(note.status)),
              note.reason});
    }
    void movieDone(int movie, const MovieReport& r) override {
        send({"done", std::to_string(movie), r.result ? std::to_string(*r.result) : "", r.usable ? "1" : "0",
              r.folderFailed ? "1" : "0", std::to_string(r.written), std::to_string(r.skipped),
              std::to_string(r.failed), r.problems, r.stopped ? "1" : "0"});
    }

private:
    void send(const Frame& frame) {
        if (!writeFrame(kWorkerOut, frame)) std::_Exit(3);  // the parent is gone
    }
    Frame ask(const Frame& frame) {
        send(frame);
        Frame answer;
        if (!readFrame(kWorkerIn, answer) || answer.size() < 3) std::_Exit(3);
        return answer;
    }
};

// --- the parent's side -----------------------------------------------------

struct Worker {
    pid_t pid = -1;
    int toWorker = -1;
    int fromWorker = -1;
};

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// "ended by signal 11 (Segmentation fault)", "stopped with exit status 3".
std::string describeEnd(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        return "its worker process was ended by signal " + std::to_string(sig) + " (" + strsignal(sig) + ")";
    }
    if (WIFEXITED(status)) return "its worker process stopped with exit status " + std::to_string(WEXITSTATUS(status));
    return "its worker process stopped";
}

int reap(Worker& worker) {
    closeFd(worker.toWorker);
    closeFd(worker.fromWorker);
    int status = 0;
    if (worker.pid > 0) {
        while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {}
    }
    worker.pid = -1;
    return status;
}

bool startWorker(Worker& worker, const std::vector<char*>& argv, const char* program) {
    int down[2];
    int up[2];
    if (::pipe2(down, O_CLOEXEC) != 0) return false;
    if (::pipe2(up, O_CLOEXEC) != 0) {
        ::close(down[0]);
        ::close(down[1]);
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // a killed batch takes its workers along
        if (::getppid() != parent) ::_exit(127);
        const int in = ::fcntl(down[0], F_DUPFD, 10);
        const int out = ::fcntl(up[1], F_DUPFD, 10);
        if (in < 0 || out < 0 || ::dup2(in, kWorkerIn) < 0 || ::dup2(out, kWorkerOut) < 0) ::_exit(127);
        ::close(in);
        ::close(out);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, 0);
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(program, argv.data());
        ::_exit(127);
    }
    ::close(down[0]);
    ::close(up[1]);
    if (pid < 0) {
        ::close(down[1]);
        ::close(up[0]);
        return false;
    }
    worker = {pid, down[1], up[0]};
    return true;
}

class PoolThread {
public:
    PoolThread(MovieQueue& queue, const std::vector<std::string>& files, const std::vector<std::string>& folders,
               const BatchSettings& settings, BatchLink& link)
        : queue_(queue), files_(files), folders_(folders), settings_(settings), link_(link) {
        arguments_.push_back(settings.self);
        arguments_.push_back("__extract-worker");
        for (const std::string& a : settings.workerArguments) arguments_.push_back(a);
        // The number of workers, for each one's share of the picture budget.
        arguments_.push_back("--jobs");
        arguments_.push_back(std::to_string(std::max(1, settings.jobs)));
        for (std::string& a : arguments_) argv_.push_back(a.data());
        argv_.push_back(nullptr);
    }

    void run() {
        for (int movie = queue_.next(); movie >= 0; movie = queue_.next()) runMovie(movie);
        if (worker_.pid > 0) reap(worker_);  // the worker ends when its input closes
    }

private:
    void runMovie(int movie) {
        MovieReport failed;
        if (worker_.pid < 0 && !startWorker(worker_, argv_, settings_.self.c_str())) {
            failed.failure = std::string("no worker process could be started: ") + std::strerror(errno);
            link_.movieDone(movie, failed);
            return;
        }
        const auto limit = settings_.timeoutSeconds > 0 ? std::chrono::seconds(settings_.timeoutSeconds)
                                                        : std::chrono::hours(24 * 365 * 100);
        auto deadline = Clock::now() + limit;
        staged_.clear();
        if (writeFrame(worker_.toWorker,
                       {"movie", std::to_string(movie), files_[std::size_t(movie)], folders_[std::size_t(movie)]})) {
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                pollfd p{worker_.fromWorker, POLLIN, 0};
                const int ready = left.count() > 0 ? ::poll(&p, 1, int(std::min<long long>(left.count(), 60'000))) : 0;
                if (ready < 0 && errno == EINTR) continue;
                if (ready == 0) {
                    if (Clock::now() < deadline) continue;
                    ::kill(worker_.pid, SIGKILL);
                    reap(worker_);
                    removeStaged();
                    failed.failure = "it took more than " + std::to_string(settings_.timeoutSeconds) +
                                     " s (--timeout); its worker process was stopped";
                    link_.movieDone(movie, failed);
                    return;
                }
                Frame frame;
                if (!readFrame(worker_.fromWorker, frame) || frame.empty()) break;
                const auto asked = Clock::now();
                if (frame[0] == "done" && frame.size() >= 10) {
                    MovieReport report;
                    if (!frame[2].empty()) report.result = toInt(frame[2]);
                    report.usable = frame[3] == "1";
                    report.folderFailed = frame[4] == "1";
                    report.written = toInt(frame[5]);
                    report.skipped = toInt(frame[6]);
                    report.failed = toInt(frame[7]);
                    report.problems = frame[8];
                    report.stopped = frame[9] == "1";
                    link_.movieDone(movie, report);
                    return;
                }
                if (!answer(movie, frame)) break;
                // Time spent waiting for the user's answer is not the movie's.
                if (frame[0] == "ask" || frame[0] == "report") deadline += Clock::now() - asked;
            }
        }
        // The worker died on this movie (or garbled the pipe).
        if (worker_.pid > 0) ::kill(worker_.pid, SIGKILL);
        failed.failure = describeEnd(reap(worker_));
        removeStaged();
        link_.movieDone(movie, failed);
    }

    // What a dead worker was writing goes: it would never be put in place.
    void removeStaged() {
        for (const std::string& staged : staged_) std::remove(staged.c_str());
        staged_.clear();
    }

    // Serves one frame of the worker; false when it makes no sense.
    bool answer(int movie, const Frame& f) {
        const std::string& op = f[0];
        if (op == "message" && f.size() >= 3) {
            link_.message(f[1], MessageIcon(toInt(f[2])));
            return true;
        }
        if (op == "staging" && f.size() >= 3) {
            staged_.push_back(f[2]);
            return true;
        }
        if (op == "start" && f.size() >= 4) {
            link_.movieStarted(movie, toInt64(f[2]), f[3]);
            return true;
        }
        if (op == "resource" && f.size() >= 6) {
            ResourceNote note;
            note.identity = f[2];
            note.path = f[3];
            note.status = ResourceStatus(toInt(f[4]));
            note.reason = f[5];
            link_.resourceDone(movie, note);
            return true;
        }
        if (op == "ask" && f.size() >= 3) {
            const OverwriteAnswer a = link_.confirmOverwrite(movie, f[2]);
            return writeFrame(worker_.toWorker, {"answer", std::to_string(int(a)), ""});
        }
        if (op == "report" && f.size() >= 4) {
            const MessageAnswer a = link_.report(f[1], MessageIcon(toInt(f[2])), MessageButtons(toInt(f[3])));
            return writeFrame(worker_.toWorker, {"answer", std::to_string(int(a)), ""});
        }
        if (op == "staged" && f.size() >= 6) {
            ResourceNote note;
            note.identity = f[2];
            note.path = f[3];
            note.bytes = toInt64(f[4]);
            note.sha256 = f[5];
            const CommitDecision d = link_.staged(movie, note);
            return writeFrame(worker_.toWorker, {"decision", std::to_string(int(d.action)), d.target});
        }
        return false;
    }

    MovieQueue& queue_;
    const std::vector<std::string>& files_;
    const std::vector<std::string>& folders_;
    const BatchSettings& settings_;
    BatchLink& link_;
    std::vector<std::string> arguments_;
    std::vector<char*> argv_;
    Worker worker_;
    // The staging files of the worker's movie: several are written at once;
    // those put in place are gone already when a dead worker's are removed.
    std::vector<std::string> staged_;
};

}  // namespace

void runWorkerPool(MovieQueue& queue, const std::vector<std::string>& files, const std::vector<std::string>& folders,
                   const BatchSettings& settings, BatchLink& link) {
    // A worker that dies while the parent writes to it must not end the batch.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ::sigaction(SIGPIPE, &ignore, &previous);

    // Each worker is served by a thread of its own, which lives as long as
    // the batch (its death would take the worker along, see PDEATHSIG).
    std::vector<std::unique_ptr<PoolThread>> pool;
    for (int j = 0; j < std::max(1, settings.jobs); ++j) {
        pool.push_back(std::make_unique<PoolThread>(queue, files, folders, settings, link));
    }
    std::vector<std::thread> threads;
    for (auto& p : pool) threads.emplace_back([&p] { p->run(); });
    for (auto& t : threads) t.join();
    ::sigaction(SIGPIPE, &previous, nullptr);
}

int runWorker(const MovieSelection& selection, const BatchSettings& settings) {
    if (settings.maxMemory > 0) {
        // AddressSanitizer reserves terabytes of address space for its shadow
        // memory: under it, only the picture budget applies.
#if !defined(KESTREL_UNDER_ASAN)
        const rlimit limit{rlim_t(settings.maxMemory), rlim_t(settings.maxMemory)};
        ::setrlimit(RLIMIT_AS, &limit);
#endif
    }
    // The workers share the picture budget as threads would, and each
    // refuses pictures before its address space runs out.
    std::int64_t budget = MemoryBudget::limit() / std::max(1, settings.jobs);
    if (settings.maxMemory > 0) budget = std::min(budget, settings.maxMemory / 2);
    MemoryBudget::setLimit(budget);
    // And each gets its share of the cores for its movie's pictures.
    TaskPool::setDefaultThreads(threadsPerMovie(settings.threads, settings.jobs));
    // Stand-ins for hostile movies in tests: one that crashes the reader,
    // one that never ends.
    const char* crashOn = std::getenv("KESTREL_TEST_CRASH_ON");
    const char* hangOn = std::getenv("KESTREL_TEST_HANG_ON");
    const bool record = !settings.manifest.empty() || settings.dedupe != Dedupe::Off;
    PipeLink link;
    Frame frame;
    while (readFrame(kWorkerIn, frame)) {
        if (frame.size() < 4 || frame[0] != "movie") return 2;
        const int movie = toInt(frame[1]);
        if (crashOn && *crashOn && frame[2].find(crashOn) != std::string::npos) std::abort();
        while (hangOn && *hangOn && frame[2].find(hangOn) != std::string::npos) ::pause();
        const MovieReport report = extractMovie(movie, frame[2], frame[3], selection, record, link);
        link.movieDone(movie, report);
    }
    return 0;
}

}  // namespace kestrel::cli
