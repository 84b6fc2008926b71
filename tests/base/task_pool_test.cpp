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
