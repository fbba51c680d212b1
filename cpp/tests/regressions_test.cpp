// Inputs the fuzzers found faults with, kept as ordinary cases. Each
// test names the fault it holds down; the inputs are cut to what shows it.
#include <gtest/gtest.h>

#include <limits>

#include "browser/pagesurvey.hpp"
#include "strategies/textlocator.hpp"

namespace qv {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

Value button(TextView text, double x, double y) {
  return Value(make_record({{U"tag", U"button"},
                            {U"text", Text(text)},
                            {U"attributes", make_record()},
                            {U"bounding_box", make_record({{U"x", x}, {U"y", y},
                                                           {U"width", 10.0}, {U"height", 10.0}})},
                            {U"is_visible", true},
                            {U"is_enabled", true},
                            {U"xpath", U"/html[1]/body[1]/button[1]"}}));
}

Value span(TextView text, double x, double y) {
  return Value(make_record({{U"tag", U"span"},
                            {U"text", Text(text)},
                            {U"has_direct_text", true},
                            {U"attributes", make_record()},
                            {U"bounding_box", make_record({{U"x", x}, {U"y", y},
                                                           {U"width", 30.0}, {U"height", 10.0}})},
                            {U"is_visible", true},
                            {U"is_enabled", true},
                            {U"xpath", U"/html[1]/body[1]/span[1]"}}));
}

// textlocator: the ordinal's index was ordinal - 1, which overflows for the
// most negative 64-bit ordinal (signed overflow, caught by UBSan). Any
// ordinal that far below chooses the first candidate; the largest the last,
// and 0 (index -1) the last as well.
TEST(Regressions, ExtremeOrdinalsChooseFirstOrLast) {
  textlocator::DOMStrategy s;
  auto dom = std::make_shared<List>(std::vector<Value>{button(U"Save", 0, 0), button(U"Save", 0, 50)});
  auto texts = std::make_shared<List>(
      std::vector<Value>{span(U"Price", 0, 0), span(U"10", 50, 0), span(U"20", 100, 0)});
  struct Case {
    std::int64_t ordinal;
    std::size_t element;   // index into dom
    std::size_t extracted; // index into texts
  };
  for (const Case& c : {Case{kMin, 0, 1}, Case{kMin + 1, 0, 1}, Case{kMax, 1, 2}, Case{0, 1, 2}}) {
    SCOPED_TRACE(c.ordinal);
    RecordPtr r = s.resolve_element(U"click", U"Save", c.ordinal, dom, nullptr);
    EXPECT_EQ(r->at(U"element").as_record(), (*dom)[c.element].as_record());
    RecordPtr e = s.resolve_extract_spatial_text(U"right of Price", texts, nullptr, c.ordinal);
    EXPECT_EQ(e->at(U"element").as_record(), (*texts)[c.extracted].as_record());
  }
}

// pagesurvey: a page that replaces getBoundingClientRect or getAttribute
// put NaN boxes and non-text attribute values into pointer-cursor
// descriptors, and one that replaces Object.fromEntries non-text values
// into every descriptor's data attributes. Such boxes are left out, such
// values too.
TEST(Regressions, PageScriptAnswersOfOtherKindsStayOut) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  auto item = [](Value x, Value w, Value cls, Value aria, TextView path) {
    return Value(make_record({{U"xpath", Text(path)}, {U"text", U"Edit"}, {U"cls", cls},
                              {U"aria", aria}, {U"x", x}, {U"y", 1.0}, {U"w", w}, {U"h", 20.0}}));
  };
  auto script = std::make_shared<List>(std::vector<Value>{
      item(nan, 60.0, U"c", U"a", U"/html[1]/body[1]/span[1]"),
      item(1.0, inf, U"c", U"a", U"/html[1]/body[1]/span[2]"),
      item(1.0, 60.0, Value(make_record()), Value(std::int64_t{42}), U"/html[1]/body[1]/span[1]"),
      item(2.0, 60.0, U"ok", U"Close", U"/html[1]/body[1]/span[3]")});
  ListPtr out = browser::pointer_descriptors(Value(script));
  ASSERT_EQ(out->size(), 2u);
  // The path of a left-out item is still free for a later one.
  EXPECT_EQ((*out)[0].as_record()->at(U"xpath").as_text(), U"/html[1]/body[1]/span[1]");
  EXPECT_TRUE((*out)[0].as_record()->at(U"attributes").as_record()->empty());
  const Record& kept = *(*out)[1].as_record()->at(U"attributes").as_record();
  EXPECT_EQ(kept.at(U"class").as_text(), U"ok");
  EXPECT_EQ(kept.at(U"aria-label").as_text(), U"Close");

  auto attrs = make_record({{U"id", U"e"}, {U"data-x", U"old"}});
  browser::merge_data_attributes(
      *attrs, Value(make_record({{U"data-x", Value(make_record())}, {U"data-y", Value(std::int64_t{1})},
                                 {U"data-z", U"z"}})));
  ASSERT_EQ(attrs->size(), 3u);
  EXPECT_EQ(attrs->at(U"data-x").as_text(), U"old");
  EXPECT_EQ(attrs->at(U"data-z").as_text(), U"z");
}

}  // namespace
}  // namespace qv
