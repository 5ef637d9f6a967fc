// The meta file reader and writer: exact layout, numbers and order kept, malformed files refused.
#include <gtest/gtest.h>

#include "qev_scoreboard/core/json.hpp"

using qev_scoreboard::dump_json;
using qev_scoreboard::json_string;
using qev_scoreboard::JsonValue;
using qev_scoreboard::parse_json;
using qev_scoreboard::parse_meta_json;
using qev_scoreboard::set_member;

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

}  // namespace

TEST(MetaJson, SettingAMemberOnTheTextMatchesTheTree) {
    using qev_scoreboard::set_string_member;
    const std::string h = "0123456789abcdef";
    for (const std::string& text : {
             std::string(R"({})"),
             std::string(R"({"nb_hash": "0000000000000000", "x": [1, 2.50, -0, 1e400, NaN, -Infinity]})"),
             std::string(R"( {"a": {"b": [], "c": {}}, "s": "\u00e7\n\/\"", "t": true, "n": null} )"),
             // Repeated names at every level: first place, last value, later places dropped.
             std::string(R"({"a": 1, "nb_hash": "x", "a": {"b": 1, "b": [2, {"c": 3, "c": 4}]}, "nb_hash": 7})"),
             std::string(R"({"\u0061": 1, "a": 2, "z": [{"q": 1}, {"q": 2, "q": 3}]})"),
         }) {
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
