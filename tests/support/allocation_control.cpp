#include "tests/support/allocation_control.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// The probe is armed and read on the test's own thread.
bool g_armed = false;
std::size_t g_largest = 0;
std::size_t g_fail_from = 0;  // 0: no allocation fails for its size

#ifdef _WIN32
// The one allocation that fails may be on another thread (a window's).
std::atomic<DWORD> g_failing_thread(0);
std::atomic<long> g_allocations_to_skip(0);

bool chosen_allocation_fails() noexcept
{
    const DWORD thread = g_failing_thread.load();
    if (thread == 0 || thread != GetCurrentThreadId() || g_allocations_to_skip.fetch_sub(1) != 0) return false;
    g_failing_thread = 0;
    return true;
}
#else
bool chosen_allocation_fails() noexcept
{
    return false;
}
#endif

void* allocate(std::size_t size) noexcept
{
    if (chosen_allocation_fails()) return nullptr;
    if (g_armed && size > g_largest) g_largest = size;
    if (g_armed && g_fail_from != 0 && size >= g_fail_from) return nullptr;
    return std::malloc(size ? size : 1);
}

}  // namespace

AllocationProbe::AllocationProbe()
{
    g_largest = 0;
    g_fail_from = 0;
    g_armed = true;
}

AllocationProbe::~AllocationProbe()
{
    g_armed = false;
    g_fail_from = 0;
}

void AllocationProbe::fail_from(std::size_t size)
{
    g_fail_from = size;
}

std::size_t AllocationProbe::largest() const
{
    return g_largest;
}

#ifdef _WIN32
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
#endif

// Every operator new of the test program goes through allocate().
void* operator new(std::size_t size)
{
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size)
{
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete[](void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept
{
    std::free(p);
}
