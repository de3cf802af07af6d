#pragma once
// Out of memory on demand: this test program replaces the global operator new so
// that a chosen allocation on a chosen thread throws std::bad_alloc, as a real
// exhaustion of memory would.

#include <windows.h>

// The allocation after `skip` further ones on `thread` fails, once.
void fail_allocation_on(DWORD thread, long skip);
void disarm();
// True while the armed failure has not been reached.
bool failure_pending();
