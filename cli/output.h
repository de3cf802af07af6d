#pragma once
// What the companion writes: its output, secrets among it, and the report of a
// failure on standard error.

#include "crypto/wipe.h"
#include "db/database.h"

#include <string>

namespace cli {

inline constexpr char kProgram[] = "glimkeep-cli";

// A failure on its way to standard error and the exit code.
struct Failure {
    int status = DB_OK;
    std::string text;
};

Failure fail(int status, std::string text);

// The text with every LF turned into the platform's line end.
std::string with_line_ends(const char* text);

// Writes `text` to standard output; false with the failure when the output fails.
bool write_out(const std::string& text, Failure& failure);

// Writes `text`, and a line end after it when `line` is set, then wipes it. The line
// end goes out on its own: appending it could leave a copy of the text behind.
bool print_secret(SecretString text, bool line, Failure& failure);

// Writes the failure's text to standard error (with a pointer to --help when the
// command line was not understood) and returns its status as the exit code.
int report(const Failure& failure) noexcept;

}  // namespace cli
