#pragma once
// The version stamp db/.nb_version: the package version whose notebooks were last installed.

#include <filesystem>
#include <string>

namespace qev_scoreboard {

namespace fs = std::filesystem;

// The recorded version: "" when the stamp is missing, empty, all white space, or no version text at all
// (not UTF-8, or longer than any version), white space of every kind trimmed.
// `exact`, when given, tells whether the stamp holds the recorded version and nothing else (no white
// space around it): one that does needs no rewriting.
std::string read_version_stamp(const fs::path& base, bool* exact = nullptr);
// Writes the stamp, flushed to disk before it replaces the old one, and its directory after.
void write_version_stamp(const fs::path& base, const std::string& version);

}  // namespace qev_scoreboard
