#include "qev_scoreboard/core/json_reader.hpp"

#include <unordered_map>
#include <utility>

#include "qev_scoreboard/core/json_scanner.hpp"

namespace qev_scoreboard {

namespace {

using json_scan::MAX_DEPTH;

struct TreeReader : json_scan::Scanner {
    using Scanner::Scanner;

    std::string text() {
        std::string out;
        string([&](std::string_view piece) { out += piece; });
        return out;
    }

    JsonValue object(int depth) {
        JsonValue obj{JsonValue::Kind::Object, {}, {}, {}};
        skip_ws();
        if (src.peek() == '}') {
            src.advance();
            return obj;
        }
        std::unordered_map<std::string, size_t> index;
        for (;;) {
            expect('"', "üye adı bekleniyordu");
            std::string name = text();
            expect(':', "':' bekleniyordu");
            JsonValue v = value(depth + 1);
            // Like the engine's own reader: a repeated name keeps its first place and its last value.
            auto [it, fresh] = index.try_emplace(name, obj.items.size());
            if (fresh) {
                obj.names.push_back(std::move(name));
                obj.items.push_back(std::move(v));
            } else {
                obj.items[it->second] = std::move(v);
            }
            skip_ws();
            if (src.peek() == ',') {
                src.advance();
                continue;
            }
            expect('}', "',' ya da '}' bekleniyordu");
            return obj;
        }
    }

    JsonValue array(int depth) {
        JsonValue arr{JsonValue::Kind::Array, {}, {}, {}};
        skip_ws();
        if (src.peek() == ']') {
            src.advance();
            return arr;
        }
        for (;;) {
            arr.items.push_back(value(depth + 1));
            skip_ws();
            if (src.peek() == ',') {
                src.advance();
                continue;
            }
            expect(']', "',' ya da ']' bekleniyordu");
            return arr;
        }
    }

    JsonValue value(int depth) {
        if (depth >= MAX_DEPTH) fail("iç içe geçme çok derin");
        skip_ws();
        if (src.at_end()) fail("değer bekleniyordu");
        const char c = src.peek();
        if (c == '{' || c == '[' || c == '"') {
            src.advance();
            if (c == '{') return object(depth);
            if (c == '[') return array(depth);
            return json_string(text());
        }
        if (c == 't' && src.take("true")) return {JsonValue::Kind::True, {}, {}, {}};
        if (c == 'f' && src.take("false")) return {JsonValue::Kind::False, {}, {}, {}};
        if (c == 'n' && src.take("null")) return {JsonValue::Kind::Null, {}, {}, {}};
        if (c == 'N' && src.take("NaN")) return {JsonValue::Kind::Number, "NaN", {}, {}};
        if (c == '-' || c == 'I' || (c >= '0' && c <= '9')) {
            const size_t start = src.pos();
            scan_number();
            std::string number;
            src.since(start, [&](std::string_view piece) { number += piece; });
            return {JsonValue::Kind::Number, std::move(number), {}, {}};
        }
        fail("beklenmeyen karakter");
    }
};

}  // namespace

const JsonValue* find_member(const JsonValue& object, std::string_view name) {
    for (size_t i = 0; i < object.names.size(); ++i)
        if (object.names[i] == name) return &object.items[i];
    return nullptr;
}

void set_member(JsonValue& object, const std::string& name, JsonValue value) {
    for (size_t i = 0; i < object.names.size(); ++i) {
        if (object.names[i] == name) {
            object.items[i] = std::move(value);
            return;
        }
    }
    object.names.push_back(name);
    object.items.push_back(std::move(value));
}

JsonValue json_string(std::string text) { return {JsonValue::Kind::String, std::move(text), {}, {}}; }

JsonValue parse_json(std::string_view text) {
    json_scan::check_text(text);
    json_scan::Source src(text);
    TreeReader reader(src);
    JsonValue v = reader.value(0);
    reader.skip_ws();
    if (!src.at_end()) reader.fail("belgenin sonunda fazlalık");
    return v;
}

JsonValue parse_meta_json(std::string_view text) {
    JsonValue v = parse_json(text);
    if (v.kind != JsonValue::Kind::Object) throw JsonError("geçersiz meta dosyası: en üst düzey bir nesne değil");
    return v;
}

}  // namespace qev_scoreboard
