#pragma once
// Views that read nothing of their database but raw files: told apart from the text of their definition
// alone (reading a file twice would not do: it may be a FIFO), and counted in an engine of their own once
// the database is let go.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qev_scoreboard/core/duckdb_loader.hpp"

namespace qev_scoreboard {

// A view as it was made: its query, and the names and types of its columns then.
struct FileView {
    std::string query;
    std::vector<std::string> names, types;
};

// The query of a view's definition as the engine writes it back ("CREATE VIEW <name> AS <query>;"), or
// nullopt when it is not in that form, which includes a view that renames its columns.
std::optional<std::string> view_query(std::string_view definition);

// Whether `query` reads only raw files: each table it names is none of `objects` (the database's tables
// and views, in lower case) nor qualified, each table function one that reads files or makes rows, and no
// function asks for the session's own state. `con` parses it, reading nothing; anything it cannot tell is no.
bool reads_only_files(const DuckDBApi& api, duckdb_connection con, const std::string& query,
                      const std::set<std::string>& objects);

// ASCII letters in lower case, as the engine compares names.
std::string lower_ascii(std::string_view text);

// How a view's count in `memory` came out: its rows, the engine's message for why it cannot be counted, or
// nothing (monostate) when only the database itself can say: the view's columns are no longer the ones it
// was made with, or it names something that is not there.
struct CountFailure {
    std::string message;
};
using FileViewCount = std::variant<std::monostate, std::int64_t, CountFailure>;
FileViewCount count_file_view(const DuckDBApi& api, duckdb_connection memory, const FileView& view);

}  // namespace qev_scoreboard
