#pragma once
// getopt_long, which the C libraries of Linux, the BSDs and macOS and MinGW-w64 all offer, with the one
// thing they do differently: starting over on a new argument vector.

#include <getopt.h>

namespace qev_scoreboard::platform {

// Makes the next getopt_long call start afresh, at argv[1], with no state left from an earlier parse.
void reset_option_parser();

}  // namespace qev_scoreboard::platform
