// The random source on Linux: the kernel's generator through getrandom(2), so that
// every byte comes from the operating system and none from a CPU instruction alone.

#include "crypto/keyed.h"

#include <cerrno>
#include <cstddef>
#include <sys/random.h>
#include <system_error>

void random_bytes(std::uint8_t* out, std::uint32_t count)
{
    std::size_t done = 0;
    while (done < count) {
        // Requests above 32 MiB may return short; any return may be short after a signal.
        const ssize_t n = getrandom(out + done, count - done, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "getrandom");
        }
        done += static_cast<std::size_t>(n);
    }
}
