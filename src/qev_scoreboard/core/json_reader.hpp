#pragma once
// Lossless JSON reader, for the pipeline engine's step meta files and the step registry.
//
// A small strict recursive-descent parser into our own tree rather than a general JSON library: the
// engine's files must come back with the same meaning, so every number keeps the exact text it was
// read with (1.0, -0, 1e400, integers beyond 64 bits and the engine's NaN / Infinity / -Infinity),
// and object members keep the order they were read in.

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qev_scoreboard {

// A document refused for what it holds: not UTF-8, not JSON, or not the kind of document asked for.
struct JsonError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct JsonValue {
    enum class Kind { Null, True, False, Number, String, Array, Object };
    Kind kind = Kind::Null;
    // Number: its source text. String: the decoded UTF-8 text.
    std::string text;
    // Array: the elements. Object: the member values, each paired with names[i].
    std::vector<JsonValue> items;
    std::vector<std::string> names;
};

// The value of member `name` of an object, or nullptr.
const JsonValue* find_member(const JsonValue& object, std::string_view name);
// Sets member `name` of an object: in place when present, else appended as the last member.
void set_member(JsonValue& object, const std::string& name, JsonValue value);

JsonValue json_string(std::string text);

// Parses one JSON document (any top-level value). Throws JsonError on invalid UTF-8, a byte-order mark,
// trailing garbage, raw control characters or bad escapes in strings, lone surrogates in \u escapes and
// nesting deeper than 1000 levels. A repeated member name keeps the position of its first occurrence
// and the value of its last.
JsonValue parse_json(std::string_view text);

// parse_json, additionally refusing a top level that is not an object.
JsonValue parse_meta_json(std::string_view text);

}  // namespace qev_scoreboard
