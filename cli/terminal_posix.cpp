// The companion's system calls on Linux and other POSIX systems: the password is
// asked on /dev/tty with ECHO off.

#include "cli/terminal.h"

#include "platform/write_all.h"

#include "crypto/wipe.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace cli_io {

const char kLineEnd[] = "\n";

namespace {

// The terminal whose echo is off, and its settings before, for the signal handler.
int g_quiet_tty = -1;
struct termios g_saved_tty;

const int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

extern "C" void restore_tty_and_reraise(int signal_number)
{
    if (g_quiet_tty >= 0) tcsetattr(g_quiet_tty, TCSANOW, &g_saved_tty);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

// Turns the echo of `tty` off for its lifetime.
class QuietTerminal {
public:
    explicit QuietTerminal(int tty) : tty_(tty)
    {
        if (tcgetattr(tty, &g_saved_tty) != 0) return;
        struct termios quiet = g_saved_tty;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        g_quiet_tty = tty;
        for (std::size_t i = 0; i < sizeof kRestoringSignals / sizeof kRestoringSignals[0]; ++i) {
            struct sigaction action;
            std::memset(&action, 0, sizeof action);
            action.sa_handler = restore_tty_and_reraise;
            sigemptyset(&action.sa_mask);
            sigaction(kRestoringSignals[i], &action, &previous_[i]);
        }
        active_ = tcsetattr(tty, TCSAFLUSH, &quiet) == 0;
    }
    ~QuietTerminal()
    {
        if (g_quiet_tty < 0) return;
        tcsetattr(tty_, TCSAFLUSH, &g_saved_tty);
        for (std::size_t i = 0; i < sizeof kRestoringSignals / sizeof kRestoringSignals[0]; ++i)
            sigaction(kRestoringSignals[i], &previous_[i], nullptr);
        g_quiet_tty = -1;
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;
    bool active() const { return active_; }

private:
    int tty_;
    bool active_ = false;
    struct sigaction previous_[sizeof kRestoringSignals / sizeof kRestoringSignals[0]];
};

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() { ::close(fd_); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

}  // namespace

void set_binary(int) {}

int read_byte(int fd, char& c, std::string& error)
{
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        error = std::strerror(errno);
        return -1;
    }
}

bool read_all(int fd, SecretString& out, std::string& error)
{
    char chunk[65536];
    WipeOnExit wipe_chunk(chunk, sizeof chunk);
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            return false;
        }
        if (n == 0) return true;
        out.append(chunk, static_cast<std::size_t>(n));
    }
}

bool read_password(const char* prompt, SecretString& out, std::string& error)
{
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        error = "No terminal to ask for the password (--password-fd reads it from a descriptor)";
        return false;
    }
    FdCloser close_tty(tty);
    if (!write_all(tty, prompt, std::strlen(prompt))) {
        error = std::strerror(errno);
        return false;
    }
    QuietTerminal quiet(tty);
    if (!quiet.active()) {
        error = "The terminal's echo cannot be turned off";
        return false;
    }
    bool at_end = false;
    if (!read_line(tty, out, at_end, error)) {
        if (at_end) error = "No password given";
        return false;
    }
    return true;
}

bool write_out(const char* data, std::size_t size, std::string& error)
{
    if (write_all(STDOUT_FILENO, data, size)) return true;
    error = std::strerror(errno);
    return false;
}

void write_err_line(const std::string& text) noexcept
{
    write_all(STDERR_FILENO, text.data(), text.size());
    write_all(STDERR_FILENO, kLineEnd, sizeof kLineEnd - 1);
}

bool path_exists(const std::string& path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace cli_io
