#pragma once
// Wiping of secret buffers.
//
// Every buffer that holds a secret (password copies, plaintext, derived keys,
// round keys, keystream, HMAC pads, key-derivation work space) is cleared with
// secure_wipe before it is released or goes out of scope.

#include <cstddef>

// Overwrites `size` bytes at `data` with zeros. The compiler cannot remove the
// stores even when the buffer is never read again (SecureZeroMemory on Windows,
// explicit_bzero elsewhere). A null `data` with size 0 is allowed.
void secure_wipe(void* data, std::size_t size) noexcept;

// Wipes a buffer when the scope ends, on every return path:
//   uint8_t key[32];
//   WipeOnExit wipe_key(key, sizeof key);
class WipeOnExit {
public:
    WipeOnExit(void* data, std::size_t size) noexcept : data_(data), size_(size) {}
    ~WipeOnExit() { secure_wipe(data_, size_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    void* data_;
    std::size_t size_;
};
