// Inputs the fuzzers found faults with, kept as ordinary cases. Each
// test names the fault it holds down; the inputs are cut to what shows it.
#include <gtest/gtest.h>

#include <limits>

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

}  // namespace
}  // namespace qv
