#include "platform/write_all.h"

#include <cerrno>
#include <cstdint>
#include <unistd.h>

bool write_all(int fd, const void* bytes, std::size_t size)
{
    const std::uint8_t* p = static_cast<const std::uint8_t*>(bytes);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
