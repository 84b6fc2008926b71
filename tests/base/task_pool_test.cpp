#include "base/task_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrel {
namespace {

TEST(TaskPool, OneThreadRunsEverythingOnTheWaitingThreadInOrder) {
    TaskPool pool(1);
    std::vector<int> order;
    std::vector<std::thread::id> where;
    std::vector<TaskPool::Handle> tasks;
    for (int i = 0; i < 5; ++i) {
        tasks.push_back(pool.submit([&, i] {
            order.push_back(i);
            where.push_back(std::this_thread::get_id());
        }));
    }
    EXPECT_FALSE(pool.done(tasks[0]));  // nothing runs until asked for
    pool.wait(tasks[3]);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
    pool.wait(tasks[4]);
    for (const auto& id : where) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(TaskPool, WorkersAndTheWaiterShareTheTasksAndErrorsReachTheWaiter) {
    TaskPool pool(3);
    std::atomic<int> sum{0};
    std::vector<TaskPool::Handle> tasks;
    for (int i = 1; i <= 200; ++i) tasks.push_back(pool.submit([&sum, i] { sum += i; }));
    const auto failing = pool.submit([] { throw std::runtime_error("no"); });
    for (const auto& task : tasks) pool.wait(task);
    EXPECT_EQ(sum.load(), 200 * 201 / 2);
    EXPECT_THROW(pool.wait(failing), std::runtime_error);
    EXPECT_TRUE(pool.done(failing));
}

// helpOrWait takes queued work onto the calling thread, oldest first, and
// with nothing queued returns once a running task has ended.
TEST(TaskPool, HelpOrWaitRunsQueuedWorkHereOrWaitsForARunningTask) {
    TaskPool single(1);
    std::vector<int> order;
    single.submit([&] { order.push_back(1); });
    single.submit([&] { order.push_back(2); });
    EXPECT_EQ(single.queued(), 2u);
    single.helpOrWait();
    EXPECT_EQ(order, std::vector<int>{1});
    EXPECT_EQ(single.queued(), 1u);
    single.helpOrWait();
    single.helpOrWait();  // nothing queued or running: returns at once
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    TaskPool pool(2);
    std::atomic<bool> release{false};
    const auto slow = pool.submit([&] {
        while (!release) std::this_thread::yield();
    });
    while (pool.queued() != 0) std::this_thread::yield();  // the worker has it
    std::thread releaser([&] { release = true; });
    while (!pool.done(slow)) pool.helpOrWait();
    releaser.join();
    EXPECT_TRUE(pool.done(slow));
}

TEST(TaskPool, DiscardDropsWhatHasNotStarted) {
    std::atomic<int> ran{0};
    {
        TaskPool pool(1);  // no workers: nothing starts before a wait
        for (int i = 0; i < 10; ++i) pool.submit([&ran] { ++ran; });
        pool.discardQueued();
    }
    EXPECT_EQ(ran.load(), 0);
}

}  // namespace
}  // namespace kestrel
