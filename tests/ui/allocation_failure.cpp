#include "allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<DWORD> g_failing_thread(0);
std::atomic<long> g_allocations_to_skip(0);
}  // namespace

void fail_allocation_on(DWORD thread, long skip)
{
    g_allocations_to_skip = skip;
    g_failing_thread = thread;
}

void disarm_allocation_failure()
{
    g_failing_thread = 0;
}

bool allocation_failure_pending()
{
    return g_failing_thread != 0;
}

void* operator new(std::size_t size)
{
    const DWORD thread = g_failing_thread.load();
    if (thread != 0 && thread == GetCurrentThreadId() && g_allocations_to_skip.fetch_sub(1) == 0) {
        g_failing_thread = 0;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
