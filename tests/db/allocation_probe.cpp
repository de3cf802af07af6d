#include "allocation_probe.h"

#include <cstdlib>
#include <new>

// The probe's state; plain globals, as the tests run on one thread.
namespace {
bool g_armed = false;
std::size_t g_largest = 0;
std::size_t g_fail_from = 0;  // 0: no allocation fails

void* allocate(std::size_t size) noexcept
{
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

// Every operator new of the test program goes through the probe.
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
