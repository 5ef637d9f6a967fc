#include "qev_scoreboard/platform/option_parser.hpp"

#include <getopt.h>

namespace qev_scoreboard::platform {

void reset_option_parser() {
#ifdef __GLIBC__
    optind = 0;  // glibc's full re-initialisation
#else
    optreset = 1;  // the BSDs' and macOS's
    optind = 1;
#endif
}

}  // namespace qev_scoreboard::platform
