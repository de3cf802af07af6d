// File access for Windows: paths are UTF-8 and cross to UTF-16 here; the new
// vault is written to a unique file beside the target, flushed with
// FlushFileBuffers and put in the target's place with ReplaceFileW (which keeps the
// target's attributes, security and creation time), or with MoveFileExW when there
// is no target yet.

#include "platform/file_io.h"

#include "platform/utf16.h"
#include "platform/write_all.h"

#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace db_file {
namespace {

// The errno value whose standard description fits a Win32 error code.
int errno_from_win32(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_DIRECTORY: return EINVAL;
    case ERROR_NOT_SAME_DEVICE: return EXDEV;
    case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
    default: return EIO;
    }
}

// Synchronisation clients hold a file open without sharing for a moment after they
// write it. Until a deadline of kBusyWaitMilliseconds, opens and replaces that meet
// such a holder wait kBusyPauseMilliseconds and try again.
constexpr ULONGLONG kBusyPauseMilliseconds = 100;

bool held_by_another(DWORD code)
{
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION;
}

class BusyDeadline {
public:
    BusyDeadline() : start_(GetTickCount64()) {}
    // Pauses and returns true while there is time left for another try.
    bool pause()
    {
        if (GetTickCount64() - start_ >= kBusyWaitMilliseconds) return false;
        Sleep(static_cast<DWORD>(kBusyPauseMilliseconds));
        return true;
    }

private:
    ULONGLONG start_;
};

// CreateFileW, tried again while another program holds the file.
HANDLE open_when_free(const std::wstring& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    BusyDeadline deadline;
    for (;;) {
        HANDLE file = CreateFileW(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD code = GetLastError();
        if (!held_by_another(code) || !deadline.pause()) {
            SetLastError(code);
            return INVALID_HANDLE_VALUE;
        }
    }
}

// UTF-8 to UTF-16; false with errno = EINVAL for bytes that are not UTF-8.
bool widen(const std::string& text, std::wstring& wide)
{
    if (utf16::from_utf8(text, wide, utf16::Invalid::kFail)) return true;
    errno = EINVAL;
    return false;
}

// The file that `path` names after following symbolic links (and junctions), so that
// a link stays a link and the file it points at is the one replaced. The path itself
// when it names nothing that can be opened.
std::wstring resolved_target(const std::wstring& path)
{
    Handle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) return path;
    std::wstring result = path;
    wchar_t buffer[1024];
    DWORD n = GetFinalPathNameByHandleW(file.get(), buffer, sizeof buffer / sizeof buffer[0], FILE_NAME_NORMALIZED);
    if (n > 0 && n < sizeof buffer / sizeof buffer[0]) result.assign(buffer, n);
    return result;
}

}  // namespace

std::FILE* open_for_reading(const std::string& path)
{
    std::wstring wide;
    if (!widen(path, wide)) return nullptr;
    // Shared with other readers and writers; a folder fails with access denied.
    const HANDLE file = open_when_free(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) {
        errno = errno_from_win32(GetLastError());
        return nullptr;
    }
    // The descriptor owns the handle from here on, and the stream the descriptor.
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, "rb");
    if (!stream) {
        const int error_number = errno ? errno : ENOMEM;
        _close(fd);
        errno = error_number;
    }
    return stream;
}

bool size_of(std::FILE* file, std::uint64_t& size)
{
    __int64 length = _filelengthi64(_fileno(file));
    if (length < 0) return false;
    size = static_cast<std::uint64_t>(length);
    return true;
}

bool read_at(std::FILE* file, std::uint64_t offset, void* out, std::size_t size, std::size_t& got)
{
    got = 0;
    if (offset > static_cast<std::uint64_t>(INT64_MAX) || _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) != 0)
        return false;
    got = std::fread(out, 1, size, file);
    return got == size || !std::ferror(file);
}

bool is_folder(const std::string& path)
{
    std::wstring wide;
    if (!widen(path, wide)) return false;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int copy_to_new_file(const std::string& source, const std::string& target)
{
    std::wstring from;
    std::wstring to;
    if (!widen(source, from) || !widen(target, to)) return errno;
    Handle in(open_when_free(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL));
    if (!in.valid()) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND) return kNoSource;
        return errno_from_win32(code);
    }
    // CREATE_NEW: a file of that name is never overwritten.
    Handle out(
        CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid()) return errno_from_win32(GetLastError());
    DWORD code = ERROR_SUCCESS;
    std::uint8_t buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.get(), buffer, sizeof buffer, &got, nullptr)) {
            code = GetLastError();
            break;
        }
        if (got == 0) break;
        if (!write_all(out.get(), buffer, got)) {
            code = GetLastError();
            if (code == ERROR_SUCCESS) code = ERROR_WRITE_FAULT;
            break;
        }
    }
    if (code == ERROR_SUCCESS && !FlushFileBuffers(out.get())) code = GetLastError();
    if (!out.close() && code == ERROR_SUCCESS) code = GetLastError();
    if (code != ERROR_SUCCESS) {
        DeleteFileW(to.c_str());
        return errno_from_win32(code);
    }
    return 0;
}

namespace {

// True when `file` has more than one name, or is the file that `keep` names (by
// volume serial number and file index). A file that cannot be told counts as shared.
bool shared_file(HANDLE file, const std::string& keep)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)) return true;
    if (info.nNumberOfLinks != 1) return true;
    std::wstring wide;
    if (keep.empty() || !widen(keep, wide)) return false;
    Handle kept(CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr));
    BY_HANDLE_FILE_INFORMATION other;
    if (!kept.valid() || !GetFileInformationByHandle(kept.get(), &other)) return false;
    return other.dwVolumeSerialNumber == info.dwVolumeSerialNumber && other.nFileIndexHigh == info.nFileIndexHigh &&
        other.nFileIndexLow == info.nFileIndexLow;
}

}  // namespace

int erase_file(const std::string& path, const std::string& keep, Erased& how)
{
    how = Erased::kNameOnly;
    std::wstring wide;
    if (!widen(path, wide)) return errno;
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return errno_from_win32(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        // FILE_FLAG_OPEN_REPARSE_POINT: a link put at the name meanwhile is not written through.
        Handle file(CreateFileW(wide.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file.valid()) return errno_from_win32(GetLastError());
        DWORD code = ERROR_SUCCESS;
        if (!shared_file(file.get(), keep)) {
            LARGE_INTEGER size;
            if (!GetFileSizeEx(file.get(), &size)) code = GetLastError();
            static const std::uint8_t zeros[65536] = {};
            std::uint64_t left = code == ERROR_SUCCESS ? static_cast<std::uint64_t>(size.QuadPart) : 0;
            while (code == ERROR_SUCCESS && left > 0) {
                const std::size_t chunk = left < sizeof zeros ? static_cast<std::size_t>(left) : sizeof zeros;
                if (!write_all(file.get(), zeros, chunk)) code = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
                left -= chunk;
            }
            if (code == ERROR_SUCCESS && !FlushFileBuffers(file.get())) code = GetLastError();
            if (code == ERROR_SUCCESS) how = Erased::kZeroed;
        }
        file.close();
        if (code != ERROR_SUCCESS) return errno_from_win32(code);
    }
    if (!DeleteFileW(wide.c_str())) return errno_from_win32(GetLastError());
    return 0;
}

int erase_file(const std::string& path)
{
    Erased how;
    return erase_file(path, std::string(), how);
}

int remove_file(const std::string& path)
{
    std::wstring wide;
    if (!widen(path, wide)) return errno;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return errno_from_win32(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!DeleteFileW(wide.c_str())) return errno_from_win32(GetLastError());
    return 0;
}

int list_files(const std::string& folder, std::vector<std::string>& names)
{
    names.clear();
    std::wstring pattern;
    if (!widen(folder.empty() ? std::string(".") : folder, pattern)) return errno;
    pattern += L"\\*";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? 0 : errno_from_win32(code);
    }
    int error_number = 0;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::string name;
        utf16::to_utf8(found.cFileName, name);
        if (!name.empty()) names.push_back(name);
    } while (FindNextFileW(search, &found));
    DWORD code = GetLastError();
    if (code != ERROR_NO_MORE_FILES) error_number = errno_from_win32(code);
    FindClose(search);
    if (error_number != 0) names.clear();
    return error_number;
}

WriteOutcome replace_file(const std::string& path, const std::uint8_t* head, std::size_t head_size,
                          const std::uint8_t* body, std::size_t body_size, Placement placement)
{
    std::wstring target;
    if (!widen(path, target)) return failed(WriteOutcome::kOpenFailed, errno);
    // A new file never goes through a link: the name itself must be free.
    if (placement == Placement::kReplace) target = resolved_target(target);

    // A read-only or folder target is refused before anything is written, as
    // opening it for writing would be.
    DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && placement == Placement::kCreateNew) return failed(WriteOutcome::kOpenFailed, EEXIST);
    if (exists) {
        if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))
            return failed(WriteOutcome::kOpenFailed, EACCES);
    } else {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND) return failed(WriteOutcome::kOpenFailed, errno_from_win32(code));
    }

    // A unique name beside the target, so that the move never crosses volumes.
    std::wstring temp;
    Handle file;
    DWORD pid = GetCurrentProcessId();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        wchar_t suffix[48];
        _snwprintf(suffix, sizeof suffix / sizeof suffix[0], L".tmp-%lu-%lu-%u", static_cast<unsigned long>(pid),
                   static_cast<unsigned long>(GetTickCount()), attempt);
        suffix[sizeof suffix / sizeof suffix[0] - 1] = L'\0';
        temp = target + suffix;
        file = Handle(CreateFileW(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) break;
        DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
            return failed(WriteOutcome::kOpenFailed, errno_from_win32(code));
    }
    if (!file.valid()) return failed(WriteOutcome::kOpenFailed, EEXIST);

    bool written = write_all(file.get(), head, head_size) && write_all(file.get(), body, body_size) &&
        FlushFileBuffers(file.get());
    if (!file.close()) written = false;
    if (!written) {
        DeleteFileW(temp.c_str());
        return failed(WriteOutcome::kWriteFailed, 0);
    }
    BOOL replaced = FALSE;
    if (exists) {
        // ReplaceFileW keeps the attributes too; they are set here as well so that
        // they hold wherever it merges less.
        const DWORD kept = attributes &
            (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
        SetFileAttributesW(temp.c_str(), kept ? kept : FILE_ATTRIBUTE_NORMAL);
        BusyDeadline deadline;
        for (;;) {
            // A target held open without delete sharing cannot be replaced: say so
            // before ReplaceFileW tries (some of its implementations leave a file
            // behind then), or wait while the holder may let go.
            Handle probe(CreateFileW(target.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!probe.valid()) {
                const DWORD code = GetLastError();
                if (held_by_another(code) && deadline.pause()) continue;
                DeleteFileW(temp.c_str());
                return failed(WriteOutcome::kReplaceFailed, errno_from_win32(code));
            }
            probe.close();
            replaced =
                ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
            if (replaced) break;
            const DWORD code = GetLastError();
            // The target went away meanwhile: the new file simply takes its name.
            if (code == ERROR_FILE_NOT_FOUND && GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
                replaced = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
                break;
            }
            // Opened by another program between the probe and the replace; both
            // files are still where they were.
            const bool busy =
                held_by_another(code) || code == ERROR_ACCESS_DENIED || code == ERROR_UNABLE_TO_REMOVE_REPLACED;
            if (!busy || !deadline.pause()) {
                SetLastError(code);
                break;
            }
        }
    } else {
        // Without MOVEFILE_REPLACE_EXISTING: a file that appeared meanwhile is kept.
        replaced = MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH);
    }
    if (!replaced) {
        int error_number = errno_from_win32(GetLastError());
        DeleteFileW(temp.c_str());
        return failed(WriteOutcome::kReplaceFailed, error_number);
    }
    return WriteOutcome();
}

}  // namespace db_file
