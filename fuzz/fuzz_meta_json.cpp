// The meta file reader and writer on arbitrary bytes: what parses must survive a write and a second
// read unchanged, the writer must be a pure function of the tree, and the meta reader must agree with
// the general one, and setting a member straight on the text must give what setting it on the tree gives.
// Input that does not parse only has to be refused with the reader's own error. The rewrite of a file,
// through the smallest window, must refuse what the rewrite of the text refuses and write the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/json.hpp"

using qev_scoreboard::dump_json;
using qev_scoreboard::find_member;
using qev_scoreboard::JsonValue;
using qev_scoreboard::parse_json;
using qev_scoreboard::parse_meta_json;
using qev_scoreboard::set_member;
using qev_scoreboard::set_string_member;

namespace {

[[noreturn]] void finding(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "meta_json: %s\n%.*s\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

// The rewrite of `text` as a file read through a window of 16 bytes, so that its edges fall everywhere.
std::optional<std::string> streamed(std::string_view text, const char* hash) {
    static const std::filesystem::path path = [] {
        auto p = std::filesystem::temp_directory_path() /
                 ("qev-fuzz-meta-" + std::to_string(std::random_device{}()) + ".json");
        static const std::filesystem::path removed_at_exit = p;
        std::atexit([] { std::filesystem::remove(removed_at_exit); });
        return p;
    }();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(text.data(), static_cast<std::streamsize>(text.size()));
    const qev_scoreboard::Fd file = qev_scoreboard::open_regular_for_reading(path);
    qev_scoreboard::MetaMemberRewrite rewrite(file.get(), path, "nb_hash", hash, 16);
    if (!rewrite.needed()) return std::nullopt;
    std::string out;
    rewrite.write([&](std::string_view piece) { out += piece; });
    return out;
}

void check_streamed_refusal(std::string_view text) {
    try {
        streamed(text, "0123456789abcdef");
    } catch (const qev_scoreboard::JsonError&) {
        return;
    }
    finding("the streamed rewrite accepted what the rewrite of the text refused", text);
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

// The rewrite without a tree agrees with the tree: the same refusal, the same "already set", the same bytes.
void check_set_member(const JsonValue& value, std::string_view text) {
    const bool is_object = value.kind == JsonValue::Kind::Object;
    for (const char* hash : {"0123456789abcdef", "0"}) {
        std::optional<std::string> rewritten;
        try {
            rewritten = set_string_member(text, "nb_hash", hash);
        } catch (const std::runtime_error& e) {
            if (is_object) finding("set_string_member refused an object", e.what());
            return check_streamed_refusal(text);
        }
        if (streamed(text, hash) != rewritten) finding("the streamed rewrite wrote other bytes than the text's", text);
        if (!is_object) finding("set_string_member accepted a top level that is not an object");
        const JsonValue* current = find_member(value, "nb_hash");
        const bool already = current && current->kind == JsonValue::Kind::String && current->text == hash;
        if (already != !rewritten) finding("set_string_member disagrees on whether the member is set", text);
        if (!rewritten) continue;
        JsonValue changed = value;
        set_member(changed, "nb_hash", qev_scoreboard::json_string(hash));
        if (*rewritten != dump_json(changed)) finding("set_string_member wrote other bytes than the tree", *rewritten);
    }
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
            try {
                set_string_member(text, "nb_hash", "0123456789abcdef");
            } catch (const std::runtime_error&) {
                check_streamed_refusal(text);
                return 0;
            }
            finding("set_string_member accepted what parse_json refused");
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

    check_set_member(value, text);

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
