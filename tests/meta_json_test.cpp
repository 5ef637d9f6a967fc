// The meta file reader and writer: exact layout, numbers and order kept, malformed files refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <optional>

#include "qev_scoreboard/core/fd.hpp"
#include "qev_scoreboard/core/json.hpp"
#include "qev_scoreboard/core/utf8.hpp"
#include "support.hpp"

using qev_scoreboard::dump_json;
using qev_scoreboard::json_string;
using qev_scoreboard::JsonValue;
using qev_scoreboard::parse_json;
using qev_scoreboard::parse_meta_json;
using qev_scoreboard::set_member;
using qev_test::spit;
using qev_test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string reformat(std::string_view text) { return dump_json(parse_json(text)); }

TEST(MetaJson, LayoutOfNestedDocument) {
    const std::string compact =
        R"({"kod":3,"durum":"ok","ciktilar":["a.parquet",{"satir":12,"bos":{},"liste":[]},[1,[2]]],)"
        R"("sure":1.5e-3,"ic":{"x":null,"y":true,"z":false}})";
    EXPECT_EQ(reformat(compact),
              "{\n"
              "  \"kod\": 3,\n"
              "  \"durum\": \"ok\",\n"
              "  \"ciktilar\": [\n"
              "    \"a.parquet\",\n"
              "    {\n"
              "      \"satir\": 12,\n"
              "      \"bos\": {},\n"
              "      \"liste\": []\n"
              "    },\n"
              "    [\n"
              "      1,\n"
              "      [\n"
              "        2\n"
              "      ]\n"
              "    ]\n"
              "  ],\n"
              "  \"sure\": 1.5e-3,\n"
              "  \"ic\": {\n"
              "    \"x\": null,\n"
              "    \"y\": true,\n"
              "    \"z\": false\n"
              "  }\n"
              "}");
}

TEST(MetaJson, EmptyContainersAndTopLevelScalarsRoundTrip) {
    for (std::string_view doc : {"{}", "[]", "true", "false", "null", "0", "\"x\"", "[\n  {},\n  []\n]"})
        EXPECT_EQ(reformat(doc), doc);
    EXPECT_EQ(reformat(" \t\r\n{ } \n"), "{}");
}

TEST(MetaJson, NumbersKeepTheirExactText) {
    for (std::string_view n :
         {"0", "-0", "1.0", "-0.0", "1e400", "-1e400", "1E+2", "2.50e-07", "5e-324", "123456789012345678901234567890",
          "-18446744073709551617", "NaN", "Infinity", "-Infinity"}) {
        const std::string doc = "{\n  \"v\": " + std::string(n) + ",\n  \"a\": [\n    " + std::string(n) + "\n  ]\n}";
        EXPECT_EQ(reformat(doc), doc) << n;
    }
}

TEST(MetaJson, NonAsciiIsWrittenRawAndSurrogatePairsJoin) {
    EXPECT_EQ(reformat(R"(["\u00e7al\u0131\u015fma", "ğüş — ├──", "\ud83d\ude00", "\uD834\uDD1E", "\u20ac"])"),
              "[\n  \"çalışma\",\n  \"ğüş — ├──\",\n  \"\xF0\x9F\x98\x80\",\n  \"\xF0\x9D\x84\x9E\",\n  \"€\"\n]");
    EXPECT_EQ(reformat("{\"ad\\u0131\": \"\xF0\x9F\x98\x80\"}"), "{\n  \"adı\": \"\xF0\x9F\x98\x80\"\n}");
}

TEST(MetaJson, OnlyQuotesBackslashesAndControlCharactersAreEscaped) {
    EXPECT_EQ(reformat(R"(["q\"b\\s\/l", "\n\r\t\b\f", "\u0000\u0001\u001f\u001F", "\u007f~<>&'"])"),
              "[\n  \"q\\\"b\\\\s/l\",\n  \"\\n\\r\\t\\b\\f\",\n  \"\\u0000\\u0001\\u001f\\u001f\",\n"
              "  \"\x7f~<>&'\"\n]");
    EXPECT_EQ(reformat(R"({"a\nb": 1})"), "{\n  \"a\\nb\": 1\n}");
}

TEST(MetaJson, RepeatedNameKeepsFirstPlaceAndLastValue) {
    EXPECT_EQ(reformat(R"({"a": 1, "b": 2, "a": 3})"), "{\n  \"a\": 3,\n  \"b\": 2\n}");
}

TEST(MetaJson, SetMemberReplacesInPlaceOrAppendsLast) {
    JsonValue doc = parse_meta_json(R"({"nb_hash": null, "z": 1})");
    set_member(doc, "nb_hash", json_string("0123456789abcdef"));
    EXPECT_EQ(dump_json(doc), "{\n  \"nb_hash\": \"0123456789abcdef\",\n  \"z\": 1\n}");
    doc = parse_meta_json(R"({"z": 1, "a": {}})");
    set_member(doc, "nb_hash", json_string("0123456789abcdef"));
    EXPECT_EQ(dump_json(doc), "{\n  \"z\": 1,\n  \"a\": {},\n  \"nb_hash\": \"0123456789abcdef\"\n}");
}

TEST(MetaJson, MalformedDocumentsAreRefused) {
    const std::vector<std::string> bad = {
        "",
        "   ",
        "\xEF\xBB\xBF{}",             // byte-order mark
        "{\"a\": \"\xff\"}",          // invalid UTF-8
        "{\"a\": \"\xed\xa0\x80\"}",  // UTF-8-encoded surrogate
        "{} x",                       // trailing garbage
        "{}{}",
        "{\"a\": \"x\ty\"}",  // raw control character in a string
        "{\"a\": \"x\ny\"}",
        R"({"a": "\x"})",  // bad escape
        R"({"a": "\u12"})",
        R"({"a": "\ud800"})",  // lone high surrogate
        R"({"a": "\ud800\u0041"})",
        R"({"a": "\udc00"})",  // lone low surrogate
        R"({"a": 01})",
        R"({"a": 1.})",
        R"({"a": .5})",
        R"({"a": +1})",
        R"({"a": 1e})",
        R"({"a": -})",
        R"({"a": -NaN})",
        R"({"a": nan})",
        R"({"a": infinity})",
        R"({"a": 1,})",
        R"([1,])",
        R"({a: 1})",
        R"({'a': 1})",
        R"({"a" 1})",
        R"({"a": tru})",
        R"({"a": [1 2]})",
        "{\"a\": 1",
        "{\"a\": \"x",
        "\"x\\",
        std::string(1001, '[') + std::string(1001, ']'),
    };
    for (const auto& doc : bad) EXPECT_THROW(parse_json(doc), std::runtime_error) << doc;
    EXPECT_NO_THROW(parse_json(std::string(1000, '[') + std::string(1000, ']')));
}

TEST(MetaJson, MetaFileTopLevelMustBeAnObject) {
    for (std::string_view doc : {"[]", "null", "1", "\"x\"", "true"})
        EXPECT_THROW(parse_meta_json(doc), std::runtime_error) << doc;
    EXPECT_NO_THROW(parse_meta_json("{}"));
}

}  // namespace

namespace {

// What the tree gives for the same change: the reference the rewrite on the text must match byte for byte.
std::string via_tree(const std::string& text, const std::string& hash) {
    JsonValue doc = parse_meta_json(text);
    set_member(doc, "nb_hash", json_string(hash));
    return dump_json(doc);
}

// Documents whose rewrite must match the tree byte for byte, read whole or through any window.
const std::vector<std::string>& lossless_cases() {
    static const std::vector<std::string> cases = {
        R"({})",
        R"({"nb_hash": "0000000000000000", "x": [1, 2.50, -0, 1e400, NaN, -Infinity]})",
        R"( {"a": {"b": [], "c": {}}, "s": "\u00e7\n\/\"", "t": true, "n": null} )",
        // Repeated names at every level: first place, last value, later places dropped.
        R"({"a": 1, "nb_hash": "x", "a": {"b": 1, "b": [2, {"c": 3, "c": 4}]}, "nb_hash": 7})",
        R"({"\u0061": 1, "a": 2, "z": [{"q": 1}, {"q": 2, "q": 3}]})",
        // Raw UTF-8 of every length, and escapes, where a window may cut them.
        "{\"ad\u0131\": \"çğü€😀\", \"😀😀\": [\"\\ud83d\\ude00\", \"\\t\\u001f\"], \"nb_hash\": null}",
    };
    return cases;
}

}  // namespace

TEST(MetaJson, SettingAMemberOnTheTextMatchesTheTree) {
    using qev_scoreboard::set_string_member;
    const std::string h = "0123456789abcdef";
    for (const std::string& text : lossless_cases()) {
        const auto rewritten = set_string_member(text, "nb_hash", h);
        ASSERT_TRUE(rewritten.has_value()) << text;
        EXPECT_EQ(*rewritten, via_tree(text, h)) << text;
        EXPECT_FALSE(set_string_member(*rewritten, "nb_hash", h).has_value());
    }
    // Already set: nothing to write, even where an earlier place of the name held another value.
    EXPECT_FALSE(set_string_member(R"({"nb_hash": 1, "nb_hash": "0123456789abcdef"})", "nb_hash", h).has_value());
    EXPECT_TRUE(set_string_member(R"({"nb_hash": "0123456789abcdef", "nb_hash": 1})", "nb_hash", h).has_value());
    for (const char* bad : {"[]", "\"s\"", "{\"a\": 1,}", "{\"a\" 1}", "\xEF\xBB\xBF{}", "{} x", "{\"a\": [1 2]}"})
        EXPECT_THROW(set_string_member(bad, "nb_hash", h), std::runtime_error) << bad;
}

namespace {

namespace qs = qev_scoreboard;

struct Rewritten {
    std::optional<std::string> text;  // nullopt: nothing to write
    size_t largest_piece = 0;
};

// The rewrite of the file at `path` through a window of `window` bytes, written twice over to show that it
// can start over.
Rewritten rewrite_file(const fs::path& path, const std::string& hash, size_t window) {
    const qs::Fd file = qs::open_regular_for_reading(path);
    qs::MetaMemberRewrite rewrite(file.get(), path, "nb_hash", hash, window);
    Rewritten r;
    if (!rewrite.needed()) return r;
    for (int pass = 0; pass < 2; ++pass) {
        std::string out;
        rewrite.write([&](std::string_view piece) {
            out += piece;
            r.largest_piece = std::max(r.largest_piece, piece.size());
        });
        if (r.text && *r.text != out) ADD_FAILURE() << "a second write differs:\n" << *r.text << "\n" << out;
        r.text = out;
    }
    return r;
}

}  // namespace

TEST(MetaJson, TheStreamedRewriteOfAFileMatchesTheTreeThroughAnyWindow) {
    TempDir d;
    const std::string h = "0123456789abcdef";
    for (const std::string& text : lossless_cases()) {
        spit(d / "adim.json", text);
        const std::string expected = via_tree(text, h);
        // Every small window puts its edges at other places of the document; the usual one holds it whole.
        for (size_t window : {16, 17, 18, 19, 20, 21, 22, 23, 29, 64, 1 << 16}) {
            const Rewritten r = rewrite_file(d / "adim.json", h, window);
            ASSERT_TRUE(r.text) << text;
            EXPECT_EQ(*r.text, expected) << text << " through " << window;
        }
        spit(d / "adim.json", expected);
        for (size_t window : {16, 19, 1 << 16}) EXPECT_FALSE(rewrite_file(d / "adim.json", h, window).text) << text;
    }
    spit(d / "adim.json", R"({"nb_hash": 1, "nb_hash": "0123456789abcdef"})");
    EXPECT_FALSE(rewrite_file(d / "adim.json", h, 16).text);
}

TEST(MetaJson, AFileLargerThanTheWindowIsRewrittenInBoundedPieces) {
    // Far apart, beyond any window: the places of repeated names (one of them nb_hash, one nested in the
    // value that replaces another), a string and a number each longer than the window, escapes and
    // non-ASCII text throughout.
    std::string filler = "[";
    for (int i = 0; i < 20000; ++i) {
        if (i != 0) filler += ',';
        filler += std::to_string(i);
        filler += ".5e-3";
    }
    filler += "]";
    std::string long_text;
    for (int i = 0; i < 3000; ++i) long_text += "satır \\\"ç\\\" \\u0131\\n\\t😀 ";
    const std::string text = "{\"nb_hash\": \"eski\", \"a\": 1, \"liste\": " + filler + ", \"uzun\": \"" + long_text +
                             "\", \"sayi\": " + std::string(30000, '7') + ", \"a\": {\"b\": 1, \"x\": " + filler +
                             ", \"b\": [2, {\"c\": 3, \"c\": \"" + long_text +
                             "\"}]}, \"nb_hash\": 7, \"son\": " + filler + "}";
    ASSERT_GT(text.size(), 500000u);
    TempDir d;
    spit(d / "adim.json", text);
    const Rewritten r = rewrite_file(d / "adim.json", "0123456789abcdef", 8192);
    ASSERT_TRUE(r.text);
    EXPECT_EQ(*r.text, via_tree(text, "0123456789abcdef"));
    EXPECT_LE(r.largest_piece, 2 * 8192u);
}

TEST(MetaJson, TheStreamedRewriteRefusesWhatTheReaderRefusesAndAFileThatChanged) {
    TempDir d;
    const std::string padding(100, ' ');
    auto refused = [&](const std::string& text) {
        spit(d / "adim.json", text);
        const qs::Fd file = qs::open_regular_for_reading(d / "adim.json");
        EXPECT_THROW(qs::MetaMemberRewrite(file.get(), d / "adim.json", "nb_hash", "h", 16), qs::JsonError) << text;
    };
    for (const char* bad : {"[]", "\"s\"", "{\"a\": 1,}", "{\"a\" 1}", "{} x", "{\"a\": [1 2]}", "", "   "})
        refused(bad + padding);
    refused("\xEF\xBB\xBF{}" + padding);
    // Bytes that are not UTF-8 far beyond the first window, inside a string and at the very end.
    refused("{\"a\": \"" + padding + "\xC3\x28\"}");
    refused("{\"a\": \"" + padding + "\xED\xA0\x80\"}");
    refused("{}" + padding + "\xE2\x82");

    // Changed between the check and the write: the write refuses rather than mix two files.
    const std::string text = "{\"a\": \"" + std::string(200, 'x') + "\"}";
    spit(d / "adim.json", text);
    const qs::Fd file = qs::open_regular_for_reading(d / "adim.json");
    qs::MetaMemberRewrite rewrite(file.get(), d / "adim.json", "nb_hash", "h", 16);
    ASSERT_TRUE(rewrite.needed());
    {
        std::ofstream grown(d / "adim.json", std::ios::app);
        grown << " ";
    }
    EXPECT_THROW(rewrite.write([](std::string_view) {}), qs::JsonError);
    fs::resize_file(d / "adim.json", 50);
    EXPECT_THROW(rewrite.write([](std::string_view) {}), qs::JsonError);
}

TEST(MetaJson, TextCheckedInPiecesAsItIsCheckedWhole) {
    for (const std::string& text :
         {std::string("çğü€😀 plain"), std::string("a\xC3"), std::string("\xC3\x28"), std::string("\xE2\x82\xAC\xF0"),
          std::string("\xF0\x9F\x98\x80\xF0\x9F\x98"), std::string("\xED\xA0\x80"), std::string("\xC0\x80"),
          std::string("\xF4\x90\x80\x80"), std::string("\x80"), std::string("\xF8\x88\x80\x80\x80"), std::string()}) {
        const bool whole = qs::is_valid_utf8(text);
        for (size_t a = 0; a <= text.size(); ++a) {
            for (size_t b = a; b <= text.size(); ++b) {
                qs::Utf8Stream stream;
                const bool fed = stream.feed(std::string_view(text).substr(0, a)) &&
                                 stream.feed(std::string_view(text).substr(a, b - a)) &&
                                 stream.feed(std::string_view(text).substr(b));
                EXPECT_EQ(fed && stream.complete(), whole) << text << " cut at " << a << " and " << b;
            }
        }
    }
}

TEST(JsonWriter, LayoutsMixAndAPieceByPieceDocumentIsTheSame) {
    using Layout = qs::JsonWriter::Layout;
    auto write = [](qs::JsonWriter& w) {
        w.begin_object();
        w.key("a");
        w.begin_array(Layout::Inline);
        w.number(std::int64_t{-1});
        w.number(std::uint64_t{18446744073709551615u});
        w.begin_object(Layout::Inline);
        w.end_object();
        w.end_array();
        w.key("b");
        w.begin_object(Layout::Inline);
        w.key("c");
        w.begin_array();
        w.null();
        w.boolean(false);
        w.end_array();
        w.key("d");
        w.begin_array();
        w.end_array();
        w.end_object();
        w.begin_key();
        w.text("uzun ");
        w.text("ad\n\xC3");  // the piece ends inside a character
        w.text("\xA7");
        w.end_text();
        w.begin_string();
        w.text("x\"y");
        w.end_text();
        w.key("e");
        w.raw("1.");
        w.more_raw("50");
        w.key("f\xff");
        w.string("g\xff\x01");
        w.end_object();
    };
    std::string whole;
    qs::JsonWriter to_string(whole);
    write(to_string);
    EXPECT_EQ(whole,
              "{\n"
              "  \"a\": [-1, 18446744073709551615, {}],\n"
              "  \"b\": {\"c\": [\n"
              "    null,\n"
              "    false\n"
              "  ], \"d\": []},\n"
              "  \"uzun ad\\nç\": \"x\\\"y\",\n"
              "  \"e\": 1.50,\n"
              "  \"f\\udcff\": \"g\\udcff\\u0001\"\n"
              "}");

    std::vector<std::string> pieces;
    qs::JsonWriter to_sink([&](std::string_view piece) { pieces.emplace_back(piece); }, 8);
    write(to_sink);
    to_sink.finish();
    std::string joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i + 1 < pieces.size()) {
            EXPECT_GE(pieces[i].size(), 8u) << i;
        }
        joined += pieces[i];
    }
    EXPECT_GT(pieces.size(), 5u);
    EXPECT_EQ(joined, whole);
}
