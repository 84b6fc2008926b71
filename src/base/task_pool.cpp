#include "base/task_pool.h"

#include <sched.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>

namespace kestrel {

namespace {

int coresOfProcess() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

std::atomic<int>& defaultValue() {
    static std::atomic<int> value{coresOfProcess()};
    return value;
}

}  // namespace

TaskPool::TaskPool(int threads) : threads_(std::max(1, threads)) {}

TaskPool::~TaskPool() {
    discardQueued();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    queued_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

int TaskPool::cores() {
    static const int value = coresOfProcess();
    return value;
}

int TaskPool::defaultThreads() { return defaultValue().load(); }

void TaskPool::setDefaultThreads(int threads) { defaultValue().store(std::max(1, threads)); }

void TaskPool::allocateFromOneHeap() {
#if defined(__GLIBC__) && defined(M_ARENA_MAX)
    ::mallopt(M_ARENA_MAX, 1);
#endif
}

void TaskPool::startWorkers() {
    // Called with the mutex held. Workers that cannot be started leave
    // their share to the waiting thread.
    started_ = true;
    for (int i = 1; i < threads_; ++i) {
        try {
            workers_.emplace_back([this] { workerLoop(); });
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
}

TaskPool::Handle TaskPool::submit(std::function<void()> work) {
    try {
        auto task = std::make_shared<Task>(std::move(work));
        {
            std::lock_guard lock(mutex_);
            queue_.push_back(task);
            if (!started_) startWorkers();
        }
        queued_.notify_one();
        return task;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool TaskPool::done(const Handle& task) {
    std::lock_guard lock(mutex_);
    return task->done_;
}

void TaskPool::runHead(std::unique_lock<std::mutex>& lock) {
    Handle task = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    try {
        task->work_();
    } catch (...) {
        task->error_ = std::current_exception();
    }
    task->work_ = nullptr;  // what the work captured goes with it
    lock.lock();
    task->done_ = true;
    --running_;
    finished_.notify_all();
}

void TaskPool::wait(const Handle& task) {
    std::unique_lock lock(mutex_);
    while (!task->done_) {
        if (!queue_.empty()) {
            runHead(lock);
        } else {
            finished_.wait(lock);
        }
    }
    if (task->error_) std::rethrow_exception(task->error_);
}

std::size_t TaskPool::queued() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

void TaskPool::helpOrWait() {
    std::unique_lock lock(mutex_);
    if (!queue_.empty()) {
        runHead(lock);
    } else if (running_ > 0) {
        finished_.wait(lock);
    }
}

void TaskPool::discardQueued() {
    std::unique_lock lock(mutex_);
    queue_.clear();
    finished_.wait(lock, [this] { return running_ == 0; });
}

void TaskPool::workerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (queue_.empty()) return;  // closing
        runHead(lock);
    }
}

}  // namespace kestrel
