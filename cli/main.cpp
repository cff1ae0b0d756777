// corvanectl: see cli/commands.h.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = corvane::cli::RunCommandLine(args, std::cout, std::cerr);
    std::cout.flush();
    if (!std::cout)
        return corvane::kExitFailed;  // a full disk or a closed pipe is a failure too
    return status;
}
