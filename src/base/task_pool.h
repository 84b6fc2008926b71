// Worker threads for the independent pieces of one job: the pictures of a
// movie being decoded, the files of an extraction being encoded. Tasks are
// started in the order they were submitted. A thread that waits for a task
// runs queued tasks itself meanwhile, so a pool of n threads starts n - 1
// workers, and a pool of one thread runs everything on the caller's thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrel {

class TaskPool {
public:
    class Task;
    using Handle = std::shared_ptr<Task>;

    // `threads` counts the waiting thread; below 1 means 1.
    explicit TaskPool(int threads);
    // Drops the tasks not started yet and waits for the running ones.
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    int threads() const { return threads_; }

    // Queues `work`; the workers start with the first task. Null when the
    // task could not be queued (out of memory): the caller runs it itself.
    Handle submit(std::function<void()> work);
    // Whether the task has run to its end.
    bool done(const Handle& task);
    // Returns once the task has run, running queued tasks (the oldest
    // first) on this thread while it waits. An exception the task threw is
    // thrown here.
    void wait(const Handle& task);
    // Tasks queued that have not started.
    std::size_t queued();
    // Runs the oldest queued task on this thread or, when none is queued,
    // waits until a running task ends.
    void helpOrWait();
    // Drops every task that has not started, then waits for the running ones.
    void discardQueued();

    // The processor cores this process may run on (at least 1).
    static int cores();
    // Threads a pool gets when its user does not say: the cores, unless
    // set otherwise (the command line's --threads, a batch's share).
    static int defaultThreads();
    static void setDefaultThreads(int threads);
    // Makes every thread allocate from the one main heap. Pictures are
    // decoded on pool threads but kept, and freed, by the reading thread;
    // from a heap of its own per thread, glibc gives their memory back to
    // the kernel when they are freed, and the next open faults it all in
    // again (a 1.6 GB movie opened again took twice as long). Programs call
    // it once, before their first thread starts.
    static void allocateFromOneHeap();

private:
    void startWorkers();
    void workerLoop();
    // Runs the task at the queue's head with the lock released; `lock` holds the mutex.
    void runHead(std::unique_lock<std::mutex>& lock);

    const int threads_;
    std::mutex mutex_;
    std::condition_variable queued_;    // a task was queued, or the pool is closing
    std::condition_variable finished_;  // a task ended
    std::deque<Handle> queue_;
    std::vector<std::thread> workers_;
    int running_ = 0;
    bool closing_ = false;
    bool started_ = false;
};

class TaskPool::Task {
public:
    explicit Task(std::function<void()> work) : work_(std::move(work)) {}

private:
    friend class TaskPool;
    std::function<void()> work_;
    std::exception_ptr error_;  // what the work threw
    bool done_ = false;         // guarded by the pool's mutex
};

}  // namespace kestrel
