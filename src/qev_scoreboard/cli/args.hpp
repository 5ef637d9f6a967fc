#pragma once
// The parsed-arguments record.

#include <optional>
#include <string>

#include "qev_scoreboard/core/layout.hpp"

namespace qev_scoreboard {

// The parsed command line. `dir` is the --dir value as typed (absent when not given).
struct Args {
    std::optional<std::string> dir;
    std::optional<std::string> command;                    // a sub-command's name; absent: no sub-command
    bool force = false;                                    // init --force
    bool dry_run = false;                                  // init --dry-run
    bool json = false;                                     // status --json
    std::string db = layout::default_database_argument();  // verify --db
};

}  // namespace qev_scoreboard
