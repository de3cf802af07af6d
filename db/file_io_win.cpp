// File access for Windows: paths are UTF-8 and cross to UTF-16 here; the new
// vault is written to a unique file beside the target, flushed with
// FlushFileBuffers and moved over the target with MoveFileExW.

#include "db/file_io.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <io.h>
#include <string>

namespace db_file {
namespace {

// The errno value whose standard description fits a Win32 error code.
int errno_from_win32(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DIRECTORY:
        return EINVAL;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    default:
        return EIO;
    }
}

// UTF-8 to UTF-16; false with errno = EINVAL for bytes that are not UTF-8.
bool widen(const std::string& text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    if (text.size() > 0x7fffffff) {
        errno = ENAMETOOLONG;
        return false;
    }
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) {
        errno = EINVAL;
        return false;
    }
    wide.resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                        static_cast<int>(text.size()), &wide[0], n);
    return true;
}

bool write_all(HANDLE file, const std::uint8_t* bytes, std::size_t size) {
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

}  // namespace

std::FILE* open_for_reading(const std::string& path) {
    std::wstring wide;
    if (!widen(path, wide)) return nullptr;
    // _wfopen shares the file with other readers and writers; a folder fails
    // with EACCES as on every Windows runtime.
    return _wfopen(wide.c_str(), L"rb");
}

bool size_of(std::FILE* file, std::uint64_t& size) {
    __int64 length = _filelengthi64(_fileno(file));
    if (length < 0) return false;
    size = static_cast<std::uint64_t>(length);
    return true;
}

WriteOutcome replace_file(const std::string& path,
                          const std::uint8_t* head, std::size_t head_size,
                          const std::uint8_t* body, std::size_t body_size) {
    std::wstring target;
    if (!widen(path, target)) return failed(WriteOutcome::kOpenFailed, errno);

    // A read-only or folder target is refused before anything is written, as
    // opening it for writing would be.
    DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
            return failed(WriteOutcome::kOpenFailed, EACCES);
    } else {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND)
            return failed(WriteOutcome::kOpenFailed, errno_from_win32(code));
    }

    // A unique name beside the target, so that the move never crosses volumes.
    std::wstring temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD pid = GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[48];
        _snwprintf(suffix, sizeof suffix / sizeof suffix[0], L".tmp-%lu-%lu-%u",
                   static_cast<unsigned long>(pid),
                   static_cast<unsigned long>(GetTickCount()), attempt);
        suffix[sizeof suffix / sizeof suffix[0] - 1] = L'\0';
        temp = target + suffix;
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) break;
        DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
            return failed(WriteOutcome::kOpenFailed, errno_from_win32(code));
    }
    if (file == INVALID_HANDLE_VALUE) return failed(WriteOutcome::kOpenFailed, EEXIST);

    bool written = write_all(file, head, head_size) && write_all(file, body, body_size) &&
                   FlushFileBuffers(file);
    if (!CloseHandle(file)) written = false;
    if (!written) {
        DeleteFileW(temp.c_str());
        return failed(WriteOutcome::kWriteFailed, 0);
    }
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        int error_number = errno_from_win32(GetLastError());
        DeleteFileW(temp.c_str());
        return failed(WriteOutcome::kReplaceFailed, error_number);
    }
    return WriteOutcome();
}

}  // namespace db_file
