// corvanectl: see cli/commands.h.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = corvane::cli::RunCommandLine(args, std::cout, std::cerr);
    if (status == corvane::cli::kExitOutputClosed) {
        std::signal(SIGPIPE, SIG_IGN);  // what is left in the buffer has nowhere to go
        return corvane::kExitOk;
    }
    std::cout.flush();
    if (!std::cout)
        return corvane::kExitFailed;  // a full disk or a closed pipe is a failure too
    return status;
}
