#include "cli/passwords.h"

#include "cli/cli.h"
#include "cli/terminal.h"

namespace cli {

bool PasswordSource::read_other(SecretString& out, const std::string& prompt, bool optional, Failure& failure)
{
    if (fd_ < 0) return read(out, prompt.c_str(), failure);
    out.clear();
    std::string error;
    bool at_end = false;
    if (cli_io::read_line(fd_, out, at_end, error)) return true;
    out.clear();
    if (at_end && optional) return true;
    failure = fail(DB_NO_PASSWORD, "password descriptor " + std::to_string(fd_) + ": " + error);
    return false;
}

bool PasswordSource::read_new(SecretString& out, Failure& failure)
{
    if (!read(out, "New master password: ", failure)) return false;
    if (out.empty()) {
        failure = fail(DB_NO_PASSWORD, "The master password is empty.");
        return false;
    }
    if (fd_ >= 0) return true;
    SecretString again;
    if (!read(again, "Repeat the new master password: ", failure)) return false;
    if (!again.equals(out)) {
        failure = fail(DB_NO_PASSWORD, "The two passwords differ.");
        return false;
    }
    return true;
}

bool PasswordSource::read(SecretString& out, const char* prompt, Failure& failure)
{
    out.clear();
    if (fd_ >= 0 && cli_io::is_terminal(fd_)) {
        // The terminal's echo would show the password as it is typed.
        failure = fail(kExitUsage,
                       "password descriptor " + std::to_string(fd_) +
                           " is a terminal; without --password-fd the password is asked "
                           "with the echo off");
        return false;
    }
    std::string error;
    bool at_end = false;
    const bool read = fd_ >= 0 ? cli_io::read_line(fd_, out, at_end, error) : cli_io::read_password(prompt, out, error);
    if (read) return true;
    out.clear();
    failure = fail(DB_NO_PASSWORD, fd_ >= 0 ? "password descriptor " + std::to_string(fd_) + ": " + error : error);
    return false;
}

}  // namespace cli
