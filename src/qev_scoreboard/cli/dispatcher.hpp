#pragma once
// The command line: `qev-scoreboard [--dir DIR] <sub-command> [options]`.

#include <string>

#include "qev_scoreboard/cli/args.hpp"

namespace qev_scoreboard {

// A usage error: reported with the parser's usage line; the run ends with status 2.
struct UsageError {
    std::string usage;
    std::string message;
};

// A help request: printed to standard output; the run ends with status 0.
struct HelpRequest {
    std::string text;
};

// Parses argv (argv[0] names the program) into the record. Throws UsageError or HelpRequest.
Args parse_args(int argc, char** argv);

// Parses argv, runs one command and returns the process exit status (0, 1 or 2).
int run_main(int argc, char** argv);

}  // namespace qev_scoreboard
