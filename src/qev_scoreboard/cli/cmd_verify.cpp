#include "qev_scoreboard/cli/handlers.hpp"
#include "qev_scoreboard/services/services.hpp"

namespace qev_scoreboard {

// The installation check reports its own findings; they never change the exit status.
void cmd_verify(const Args& args) { services().verify_all(args.db); }

}  // namespace qev_scoreboard
