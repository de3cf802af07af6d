#pragma once
// Writes a whole buffer to a file, resuming after partial and interrupted writes.

#include <cstddef>

#ifdef _WIN32
#include <windows.h>

#include <utility>

// False when a write fails or writes nothing; GetLastError() tells why.
bool write_all(HANDLE file, const void* bytes, std::size_t size);

// Owns a Win32 file handle (INVALID_HANDLE_VALUE or null for none) and closes it
// when it goes; close() reports the result of closing.
class Handle {
public:
    explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) noexcept : handle_(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }

    HANDLE get() const noexcept { return handle_; }
    bool valid() const noexcept { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    // Closes now; true when there was nothing to close or CloseHandle succeeded.
    bool close() noexcept
    {
        if (!valid()) return true;
        const BOOL closed = CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return closed != FALSE;
    }

private:
    HANDLE handle_;
};
#else
// False when a write fails or writes nothing (EIO); errno tells why.
bool write_all(int fd, const void* bytes, std::size_t size);
#endif
