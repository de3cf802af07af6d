// Quick unlock's platform parts on Windows: RtlEncryptMemory and RtlDecryptMemory of
// advapi32 (SystemFunction040 and 041) with the option 0, which only this process can
// undo, and GetTickCount64, which counts from the system's start and ignores changes
// of the wall clock. Under Wine both memory functions are stubs that change nothing.

#include "vault/kept_keys.h"

#include <windows.h>

#include <ntsecapi.h>

namespace {

constexpr ULONG kSameProcess = 0;

bool protect_for_process(std::uint8_t* data, std::size_t size) noexcept
{
    if (size % RTL_ENCRYPT_MEMORY_SIZE != 0) return false;
    return RtlEncryptMemory(data, static_cast<ULONG>(size), kSameProcess) >= 0;
}

bool unprotect_for_process(std::uint8_t* data, std::size_t size) noexcept
{
    if (size % RTL_ENCRYPT_MEMORY_SIZE != 0) return false;
    return RtlDecryptMemory(data, static_cast<ULONG>(size), kSameProcess) >= 0;
}

std::uint64_t milliseconds_since_start() noexcept
{
    return GetTickCount64();
}

}  // namespace

KeptKeysSeams process_kept_keys_seams() noexcept
{
    return {protect_for_process, unprotect_for_process, milliseconds_since_start, quick_unlock::kCodeIterations};
}
