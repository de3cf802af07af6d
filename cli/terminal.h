#pragma once
// The companion's contact with the system, one implementation per platform
// (terminal_posix.cpp, terminal_win.cpp; terminal.cpp holds what they share):
// descriptors, the terminal, files.
// Errors come back as text (the system's description) in `error`.

#include "crypto/wipe.h"

#include <cstddef>
#include <string>

namespace cli_io {

// The line end of text written for people and for the platform's text tools.
extern const char kLineEnd[];

// Reads from descriptor `fd` byte by byte up to the first line feed or the end of
// input, so that nothing after the line is consumed. The line feed, and a carriage
// return right before it, are not stored. False with `error` on a read error, or
// when the input ended before any byte of the line (`at_end` is then true).
bool read_line(int fd, SecretString& out, bool& at_end, std::string& error);

// Reads one byte from descriptor `fd` into `c`: 1, 0 at the end of input, or -1
// with `error` (an interrupted read is tried again).
int read_byte(int fd, char& c, std::string& error);
// Puts descriptor `fd` into binary mode (Windows); nothing elsewhere.
void set_binary(int fd);

// Reads descriptor `fd` to its end, appending to `out`, without any buffer of the
// C library in between.
bool read_all(int fd, SecretString& out, std::string& error);

// At the start of the process: no core file may hold a decrypted vault (POSIX: core
// size 0 and not dumpable), and SIGQUIT ends the process as Ctrl+C (SIGINT) does.
void harden_process() noexcept;

// True when descriptor `fd` is a terminal (a console on Windows).
bool is_terminal(int fd);

// Asks for a password on the terminal (not on standard input or output), with
// the echo off, and restores the terminal on every way out, Ctrl+C and SIGQUIT
// included; after Ctrl+Z and fg the echo goes off again.
// False with `error` when there is no terminal or it cannot be read.
bool read_password(const char* prompt, SecretString& out, std::string& error);

// Writes all bytes to standard output, unbuffered (a console on Windows gets the
// UTF-8 text as UTF-16). False when the output fails.
bool write_out(const char* data, std::size_t size, std::string& error);

// Writes a line (the text and a line end) to standard error.
void write_err_line(const std::string& text) noexcept;
// Writes the text alone to standard error (a progress line redrawn after "\r").
void write_err(const std::string& text) noexcept;

// True when something (a file, a folder, a link) exists at `path`.
bool path_exists(const std::string& path);

}  // namespace cli_io
