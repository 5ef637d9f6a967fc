#pragma once
// UTF-8: validation, decoding one code point, trimming white space of every kind, and the columns text
// takes on a terminal.

#include <string>
#include <string_view>

namespace qev_scoreboard {

// True when `text` is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// Checks text that comes in pieces, a sequence possibly split between two, as is_valid_utf8 checks the
// whole.
class Utf8Stream {
 public:
    // False once the text so far cannot be the start of valid UTF-8.
    bool feed(std::string_view piece);
    // Whether the text fed so far ends where a sequence does.
    bool complete() const { return pending_size_ == 0; }

 private:
    char pending_[4] = {};
    size_t pending_size_ = 0;
};

// Decodes the code point at s[i] of valid UTF-8 into `cp`; returns its length in bytes.
size_t decode_utf8_at(std::string_view s, size_t i, char32_t& cp);

// Appends the UTF-8 form of `cp` (at most U+10FFFF, no surrogate) to `out`.
void append_utf8(std::string& out, char32_t cp);

// Valid UTF-8 `s` without the white space (Unicode's included) at either end.
std::string trim_unicode_space(std::string_view s);

// `text` made safe to print as part of one line: line breaks, tabs, terminal escapes and every other
// control character (C0, DEL, C1) become escapes (\n, \r, \t, \xHH, \u00HH), bytes that are not UTF-8
// become \xHH. Printable text, Turkish letters and backslashes included, passes unchanged: paths and
// messages keep their backslashes (Windows paths are made of them).
std::string printable(std::string_view text);

// A name as printable() shows it, with a backslash doubled, so that no two names print alike: a name
// holding a backslash and "n" is told apart from one holding a line break.
std::string printable_name(std::string_view name);

// The columns `text` takes on a terminal: two for an East Asian wide or full-width character, none for
// a combining mark or a zero-width one, one for every other code point (and for a byte that is not UTF-8).
size_t display_columns(std::string_view text);

// `text` cut to take at most `columns` columns, ending in "…" when anything had to go; whole code points.
std::string cut_to_columns(std::string_view text, size_t columns);

}  // namespace qev_scoreboard
