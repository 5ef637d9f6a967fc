#pragma once
// Lossless JSON reader and writer, for the pipeline engine's step meta files and the step registry.
//
// A small strict recursive-descent parser into our own tree rather than a general JSON library: the
// engine's files must come back with the same meaning, so every number keeps the exact text it was
// read with (1.0, -0, 1e400, integers beyond 64 bits and the engine's NaN / Infinity / -Infinity),
// and object members keep the order they were read in.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qev_scoreboard {

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

// `text` as a JSON string, escaped as dump_json escapes strings. A byte that is not UTF-8 (the engine's
// files never hold one; names from the system may) becomes the escaped lone surrogate U+DC00 + byte, as
// Python's "surrogateescape" reads it: the text stays JSON and no byte is lost.
std::string json_quoted(std::string_view text);

// Parses one JSON document (any top-level value). Throws std::runtime_error on invalid UTF-8, a byte-order
// mark, trailing garbage, raw control characters or bad escapes in strings, lone surrogates in \u
// escapes and nesting deeper than 1000 levels. A repeated member name keeps the position of its
// first occurrence and the value of its last.
JsonValue parse_json(std::string_view text);

// parse_json, additionally refusing a top level that is not an object.
JsonValue parse_meta_json(std::string_view text);

// The meta file `text` with member `name` of its top-level object set to the string `value`, written as
// dump_json(parse_meta_json(text) with that member set) would be, but without the tree: memory stays near
// the size of the text and of the result. nullopt when the member already holds exactly that string.
// Refuses what parse_meta_json refuses, with std::runtime_error.
std::optional<std::string> set_string_member(std::string_view text, std::string_view name, std::string_view value);

// The document indented by two spaces per level, one member or element per line, "\n" separators,
// ": " after names, {} and [] for empty containers, non-ASCII raw, no trailing line break.
std::string dump_json(const JsonValue& value);

}  // namespace qev_scoreboard
