#include "qev_scoreboard/core/utf8.hpp"

#include <algorithm>
#include <cstdio>

namespace qev_scoreboard {

namespace {

bool is_space_code_point(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace

bool is_valid_utf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (end - p < len) return false;
        for (int i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        p += len;
    }
    return true;
}

namespace {

// How many bytes the sequence led by `lead` takes, a stray or invalid byte counted as one or as its
// pattern says: is_valid_utf8 then refuses it whole.
size_t sequence_length(unsigned char lead) { return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1; }

}  // namespace

bool Utf8Stream::feed(std::string_view piece) {
    if (pending_size_ != 0) {
        const size_t need = sequence_length(static_cast<unsigned char>(pending_[0]));
        const size_t take = std::min(need - pending_size_, piece.size());
        piece.copy(pending_ + pending_size_, take);
        pending_size_ += take;
        piece.remove_prefix(take);
        if (pending_size_ < need) return true;
        if (!is_valid_utf8(std::string_view(pending_, need))) return false;
        pending_size_ = 0;
    }
    // A sequence the piece ends inside waits for the rest.
    size_t cut = piece.size();
    for (size_t k = 1; k <= 3 && k <= piece.size(); ++k) {
        const auto byte = static_cast<unsigned char>(piece[piece.size() - k]);
        if (byte < 0x80) break;
        if (byte >= 0xC0) {
            if (sequence_length(byte) > k) cut = piece.size() - k;
            break;
        }
    }
    if (!is_valid_utf8(piece.substr(0, cut))) return false;
    pending_size_ = piece.copy(pending_, piece.size() - cut, cut);
    return true;
}

size_t decode_utf8_at(std::string_view s, size_t i, char32_t& cp) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    cp = len == 1 ? c : c & (0xFF >> (len + 1));
    for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return len;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string trim_unicode_space(std::string_view s) {
    size_t begin = 0, end = 0;
    bool seen = false;
    for (size_t i = 0; i < s.size();) {
        char32_t cp;
        const size_t len = decode_utf8_at(s, i, cp);
        if (!is_space_code_point(cp)) {
            if (!seen) begin = i;
            seen = true;
            end = i + len;
        }
        i += len;
    }
    return seen ? std::string(s.substr(begin, end - begin)) : std::string();
}

namespace {

// Length of the well-formed UTF-8 sequence at `s[i]` and its code point, or 0 when the bytes there are
// not one (stray continuation, overlong form, surrogate, beyond U+10FFFF, cut short).
size_t utf8_sequence(std::string_view s, size_t i, char32_t& cp) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    const size_t len = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (len == 1 || i + len > s.size() || !is_valid_utf8(s.substr(i, len))) return 0;
    return decode_utf8_at(s, i, cp);
}

std::string escape(std::string_view text, bool double_backslash) {
    std::string out;
    out.reserve(text.size());
    char buf[8];
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '\n') {
                out += "\\n";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c == '\t') {
                out += "\\t";
            } else if (c == '\\' && double_backslash) {
                out += "\\\\";
            } else if (c < 0x20 || c == 0x7F) {
                std::snprintf(buf, sizeof buf, "\\x%02x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        char32_t cp = 0;
        const size_t len = utf8_sequence(text, i, cp);
        if (len == 0) {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
            ++i;
        } else if (cp <= 0x9F) {  // C1 controls, such as the 8-bit escape introducer U+009B
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
            out += buf;
            i += len;
        } else {
            out.append(text.substr(i, len));
            i += len;
        }
    }
    return out;
}

// What wcwidth() says of the scripts a table name or a path is likely to hold, without depending on the
// C library's locale tables (which a Windows console does not share).
size_t code_point_columns(char32_t cp) {
    struct Range {
        char32_t first, last;
    };
    static constexpr Range ZERO[] = {{0x0300, 0x036F}, {0x0483, 0x0489},  {0x0591, 0x05BD}, {0x0610, 0x061A},
                                     {0x064B, 0x065F}, {0x1AB0, 0x1AFF},  {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
                                     {0x2060, 0x2064}, {0x20D0, 0x20FF},  {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
                                     {0xFEFF, 0xFEFF}, {0xE0100, 0xE01EF}};
    static constexpr Range WIDE[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},   {0x3041, 0x33FF},  {0x3400, 0x4DBF},
                                     {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xAC00, 0xD7A3},  {0xF900, 0xFAFF},
                                     {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},  {0x1F300, 0x1F64F},
                                     {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
    for (const Range& r : ZERO)
        if (cp >= r.first && cp <= r.last) return 0;
    for (const Range& r : WIDE)
        if (cp >= r.first && cp <= r.last) return 2;
    return 1;
}

// The columns and the length in bytes of what starts at text[i].
size_t next_columns(std::string_view text, size_t i, size_t& columns) {
    char32_t cp = 0;
    const size_t len = static_cast<unsigned char>(text[i]) < 0x80 ? 1 : utf8_sequence(text, i, cp);
    columns = len <= 1 ? 1 : code_point_columns(cp);
    return len == 0 ? 1 : len;
}

}  // namespace

size_t display_columns(std::string_view text) {
    size_t total = 0;
    for (size_t i = 0, columns = 0; i < text.size(); total += columns) i += next_columns(text, i, columns);
    return total;
}

std::string cut_to_columns(std::string_view text, size_t columns) {
    if (display_columns(text) <= columns) return std::string(text);
    if (columns == 0) return std::string();
    std::string out;
    size_t used = 0;
    for (size_t i = 0; i < text.size();) {
        size_t width = 0;
        const size_t len = next_columns(text, i, width);
        if (used + width > columns - 1) break;  // one column is the ellipsis's
        out.append(text.substr(i, len));
        used += width;
        i += len;
    }
    return out + "…";
}

std::string printable(std::string_view text) { return escape(text, false); }

std::string printable_name(std::string_view name) { return escape(name, true); }

}  // namespace qev_scoreboard
