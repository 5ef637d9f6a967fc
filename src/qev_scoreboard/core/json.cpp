#include "qev_scoreboard/core/json.hpp"

#include <algorithm>
#include <cstdint>
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
        scan_number();
        return {JsonValue::Kind::Number, std::string(s.substr(start, pos - start)), {}, {}};
    }

    void scan_number() {
        if (peek() == '-') ++pos;
        if (take("Infinity")) return;
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
    }

    // A literal or a number, skipped.
    void scalar() {
        const char c = peek();
        if (take("true") || take("false") || take("null") || take("NaN")) return;
        if (c == '-' || c == 'I' || (c >= '0' && c <= '9')) return scan_number();
        fail("beklenmeyen karakter");
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

void write_string(std::string& out, std::string_view text) {
    out += '"';
    escape_into(out, text);
    out += '"';
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

void check_text(std::string_view text) {
    if (!is_valid_utf8(text)) throw std::runtime_error("geçersiz JSON: UTF-8 değil");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") throw std::runtime_error("geçersiz JSON: bayt sırası işareti (BOM)");
}

[[noreturn]] void not_an_object() { throw std::runtime_error("geçersiz meta dosyası: en üst düzey bir nesne değil"); }

uint64_t name_hash(std::string_view name) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ull;
    return h;
}

// Sets one string member of a top-level object without building a tree, so memory stays near the size
// of the text and of the result. A first pass checks the document as parse_json would and notes what a
// repeated name changes (the first place keeps the last value, later places go); a second pass writes
// the layout of dump_json straight from the text.
class MemberRewriter : Parser {
 public:
    MemberRewriter(std::string_view text, std::string_view name, std::string_view value)
        : Parser{text}, name_(name), value_(value) {}

    std::optional<std::string> run() {
        skip_ws();
        const bool is_object = peek() == '{';
        scan(0, 0);
        skip_ws();
        if (!at_end()) fail("belgenin sonunda fazlalık");
        if (!is_object) not_an_object();
        std::vector<std::vector<Member>>().swap(open_);
        if (found_ && s[last_value_pos_] == '"') {
            pos = last_value_pos_ + 1;
            if (string() == value_) return std::nullopt;
        }
        std::sort(skips_.begin(), skips_.end(), [](const Skip& a, const Skip& b) { return a.name_pos < b.name_pos; });
        std::sort(substs_.begin(), substs_.end(),
                  [](const Subst& a, const Subst& b) { return a.value_pos < b.value_pos; });
        std::string out;
        out_ = &out;
        pos = 0;
        emit(0);
        return out;
    }

 private:
    struct Member {
        uint64_t hash;
        size_t name_pos, value_pos, value_end;
    };
    struct Skip {  // a member whose name comes again: dropped, from its name to the end of its value
        size_t name_pos, value_end;
    };
    struct Subst {  // the first member of a repeated name: its value read from the last one instead
        size_t value_pos, value_end, with_pos;
    };

    std::string_view name_, value_;
    std::vector<std::vector<Member>> open_;  // the members of each object being read, by object nesting
    std::vector<Skip> skips_;
    std::vector<Subst> substs_;
    bool found_ = false;
    size_t first_value_end_ = 0, last_value_pos_ = 0;
    std::string* out_ = nullptr;

    void scan(int depth, size_t level) {
        if (depth >= MAX_DEPTH) fail("iç içe geçme çok derin");
        skip_ws();
        if (at_end()) fail("değer bekleniyordu");
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            string();
        } else if (c == '{') {
            ++pos;
            scan_object(depth, level);
        } else if (c == '[') {
            ++pos;
            skip_ws();
            if (peek() == ']') {
                ++pos;
                return;
            }
            for (;;) {
                scan(depth + 1, level);
                skip_ws();
                if (peek() != ',') break;
                ++pos;
            }
            expect(']', "',' ya da ']' bekleniyordu");
        } else {
            scalar();
        }
    }

    void scan_object(int depth, size_t level) {
        if (open_.size() <= level) open_.emplace_back();
        open_[level].clear();
        skip_ws();
        if (peek() == '}') {
            ++pos;
            return;
        }
        for (;;) {
            expect('"', "üye adı bekleniyordu");
            const size_t name_pos = pos - 1;
            const std::string name = string();
            expect(':', "':' bekleniyordu");
            skip_ws();
            const size_t value_pos = pos;
            scan(depth + 1, level + 1);
            if (depth == 0 && name == name_) {
                if (!found_) first_value_end_ = pos;
                found_ = true;
                last_value_pos_ = value_pos;
            }
            open_[level].push_back({name_hash(name), name_pos, value_pos, pos});
            skip_ws();
            if (peek() != ',') break;
            ++pos;
        }
        expect('}', "',' ya da '}' bekleniyordu");
        note_repeated_names(open_[level]);
    }

    std::string name_at(size_t name_pos) {
        const size_t keep = pos;
        pos = name_pos + 1;
        std::string name = string();
        pos = keep;
        return name;
    }

    void note_repeated_names(std::vector<Member>& members) {
        if (members.size() < 2) return;
        std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.name_pos < b.name_pos;
        });
        for (size_t i = 0, j; i < members.size(); i = j) {
            for (j = i + 1; j < members.size() && members[j].hash == members[i].hash;) ++j;
            if (j - i == 1) continue;
            // Names are decoded one at a time, never kept for the whole group: a file of one name repeated
            // would otherwise hold a copy of every occurrence.
            std::vector<bool> taken(j - i);
            for (size_t a = 0; a < j - i; ++a) {
                if (taken[a]) continue;
                const std::string name = name_at(members[i + a].name_pos);
                size_t last = a;
                for (size_t b = a + 1; b < j - i; ++b) {
                    if (taken[b] || name_at(members[i + b].name_pos) != name) continue;
                    taken[b] = true;
                    skips_.push_back({members[i + b].name_pos, members[i + b].value_end});
                    last = b;
                }
                if (last != a)
                    substs_.push_back(
                        {members[i + a].value_pos, members[i + a].value_end, members[i + last].value_pos});
            }
        }
    }

    template <typename T, typename Key>
    static const T* find_at(const std::vector<T>& sorted, size_t at, Key key) {
        auto it = std::lower_bound(sorted.begin(), sorted.end(), at, [&](const T& e, size_t p) { return key(e) < p; });
        return it != sorted.end() && key(*it) == at ? &*it : nullptr;
    }

    void emit(int level) {
        skip_ws();
        if (const Subst* sub = find_at(substs_, pos, [](const Subst& e) { return e.value_pos; })) {
            const size_t end = sub->value_end;
            pos = sub->with_pos;
            emit(level);
            pos = end;
            return;
        }
        const char c = s[pos];
        if (c == '"') {
            ++pos;
            write_string(*out_, string());
        } else if (c == '{' || c == '[') {
            ++pos;
            emit_container(c == '{', level);
        } else {
            const size_t start = pos;
            scalar();
            out_->append(s.substr(start, pos - start));
        }
    }

    void emit_container(bool is_object, int level) {
        const bool root = is_object && level == 0;
        const char close = is_object ? '}' : ']';
        const std::string inner(2 * static_cast<size_t>(level + 1), ' ');
        bool any = false;
        auto next_item = [&] {
            *out_ += any ? ",\n" : "\n";
            *out_ += inner;
            any = true;
        };
        *out_ += is_object ? '{' : '[';
        skip_ws();
        if (peek() != close) {
            for (;;) {
                skip_ws();
                const Skip* dropped =
                    is_object ? find_at(skips_, pos, [](const Skip& e) { return e.name_pos; }) : nullptr;
                if (dropped) {
                    pos = dropped->value_end;
                } else if (is_object) {
                    ++pos;
                    const std::string name = string();
                    expect(':', "':' bekleniyordu");
                    next_item();
                    write_string(*out_, name);
                    *out_ += ": ";
                    if (root && name == name_) {
                        write_string(*out_, value_);
                        pos = first_value_end_;
                    } else {
                        emit(level + 1);
                    }
                } else {
                    next_item();
                    emit(level + 1);
                }
                skip_ws();
                if (peek() != ',') break;
                ++pos;
            }
        }
        ++pos;  // the closing bracket, checked by the first pass
        if (root && !found_) {
            next_item();
            write_string(*out_, name_);
            *out_ += ": ";
            write_string(*out_, value_);
        }
        if (any) {
            *out_ += '\n';
            out_->append(2 * static_cast<size_t>(level), ' ');
        }
        *out_ += close;
    }
};

}  // namespace

std::string json_quoted(std::string_view text) {
    std::string out;
    if (is_valid_utf8(text)) {
        write_string(out, text);
        return out;
    }
    out += '"';
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
    out += '"';
    return out;
}

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
    check_text(text);
    Parser p{text};
    JsonValue v = p.value(0);
    p.skip_ws();
    if (!p.at_end()) p.fail("belgenin sonunda fazlalık");
    return v;
}

JsonValue parse_meta_json(std::string_view text) {
    JsonValue v = parse_json(text);
    if (v.kind != JsonValue::Kind::Object) not_an_object();
    return v;
}

std::optional<std::string> set_string_member(std::string_view text, std::string_view name, std::string_view value) {
    check_text(text);
    return MemberRewriter(text, name, value).run();
}

std::string dump_json(const JsonValue& value) {
    std::string out;
    write_value(out, value, 0);
    return out;
}

}  // namespace qev_scoreboard
