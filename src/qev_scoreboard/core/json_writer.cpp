#include "qev_scoreboard/core/json_writer.hpp"

#include <algorithm>
#include <utility>

#include "qev_scoreboard/core/utf8.hpp"

namespace qev_scoreboard {

namespace {

constexpr char HEX[] = "0123456789abcdef";

// `text` escaped for the inside of a JSON string: quotation marks, backslashes and control characters.
void escape_into(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "\\u00";
                    out += HEX[(c >> 4) & 0x0F];
                    out += HEX[c & 0x0F];
                } else {
                    out += c;
                }
        }
    }
}

// The length of the UTF-8 sequence at text[i], or 0 when the byte there begins none.
size_t utf8_sequence_length(std::string_view text, size_t i) {
    if (static_cast<unsigned char>(text[i]) < 0x80) return 1;
    const std::string_view rest = text.substr(i, std::min<size_t>(4, text.size() - i));
    char32_t cp = 0;
    for (size_t len = 2; len <= rest.size(); ++len)
        if (is_valid_utf8(rest.substr(0, len)) && decode_utf8_at(rest, 0, cp) == len) return len;
    return 0;
}

void quote_into(std::string& out, std::string_view text) {
    out += '"';
    if (is_valid_utf8(text)) {
        escape_into(out, text);
    } else {
        for (size_t i = 0; i < text.size();) {
            if (const size_t n = utf8_sequence_length(text, i); n != 0) {
                escape_into(out, text.substr(i, n));
                i += n;
                continue;
            }
            const unsigned char c = static_cast<unsigned char>(text[i++]);
            out += "\\udc";
            out += HEX[c >> 4];
            out += HEX[c & 0x0F];
        }
    }
    out += '"';
}

void write_value(JsonWriter& w, const JsonValue& v) {
    switch (v.kind) {
        case JsonValue::Kind::Null:
            return w.null();
        case JsonValue::Kind::True:
            return w.boolean(true);
        case JsonValue::Kind::False:
            return w.boolean(false);
        case JsonValue::Kind::Number:
            return w.raw(v.text);
        case JsonValue::Kind::String:
            return w.string(v.text);
        case JsonValue::Kind::Array:
            w.begin_array();
            for (const JsonValue& item : v.items) write_value(w, item);
            return w.end_array();
        case JsonValue::Kind::Object:
            w.begin_object();
            for (size_t i = 0; i < v.items.size(); ++i) {
                w.key(v.names[i]);
                write_value(w, v.items[i]);
            }
            return w.end_object();
    }
}

}  // namespace

JsonWriter::JsonWriter(std::string& out) : out_(&out) {}

JsonWriter::JsonWriter(Sink sink, std::size_t piece) : out_(&buffer_), sink_(std::move(sink)), piece_(piece) {
    buffer_.reserve(piece_ + 64);
}

void JsonWriter::next_item() {
    if (open_.empty()) return;
    Open& at = open_.back();
    if (at.layout == Layout::Lines) {
        *out_ += at.items == 0 ? "\n" : ",\n";
        out_->append(2 * lines_depth_, ' ');
    } else if (at.items != 0) {
        *out_ += ", ";
    }
    ++at.items;
}

// After a name its value follows at once; anything else is the next item of what is open.
void JsonWriter::begin_value() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    next_item();
}

void JsonWriter::begin(char bracket, Layout layout) {
    begin_value();
    *out_ += bracket;
    open_.push_back({layout, 0});
    if (layout == Layout::Lines) ++lines_depth_;
}

void JsonWriter::end(char bracket) {
    const Open closed = open_.back();
    open_.pop_back();
    if (closed.layout == Layout::Lines) {
        --lines_depth_;
        if (closed.items != 0) {
            *out_ += '\n';
            out_->append(2 * lines_depth_, ' ');
        }
    }
    *out_ += bracket;
    maybe_hand_over();
}

void JsonWriter::begin_object(Layout layout) { begin('{', layout); }
void JsonWriter::end_object() { end('}'); }
void JsonWriter::begin_array(Layout layout) { begin('[', layout); }
void JsonWriter::end_array() { end(']'); }

void JsonWriter::key(std::string_view name) {
    next_item();
    quote_into(*out_, name);
    *out_ += ": ";
    after_key_ = true;
}

void JsonWriter::string(std::string_view text) {
    begin_value();
    quote_into(*out_, text);
    maybe_hand_over();
}

void JsonWriter::null() { raw("null"); }
void JsonWriter::boolean(bool value) { raw(value ? "true" : "false"); }
void JsonWriter::number(std::int64_t value) { raw(std::to_string(value)); }
void JsonWriter::number(std::uint64_t value) { raw(std::to_string(value)); }

void JsonWriter::raw(std::string_view json) {
    begin_value();
    more_raw(json);
}

void JsonWriter::more_raw(std::string_view piece) {
    *out_ += piece;
    maybe_hand_over();
}

void JsonWriter::begin_key() {
    next_item();
    *out_ += '"';
    in_key_ = true;
}

void JsonWriter::begin_string() {
    begin_value();
    *out_ += '"';
}

void JsonWriter::text(std::string_view piece) {
    escape_into(*out_, piece);
    maybe_hand_over();
}

void JsonWriter::end_text() {
    *out_ += '"';
    if (in_key_) {
        *out_ += ": ";
        in_key_ = false;
        after_key_ = true;
    }
    maybe_hand_over();
}

void JsonWriter::maybe_hand_over() {
    if (sink_ && buffer_.size() >= piece_) {
        sink_(buffer_);
        buffer_.clear();
    }
}

void JsonWriter::finish() {
    if (sink_ && !buffer_.empty()) {
        sink_(buffer_);
        buffer_.clear();
    }
}

std::string json_quoted(std::string_view text) {
    std::string out;
    quote_into(out, text);
    return out;
}

std::string dump_json(const JsonValue& value) {
    std::string out;
    JsonWriter w(out);
    write_value(w, value);
    return out;
}

}  // namespace qev_scoreboard
