// The Windows console entry point: the arguments arrive as UTF-16 (wmain) and
// become UTF-8 here, so that any file name and filter text passes.

#include "cli/cli.h"
#include "platform/utf16.h"

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    try {
        for (int i = 1; i < argc; ++i) {
            std::string arg;
            utf16::to_utf8(argv[i], arg);
            args.push_back(arg);
        }
    } catch (...) {
        return 1;
    }
    return run_cli(args);
}
