#include "qev_scoreboard/core/json_scanner.hpp"

#include <algorithm>
#include <cstring>

#include "qev_scoreboard/core/utf8.hpp"
#include "qev_scoreboard/platform/files.hpp"

namespace qev_scoreboard::json_scan {

namespace {

// The longest word take() is asked for ("Infinity", "\u" escapes), with room to spare.
constexpr std::size_t MIN_WINDOW = 16;

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

[[noreturn]] void changed_meanwhile() { throw JsonError("geçersiz JSON: dosya okunurken değişti"); }

}  // namespace

void check_text(std::string_view text) {
    if (!is_valid_utf8(text)) throw JsonError("geçersiz JSON: UTF-8 değil");
    if (text.substr(0, 3) == "\xEF\xBB\xBF") throw JsonError("geçersiz JSON: bayt sırası işareti (BOM)");
}

void fail_at(const char* what, std::size_t pos) {
    throw JsonError("geçersiz JSON: " + std::string(what) + " (konum " + std::to_string(pos) + ")");
}

Source::Source(std::string_view text) : data_(text.data()), end_(text.size()), size_(text.size()), seen_(text.size()) {}

Source::Source(platform::NativeHandle file, const fs::path& shown, std::uint64_t size, std::size_t window)
    : file_(file),
      shown_(&shown),
      window_(std::max(window, MIN_WINDOW)),
      data_(window_.data()),
      size_(static_cast<std::size_t>(size)) {}

char Source::refill_and_peek() {
    if (pos_ >= size_) return '\0';
    fill(pos_);
    return data_[pos_ - start_];
}

bool Source::take(std::string_view word) {
    if (size_ - std::min(pos_, size_) < word.size()) return false;
    if (pos_ < start_ || pos_ + word.size() > end_) fill(pos_);
    if (std::memcmp(data_ + (pos_ - start_), word.data(), word.size()) != 0) return false;
    pos_ += word.size();
    return true;
}

void Source::since_outside_window(std::size_t from, const std::function<void(std::string_view)>& piece) {
    // Read apart from the window, which stays where the scan needs it.
    char buf[4096];
    for (std::size_t at = from; at < pos_;) {
        const std::size_t n = platform::read_at(file_, at, buf, std::min(sizeof buf, pos_ - at), *shown_);
        if (n == 0) changed_meanwhile();
        piece(std::string_view(buf, n));
        at += n;
    }
}

void Source::fill(std::size_t at) {
    // Bytes are first handed over in order: a jump ahead reads what it passes over.
    if (first_read)
        while (seen_ < at) load(seen_);
    load(at);
}

void Source::load(std::size_t at) {
    const std::size_t want = std::min(window_.size(), size_ - at);
    std::size_t got = 0;
    while (got < want) {
        const std::size_t n = platform::read_at(file_, at + got, window_.data() + got, want - got, *shown_);
        if (n == 0) changed_meanwhile();
        got += n;
    }
    start_ = at;
    end_ = at + got;
    if (end_ > seen_) {
        const std::size_t from = std::max(seen_, start_);
        if (first_read) first_read(std::string_view(data_ + (from - start_), end_ - from));
        seen_ = end_;
    }
}

void Scanner::expect(char c, const char* what) {
    skip_ws();
    if (src.peek() != c) fail(what);
    src.advance();
}

std::size_t Scanner::digits() {
    std::size_t n = 0;
    for (char c = src.peek(); c >= '0' && c <= '9'; c = src.peek(), ++n) src.advance();
    return n;
}

void Scanner::scan_number() {
    if (src.peek() == '-') src.advance();
    if (src.peek() == 'I' && src.take("Infinity")) return;
    if (src.peek() == '0') {
        src.advance();
    } else if (digits() == 0) {
        fail("sayı bekleniyordu");
    }
    if (src.peek() == '.') {
        src.advance();
        if (digits() == 0) fail("ondalık basamak bekleniyordu");
    }
    if (src.peek() == 'e' || src.peek() == 'E') {
        src.advance();
        if (src.peek() == '+' || src.peek() == '-') src.advance();
        if (digits() == 0) fail("üs basamağı bekleniyordu");
    }
}

void Scanner::scalar() {
    const char c = src.peek();
    if (c == '-' || c == 'I' || (c >= '0' && c <= '9')) return scan_number();
    // A number is what a meta file holds most: the words are only tried where one may stand.
    if ((c == 't' && src.take("true")) || (c == 'f' && src.take("false")) || (c == 'n' && src.take("null")) ||
        (c == 'N' && src.take("NaN")))
        return;
    fail("beklenmeyen karakter");
}

char Scanner::value_start(int depth) {
    if (depth >= MAX_DEPTH) fail("iç içe geçme çok derin");
    skip_ws();
    if (src.at_end()) fail("değer bekleniyordu");
    return src.peek();
}

void Scanner::skip_value(int depth) {
    const char c = value_start(depth);
    if (c == '"') {
        src.advance();
        return skip_string(*this);
    }
    if (c != '{' && c != '[') return scalar();
    src.advance();
    const char close = c == '{' ? '}' : ']';
    skip_ws();
    if (src.peek() == close) return src.advance();
    for (;;) {
        if (c == '{') {
            expect('"', "üye adı bekleniyordu");
            skip_string(*this);
            expect(':', "':' bekleniyordu");
        }
        skip_value(depth + 1);
        skip_ws();
        if (src.peek() != ',') break;
        src.advance();
    }
    expect(close, c == '{' ? "',' ya da '}' bekleniyordu" : "',' ya da ']' bekleniyordu");
}

unsigned Scanner::hex4() {
    if (src.size() - src.pos() < 4) fail("kısa \\u kaçışı");
    unsigned v = 0;
    for (int i = 0; i < 4; ++i) {
        const int digit = hex_value(src.peek());
        src.advance();
        if (digit < 0) fail("geçersiz \\u kaçışı");
        v = (v << 4) | static_cast<unsigned>(digit);
    }
    return v;
}

std::size_t Scanner::escape(char* out) {
    if (src.at_end()) fail("kapanmamış metin");
    const char c = src.peek();
    src.advance();
    switch (c) {
        case '"':
        case '\\':
        case '/':
            *out = c;
            return 1;
        case 'b':
            *out = '\b';
            return 1;
        case 'f':
            *out = '\f';
            return 1;
        case 'n':
            *out = '\n';
            return 1;
        case 'r':
            *out = '\r';
            return 1;
        case 't':
            *out = '\t';
            return 1;
        case 'u':
            break;
        default:
            fail("geçersiz kaçış");
    }
    unsigned cp = hex4();
    if (cp >= 0xDC00 && cp <= 0xDFFF) fail("eşsiz vekil karakter");
    if (cp >= 0xD800 && cp <= 0xDBFF) {
        if (!src.take("\\u")) fail("eşsiz vekil karakter");
        const unsigned low = hex4();
        if (low < 0xDC00 || low > 0xDFFF) fail("eşsiz vekil karakter");
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }
    std::string bytes;
    append_utf8(bytes, cp);
    std::memcpy(out, bytes.data(), bytes.size());
    return bytes.size();
}

}  // namespace qev_scoreboard::json_scan
