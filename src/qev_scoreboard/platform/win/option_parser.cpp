// MinGW-w64's getopt_long is the BSDs', whose reset it declares only for code that asks for BSD names.
#define _BSD_SOURCE
#include "qev_scoreboard/platform/option_parser.hpp"

#include <getopt.h>

namespace qev_scoreboard::platform {

void reset_option_parser() {
    optreset = 1;
    optind = 1;
}

}  // namespace qev_scoreboard::platform
