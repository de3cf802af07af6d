#include "allocation_failure.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<DWORD> g_armed_thread(0);
}

void fail_next_allocation_on(DWORD thread)
{
    g_armed_thread = thread;
}

bool allocation_failure_pending()
{
    return g_armed_thread != 0;
}

void* operator new(std::size_t size)
{
    DWORD armed = g_armed_thread.load();
    if (armed != 0 && armed == GetCurrentThreadId() && g_armed_thread.compare_exchange_strong(armed, 0)) {
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
