#include <stdexcept>

#include "qev_scoreboard/cli/cli.hpp"

namespace qev_scoreboard {

void cmd_init(const Args&) { throw std::runtime_error("'init' komutu bu sürümde henüz yok"); }

}  // namespace qev_scoreboard
