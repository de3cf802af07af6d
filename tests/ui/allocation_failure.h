#pragma once
// Out-of-memory on demand: this test program replaces the global operator new so
// that the next allocation on a chosen thread throws std::bad_alloc, exactly as a
// real exhaustion of memory would.

#include <windows.h>

// Arms the failure for the next allocation made on `thread` (0 disarms it).
void fail_next_allocation_on(DWORD thread);
// True while the armed failure has not been reached.
bool allocation_failure_pending();
