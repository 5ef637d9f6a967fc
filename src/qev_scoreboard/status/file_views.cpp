#include "qev_scoreboard/status/file_views.hpp"

#include <array>
#include <stdexcept>

#include "qev_scoreboard/core/duckdb_query.hpp"
#include "qev_scoreboard/core/json.hpp"

namespace qev_scoreboard {

namespace {

// Table functions that read files or make rows of their arguments alone; any other may read the catalogue
// (query_table, duckdb_tables, ...) or be one of the database's own macros.
constexpr std::array<std::string_view, 18> FILE_FUNCTIONS = {"read_csv",
                                                             "read_csv_auto",
                                                             "read_parquet",
                                                             "parquet_scan",
                                                             "read_json",
                                                             "read_json_auto",
                                                             "read_ndjson",
                                                             "read_ndjson_auto",
                                                             "read_json_objects",
                                                             "read_json_objects_auto",
                                                             "read_ndjson_objects",
                                                             "read_text",
                                                             "read_blob",
                                                             "glob",
                                                             "range",
                                                             "generate_series",
                                                             "unnest",
                                                             "sniff_csv"};

// Functions whose value depends on the session or the catalogue, which differ in the other engine.
constexpr std::array<std::string_view, 9> SESSION_FUNCTIONS = {"current_database", "current_catalog", "current_schema",
                                                               "current_schemas",  "current_setting", "current_query",
                                                               "getvariable",      "nextval",         "currval"};

template <std::size_t N>
bool listed(const std::array<std::string_view, N>& list, const std::string& name) {
    for (const std::string_view entry : list)
        if (entry == name) return true;
    return false;
}

std::string member_text(const JsonValue& object, std::string_view name) {
    const JsonValue* value = find_member(object, name);
    return value != nullptr && value->kind == JsonValue::Kind::String ? value->text : std::string();
}

// Walks the parsed query: false at the first thing that may read the database or the session.
bool only_files(const JsonValue& value, const std::set<std::string>& objects) {
    if (value.kind == JsonValue::Kind::Object) {
        const std::string type = member_text(value, "type");
        const bool expression = find_member(value, "class") != nullptr;
        if (expression && member_text(value, "class") == "FUNCTION") {
            if (!member_text(value, "schema").empty() || !member_text(value, "catalog").empty()) return false;
            if (listed(SESSION_FUNCTIONS, lower_ascii(member_text(value, "function_name")))) return false;
        } else if (!expression && find_member(value, "alias") != nullptr && find_member(value, "sample") != nullptr) {
            // A table reference.
            if (type == "BASE_TABLE") {
                if (!member_text(value, "schema_name").empty() || !member_text(value, "catalog_name").empty())
                    return false;
                // A name that is no table of the database is a raw file's ('x.csv'), or nothing: then the
                // count fails, and the database is asked why.
                if (objects.count(lower_ascii(member_text(value, "table_name")))) return false;
            } else if (type == "TABLE_FUNCTION") {
                const JsonValue* function = find_member(value, "function");
                if (function == nullptr || !member_text(*function, "schema").empty() ||
                    !member_text(*function, "catalog").empty() ||
                    !listed(FILE_FUNCTIONS, lower_ascii(member_text(*function, "function_name"))))
                    return false;
            } else if (type != "JOIN" && type != "SUBQUERY" && type != "EXPRESSION_LIST" && type != "EMPTY" &&
                       type != "PIVOT") {
                return false;
            }
        }
    }
    for (const JsonValue& item : value.items)
        if (!only_files(item, objects)) return false;
    return true;
}

// The messages of the engine's checks that only the database's own view can answer.
bool only_the_database_can_tell(const std::string& message) {
    return message.starts_with("Catalog Error") || message.starts_with("Binder Error");
}

// A message as the engine gives it for a view of the database: a statement of ours would add where in
// its text the error lies ("LINE 1: ..."), which a view's own never shows.
std::string as_a_view_tells_it(std::string message) {
    if (const size_t at = message.find("\n\nLINE "); at != std::string::npos) message.resize(at);
    return message;
}

}  // namespace

std::string lower_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<std::string> view_query(std::string_view definition) {
    constexpr std::string_view head = "CREATE VIEW ";
    if (!definition.starts_with(head)) return std::nullopt;
    size_t at = head.size();
    // One name, quoted ("a ""b""") or not, as the engine writes names.
    const auto name = [&] {
        if (at < definition.size() && definition[at] == '"') {
            for (++at; at < definition.size(); ++at) {
                if (definition[at] != '"') continue;
                if (at + 1 < definition.size() && definition[at + 1] == '"') {
                    ++at;
                    continue;
                }
                ++at;
                return true;
            }
            return false;
        }
        const size_t start = at;
        while (at < definition.size() && definition[at] != ' ' && definition[at] != '.' && definition[at] != '"' &&
               definition[at] != '(')
            ++at;
        return at > start;
    };
    for (int part = 0; part < 3; ++part) {
        if (!name()) return std::nullopt;
        if (at >= definition.size() || definition[at] != '.') break;
        ++at;
    }
    constexpr std::string_view as = " AS ";
    if (definition.substr(at, as.size()) != as) return std::nullopt;  // " (a, b) AS ": renamed columns
    std::string_view query = definition.substr(at + as.size());
    if (query.ends_with(';')) query.remove_suffix(1);
    if (query.empty()) return std::nullopt;
    return std::string(query);
}

bool reads_only_files(const DuckDBApi& api, duckdb_connection con, const std::string& query,
                      const std::set<std::string>& objects) {
    try {
        DuckDBResult parsed(api, con, "SELECT json_serialize_sql(" + sql_quoted(query, '\'') + ")");
        const DuckDBChunk chunk = parsed.next();
        if (!chunk || chunk.size() != 1 || parsed.columns() != 1 || parsed.column_type(0) != DUCKDB_TYPE_VARCHAR)
            return false;
        const JsonValue tree = parse_json(chunk.text(0, 0));
        const JsonValue* error = find_member(tree, "error");
        const JsonValue* statements = find_member(tree, "statements");
        if (error == nullptr || error->kind != JsonValue::Kind::False || statements == nullptr ||
            statements->kind != JsonValue::Kind::Array || statements->items.size() != 1)
            return false;
        return only_files(*statements, objects);
    } catch (const std::runtime_error&) {
        return false;  // no parser (the engine built without it), or a tree too deep to read
    }
}

FileViewCount count_file_view(const DuckDBApi& api, duckdb_connection memory, const FileView& view) {
    try {
        // The rows, and in the same reading of the files the names and types the view's columns have now.
        DuckDBResult counted(
            api, memory,
            "SELECT COUNT(*), typeof(any_value(COLUMNS(*)) FILTER (WHERE false)) FROM (\n" + view.query + "\n)");
        const DuckDBChunk chunk = counted.next();
        const idx_t columns = counted.columns();
        if (!chunk || chunk.size() != 1 || columns != view.names.size() + 1 ||
            counted.column_type(0) != DUCKDB_TYPE_BIGINT)
            return std::monostate{};
        for (idx_t column = 1; column < columns; ++column) {
            if (counted.column_type(column) != DUCKDB_TYPE_VARCHAR ||
                counted.column_name(column) != view.names[column - 1] ||
                chunk.text(column, 0) != view.types[column - 1])
                return std::monostate{};
        }
        uint64_t* validity = nullptr;
        const int64_t* count = chunk.values<int64_t>(0, validity);
        if (!chunk.valid(validity, 0)) return std::monostate{};
        return count[0];
    } catch (const std::runtime_error& e) {
        if (only_the_database_can_tell(e.what())) return std::monostate{};
        return CountFailure{as_a_view_tells_it(e.what())};
    }
}

}  // namespace qev_scoreboard
