#pragma once
// The one JSON writer: the meta files and the install record (dump_json), the status data, and what the
// C interface returns as JSON.
//
// Two layouts, mixed freely. Lines puts each member or element on a line of its own, indented by two
// spaces for every Lines container it is in, the closing bracket on a line of its own ("{}" and "[]"
// when empty); Inline keeps them on one line with ", " between. A name is followed by ": ". Only
// quotation marks, backslashes and control characters are escaped; non-ASCII text is written raw.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/core/json_reader.hpp"

namespace qev_scoreboard {

class JsonWriter {
 public:
    enum class Layout { Lines, Inline };
    using Sink = std::function<void(std::string_view)>;

    // Appends the document to `out`.
    explicit JsonWriter(std::string& out);
    // Hands the document to `sink` in pieces of about `piece` bytes; finish() hands over the rest. Memory
    // stays near one piece, however long the document.
    explicit JsonWriter(Sink sink, std::size_t piece = std::size_t{1} << 16);
    JsonWriter(const JsonWriter&) = delete;
    JsonWriter& operator=(const JsonWriter&) = delete;

    void begin_object(Layout layout = Layout::Lines);
    void end_object();
    void begin_array(Layout layout = Layout::Lines);
    void end_array();
    void key(std::string_view name);

    // Text as json_quoted writes it.
    void string(std::string_view text);
    void null();
    void boolean(bool value);
    void number(std::int64_t value);
    void number(std::uint64_t value);
    // A value that is JSON already: a number's own text, a literal, or a whole document.
    void raw(std::string_view json);
    void more_raw(std::string_view piece);

    // A name or a string too long to hold, in pieces: begin_key() or begin_string(), then text() with
    // each piece of UTF-8 text (a piece may end inside a sequence), then end_text().
    void begin_key();
    void begin_string();
    void text(std::string_view piece);
    void end_text();

    void finish();

 private:
    struct Open {
        Layout layout;
        std::size_t items;
    };
    void begin_value();
    void next_item();
    void begin(char bracket, Layout layout);
    void end(char bracket);
    void maybe_hand_over();

    std::string* out_;
    std::string buffer_;
    Sink sink_;
    std::size_t piece_ = 0;
    std::vector<Open> open_;
    std::size_t lines_depth_ = 0;
    bool after_key_ = false;
    bool in_key_ = false;
};

// `text` as a JSON string. A byte that is not UTF-8 (the engine's files never hold one; names from the
// system may) becomes the escaped lone surrogate U+DC00 + byte, as Python's "surrogateescape" reads it:
// the text stays JSON and no byte is lost.
std::string json_quoted(std::string_view text);

// The document in the Lines layout throughout, with no trailing line break.
std::string dump_json(const JsonValue& value);

}  // namespace qev_scoreboard
