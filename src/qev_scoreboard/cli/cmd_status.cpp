#include <stdexcept>

#include "qev_scoreboard/cli/cli.hpp"

namespace qev_scoreboard {

void cmd_status(const Args&) { throw std::runtime_error("'status' komutu bu sürümde henüz yok"); }

}  // namespace qev_scoreboard
