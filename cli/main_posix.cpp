#include "cli/cli.h"

int main(int argc, char** argv)
{
    std::vector<std::string> args;
    try {
        for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    } catch (...) {
        return 1;
    }
    return run_cli(args);
}
