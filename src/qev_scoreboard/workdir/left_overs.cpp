#include "qev_scoreboard/workdir/left_overs.hpp"

#include "qev_scoreboard/core/layout.hpp"
#include "qev_scoreboard/platform/temporary_file.hpp"
#include "qev_scoreboard/workdir/kept_copies.hpp"

namespace qev_scoreboard {

void remove_left_overs(const fs::path& base) {
    for (const fs::path& dir : {base, layout::db_dir(base), layout::external_data_dir(base)})
        platform::remove_left_over_temporaries_in(dir);
    remove_abandoned_folders(base);
}

}  // namespace qev_scoreboard
