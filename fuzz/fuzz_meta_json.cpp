// The meta file reader and writer on arbitrary bytes: what parses must survive a write and a second
// read unchanged, the writer must be a pure function of the tree, and the meta reader must agree with
// the general one. Input that does not parse only has to be refused with the reader's own error.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "qev_scoreboard/core/json.hpp"

using qev_scoreboard::dump_json;
using qev_scoreboard::find_member;
using qev_scoreboard::JsonValue;
using qev_scoreboard::parse_json;
using qev_scoreboard::parse_meta_json;

namespace {

[[noreturn]] void finding(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "meta_json: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

bool same_tree(const JsonValue& a, const JsonValue& b) {
    if (a.kind != b.kind || a.text != b.text || a.names != b.names || a.items.size() != b.items.size()) return false;
    for (size_t i = 0; i < a.items.size(); ++i)
        if (!same_tree(a.items[i], b.items[i])) return false;
    return true;
}

// The shape the reader promises: names only in objects, one per member, each unique (a repeated name
// is folded into its first place), so every member is found under its own name.
void check_shape(const JsonValue& v) {
    const bool is_object = v.kind == JsonValue::Kind::Object;
    if (is_object ? v.names.size() != v.items.size() : !v.names.empty()) finding("names do not match members");
    if (v.kind != JsonValue::Kind::Array && !is_object && !v.items.empty()) finding("scalar with items");
    if ((v.kind == JsonValue::Kind::Number) == v.text.empty() && v.kind != JsonValue::Kind::String)
        finding("number without text, or text on a literal");
    for (size_t i = 0; i < v.names.size(); ++i)
        if (find_member(v, v.names[i]) != &v.items[i]) finding("member name repeated", v.names[i]);
    for (const auto& item : v.items) check_shape(item);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    JsonValue value;
    try {
        value = parse_json(text);
    } catch (const std::runtime_error&) {
        try {
            parse_meta_json(text);
        } catch (const std::runtime_error&) {
            return 0;
        }
        finding("parse_meta_json accepted what parse_json refused");
    }
    check_shape(value);

    const bool is_object = value.kind == JsonValue::Kind::Object;
    try {
        const JsonValue meta = parse_meta_json(text);
        if (!is_object) finding("parse_meta_json accepted a top level that is not an object");
        if (!same_tree(meta, value)) finding("parse_meta_json and parse_json disagree");
    } catch (const std::runtime_error& e) {
        if (is_object) finding("parse_meta_json refused an object", e.what());
    }

    const std::string written = dump_json(value);
    JsonValue reread;
    try {
        reread = parse_json(written);
    } catch (const std::runtime_error& e) {
        finding("the writer's output does not parse", e.what());
    }
    if (!same_tree(value, reread)) finding("write then read changed the value", written);
    if (dump_json(value) != written) finding("writing twice gave different bytes", written);
    if (dump_json(reread) != written) finding("the written form is not stable", written);
    return 0;
}
