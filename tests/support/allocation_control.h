#pragma once
// Memory on demand for the tests. A test program that links the object library
// glimkeep_test_allocation has its global operator new replaced by one that can
// record the largest allocation, refuse large ones, or fail one chosen allocation on
// a chosen thread, exactly as a real exhaustion of memory would (std::bad_alloc, or
// null from the nothrow forms).

#include <cstddef>

// Largest single allocation through operator new / new[] while armed; it can
// also make every allocation of at least `size` bytes fail, as on a machine
// that has run out of memory.
struct AllocationProbe {
    AllocationProbe();
    ~AllocationProbe();
    std::size_t largest() const;
    void fail_from(std::size_t size);
};

#ifdef _WIN32
#include <windows.h>

// The allocation after `skip` further ones on `thread` fails, once.
void fail_allocation_on(DWORD thread, long skip);
// The next allocation made on `thread` fails, once.
inline void fail_next_allocation_on(DWORD thread)
{
    fail_allocation_on(thread, 0);
}
// Nothing fails any more.
void disarm_allocation_failure();
// True while the armed failure has not been reached.
bool allocation_failure_pending();
#endif
