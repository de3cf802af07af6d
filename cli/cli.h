#pragma once
// glimkeep-cli: the vault from the command line. The platform's entry point hands
// over the arguments (UTF-8, without the program name) and returns the result as
// the process exit code.

#include <string>
#include <vector>

// Exit codes of the companion's own failures, beside the vault's status codes
// (DB_OK to DB_RANDOM_FAILED), which are passed on as they are.
inline constexpr int kExitKeptTwice = 11;  // merge-file: a value changed on both sides, both kept
inline constexpr int kExitUsage = 64;  // the command line is not understood
inline constexpr int kExitNotFound = 65;  // PATH or QUERY names nothing in the vault
inline constexpr int kExitChanged = 75;  // the vault changed while the command ran: try again

// Runs one command. Never throws.
int run_cli(const std::vector<std::string>& args) noexcept;
