#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/core/lines.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

void cmd_version(const Args&) { print_line("qev_scoreboard " + services().version()); }

}  // namespace qev_scoreboard
