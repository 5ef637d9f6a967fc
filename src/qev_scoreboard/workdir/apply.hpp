#pragma once
// Carrying out an install plan: the files in order, each kept first where it is the user's own, then
// the record of installed files, the meta refresh and, last, the version stamp.

#include <string>
#include <vector>

#include "qev_scoreboard/workdir/kept_copies.hpp"
#include "qev_scoreboard/workdir/plan.hpp"

namespace qev_scoreboard {

// What the run did, as its summary tells it.
struct InstallResult {
    std::vector<std::string> created;  // notebooks that were missing
    std::vector<std::string> updated;  // notebooks written over what stood there (with Force and Sync: all)
    long skipped = 0;                  // notebooks found identical
    int silinen = 0;                   // error reports deleted (Sync)
};

// Carries out `plan`. A file that changed since the plan looked at it is looked at again, so that what
// the user did meanwhile is kept too. Prints the data readme's line and the meta refresh's as it goes.
// Stops at the first failure (the errors the plan kept are met where the run reaches them), and where
// the stop check in force on this thread asks to.
InstallResult apply_install(InstallPlan& plan, KeptCopies& kept);

// What apply_install would do with `plan`, a plan of init's with every decision made (decide_all), and
// print, had it run now: the same lines, the same result and, in `kept`, the copies it would keep, named
// as this run would make them; it throws the errors the plan kept where the run would meet them. Writes,
// removes and flushes nothing.
InstallResult preview_install(InstallPlan& plan, KeptCopies& kept);

}  // namespace qev_scoreboard
