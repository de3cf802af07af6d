#include "platform/write_all.h"

#include <cstdint>

bool write_all(HANDLE file, const void* bytes, std::size_t size)
{
    const std::uint8_t* p = static_cast<const std::uint8_t*>(bytes);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0) return false;
        p += written;
        size -= written;
    }
    return true;
}
