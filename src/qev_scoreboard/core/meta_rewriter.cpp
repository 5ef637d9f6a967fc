#include "qev_scoreboard/core/meta_rewriter.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "qev_scoreboard/core/json_scanner.hpp"
#include "qev_scoreboard/core/json_writer.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/files.hpp"

namespace qev_scoreboard {

namespace {

using json_scan::MAX_DEPTH;
using json_scan::skip_string;
using json_scan::Source;

[[noreturn]] void not_an_object() { throw JsonError("geçersiz meta dosyası: en üst düzey bir nesne değil"); }

std::uint32_t name_hash(std::uint32_t h, std::string_view piece) {
    for (unsigned char c : piece) h = (h ^ c) * 16777619u;
    return h;
}
constexpr std::uint32_t NAME_HASH_START = 2166136261u;

// Whether decoded text, fed in pieces, is `want`.
struct Matcher {
    std::string_view want;
    std::size_t at = 0;
    bool same = true;
    void operator()(std::string_view piece) {
        same = same && want.substr(at, piece.size()) == piece;
        at += piece.size();
    }
    bool matched() const { return same && at == want.size(); }
};

// Two passes over the document. The first checks it as parse_json would and notes what a repeated name
// changes (the first place keeps the last value, later places go), keeping a few bytes per member of the
// objects being read; the second writes the layout of dump_json straight from the text, jumping to a
// repeated name's last value where its first place is written.
class Rewriter : json_scan::Scanner {
 public:
    Rewriter(Source& source, std::string_view name, std::string_view value)
        : Scanner(source), name_(name), value_(value) {}

    void check() {
        skip_ws();
        const bool is_object = !src.at_end() && src.peek() == '{';
        scan(0);
        skip_ws();
        if (!src.at_end()) fail("belgenin sonunda fazlalık");
        if (!is_object) not_an_object();
        std::vector<Member>().swap(members_);
        if (found_) {
            src.seek(last_value_pos_);
            if (src.peek() == '"') {
                src.advance();
                Matcher m{value_};
                string(m);
                needed_ = !m.matched();
            }
        }
        std::sort(skips_.begin(), skips_.end());
        std::sort(substs_.begin(), substs_.end(),
                  [](const Subst& a, const Subst& b) { return a.name_pos < b.name_pos; });
    }

    bool needed() const { return needed_; }

    void write(JsonWriter& out) {
        out_ = &out;
        src.seek(0);
        emit(0);
    }

 private:
    struct Member {
        std::uint32_t hash, name_pos;  // where its name's opening quotation mark stands
    };
    struct Subst {  // the first place of a repeated name: its value read from the last place instead
        std::uint32_t name_pos, with_name_pos;
    };

    std::string_view name_, value_;
    std::vector<Member> members_;       // of the objects being read, the innermost last
    std::vector<std::uint32_t> skips_;  // the later places of repeated names: dropped
    std::vector<Subst> substs_;
    bool found_ = false, needed_ = true;
    std::size_t last_value_pos_ = 0;
    JsonWriter* out_ = nullptr;

    void scan(int depth) {
        const char c = value_start(depth);
        if (c == '"') {
            src.advance();
            skip_string(*this);
        } else if (c == '{') {
            src.advance();
            scan_object(depth);
        } else if (c == '[') {
            src.advance();
            skip_ws();
            if (src.peek() == ']') return src.advance();
            for (;;) {
                scan(depth + 1);
                skip_ws();
                if (src.peek() != ',') break;
                src.advance();
            }
            expect(']', "',' ya da ']' bekleniyordu");
        } else {
            scalar();
        }
    }

    void scan_object(int depth) {
        const std::size_t first = members_.size();
        skip_ws();
        if (src.peek() == '}') return src.advance();
        for (;;) {
            expect('"', "üye adı bekleniyordu");
            const std::size_t name_pos = src.pos() - 1;
            std::uint32_t hash = NAME_HASH_START;
            Matcher m{name_};
            string([&](std::string_view piece) {
                hash = name_hash(hash, piece);
                if (depth == 0) m(piece);
            });
            expect(':', "':' bekleniyordu");
            skip_ws();
            const std::size_t value_pos = src.pos();
            scan(depth + 1);
            if (depth == 0 && m.matched()) {
                found_ = true;
                last_value_pos_ = value_pos;
            }
            members_.push_back({hash, static_cast<std::uint32_t>(name_pos)});
            skip_ws();
            if (src.peek() != ',') break;
            src.advance();
        }
        expect('}', "',' ya da '}' bekleniyordu");
        note_repeated_names(first);
        members_.resize(first);
    }

    std::string name_at(std::size_t name_pos) {
        const std::size_t keep = src.pos();
        src.seek(name_pos + 1);
        std::string name;
        string([&](std::string_view piece) { name += piece; });
        src.seek(keep);
        return name;
    }

    void note_repeated_names(std::size_t first) {
        const auto begin = members_.begin() + static_cast<std::ptrdiff_t>(first);
        if (members_.end() - begin < 2) return;
        std::sort(begin, members_.end(), [](const Member& a, const Member& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.name_pos < b.name_pos;
        });
        for (auto i = begin, j = begin; i != members_.end(); i = j) {
            for (j = i + 1; j != members_.end() && j->hash == i->hash;) ++j;
            if (j - i == 1) continue;
            // Names are decoded one at a time, never kept for the whole group: a file of one name repeated
            // would otherwise hold a copy of every occurrence.
            std::vector<bool> taken(static_cast<std::size_t>(j - i));
            for (std::size_t a = 0; a < taken.size(); ++a) {
                if (taken[a]) continue;
                const std::string name = name_at(i[a].name_pos);
                std::size_t last = a;
                for (std::size_t b = a + 1; b < taken.size(); ++b) {
                    if (taken[b] || name_at(i[b].name_pos) != name) continue;
                    taken[b] = true;
                    skips_.push_back(i[b].name_pos);
                    last = b;
                }
                if (last != a) substs_.push_back({i[a].name_pos, i[last].name_pos});
            }
        }
    }

    void emit(int level) {
        skip_ws();
        const char c = src.peek();
        if (c == '"') {
            src.advance();
            out_->begin_string();
            string([&](std::string_view piece) { out_->text(piece); });
            out_->end_text();
        } else if (c == '{' || c == '[') {
            src.advance();
            emit_container(c == '{', level);
        } else {
            const std::size_t start = src.pos();
            scalar();
            bool first = true;
            src.since(start, [&](std::string_view piece) {
                first ? out_->raw(piece) : out_->more_raw(piece);
                first = false;
            });
        }
    }

    void emit_container(bool is_object, int level) {
        const bool root = is_object && level == 0;
        const char close = is_object ? '}' : ']';
        is_object ? out_->begin_object() : out_->begin_array();
        skip_ws();
        if (src.peek() != close) {
            for (;;) {
                skip_ws();
                is_object ? emit_member(root, level) : emit(level + 1);
                skip_ws();
                if (src.peek() != ',') break;
                src.advance();
            }
        }
        src.advance();  // the closing bracket, checked by the first pass
        if (root && !found_) {
            out_->key(name_);
            out_->string(value_);
        }
        is_object ? out_->end_object() : out_->end_array();
    }

    void emit_member(bool root, int level) {
        const std::size_t name_pos = src.pos();
        src.advance();
        if (std::binary_search(skips_.begin(), skips_.end(), name_pos)) {
            skip_string(*this);
            expect(':', "':' bekleniyordu");
            return skip_value(level + 1);
        }
        Matcher m{name_};
        out_->begin_key();
        string([&](std::string_view piece) {
            out_->text(piece);
            if (root) m(piece);
        });
        out_->end_text();
        expect(':', "':' bekleniyordu");
        if (root && m.matched()) {
            out_->string(value_);
            return skip_value(level + 1);
        }
        const auto sub = std::lower_bound(substs_.begin(), substs_.end(), name_pos,
                                          [](const Subst& s, std::size_t pos) { return s.name_pos < pos; });
        if (sub == substs_.end() || sub->name_pos != name_pos) return emit(level + 1);
        skip_value(level + 1);
        const std::size_t back = src.pos();
        src.seek(sub->with_name_pos + std::size_t{1});
        skip_string(*this);
        expect(':', "':' bekleniyordu");
        emit(level + 1);
        src.seek(back);
    }
};

}  // namespace

std::optional<std::string> set_string_member(std::string_view text, std::string_view name, std::string_view value) {
    json_scan::check_text(text);
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) throw JsonError("geçersiz JSON: belge çok büyük");
    Source src(text);
    Rewriter rewriter(src, name, value);
    rewriter.check();
    if (!rewriter.needed()) return std::nullopt;
    std::string out;
    JsonWriter writer(out);
    rewriter.write(writer);
    return out;
}

struct MetaMemberRewrite::State {
    platform::NativeHandle file;
    const fs::path& shown;
    platform::FileInfo checked;
    std::size_t window;
    Source src;
    Rewriter rewriter;

    State(platform::NativeHandle f, const fs::path& path, const platform::FileInfo& info, std::string_view name,
          std::string_view value, std::size_t w)
        : file(f), shown(path), checked(info), window(w), src(f, path, info.size, w), rewriter(src, name, value) {}
};

MetaMemberRewrite::MetaMemberRewrite(platform::NativeHandle file, const fs::path& shown, std::string_view name,
                                     std::string_view value, std::size_t window) {
    const platform::FileInfo info = platform::info(file, shown);
    if (info.size > std::numeric_limits<std::uint32_t>::max()) throw JsonError("geçersiz JSON: belge çok büyük");
    state_ = std::make_unique<State>(file, shown, info, name, value, window);
    Utf8Stream utf8;
    bool first = true;
    state_->src.first_read = [&](std::string_view piece) {
        if (first && piece.substr(0, 3) == "\xEF\xBB\xBF") throw JsonError("geçersiz JSON: bayt sırası işareti (BOM)");
        first = false;
        if (!utf8.feed(piece)) throw JsonError("geçersiz JSON: UTF-8 değil");
    };
    try {
        state_->rewriter.check();
    } catch (...) {
        state_->src.first_read = nullptr;
        throw;
    }
    state_->src.first_read = nullptr;
    if (!utf8.complete()) throw JsonError("geçersiz JSON: UTF-8 değil");
}

MetaMemberRewrite::~MetaMemberRewrite() = default;

bool MetaMemberRewrite::needed() const { return state_->rewriter.needed(); }

void MetaMemberRewrite::write(const std::function<void(std::string_view)>& piece) {
    JsonWriter writer(piece, state_->window);
    state_->rewriter.write(writer);
    // The second pass read the file again: what it wrote holds only if the file is still the one checked.
    const platform::FileInfo now = platform::info(state_->file, state_->shown);
    if (now.size != state_->checked.size || now.modified.seconds != state_->checked.modified.seconds ||
        now.modified.nanoseconds != state_->checked.modified.nanoseconds)
        throw JsonError("geçersiz JSON: dosya okunurken değişti");
    writer.finish();
}

}  // namespace qev_scoreboard
