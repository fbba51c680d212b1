#include "spatial/layoutgrid.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "common/text.hpp"

namespace qv::layoutgrid {
namespace {

std::string u8(TextView t) { return to_utf8(t); }

RecordPtr attrs_of(std::initializer_list<std::pair<TextView, TextView>> kv) {
  auto r = make_record();
  for (const auto& [k, v] : kv) r->set(k, Value(Text(v)));
  return r;
}

RecordPtr box(Value x, Value y, Value w, Value h) {
  return make_record({{U"x", x}, {U"y", y}, {U"width", w}, {U"height", h}});
}

// An interactable descriptor with the keys the extraction sets.
RecordPtr control(TextView tag, TextView text, RecordPtr bbox, RecordPtr attrs = make_record()) {
  return make_record({{U"tag", Text(tag)},
                      {U"text", Text(text)},
                      {U"attributes", attrs},
                      {U"bounding_box", bbox ? Value(bbox) : Value()},
                      {U"is_visible", true},
                      {U"is_enabled", true},
                      {U"xpath", U"/html[1]/body[1]"}});
}

RecordPtr caption(TextView text, RecordPtr bbox) {
  return make_record({{U"tag", U"span"},
                      {U"text", Text(text)},
                      {U"has_direct_text", true},
                      {U"attributes", make_record()},
                      {U"bounding_box", Value(bbox)},
                      {U"is_visible", true},
                      {U"is_enabled", true},
                      {U"xpath", U"/html[1]/body[1]/span[1]"}});
}

List list_of(std::initializer_list<RecordPtr> items) {
  List l;
  for (const auto& r : items) l.push_back(Value(r));
  return l;
}

const Record& at(const ListPtr& m, std::size_t i) { return *(*m)[i].as_record(); }

TEST(ElementType, Rules) {
  struct Case {
    const char32_t* tag;  // nullptr: no tag key
    std::initializer_list<std::pair<TextView, TextView>> attrs;
    const char32_t* want;
  };
  const Case cases[] = {
      {U"input", {{U"role", U"combobox"}}, U"combobox"},
      {U"input", {{U"type", U"submit"}}, U"button"},
      {U"input", {{U"type", U"button"}}, U"button"},
      {U"input", {{U"type", U"reset"}}, U"button"},
      {U"input", {{U"type", U"checkbox"}}, U"input"},
      {U"textarea", {}, U"input"},
      {U"div", {{U"role", U"button"}}, U"button"},
      {U"button", {{U"role", U"link"}}, U"link"},
      {U"span", {{U"role", U"textbox"}}, U"textbox"},
      {U"span", {}, U"span"},
      {U"a", {}, U"link"},
      {U"select", {}, U"select"},
      // Exact, case-sensitive comparisons.
      {U"div", {{U"role", U"Button"}}, U"div"},
      {U"input", {{U"type", U"Submit"}}, U"input"},
      {U"button", {{U"role", U"menuitem"}}, U"button"},
      // type only counts on input elements.
      {U"div", {{U"type", U"submit"}}, U"div"},
      {nullptr, {}, U""},
  };
  for (const auto& c : cases) {
    auto el = make_record();
    if (c.tag) el->set(U"tag", Value(Text(c.tag)));
    el->set(U"attributes", Value(attrs_of(c.attrs)));
    SCOPED_TRACE(u8(c.tag ? c.tag : U"(none)"));
    EXPECT_EQ(u8(element_type(Value(el))), u8(c.want));
  }
  // No attributes record at all.
  EXPECT_EQ(u8(element_type(Value(make_record({{U"tag", U"a"}})))), "link");
}

TEST(Searchable, JoinsReadableSurfaces) {
  struct Case {
    const char32_t* text;
    std::initializer_list<std::pair<TextView, TextView>> attrs;
    const char32_t* want;
  };
  const Case cases[] = {
      {U"Email", {{U"_label", U"Email"}}, U"Email Email"},
      {U"Go",
       {{U"name", U"n"}, {U"placeholder", U"p"}, {U"aria-label", U"a"}, {U"_label", U"l"}, {U"id", U"x"}},
       U"Go l a p n"},
      {U"", {{U"placeholder", U"Search"}}, U"Search"},
      // A blank-only part stays; only the ends are trimmed.
      {U"A", {{U"aria-label", U"  "}, {U"placeholder", U"B"}}, U"A    B"},
      {U"", {{U"aria-label", U"  "}}, U""},
      {U"", {}, U""},
  };
  for (const auto& c : cases) {
    auto el = make_record({{U"text", Text(c.text)}, {U"attributes", attrs_of(c.attrs)}});
    SCOPED_TRACE(u8(c.want));
    EXPECT_EQ(u8(searchable(Value(el))), u8(c.want));
  }
  EXPECT_EQ(u8(searchable(Value(make_record()))), "");
}

TEST(Position, KeepsKindsAndComputesEdges) {
  auto p = position(*box(10, 20, 5, 7));
  ASSERT_EQ(p->size(), 8u);
  const char32_t* keys[] = {U"x", U"y", U"w", U"h", U"cx", U"cy", U"x2", U"y2"};
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(u8(p->items[i].first), u8(keys[i]));
  EXPECT_TRUE(p->at(U"x").is_int());
  EXPECT_EQ(p->at(U"cx").as_real(), 12.5);
  EXPECT_EQ(p->at(U"cy").as_real(), 23.5);
  EXPECT_EQ(p->at(U"x2").as_int64(), 15);
  EXPECT_EQ(p->at(U"y2").as_int64(), 27);

  // cx is real even when the half is whole; a real operand makes x2 real.
  auto q = position(*box(10.5, 20, 4, 6));
  EXPECT_TRUE(q->at(U"cx").is_real());
  EXPECT_EQ(q->at(U"cx").as_real(), 12.5);
  EXPECT_TRUE(q->at(U"cy").is_real());
  EXPECT_EQ(q->at(U"cy").as_real(), 23.0);
  EXPECT_TRUE(q->at(U"x2").is_real());
  EXPECT_EQ(q->at(U"x2").as_real(), 14.5);
  EXPECT_TRUE(q->at(U"y2").is_int());

  // Absent keys read as 0.
  auto z = position(*make_record({{U"y", 3}}));
  EXPECT_EQ(z->at(U"x").as_int64(), 0);
  EXPECT_EQ(z->at(U"w").as_int64(), 0);
  EXPECT_EQ(z->at(U"cx").as_real(), 0.0);
  EXPECT_EQ(z->at(U"y2").as_int64(), 3);

  EXPECT_THROW(position(*box(U"1", 0, 1, 1)), TypeError);
  EXPECT_THROW(position(*box(0, 0, Value(), 1)), TypeError);
  EXPECT_THROW(position(*box(0, 0, true, 1)), TypeError);
}

TEST(Build, EmptyAndBoxlessInputsGiveEmptyMatrix) {
  EXPECT_TRUE(build(List(), List())->empty());
  auto no_box = control(U"a", U"x", nullptr);
  no_box->items.erase(no_box->items.begin() + 3);  // bounding_box absent
  auto null_box = control(U"a", U"y", nullptr);
  auto empty_box = control(U"a", U"z", make_record());
  EXPECT_TRUE(build(list_of({no_box, null_box, empty_box}), List())->empty());
}

TEST(Build, SkipsBoxlessAndNumbersWithoutGaps) {
  auto a = control(U"a", U"A", box(0, 10, 5, 5));
  auto skipped = control(U"a", U"skip", nullptr);
  auto b = control(U"button", U"B", box(0, 20, 5, 5));
  auto m = build(list_of({a, skipped, b}), List());
  ASSERT_EQ(m->size(), 2u);
  EXPECT_EQ(at(m, 0).at(U"index").as_int64(), 0);
  EXPECT_EQ(at(m, 1).at(U"index").as_int64(), 1);
  EXPECT_EQ(at(m, 1).at(U"element").as_record().get(), b.get());
}

TEST(Build, ReadingOrder) {
  // Input order, then the expected reading order by text.
  auto low_left = control(U"a", U"low-left", box(0, 100.5, 5, 5));
  auto top_right = control(U"a", U"top-right", box(300, 100, 5, 5));
  auto top_left = control(U"a", U"top-left", box(10.0, 100, 5, 5));
  auto above = control(U"a", U"above", box(900, 99.5, 5, 5));
  auto cap_same_spot = caption(U"caption", box(10, 100, 5, 5));
  auto tie_second = control(U"button", U"tie-second", box(10, 100.0, 5, 5));
  auto m = build(list_of({low_left, top_right, top_left, above, tie_second}), list_of({cap_same_spot}));
  const char* want[] = {"above", "top-left", "tie-second", "caption", "top-right", "low-left"};
  ASSERT_EQ(m->size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(u8(at(m, i).at(U"text").as_text()), want[i]) << i;
    EXPECT_EQ(at(m, i).at(U"index").as_int64(), static_cast<std::int64_t>(i));
  }
}

TEST(Build, OrderInTypeCountsPerType) {
  auto m = build(list_of({control(U"a", U"l1", box(0, 1, 1, 1)), control(U"button", U"b1", box(0, 2, 1, 1)),
                          control(U"a", U"l2", box(0, 3, 1, 1)), control(U"a", U"l3", box(0, 4, 1, 1))}),
                 list_of({caption(U"t1", box(0, 0, 1, 1)), caption(U"t2", box(0, 5, 1, 1))}));
  const std::int64_t want[] = {1, 1, 1, 2, 3, 2};  // t1 l1 b1 l2 l3 t2
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(at(m, i).at(U"order_in_type").as_int64(), want[i]) << i;
}

TEST(Build, EntryFields) {
  auto field = control(U"input", U"", box(1, 2, 3, 4),
                       attrs_of({{U"_label", U"Email"}, {U"placeholder", U"you@x"}, {U"type", U"email"}}));
  field->set(U"is_enabled", Value(false));
  auto bare = make_record({{U"tag", U"button"}, {U"bounding_box", box(0, 50, 1, 1)}});
  auto text = caption(U"Email", box(0, 0, 1, 1));
  text->set(U"attributes", Value(attrs_of({{U"aria-label", U"ignored"}})));
  text->set(U"is_enabled", Value(false));
  auto m = build(list_of({field, bare}), list_of({text}));
  ASSERT_EQ(m->size(), 3u);

  const Record& t = at(m, 0);
  const char32_t* keys[] = {U"index",  U"tag",          U"element_type", U"text",
                            U"label",  U"searchable",   U"is_enabled",   U"is_anchor_only",
                            U"order_in_type", U"position", U"element"};
  ASSERT_EQ(t.size(), 11u);
  for (std::size_t i = 0; i < 11; ++i) EXPECT_EQ(u8(t.items[i].first), u8(keys[i]));
  EXPECT_EQ(u8(t.at(U"element_type").as_text()), "text");
  EXPECT_EQ(u8(t.at(U"searchable").as_text()), "Email");  // text only, no attributes
  EXPECT_TRUE(t.at(U"is_enabled").as_bool());
  EXPECT_TRUE(t.at(U"is_anchor_only").as_bool());
  EXPECT_EQ(t.at(U"element").as_record().get(), text.get());

  const Record& f = at(m, 1);
  EXPECT_EQ(u8(f.at(U"element_type").as_text()), "input");
  EXPECT_EQ(u8(f.at(U"label").as_text()), "Email");
  EXPECT_EQ(u8(f.at(U"searchable").as_text()), "Email you@x");
  EXPECT_FALSE(f.at(U"is_enabled").as_bool());
  EXPECT_FALSE(f.at(U"is_anchor_only").as_bool());

  const Record& b = at(m, 2);
  EXPECT_TRUE(b.at(U"is_enabled").as_bool());  // absent reads as true
  EXPECT_EQ(u8(b.at(U"text").as_text()), "");
  EXPECT_EQ(u8(b.at(U"label").as_text()), "");

  // The descriptors are read, never changed.
  EXPECT_EQ(field->size(), 7u);
  EXPECT_FALSE(field->contains(U"position"));
}

TEST(Build, MalformedDescriptorsAreTypeErrors) {
  List not_a_record;
  not_a_record.push_back(Value(3));
  EXPECT_THROW(build(not_a_record, List()), TypeError);
  auto list_box = make_record({{U"tag", U"a"}, {U"bounding_box", Value(make_list())}});
  EXPECT_THROW(build(list_of({list_box}), List()), TypeError);
  auto bad_text = control(U"a", U"", box(0, 0, 1, 1));
  bad_text->set(U"text", Value(5));
  try {
    build(list_of({bad_text}), List());
    FAIL() << "no error";
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "Expected str, got int");
  }
}

}  // namespace
}  // namespace qv::layoutgrid
