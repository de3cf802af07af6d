#include "cli/output.h"

#include "cli/cli.h"
#include "cli/terminal.h"

#include <utility>

namespace cli {

Failure fail(int status, std::string text)
{
    return Failure{status, std::move(text)};
}

std::string with_line_ends(const char* text)
{
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c == '\n')
            out += cli_io::kLineEnd;
        else
            out += *c;
    }
    return out;
}

bool write_out(const std::string& text, Failure& failure)
{
    std::string error;
    if (cli_io::write_out(text.data(), text.size(), error)) return true;
    failure = fail(DB_IO_ERROR, "standard output: " + error);
    return false;
}

bool print_secret(SecretString text, bool line, Failure& failure)
{
    bool written = write_out(text.str(), failure);
    text.clear();
    if (written && line) written = write_out(cli_io::kLineEnd, failure);
    return written;
}

int report(const Failure& failure) noexcept
{
    try {
        cli_io::write_err_line(std::string(kProgram) + ": " + failure.text);
        if (failure.status == kExitUsage)
            cli_io::write_err_line(std::string("Try '") + kProgram + " --help' for more information.");
    } catch (...) {
    }
    return failure.status;
}

}  // namespace cli
