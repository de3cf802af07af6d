// Quick unlock's platform parts elsewhere: no system call keeps memory readable by this
// process alone, so the secret is masked with a pad drawn once per process and held
// apart from it (what a copy of the kept bytes alone cannot undo); the clock is
// CLOCK_MONOTONIC, which ignores changes of the wall clock.

#include "vault/kept_keys.h"

#include <time.h>

#include "crypto/keyed.h"

namespace {

std::uint8_t g_pad[quick_unlock::kSecretSize];
bool g_pad_drawn = false;

bool mask(std::uint8_t* data, std::size_t size) noexcept
{
    if (size > sizeof g_pad) return false;
    if (!g_pad_drawn) {
        try {
            random_bytes(g_pad, sizeof g_pad);
        } catch (...) {
            return false;
        }
        g_pad_drawn = true;
    }
    for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(data[i] ^ g_pad[i]);
    return true;
}

std::uint64_t monotonic_milliseconds() noexcept
{
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace

KeptKeysSeams process_kept_keys_seams() noexcept
{
    return {mask, mask, monotonic_milliseconds, quick_unlock::kCodeIterations};
}
