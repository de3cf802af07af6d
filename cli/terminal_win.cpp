// The companion's system calls on Windows: descriptors are the C runtime's (in
// binary mode), the password is asked on the console (CONIN$) with the echo off,
// and text for a console is written as UTF-16 so that any script shows.

#include "cli/terminal.h"

#include "crypto/wipe.h"
#include "platform/utf16.h"
#include "platform/write_all.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <io.h>

namespace cli_io {

const char kLineEnd[] = "\r\n";

namespace {

// UTF-8 to UTF-16 for paths; false for bytes that are not UTF-8.
bool widen(const std::string& text, std::wstring& wide)
{
    return utf16::from_utf8(text, wide, utf16::Invalid::kFail);
}

// UTF-8 to a console as UTF-16, through a buffer that is wiped afterwards.
bool write_console(HANDLE console, const char* data, std::size_t size)
{
    while (size > 0) {
        // Pieces end on a character boundary: never inside a UTF-8 sequence.
        std::size_t piece = size > 16384 ? 16384 : size;
        while (piece < size && piece > 0 && (static_cast<unsigned char>(data[piece]) & 0xC0) == 0x80) --piece;
        if (piece == 0) piece = size > 16384 ? 16384 : size;
        wchar_t wide[16384];
        WipeOnExit wipe_wide(wide, sizeof wide);
        const int n = static_cast<int>(utf16::from_utf8(data, piece, wide, 16384, utf16::Invalid::kReplace));
        if (n <= 0) return false;
        DWORD done = 0;
        for (int at = 0; at < n; at += static_cast<int>(done)) {
            if (!WriteConsoleW(console, wide + at, static_cast<DWORD>(n - at), &done, nullptr) || done == 0)
                return false;
        }
        data += piece;
        size -= piece;
    }
    return true;
}

bool write_text(HANDLE handle, const char* data, std::size_t size)
{
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) return write_console(handle, data, size);
    return write_all(handle, data, size);
}

// The console whose echo is off and its mode before, for the control handler.
HANDLE g_quiet_console = INVALID_HANDLE_VALUE;
DWORD g_saved_console_mode = 0;

// Ctrl+C, Ctrl+Break or the console closing while the echo is off: the mode comes
// back before the default handler ends the process.
BOOL WINAPI restore_console_on_control(DWORD)
{
    if (g_quiet_console != INVALID_HANDLE_VALUE) SetConsoleMode(g_quiet_console, g_saved_console_mode);
    return FALSE;
}

// Keeps the console's input mode with the echo off for its lifetime.
class QuietConsole {
public:
    explicit QuietConsole(HANDLE input) : input_(input)
    {
        if (!GetConsoleMode(input, &saved_)) return;
        const DWORD quiet =
            (saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT)) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
        g_saved_console_mode = saved_;
        g_quiet_console = input;
        SetConsoleCtrlHandler(restore_console_on_control, TRUE);
        active_ = SetConsoleMode(input, quiet) != FALSE;
    }
    ~QuietConsole()
    {
        if (active_) SetConsoleMode(input_, saved_);
        SetConsoleCtrlHandler(restore_console_on_control, FALSE);
        g_quiet_console = INVALID_HANDLE_VALUE;
    }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;
    bool active() const { return active_; }

private:
    HANDLE input_;
    DWORD saved_ = 0;
    bool active_ = false;
};

}  // namespace

void harden_process() noexcept {}

bool is_terminal(int fd)
{
    const intptr_t handle = _get_osfhandle(fd);
    DWORD mode = 0;
    return handle != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != FALSE;
}

void set_binary(int fd)
{
    _setmode(fd, _O_BINARY);
}

int read_byte(int fd, char& c, std::string& error)
{
    const int n = _read(fd, &c, 1);
    if (n >= 0) return n;
    error = std::strerror(errno);
    return -1;
}

bool read_all(int fd, SecretString& out, std::string& error)
{
    _setmode(fd, _O_BINARY);
    char chunk[65536];
    WipeOnExit wipe_chunk(chunk, sizeof chunk);
    for (;;) {
        const int n = _read(fd, chunk, sizeof chunk);
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0) return true;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

bool read_password(const char* prompt, SecretString& out, std::string& error)
{
    const Handle input_handle(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    const Handle output_handle(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    const HANDLE input = input_handle.get();
    const HANDLE output = output_handle.get();
    if (!input_handle.valid() || !output_handle.valid()) {
        error = "No console to ask for the password (--password-fd reads it from a descriptor)";
        return false;
    }
    write_console(output, prompt, std::strlen(prompt));
    SecretWString wide;
    {
        QuietConsole quiet(input);
        if (!quiet.active()) {
            error = "The console's echo cannot be turned off";
            return false;
        }
        wchar_t unit = 0;
        WipeOnExit wipe_unit(&unit, sizeof unit);
        for (;;) {
            DWORD read = 0;
            if (!ReadConsoleW(input, &unit, 1, &read, nullptr)) {
                error = "The console cannot be read";
                return false;
            }
            if (read == 0 || unit == L'\n') break;
            if (unit != L'\r') wide.append(&unit, 1);
        }
    }
    write_console(output, "\r\n", 2);
    const std::size_t units = wide.size();
    if (units == 0) return true;
    if (units > INT_MAX / 4) {
        error = "The password is too long";
        return false;
    }
    const std::size_t bytes = utf16::to_utf8(wide.data(), units, nullptr, 0);
    if (bytes == 0) {
        error = "The password cannot be converted to UTF-8";
        return false;
    }
    const std::size_t start = out.size();
    out.resize(start + bytes);
    utf16::to_utf8(wide.data(), units, out.data() + start, bytes);
    return true;
}

bool write_out(const char* data, std::size_t size, std::string& error)
{
    if (write_text(GetStdHandle(STD_OUTPUT_HANDLE), data, size)) return true;
    error = "Cannot write to standard output";
    return false;
}

void write_err_line(const std::string& text) noexcept
{
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    write_text(handle, text.data(), text.size());
    write_text(handle, kLineEnd, sizeof kLineEnd - 1);
}

void write_err(const std::string& text) noexcept
{
    write_text(GetStdHandle(STD_ERROR_HANDLE), text.data(), text.size());
}

bool path_exists(const std::string& path)
{
    std::wstring wide;
    if (!widen(path, wide)) return false;
    return GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace cli_io
