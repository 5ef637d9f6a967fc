#pragma once
// The words and numbers every rendering of the status report shows alike, spelled once: the text and the
// HTML put the same labels around the same values.

#include <string>
#include <string_view>

#include "qev_scoreboard/status/report.hpp"

namespace qev_scoreboard::status_labels {

// The blocks' titles.
inline constexpr std::string_view EXTERNAL_DATA = "external_data";
inline constexpr std::string_view DB = "db";
inline constexpr std::string_view OUTPUTS = "outputs";

// A raw-data directory that is not there, or the whole raw-data directory.
inline constexpr std::string_view MISSING = "YOK";
inline constexpr std::string_view NOT_FOUND = "BULUNAMADI — 'qev-scoreboard init' çalıştırın";
inline constexpr std::string_view EMPTY = "BOŞ";
inline constexpr std::string_view FILES = " dosya";
inline constexpr std::string_view UNREADABLE = "okunamadı: ";

// The database file, as the report names it whatever the file's own name, and when it is not there.
inline constexpr std::string_view DATABASE = "qev.duckdb";
inline constexpr std::string_view NO_DATABASE = "YOK — pipeline henüz çalışmamış";
inline constexpr std::string_view READ_ERROR = "Okuma hatası: ";
inline constexpr std::string_view ROWS = " rows";

}  // namespace qev_scoreboard::status_labels

namespace qev_scoreboard {

// The schema whose objects the report names without their schema.
inline constexpr std::string_view MAIN_SCHEMA = "main";

// Fixed-point with `digits` decimals; ties go to the even digit, as printf does for a double.
std::string fixed_point(double value, int digits);

// The database's size as the report shows it, in MB with two decimals; an output's in KB with one.
std::string size_mb(std::uint64_t bytes);
std::string size_kb(std::uint64_t bytes);

// A raw-data directory's state as the report words it: YOK, BOŞ, "<n> dosya" or why it was not counted.
std::string raw_dir_status(const StatusRawDir& dir);

// How the report names a table or view: those of the main schema by name alone, the others with their
// schema; a part holding "." or '"' in double quotes (inner ones doubled), as SQL writes it.
std::string status_table_label(const std::string& schema, const std::string& name);

// The engine's message on one line: its own line breaks (query context, hints) would break the report's
// one-entry-per-line layout, and what is left of control characters is made visible.
std::string one_line(std::string_view message);

}  // namespace qev_scoreboard
