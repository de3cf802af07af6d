// Helper for random_device_test: prints 32 bytes from random_bytes in hex and exits.
// Each run is a fresh process, so a generator with a fixed seed would print the same
// line every time.

#include "crypto/keyed.h"

#include <cstdint>
#include <cstdio>
#include <exception>

int main()
{
    std::uint8_t bytes[32];
    try {
        random_bytes(bytes, sizeof bytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "random_bytes failed: %s\n", e.what());
        return 2;
    }
    for (std::uint8_t byte : bytes) std::printf("%02x", static_cast<unsigned>(byte));
    std::printf("\n");
    return 0;
}
