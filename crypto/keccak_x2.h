#pragma once
// The PBKDF2 iterations of HMAC-SHA3-256 for two output blocks at once: two Keccak
// states permuted side by side, lane by lane in 128-bit vectors (SSE2 on x86). On
// 32-bit x86 this file is built with SSE2 enabled; callers first check
// pbkdf2_x2_available().

#include <cstdint>

// False only on a 32-bit x86 processor without SSE2.
bool pbkdf2_x2_available() noexcept;

// For two PBKDF2 blocks under one key: from the Keccak states after K0 ^ ipad (`inner`)
// and after K0 ^ opad (`outer`) of the HMAC key, runs `count` iterations
//   u = HMAC(u) = H(outer || H(inner || u)),  t ^= u
// on both blocks (u[k], t[k]: the 32-byte values of block k as four little-endian
// lanes). Call only when pbkdf2_x2_available().
void pbkdf2_iterate_x2(const std::uint64_t inner[25], const std::uint64_t outer[25], std::uint64_t u[2][4],
                       std::uint64_t t[2][4], std::uint32_t count) noexcept;
