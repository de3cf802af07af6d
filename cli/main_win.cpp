// The Windows console entry point: the arguments arrive as UTF-16 (wmain) and
// become UTF-8 here, so that any file name and filter text passes.

#include "cli/cli.h"

#include <windows.h>

#include <climits>
#include <cwchar>

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> args;
    try {
        for (int i = 1; i < argc; ++i) {
            const std::size_t length = std::wcslen(argv[i]);
            std::string arg;
            if (length > 0 && length < INT_MAX / 4) {
                const int n =
                    WideCharToMultiByte(CP_UTF8, 0, argv[i], static_cast<int>(length), nullptr, 0, nullptr, nullptr);
                if (n > 0) {
                    arg.resize(static_cast<std::size_t>(n));
                    WideCharToMultiByte(CP_UTF8, 0, argv[i], static_cast<int>(length), &arg[0], n, nullptr, nullptr);
                }
            }
            args.push_back(arg);
        }
    } catch (...) {
        return 1;
    }
    return run_cli(args);
}
