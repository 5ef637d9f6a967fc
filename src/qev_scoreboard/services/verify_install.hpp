#pragma once
// The installation check behind `verify`.

#include <string>

namespace qev_scoreboard {

// Checks the package data, the step registry against the shipped notebooks, the digest library, the
// DuckDB engine and the database at `db` (opened read-only when it exists), printing one "[OK]" or
// "[HATA]" line per check. Returns whether every check passed; it never throws for a failed check.
bool run_verify_all(const std::string& db);

}  // namespace qev_scoreboard
