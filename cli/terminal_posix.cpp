// The companion's system calls on Linux and other POSIX systems: the password is
// asked on /dev/tty with ECHO off.

#include "cli/terminal.h"

#include "platform/write_all.h"

#include "crypto/wipe.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace cli_io {

const char kLineEnd[] = "\n";

namespace {

// The terminal whose echo is off, its settings before and with the echo off, for
// the signal handlers.
int g_quiet_tty = -1;
struct termios g_saved_tty;
struct termios g_quiet_settings;

const int kRestoringSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP};

void set_handler(int signal_number, void (*handler)(int), struct sigaction* previous)
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, previous);
}

// Raises `signal_number` with its default action, unblocked (from inside its own
// handler, where it is blocked).
void raise_with_default_action(int signal_number)
{
    std::signal(signal_number, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal_number);
}

// Ends the process as Ctrl+C does: by SIGINT's default action, which writes no core.
void end_like_interrupt()
{
    raise_with_default_action(SIGINT);
    _exit(128 + SIGINT);
}

extern "C" void restore_tty_on_signal(int signal_number);

// Ctrl+Z: the terminal gets its echo back while the process is stopped, and loses it
// again when the process continues (fg), before the handler returns to the read.
void stop_with_echo_on()
{
    const int saved_errno = errno;
    tcsetattr(g_quiet_tty, TCSANOW, &g_saved_tty);
    raise_with_default_action(SIGTSTP);
    // Continued: the handler again, the echo off again (a background process waits
    // here, stopped by SIGTTOU, until it is brought to the foreground).
    set_handler(SIGTSTP, restore_tty_on_signal, nullptr);
    tcsetattr(g_quiet_tty, TCSANOW, &g_quiet_settings);
    errno = saved_errno;
}

extern "C" void restore_tty_on_signal(int signal_number)
{
    if (g_quiet_tty >= 0 && signal_number == SIGTSTP) {
        stop_with_echo_on();
        return;
    }
    if (g_quiet_tty >= 0) tcsetattr(g_quiet_tty, TCSANOW, &g_saved_tty);
    if (signal_number == SIGQUIT) end_like_interrupt();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

extern "C" void quit_like_interrupt(int)
{
    end_like_interrupt();
}

// Turns the echo of `tty` off for its lifetime.
class QuietTerminal {
public:
    explicit QuietTerminal(int tty) : tty_(tty)
    {
        if (tcgetattr(tty, &g_saved_tty) != 0) return;
        g_quiet_settings = g_saved_tty;
        g_quiet_settings.c_lflag &= static_cast<tcflag_t>(~ECHO);
        g_quiet_settings.c_lflag |= ECHONL;
        g_quiet_tty = tty;
        for (std::size_t i = 0; i < sizeof kRestoringSignals / sizeof kRestoringSignals[0]; ++i)
            set_handler(kRestoringSignals[i], restore_tty_on_signal, &previous_[i]);
        active_ = tcsetattr(tty, TCSAFLUSH, &g_quiet_settings) == 0;
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

void harden_process() noexcept
{
    struct rlimit no_core;
    no_core.rlim_cur = 0;
    no_core.rlim_max = 0;
    setrlimit(RLIMIT_CORE, &no_core);
#ifdef __linux__
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
    set_handler(SIGQUIT, quit_like_interrupt, nullptr);
}

bool is_terminal(int fd)
{
    return ::isatty(fd) == 1;
}

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

void write_err(const std::string& text) noexcept
{
    write_all(STDERR_FILENO, text.data(), text.size());
}

bool path_exists(const std::string& path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace cli_io
