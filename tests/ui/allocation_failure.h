#pragma once
// Out of memory on demand: a test program that links this replaces the global
// operator new so that a chosen allocation on a chosen thread throws
// std::bad_alloc, exactly as a real exhaustion of memory would.

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
