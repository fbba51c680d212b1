// The record model and the text helpers, one table of cases per behaviour.
// Texts in the tables are UTF-8.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "common/text.hpp"
#include "common/value.hpp"

namespace {

using qv::from_utf8;
using qv::Text;
using qv::TextView;
using qv::to_utf8;
using qv::Value;

std::vector<std::string> utf8_all(const std::vector<TextView>& v) {
  std::vector<std::string> out;
  for (TextView t : v) out.push_back(to_utf8(t));
  return out;
}

// ---- text helpers ------------------------------------------------------------

TEST(Text, CharacterClasses) {
  struct Case {
    char32_t c;
    bool space, digit, printable;
    char32_t lower;
  } cases[] = {
      {U' ', true, false, true, U' '},
      {U'\t', true, false, false, U'\t'},
      {0x0B, true, false, false, 0x0B},
      {0x1C, true, false, false, 0x1C},  // file separator counts as white space
      {0x1F, true, false, false, 0x1F},
      {0x85, true, false, false, 0x85},
      {0xA0, true, false, false, 0xA0},  // no-break space: space, not printable
      {0x200B, false, false, false, 0x200B},
      {0x2028, true, false, false, 0x2028},
      {0x3000, true, false, false, 0x3000},
      {U'7', false, true, true, U'7'},
      {0xB2, false, true, true, 0xB2},    // superscript two
      {0x0665, false, true, true, 0x0665},  // Arabic-Indic five
      {0x2460, false, true, true, 0x2460},  // circled one
      {0x2469, false, false, true, 0x2469},  // circled ten: numeric, no digit
      {0x00BD, false, false, true, 0x00BD},  // one half
      {U'A', false, false, true, U'a'},
      {0xC9, false, false, true, 0xE9},
      {0x130, false, false, true, U'i'},  // simple mapping: one character
      {0x3A3, false, false, true, 0x3C3},
      {0x212A, false, false, true, U'k'},  // Kelvin sign
      {0x10400, false, false, true, 0x10428},
      {0x7F, false, false, false, 0x7F},
      {0xAD, false, false, false, 0xAD},  // soft hyphen (Cf)
      {0xD800, false, false, false, 0xD800},
      {0xE000, false, false, false, 0xE000},
      {0x10FFFF, false, false, false, 0x10FFFF},
      {0x110000, false, false, false, 0x110000},  // beyond Unicode: no class, unchanged
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<std::uint32_t>(c.c));
    EXPECT_EQ(qv::text::is_space(c.c), c.space);
    EXPECT_EQ(qv::text::is_digit(c.c), c.digit);
    EXPECT_EQ(qv::text::is_printable(c.c), c.printable);
    EXPECT_EQ(qv::text::lower(c.c), c.lower);
  }
}

TEST(Text, LowerKeepsLength) {
  Text s = U"\u0130STANBUL \u0391\u03a3 \U00010400";
  Text l = qv::text::lower(s);
  EXPECT_EQ(l.size(), s.size());
  EXPECT_EQ(to_utf8(l), "istanbul \u03b1\u03c3 \U00010428");
}

TEST(Text, StripAndSplit) {
  struct Case {
    const char* s;
    const char* strip;
    const char* lstrip;
    const char* rstrip;
    std::vector<std::string> split;
    const char* first;
    const char* rest;
  } cases[] = {
      {"", "", "", "", {}, "", ""},
      {" \t\n ", "", "", "", {}, "", ""},
      {"a", "a", "a", "a", {"a"}, "a", ""},
      {"  a  b  ", "a  b", "a  b  ", "  a  b", {"a", "b"}, "a", "b  "},
      {"\u3000x\u00a0y\u2028", "x\u00a0y", "x\u00a0y\u2028", "\u3000x\u00a0y", {"x", "y"}, "x", "y\u2028"},
      {"one\x1ctwo", "one\x1ctwo", "one\x1ctwo", "one\x1ctwo", {"one", "two"}, "one", "two"},
      {"a\u200bb", "a\u200bb", "a\u200bb", "a\u200bb", {"a\u200bb"}, "a\u200bb", ""},  // ZWSP is no space
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s);
    Text s = from_utf8(c.s);
    EXPECT_EQ(to_utf8(qv::text::strip(s)), c.strip);
    EXPECT_EQ(to_utf8(qv::text::lstrip(s)), c.lstrip);
    EXPECT_EQ(to_utf8(qv::text::rstrip(s)), c.rstrip);
    EXPECT_EQ(utf8_all(qv::text::split(s)), c.split);
    auto [first, rest] = qv::text::split_first(s);
    EXPECT_EQ(to_utf8(first), c.first);
    EXPECT_EQ(to_utf8(rest), c.rest);
  }
}

TEST(Text, SearchJoinAndReplace) {
  using namespace qv::text;
  EXPECT_TRUE(starts_with(U"abc", U""));
  EXPECT_TRUE(starts_with(U"abc", U"ab"));
  EXPECT_FALSE(starts_with(U"ab", U"abc"));
  EXPECT_TRUE(ends_with(U"abc", U"bc"));
  EXPECT_FALSE(ends_with(U"c", U"bc"));
  EXPECT_TRUE(ends_with(U"", U""));
  EXPECT_TRUE(contains(U"a into b", U" into "));
  EXPECT_FALSE(contains(U"into", U" into "));
  EXPECT_EQ(join(std::vector<TextView>{}, U", "), U"");
  EXPECT_EQ(join(std::vector<TextView>{U"a"}, U", "), U"a");
  EXPECT_EQ(join(std::vector<Text>{U"a", U"", U"b"}, U" | "), U"a |  | b");
  EXPECT_EQ(replace_char(U"a-b-c", U'-', U'+'), U"a+b+c");
  EXPECT_EQ(replace_all(U"aaa", U"aa", U"b"), U"ba");  // left to right, no overlap
  EXPECT_EQ(replace_all(U"abc", U"", U"x"), U"abc");
  EXPECT_EQ(replace_all(U"a.b.", U".", U"::"), U"a::b::");
  EXPECT_TRUE(has_digit(U"abc\u0663"));
  EXPECT_TRUE(has_digit(U"x\u00b2"));
  EXPECT_FALSE(has_digit(U"abc\u00bd"));
  EXPECT_FALSE(has_digit(U""));
}

TEST(Text, QuotedFormIsRepr) {
  struct Case {
    const char* s;
    const char* quoted;
  } cases[] = {
      {"", "''"},
      {"clik", "'clik'"},
      {"don't", "\"don't\""},
      {"say \"hi\"", "'say \"hi\"'"},
      {"it's \"x\"", "'it\\'s \"x\"'"},  // both kinds: single delimiters, single escaped
      {"a\\b", "'a\\\\b'"},
      {"\t\n\r", "'\\t\\n\\r'"},
      {"\x01\x1f\x7f", "'\\x01\\x1f\\x7f'"},
      {"\xc2\xa0\xc2\xad", "'\\xa0\\xad'"},  // U+00A0, U+00AD
      {"\u2028\u200b\ufeff", "'\\u2028\\u200b\\ufeff'"},
      {"\U000e0001", "'\\U000e0001'"},
      {"caf\u00e9 \U0001f600", "'caf\u00e9 \U0001f600'"},  // printable non-ASCII stands
  };
  for (const auto& c : cases) EXPECT_EQ(to_utf8(qv::text::quoted(from_utf8(c.s))), c.quoted) << c.s;
  EXPECT_EQ(to_utf8(qv::text::quoted(Text(1, U'\0'))), "'\\x00'");
  EXPECT_EQ(to_utf8(qv::text::quoted(Text(1, char32_t(0xD800)))), "'\\ud800'");
  EXPECT_EQ(to_utf8(qv::text::list_form({})), "[]");
  EXPECT_EQ(to_utf8(qv::text::list_form({U"a", U"it's"})), "['a', \"it's\"]");
}

// ---- UTF-8 ---------------------------------------------------------------------

TEST(Utf8, RoundTripsEveryKindOfCodePoint) {
  Text all = {U'a', 0x7F, 0x80, 0x7FF, 0x800, 0xD800, 0xDFFF, 0xFFFF, 0x10000, 0x10FFFF, 0};
  EXPECT_EQ(from_utf8(to_utf8(all)), all);
  EXPECT_EQ(to_utf8(Text(1, char32_t(0xD800))), "\xED\xA0\x80");  // surrogatepass
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
  struct Case {
    std::string bytes;
    Text text;
  } cases[] = {
      {"\xff" "a", U"\uFFFDa"},
      {"a\x80" "b", U"a\uFFFDb"},
      {"\xC3(", U"\uFFFD("},
      // A sequence cut short keeps what follows it.
      {"\xE2" "a", U"\uFFFDa"},
      {"x\xF0\x9F", U"x\uFFFD\uFFFD"},
      // Lead bytes that would go beyond U+10FFFF are no code point.
      {"\xF7\xBF\xBF\xBF" "z", U"\uFFFD\uFFFD\uFFFD\uFFFDz"},
  };
  for (const auto& c : cases) EXPECT_EQ(from_utf8(c.bytes), c.text) << c.bytes;
}

// ---- values and records -----------------------------------------------------------

TEST(Value, KindsAndNames) {
  struct Case {
    Value v;
    qv::Kind kind;
    const char* name;
    bool truthy;
  } cases[] = {
      {Value(), qv::Kind::Null, "NoneType", false},
      {Value(true), qv::Kind::Bool, "bool", true},
      {Value(false), qv::Kind::Bool, "bool", false},
      {Value(0), qv::Kind::Int, "int", false},
      {Value(std::int64_t{-3}), qv::Kind::Int, "int", true},
      {Value(qv::BigInt{"18446744073709551616", 1.8446744073709552e19}), qv::Kind::BigInt, "int", true},
      {Value(0.0), qv::Kind::Real, "float", false},
      {Value(std::nan("")), qv::Kind::Real, "float", true},
      {Value(U""), qv::Kind::Text, "str", false},
      {Value(U"x"), qv::Kind::Text, "str", true},
      {Value(qv::make_list()), qv::Kind::List, "list", false},
      {Value(qv::make_record({{U"a", 1}})), qv::Kind::Record, "dict", true},
      {Value(qv::Foreign{"tuple", nullptr}), qv::Kind::Foreign, "tuple", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.v.kind(), c.kind);
    EXPECT_EQ(c.v.kind_name(), c.name);
    EXPECT_EQ(c.v.truthy(), c.truthy);
  }
  EXPECT_FALSE(Value(true).is_int());  // bool is not int
  EXPECT_TRUE(Value(qv::BigInt{}).is_int());
}

template <class F>
std::string type_error_of(F f) {
  try {
    f();
  } catch (const qv::TypeError& e) {
    return e.what();
  }
  return "(no TypeError)";
}

TEST(Value, CheckedReadersNameTheKindFound) {
  EXPECT_EQ(type_error_of([] { Value().text(); }), "Expected str, got NoneType");
  EXPECT_EQ(type_error_of([] { Value(1).text(); }), "Expected str, got int");
  EXPECT_EQ(type_error_of([] { Value(U"x").record(); }), "Expected dict, got str");
  EXPECT_EQ(type_error_of([] { Value(qv::make_record()).list(); }), "Expected list, got dict");
  EXPECT_EQ(type_error_of([] { Value(1).boolean(); }), "Expected bool, got int");
  EXPECT_EQ(type_error_of([] { Value(true).integer(); }), "Expected int, got bool");
  EXPECT_EQ(type_error_of([] { Value(U"1").number(); }), "Expected a number, got str");
  EXPECT_EQ(type_error_of([] { Value(qv::Foreign{std::string(300, 'K'), nullptr}).text(); }),
            "Expected str, got " + std::string(200, 'K'));
  EXPECT_THROW(Value(qv::BigInt{"99999999999999999999", 1e20}).integer(), qv::ValueError);
  EXPECT_EQ(Value(std::int64_t{7}).integer(), 7);
  EXPECT_DOUBLE_EQ(Value(qv::BigInt{"1e20", 1e20}).number(), 1e20);
}

TEST(Errors, ArgumentMessagesCutEachFieldTo200Characters) {
  EXPECT_EQ(qv::argument_type_message("matrix", "list", "dict"),
            "Argument 'matrix' has incorrect type (expected list, got dict)");
  std::string long_name;
  for (int i = 0; i < 250; ++i) long_name += "\u00e9";  // two bytes each
  std::string cut;
  for (int i = 0; i < 200; ++i) cut += "\u00e9";
  EXPECT_EQ(qv::argument_type_message("x", "str", long_name),
            "Argument 'x' has incorrect type (expected str, got " + cut + ")");
  EXPECT_THROW(qv::throw_argument_type("x", "str", "int"), qv::TypeError);
}

TEST(Record, FindSetAndOrder) {
  auto r = qv::make_record({{U"b", 1}, {U"a", U"x"}});
  EXPECT_EQ(r->size(), 2u);
  EXPECT_TRUE(r->contains(U"a"));
  EXPECT_EQ(r->find(U"zz"), nullptr);
  r->set(U"b", Value(2));  // in place: the order stays
  r->set(U"c", Value());   // appended
  ASSERT_EQ(r->items.size(), 3u);
  EXPECT_EQ(r->items[0].first, U"b");
  EXPECT_EQ(r->items[0].second.integer(), 2);
  EXPECT_EQ(r->items[2].first, U"c");
  try {
    r->at(U"missing\u00e9");
    ADD_FAILURE();
  } catch (const qv::KeyError& e) {
    EXPECT_EQ(e.key, U"missing\u00e9");
    EXPECT_STREQ(e.what(), "missing\u00e9");
  }
}

TEST(Record, ReadersWithDefaults) {
  auto inner = qv::make_record({{U"k", 1}});
  auto r = qv::make_record({{U"t", U"x"}, {U"n", Value()}, {U"i", 0}, {U"r", inner}});
  EXPECT_EQ(qv::get_text(*r, U"t"), U"x");
  EXPECT_EQ(qv::get_text(*r, U"absent", U"dflt"), U"dflt");
  EXPECT_EQ(type_error_of([&] { qv::get_text(*r, U"n"); }), "Expected str, got NoneType");
  EXPECT_EQ(type_error_of([&] { qv::get_text(*r, U"i"); }), "Expected str, got int");
  EXPECT_EQ(qv::get_text_or_null(*r, U"n", U"dflt"), U"dflt");
  EXPECT_EQ(qv::get_text_or_null(*r, U"absent", U"dflt"), U"dflt");
  EXPECT_EQ(qv::get_record(*r, U"r"), inner.get());
  EXPECT_EQ(qv::get_record(*r, U"n"), nullptr);
  EXPECT_EQ(qv::get_record(*r, U"absent"), nullptr);
  EXPECT_EQ(type_error_of([&] { qv::get_record(*r, U"t"); }), "Expected dict, got str");
  EXPECT_FALSE(qv::get_truthy(*r, U"i", true));  // present: its own truth
  EXPECT_TRUE(qv::get_truthy(*r, U"absent", true));
  EXPECT_FALSE(qv::get_truthy(*r, U"n", true));
}

TEST(Numbers, CompareAcrossKinds) {
  const double nan = std::nan("");
  struct Case {
    Value a, b;
    int sign;
  } cases[] = {
      {Value(1), Value(2), -1},
      {Value(2), Value(2.0), 0},
      {Value(3.5), Value(3), 1},
      // Exact: 2^53 + 1 is above the double 2^53.
      {Value(std::int64_t{9007199254740993}), Value(9007199254740992.0), 1},
      {Value(qv::BigInt{"1" + std::string(30, '0'), 1e30}), Value(std::int64_t{1} << 62), 1},
      {Value(nan), Value(1), 0},  // unordered compares equal: a stable sort keeps input order
      {Value(1), Value(nan), 0},
      {Value(nan), Value(nan), 0},
  };
  for (const auto& c : cases) {
    int got = qv::compare_numbers(c.a, c.b);
    EXPECT_EQ((got > 0) - (got < 0), c.sign) << c.a.kind_name() << " vs " << c.b.kind_name();
  }
  EXPECT_THROW(qv::compare_numbers(Value(U"1"), Value(1)), qv::TypeError);
  EXPECT_THROW(qv::compare_numbers(Value(true), Value(1)), qv::TypeError);
}

TEST(Numbers, ArithmeticKeepsKinds) {
  const auto max = std::numeric_limits<std::int64_t>::max();
  Value s = qv::add_numbers(Value(2), Value(3));
  EXPECT_EQ(s.kind(), qv::Kind::Int);
  EXPECT_EQ(s.integer(), 5);
  Value d = qv::sub_numbers(Value(2), Value(0.5));
  EXPECT_EQ(d.kind(), qv::Kind::Real);
  EXPECT_DOUBLE_EQ(d.as_real(), 1.5);
  EXPECT_EQ(qv::mul_numbers(Value(-4), Value(5)).integer(), -20);
  EXPECT_THROW(qv::add_numbers(Value(max), Value(1)), qv::ValueError);
  EXPECT_THROW(qv::mul_numbers(Value(max), Value(2)), qv::ValueError);
  EXPECT_THROW(qv::add_numbers(Value(qv::BigInt{"1", 1}), Value(1)), qv::ValueError);
  EXPECT_THROW(qv::add_numbers(Value(U"a"), Value(1)), qv::TypeError);
  EXPECT_THROW(qv::add_numbers(Value(qv::BigInt{"1", 1}), Value(U"a")), qv::TypeError);
}

}  // namespace
