#pragma once
// The sub-commands' handlers, one per file (cmd_<name>.cpp). Each takes the parsed-arguments record;
// errors propagate to the dispatcher.

#include "qev_scoreboard/cli/args.hpp"

namespace qev_scoreboard {

void cmd_init(const Args& args);
void cmd_status(const Args& args);
void cmd_version(const Args& args);
void cmd_verify(const Args& args);

}  // namespace qev_scoreboard
