#pragma once
// The status report's steps: what the engine will run again.

#include <filesystem>
#include <string>
#include <vector>

#include "qev_scoreboard/status/report.hpp"

namespace qev_scoreboard {

// The steps of the registry whose meta file is in some season, each as the newest such season records
// it, with the fingerprint of the notebook installed now: the engine runs a step again when they differ.
// What cannot be read is a finding, as elsewhere in the report: a step's error, or `steps_error`.
std::vector<StatusReport::Step> collect_steps(const std::filesystem::path& base, std::string& steps_error);

}  // namespace qev_scoreboard
