#include "base/memory_budget.h"

#include <unistd.h>

#include <atomic>

namespace kestrel {

namespace {

std::int64_t halfOfPhysicalMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return std::int64_t{4} << 30;
    return std::int64_t(pages) * pageSize / 2;
}

std::atomic<std::int64_t>& limitValue() {
    static std::atomic<std::int64_t> value{halfOfPhysicalMemory()};
    return value;
}

std::atomic<std::int64_t> used{0};

}  // namespace

std::int64_t MemoryBudget::limit() { return limitValue().load(); }

void MemoryBudget::setLimit(std::int64_t bytes) { limitValue().store(bytes); }

std::int64_t MemoryBudget::inUse() { return used.load(); }

bool MemoryBudget::charge(std::int64_t bytes) {
    if (bytes < 0) return false;
    std::int64_t current = used.load();
    do {
        if (current + bytes > limit()) return false;
    } while (!used.compare_exchange_weak(current, current + bytes));
    return true;
}

void MemoryBudget::release(std::int64_t bytes) { used.fetch_sub(bytes); }

}  // namespace kestrel
