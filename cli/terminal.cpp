// The platform-independent part of the companion's contact with the system.
#include "cli/terminal.h"

namespace cli_io {

bool read_line(int fd, SecretString& out, bool& at_end, std::string& error)
{
    set_binary(fd);
    at_end = false;
    bool any = false;
    char c = 0;
    WipeOnExit wipe_c(&c, sizeof c);
    for (;;) {
        const int n = read_byte(fd, c, error);
        if (n < 0) return false;
        if (n == 0) {
            if (!any) {
                at_end = true;
                error = "The input ended before the password";
                return false;
            }
            break;
        }
        any = true;
        if (c == '\n') break;
        out.append(&c, 1);
    }
    if (out.size() > 0 && out.data()[out.size() - 1] == '\r') out.truncate(out.size() - 1);
    return true;
}

}  // namespace cli_io
