#pragma once
// The grammar the JSON reader and the meta rewriter share, over the bytes of one document: a text in
// memory, or an open file read through a window of bounded size, so that a scan of a file takes memory
// that does not grow with it. For core's JSON sources only.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "qev_scoreboard/core/json_reader.hpp"
#include "qev_scoreboard/platform/native_handle.hpp"

namespace qev_scoreboard::json_scan {

namespace fs = std::filesystem;

constexpr int MAX_DEPTH = 1000;

// `text` is refused: not UTF-8, or it starts with a byte-order mark.
void check_text(std::string_view text);

[[noreturn]] void fail_at(const char* what, std::size_t pos);

// The bytes of a document, read from any position. A file is read through a window that moves as
// reading does; a file that is shorter than it was when the source was made throws JsonError.
class Source {
 public:
    explicit Source(std::string_view text);
    Source(platform::NativeHandle file, const fs::path& shown, std::uint64_t size, std::size_t window);
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    std::size_t size() const { return size_; }
    std::size_t pos() const { return pos_; }
    bool at_end() const { return pos_ >= size_; }
    // The byte at the position; '\0' at the end.
    char peek() { return pos_ - start_ < end_ - start_ ? data_[pos_ - start_] : refill_and_peek(); }
    void advance() { ++pos_; }
    void seek(std::size_t pos) { pos_ = pos; }
    // Steps past `word` (at most 16 bytes) when it stands at the position.
    bool take(std::string_view word);
    // Hands `piece` the bytes from `from` up to the position, in order.
    template <typename Piece>
    void since(std::size_t from, Piece&& piece) {
        if (from < start_ || pos_ > end_) return since_outside_window(from, piece);
        if (pos_ > from) piece(std::string_view(data_ + (from - start_), pos_ - from));
    }

    // Given every byte of the file once, in order from the start, as the window first takes it in.
    std::function<void(std::string_view)> first_read;

 private:
    char refill_and_peek();
    void since_outside_window(std::size_t from, const std::function<void(std::string_view)>& piece);
    void fill(std::size_t at);
    void load(std::size_t at);

    platform::NativeHandle file_{};
    const fs::path* shown_ = nullptr;
    std::vector<char> window_;
    const char* data_ = nullptr;
    std::size_t start_ = 0, end_ = 0, pos_ = 0, size_ = 0, seen_ = 0;
};

// The tokens of a document, checked as the reader checks them. Each function starts at the source's
// position and leaves it after what it read; failures throw JsonError naming the position.
class Scanner {
 public:
    explicit Scanner(Source& source) : src(source) {}

    [[noreturn]] void fail(const char* what) const { fail_at(what, src.pos()); }
    void skip_ws() {
        for (char c = src.peek(); c == ' ' || c == '\t' || c == '\n' || c == '\r'; c = src.peek()) src.advance();
    }
    void expect(char c, const char* what);
    void scan_number();
    // A literal or a number, skipped.
    void scalar();
    // A whole value, checked and skipped.
    void skip_value(int depth);
    // Where a value `depth` deep must begin: its first character, not yet read.
    char value_start(int depth);

    // The text of a string whose opening quote was just read, decoded, in pieces of at most a few
    // hundred bytes (a piece may end inside a UTF-8 sequence, the next one goes on with it).
    template <typename Piece>
    void string(Piece&& piece) {
        char buf[512];
        std::size_t n = 0;
        for (;;) {
            if (src.at_end()) fail("kapanmamış metin");
            const char c = src.peek();
            src.advance();
            if (c == '"') break;
            if (static_cast<unsigned char>(c) < 0x20) fail("metin içinde kontrol karakteri");
            if (n > sizeof buf - 4) {
                piece(std::string_view(buf, n));
                n = 0;
            }
            if (c != '\\') {
                buf[n++] = c;
                continue;
            }
            n += escape(buf + n);
        }
        if (n != 0) piece(std::string_view(buf, n));
    }

    Source& src;

 private:
    std::size_t digits();
    unsigned hex4();
    // The escape after a backslash, decoded into `out` (room for 4 bytes); returns its length.
    std::size_t escape(char* out);
};

// Skips the text of a string whose opening quote was just read.
inline void skip_string(Scanner& scan) {
    scan.string([](std::string_view) {});
}

}  // namespace qev_scoreboard::json_scan
