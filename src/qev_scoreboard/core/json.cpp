#include "qev_scoreboard/core/json.hpp"

#include <stdexcept>
#include <unordered_map>
#include <utility>

#include "qev_scoreboard/core/utf8.hpp"

namespace qev_scoreboard {

namespace {

constexpr int MAX_DEPTH = 1000;

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct Parser {
    std::string_view s;
    size_t pos = 0;

    [[noreturn]] void fail(const char* what) const {
        throw std::runtime_error("geçersiz JSON: " + std::string(what) + " (konum " + std::to_string(pos) + ")");
    }

    bool at_end() const { return pos >= s.size(); }
    char peek() const { return at_end() ? '\0' : s[pos]; }

    void skip_ws() {
        while (!at_end() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\n' || s[pos] == '\r')) ++pos;
    }

    bool take(std::string_view word) {
        if (s.substr(pos, word.size()) != word) return false;
        pos += word.size();
        return true;
    }

    void expect(char c, const char* what) {
        skip_ws();
        if (peek() != c) fail(what);
        ++pos;
    }

    size_t digits() {
        size_t start = pos;
        while (!at_end() && s[pos] >= '0' && s[pos] <= '9') ++pos;
        return pos - start;
    }

    JsonValue number() {
        const size_t start = pos;
        if (peek() == '-') ++pos;
        if (take("Infinity")) return {JsonValue::Kind::Number, std::string(s.substr(start, pos - start)), {}, {}};
        if (peek() == '0') {
            ++pos;
        } else if (digits() == 0) {
            fail("sayı bekleniyordu");
        }
        if (peek() == '.') {
            ++pos;
            if (digits() == 0) fail("ondalık basamak bekleniyordu");
        }
        if (peek() == 'e' || peek() == 'E') {
            ++pos;
            if (peek() == '+' || peek() == '-') ++pos;
            if (digits() == 0) fail("üs basamağı bekleniyordu");
        }
        return {JsonValue::Kind::Number, std::string(s.substr(start, pos - start)), {}, {}};
    }

    unsigned hex4() {
        if (s.size() - pos < 4) fail("kısa \\u kaçışı");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_value(s[pos++]);
            if (digit < 0) fail("geçersiz \\u kaçışı");
            v = (v << 4) | static_cast<unsigned>(digit);
        }
        return v;
    }

    unsigned unicode_escape() {
        unsigned cp = hex4();
        if (cp >= 0xDC00 && cp <= 0xDFFF) fail("eşsiz vekil karakter");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (!take("\\u")) fail("eşsiz vekil karakter");
            unsigned low = hex4();
            if (low < 0xDC00 || low > 0xDFFF) fail("eşsiz vekil karakter");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        return cp;
    }

    // Called after the opening quote.
    std::string string() {
        std::string out;
        for (;;) {
            if (at_end()) fail("kapanmamış metin");
            const char c = s[pos++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("metin içinde kontrol karakteri");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_end()) fail("kapanmamış metin");
            switch (s[pos++]) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u':
                    append_utf8(out, unicode_escape());
                    break;
                default:
                    fail("geçersiz kaçış");
            }
        }
    }

    JsonValue object(int depth) {
        JsonValue obj{JsonValue::Kind::Object, {}, {}, {}};
        skip_ws();
        if (peek() == '}') {
            ++pos;
            return obj;
        }
        std::unordered_map<std::string, size_t> index;
        for (;;) {
            expect('"', "üye adı bekleniyordu");
            std::string name = string();
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
            if (peek() == ',') {
                ++pos;
                continue;
            }
            expect('}', "',' ya da '}' bekleniyordu");
            return obj;
        }
    }

    JsonValue array(int depth) {
        JsonValue arr{JsonValue::Kind::Array, {}, {}, {}};
        skip_ws();
        if (peek() == ']') {
            ++pos;
            return arr;
        }
        for (;;) {
            arr.items.push_back(value(depth + 1));
            skip_ws();
            if (peek() == ',') {
                ++pos;
                continue;
            }
            expect(']', "',' ya da ']' bekleniyordu");
            return arr;
        }
    }

    JsonValue value(int depth) {
        if (depth >= MAX_DEPTH) fail("iç içe geçme çok derin");
        skip_ws();
        if (at_end()) fail("değer bekleniyordu");
        const char c = s[pos];
        if (c == '{' || c == '[' || c == '"') {
            ++pos;
            if (c == '{') return object(depth);
            if (c == '[') return array(depth);
            return json_string(string());
        }
        if (take("true")) return {JsonValue::Kind::True, {}, {}, {}};
        if (take("false")) return {JsonValue::Kind::False, {}, {}, {}};
        if (take("null")) return {JsonValue::Kind::Null, {}, {}, {}};
        if (take("NaN")) return {JsonValue::Kind::Number, "NaN", {}, {}};
        if (c == '-' || c == 'I' || (c >= '0' && c <= '9')) return number();
        fail("beklenmeyen karakter");
    }
};

void write_string(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
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
                    out += hex[(c >> 4) & 0x0F];
                    out += hex[c & 0x0F];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void write_value(std::string& out, const JsonValue& v, int level) {
    switch (v.kind) {
        case JsonValue::Kind::Null:
            out += "null";
            return;
        case JsonValue::Kind::True:
            out += "true";
            return;
        case JsonValue::Kind::False:
            out += "false";
            return;
        case JsonValue::Kind::Number:
            out += v.text;
            return;
        case JsonValue::Kind::String:
            write_string(out, v.text);
            return;
        case JsonValue::Kind::Array:
        case JsonValue::Kind::Object:
            break;
    }
    const bool is_object = v.kind == JsonValue::Kind::Object;
    if (v.items.empty()) {
        out += is_object ? "{}" : "[]";
        return;
    }
    out += is_object ? '{' : '[';
    const std::string inner(2 * static_cast<size_t>(level + 1), ' ');
    for (size_t i = 0; i < v.items.size(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        out += inner;
        if (is_object) {
            write_string(out, v.names[i]);
            out += ": ";
        }
        write_value(out, v.items[i], level + 1);
    }
    out += '\n';
    out.append(2 * static_cast<size_t>(level), ' ');
    out += is_object ? '}' : ']';
}

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
    if (!is_valid_utf8(text)) throw std::runtime_error("geçersiz JSON: UTF-8 değil");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") throw std::runtime_error("geçersiz JSON: bayt sırası işareti (BOM)");
    Parser p{text};
    JsonValue v = p.value(0);
    p.skip_ws();
    if (!p.at_end()) p.fail("belgenin sonunda fazlalık");
    return v;
}

JsonValue parse_meta_json(std::string_view text) {
    JsonValue v = parse_json(text);
    if (v.kind != JsonValue::Kind::Object)
        throw std::runtime_error("geçersiz meta dosyası: en üst düzey bir nesne değil");
    return v;
}

std::string dump_json(const JsonValue& value) {
    std::string out;
    write_value(out, value, 0);
    return out;
}

}  // namespace qev_scoreboard
