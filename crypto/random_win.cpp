// The random source on Windows: rand_s, which draws from the system's generator
// (RtlGenRandom) and never from a seeded one.

#define _CRT_RAND_S
#include <stdlib.h>

#include "crypto/keyed.h"
#include "crypto/wipe.h"

#include <stdexcept>

void random_bytes(std::uint8_t* out, std::uint32_t count)
{
    std::uint32_t done = 0;
    unsigned int word = 0;
    WipeOnExit wipe_word(&word, sizeof word);
    while (done < count) {
        if (rand_s(&word) != 0) throw std::runtime_error("The system's random generator failed");
        for (int i = 0; i < 4 && done < count; ++i, ++done) out[done] = static_cast<std::uint8_t>(word >> (8 * i));
    }
}
