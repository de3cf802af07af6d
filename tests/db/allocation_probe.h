#pragma once
// A probe that records the largest allocation made through operator new. A test
// program that links allocation_probe.cpp has its global operator new replaced.

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
