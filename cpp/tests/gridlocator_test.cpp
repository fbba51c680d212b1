#include "spatial/gridlocator.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "spatial/layoutgrid.hpp"

namespace qv::gridlocator {
namespace {

std::string u8(TextView t) { return to_utf8(t); }
std::string opt(const std::optional<Text>& t) { return t ? "'" + u8(*t) + "'" : "null"; }

// ---- pages ------------------------------------------------------------------

struct Page {
  List dom, text;

  // An interactable element; attributes as (name, value) pairs.
  RecordPtr control(TextView tag, TextView text, double x, double y, double w, double h,
                    std::initializer_list<std::pair<TextView, TextView>> attrs = {},
                    TextView xpath = U"/html[1]/body[1]/div[1]") {
    auto a = make_record();
    for (const auto& [k, v] : attrs) a->set(k, Value(Text(v)));
    auto d = make_record({{U"tag", Text(tag)},
                          {U"text", Text(text)},
                          {U"attributes", a},
                          {U"bounding_box", make_record({{U"x", x}, {U"y", y}, {U"width", w}, {U"height", h}})},
                          {U"is_visible", true},
                          {U"is_enabled", true},
                          {U"xpath", Text(xpath)}});
    dom.push_back(Value(d));
    return d;
  }
  RecordPtr caption(TextView caption_text, double x, double y, double w, double h,
                    TextView xpath = U"/html[1]/body[1]/div[1]") {
    auto d = make_record({{U"tag", U"span"},
                          {U"text", Text(caption_text)},
                          {U"has_direct_text", true},
                          {U"attributes", make_record()},
                          {U"bounding_box", make_record({{U"x", x}, {U"y", y}, {U"width", w}, {U"height", h}})},
                          {U"is_visible", true},
                          {U"is_enabled", true},
                          {U"xpath", Text(xpath)}});
    text.push_back(Value(d));
    return d;
  }
  ListPtr matrix() const { return layoutgrid::build(dom, text); }
};

// The entry whose element is `el`.
RecordPtr entry_of(const ListPtr& m, const RecordPtr& el) {
  for (const Value& v : m->items)
    if (v.as_record()->at(U"element").as_record() == el) return v.as_record();
  return nullptr;
}

std::string text_of(const Value& element) {
  return element.is_null() ? "(null)" : u8(element.as_record()->at(U"text").as_text());
}

std::string texts(const std::vector<RecordPtr>& entries) {
  std::string out;
  for (const auto& e : entries) out += (out.empty() ? "" : ",") + u8(e->at(U"text").as_text());
  return out;
}

std::string candidate_texts(const Record& result) {
  std::string out;
  for (const Value& v : result.at(U"candidates").as_list()->items) out += (out.empty() ? "" : ",") + text_of(v);
  return out;
}

std::string keys(const Record& r) {
  std::string out;
  for (const auto& kv : r.items) out += (out.empty() ? "" : ",") + u8(kv.first);
  return out;
}

RecordPtr target(TextView t) { return make_record({{U"action", U"click"}, {U"target", Text(t)}}); }

// ---- target parsing ------------------------------------------------------------

TEST(ParseTarget, Table) {
  struct Case {
    const char32_t* target;
    std::string anchor, rel, type, ordinal, search, pre;
  };
  const Case cases[] = {
      // The worked results.
      {U"Add to cart near Blue Backpack", "'blue backpack'", "'near'", "null", "null", "null", "'add to cart'"},
      {U"button next to login", "'login'", "'next_to'", "'button'", "null", "null", "null"},
      {U"second login", "null", "null", "null", "2", "'login'", "null"},
      {U"first input", "null", "null", "'input'", "1", "null", "null"},
      {U"second link below", "''", "'below'", "'link'", "2", "null", "null"},
      {U"link below the login button", "'login button'", "'below'", "'button'", "null", "null", "'link'"},
      // Keywords are substrings, not words.
      {U"the nearest button", "'est button'", "'near'", "'button'", "null", "null", "'the'"},
      {U"x underline y", "'line y'", "'below'", "null", "null", "null", "'x'"},
      {U"button left name", "null", "null", "'button'", "null", "null", "null"},
      {U"link under price", "'price'", "'below'", "'link'", "null", "null", "null"},
      // Longest keyword first, then table order.
      {U"near the box right of cart", "'cart'", "'right'", "null", "null", "null", "'near the box'"},
      {U"left of a next to b", "'b'", "'next_to'", "null", "null", "null", "'left of a'"},
      {U"above x under y below z", "'z'", "'below'", "null", "null", "null", "'above x under y'"},
      {U"above x under y", "'y'", "'below'", "null", "null", "null", "'above x'"},
      // Whole-word ordinals and types; first of the table wins.
      {U"1st. buttons", "null", "null", "null", "null", "null", "null"},
      {U"second first", "null", "null", "null", "1", "'second'", "null"},
      {U"3rd btn", "null", "null", "'button'", "3", "null", "null"},
      {U"sixth link", "null", "null", "'link'", "null", "null", "null"},
      // Split at the first occurrence.
      {U"x below y below z", "'y below z'", "'below'", "null", "null", "null", "'x'"},
      // Articles: before the keyword they stay; after it each is removed once, in order.
      {U"the button next to login", "'login'", "'next_to'", "'button'", "null", "null", "'the'"},
      {U"link next to the a x", "'x'", "'next_to'", "'link'", "null", "null", "null"},
      {U"link next to a the x", "'the x'", "'next_to'", "'link'", "null", "null", "null"},
      {U"link next to an x", "'x'", "'next_to'", "'link'", "null", "null", "null"},
      {U"link near the", "'the'", "'near'", "'link'", "null", "null", "null"},
      {U"link next to  the   login ", "'login'", "'next_to'", "'link'", "null", "null", "null"},
      // An ordinal with an anchor has no search text; with an empty anchor
      // the keyword's words are skipped.
      {U"second button next to email", "'email'", "'next_to'", "'button'", "2", "null", "null"},
      {U"the second login next to", "''", "'next_to'", "null", "2", "'login'", "'the login'"},
      {U"first item under", "''", "'below'", "null", "1", "'item'", "'item'"},
      {U"first nearest", "'est'", "'near'", "null", "1", "null", "null"},
      // Nothing to find; case folding; blanks only.
      {U"login", "null", "null", "null", "null", "null", "null"},
      {U"Second LOGIN Button", "null", "null", "'button'", "2", "'login'", "null"},
      {U"", "null", "null", "null", "null", "null", "null"},
      {U"  \t ", "null", "null", "null", "null", "null", "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(u8(c.target));
    ParsedTarget p = parse_target(c.target);
    EXPECT_EQ(opt(p.anchor), c.anchor);
    EXPECT_EQ(opt(p.rel_strategy), c.rel);
    EXPECT_EQ(opt(p.type_filter), c.type);
    EXPECT_EQ(p.ordinal ? std::to_string(*p.ordinal) : "null", c.ordinal);
    EXPECT_EQ(opt(p.search_text), c.search);
    EXPECT_EQ(opt(p.target_text), c.pre);
  }
}

TEST(Tables, OrderAndContent) {
  std::string rel;
  for (const auto& [k, v] : relations()) rel += u8(k) + "=" + u8(v) + ";";
  EXPECT_EQ(rel, "next to=next_to;below=below;under=below;above=above;left of=left;right of=right;near=near;");
  ASSERT_EQ(ordinals().size(), 10u);
  EXPECT_EQ(u8(ordinals()[5].first), "1st");
  ASSERT_EQ(type_keywords().size(), 9u);
  EXPECT_EQ(u8(type_keywords().back().second), "select");
}

// ---- geometry --------------------------------------------------------------------

TEST(Normalize, Table) {
  const std::pair<const char32_t*, const char*> cases[] = {
      {U"Log in", "login"}, {U"log-in", "login"}, {U"LOGIN", "login"}, {U" - ", ""},
      {U"a\tb", "a\tb"},  // only the blank is removed, not other white space
      {U"", ""},          {U"Add To-Cart", "addtocart"}};
  for (const auto& [in, want] : cases) EXPECT_EQ(u8(normalize(in)), want) << u8(in);
}

TEST(DomDistance, Table) {
  struct Case {
    const char32_t *a, *b;
    std::int64_t want;
  };
  const Case cases[] = {
      {U"/html[1]/body[1]/div[1]/span[1]", U"/html[1]/body[1]/div[2]/span[1]", 2},
      {U"/html[1]/body[1]/div[1]/a[1]", U"/html[1]/body[1]/p[1]", 3},
      {U"", U"", 0},
      {U"", U"/html[1]/body[1]", 3},
      {U"/html[1]/body[1]", U"/html[1]/body[1]", 0},
      {U"//html[1]/body[1]//", U"html[1]/body[1]", 0},
      {U"/a/b/c", U"/x/b/c/d", 3},  // agreement after a mismatch counts
      {U"/a//b", U"/a/b", 3},        // an inner empty segment is a segment
  };
  for (const auto& c : cases) {
    EXPECT_EQ(dom_distance(c.a, c.b), c.want) << u8(c.a) << " | " << u8(c.b);
    EXPECT_EQ(dom_distance(c.b, c.a), c.want);
  }
}

RecordPtr at_box(Value x, Value y, Value w, Value h) {
  return make_record({{U"position", layoutgrid::position(*make_record({{U"x", x}, {U"y", y}, {U"width", w}, {U"height", h}}))}});
}

TEST(Geometry, CentreDistance) {
  EXPECT_DOUBLE_EQ(centre_distance(*at_box(0, 0, 10, 10), *at_box(3, 4, 10, 10)), 5.0);
  EXPECT_DOUBLE_EQ(centre_distance(*at_box(0, 0, 10, 10), *at_box(0, 0, 10, 10)), 0.0);
  EXPECT_THROW(centre_distance(*make_record(), *at_box(0, 0, 1, 1)), KeyError);
  auto no_cy = at_box(0, 0, 1, 1);
  no_cy->at(U"position").as_record()->items.erase(no_cy->at(U"position").as_record()->items.begin() + 5);
  try {
    centre_distance(*at_box(0, 0, 1, 1), *no_cy);
    FAIL();
  } catch (const KeyError& e) {
    EXPECT_EQ(u8(e.key), "cy");
  }
}

TEST(Geometry, Overlaps) {
  struct Case {
    double ay, ah, by, bh;
    bool want;
  };
  // a's bottom edge against b's top edge: gaps of 40 and 39 pixels.
  const Case cases[] = {
      {0, 10, 50, 10, false},  // gap 40 == tolerance
      {0, 10, 49, 10, true},   // gap 39
      {0, 10, 5, 10, true},    // overlapping
      {0, 100, 20, 10, true},  // contained
      {0, 10, -50, 10, false},
      {0, 10, -49, 10, true},
  };
  for (const auto& c : cases) {
    auto a = at_box(0, c.ay, 10, c.ah), b = at_box(0, c.by, 10, c.bh);
    SCOPED_TRACE(std::to_string(c.by));
    EXPECT_EQ(overlaps_vertically(*a, *b), c.want);
    EXPECT_EQ(overlaps_vertically(*b, *a), c.want);
    auto ha = at_box(c.ay, 0, c.ah, 10), hb = at_box(c.by, 0, c.bh, 10);
    EXPECT_EQ(overlaps_horizontally(*ha, *hb), c.want);
    EXPECT_EQ(overlaps_horizontally(*hb, *ha), c.want);
    // The other axis does not matter.
    EXPECT_TRUE(overlaps_horizontally(*a, *b));
  }
  // Integer and real coordinates compare by value; NaN overlaps nothing.
  EXPECT_FALSE(overlaps_vertically(*at_box(0, 0, 1, 10), *at_box(0, 50.0, 1, 10)));
  EXPECT_FALSE(overlaps_vertically(*at_box(0, std::nan(""), 1, 10), *at_box(0, 0, 1, 10)));
  EXPECT_THROW(overlaps_vertically(*make_record({{U"position", 1}}), *at_box(0, 0, 1, 1)), TypeError);
}

// ---- anchor search -------------------------------------------------------------------

TEST(FindAnchor, Table) {
  struct Case {
    const char* name;
    void (*setup)(Page&);
    const char32_t* anchor;
    const char* want;  // text of the anchor's element, or "(null)"
  };
  const Case cases[] = {
      {"text beats an earlier attribute match",
       [](Page& p) {
         p.control(U"button", U"Add", 0, 0, 10, 10, {{U"aria-label", U"Blue Backpack"}});
         p.caption(U"Blue Backpack", 0, 50, 100, 20);
       },
       U"blue backpack", "Blue Backpack"},
      {"attribute match in order aria-label, _label, placeholder",
       [](Page& p) { p.control(U"input", U"", 0, 0, 10, 10, {{U"placeholder", U"Email"}}); },
       U"email", ""},
      {"interactable beats text entry",
       [](Page& p) {
         p.caption(U"Login", 0, 0, 10, 10);
         p.control(U"button", U"Login", 0, 50, 100, 100);
       },
       U"login", "Login"},
      {"no match", [](Page& p) { p.caption(U"Login", 0, 0, 10, 10); }, U"logout", "(null)"},
      {"no trimming in the exact pass",
       [](Page& p) { p.caption(U" Email", 0, 0, 10, 10); }, U"email", "(null)"},
      {"prefix with blank",
       [](Page& p) {
         p.caption(U"Emails", 0, 0, 10, 10);
         p.caption(U"Email address", 0, 20, 10, 10);
       },
       U"email", "Email address"},
      {"prefix with parenthesis, not a longer word",
       [](Page& p) {
         p.control(U"a", U"Cartridge", 0, 0, 10, 10);
         p.control(U"a", U"Cart(3)", 0, 20, 10, 10);
       },
       U"cart", "Cart(3)"},
      {"attribute prefix only when no text prefix",
       [](Page& p) {
         p.control(U"input", U"", 0, 0, 10, 10, {{U"placeholder", U"Email address"}});
         p.caption(U"Email me", 0, 50, 10, 10);
       },
       U"email", "Email me"},
      {"attribute prefix pass",
       [](Page& p) {
         p.caption(U"Emailing", 0, 0, 10, 10);
         p.control(U"input", U"field", 0, 50, 10, 10, {{U"placeholder", U"Email address"}});
       },
       U"email", "field"},
      {"empty attribute is no match", [](Page& p) { p.control(U"input", U"x", 0, 0, 10, 10, {{U"aria-label", U""}}); },
       U"", "(null)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Page p;
    c.setup(p);
    MatrixResolver r(p.matrix());
    RecordPtr a = r.find_anchor(c.anchor);
    EXPECT_EQ(a ? text_of(a->at(U"element")) : "(null)", c.want);
  }
}

TEST(FindAnchor, SmallestBoxThenFirst) {
  Page p;
  auto big = p.control(U"button", U"Save", 0, 0, 100, 40);
  auto small = p.control(U"button", U"Save", 0, 100, 20, 20);
  auto same = p.control(U"button", U"Save", 0, 200, 20, 20);
  auto m = p.matrix();
  MatrixResolver r(m);
  RecordPtr a = r.find_anchor(U"SAVE");
  EXPECT_EQ(a, entry_of(m, small));  // the matrix's own entry record
  (void)big;
  (void)same;
  // A position without w or h counts 999 for it.
  entry_of(m, small)->at(U"position").as_record()->items.erase(
      entry_of(m, small)->at(U"position").as_record()->items.begin() + 2);
  EXPECT_EQ(r.find_anchor(U"save"), entry_of(m, same));
}

TEST(FindAnchor, MalformedEntries) {
  auto m = make_list();
  m->push_back(Value(7));
  EXPECT_THROW(MatrixResolver(m).find_anchor(U"x"), TypeError);
  auto m2 = make_list();
  m2->push_back(Value(make_record({{U"element", Value()}})));
  EXPECT_THROW(MatrixResolver(m2).find_anchor(U"x"), TypeError);
  // An entry without element reads as an empty element.
  auto m3 = make_list();
  m3->push_back(Value(make_record({{U"text", U"x"}})));
  EXPECT_EQ(MatrixResolver(m3).find_anchor(U"y"), nullptr);
}

// ---- ranking ---------------------------------------------------------------------------

// Anchor box: x 100..150, y 100..120.
struct RankCase {
  const char* strategy;  // nullptr: no strategy
  std::optional<std::int64_t> ordinal;
  const char* want;
};

TEST(Rank, Strategies) {
  Page p;
  auto anchor = p.caption(U"anchor", 100, 100, 50, 20, U"/html[1]/body[1]/div[1]/span[1]");
  p.control(U"button", U"right-far", 400, 98, 10, 10, {}, U"/html[1]/body[1]/div[1]/button[3]");
  p.control(U"button", U"right-near", 160, 101, 10, 10, {}, U"/html[1]/body[1]/div[1]/button[2]");
  p.control(U"button", U"right-touching", 150, 100, 10, 10, {}, U"/html[1]/body[1]/div[1]/button[1]");
  p.control(U"button", U"left-far", 0, 100, 20, 20);
  p.control(U"button", U"left-near", 60, 105, 30, 10);
  p.control(U"button", U"below-far", 100, 300, 10, 10, {}, U"/html[2]/x[1]/y[1]/z[1]/a[1]/b[1]/c[1]");
  p.control(U"button", U"below-near", 120, 130, 10, 10);
  p.control(U"button", U"above-near", 100, 60, 10, 30);
  p.control(U"button", U"above-far", 140, 10, 10, 10);
  p.control(U"button", U"elsewhere", 900, 900, 10, 10);
  auto m = p.matrix();
  MatrixResolver r(m);
  RecordPtr a = entry_of(m, anchor);
  std::vector<Value> candidates;
  for (const Value& v : m->items)
    if (v.as_record() != a) candidates.push_back(v);

  const RankCase cases[] = {
      // Reading order (y exact): right-far at y 98 precedes right-near at y 101.
      {"next_to", std::nullopt, "right-far"},
      {"next_to", 2, "right-touching"},
      {"next_to", 3, "right-near"},
      {"next_to", 4, ""},
      {"right", std::nullopt, "right-touching,right-near,right-far"},
      {"right", 2, "right-near"},
      {"left", std::nullopt, "left-near,left-far"},
      {"below", std::nullopt, "below-near,below-far"},
      {"above", std::nullopt, "above-near,above-far"},
      {"above", 3, ""},
      {"above", 0, ""},
      {"above", -1, ""},
      // near: within 300 px centre to centre and 10 DOM steps; nearest first.
      {"near", std::nullopt, "below-near,right-touching,right-near,above-near,left-near,above-far,left-far,right-far"},
      {"Near", std::nullopt, ""},
      {"sideways", std::nullopt, ""},
      {nullptr, std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.strategy ? c.strategy : "(null)") + " " +
                 (c.ordinal ? std::to_string(*c.ordinal) : "-"));
    std::optional<Text> s;
    if (c.strategy) s = from_utf8(c.strategy);
    EXPECT_EQ(texts(r.rank(candidates, *a, s, c.ordinal)), c.want);
  }
}

TEST(Rank, NearLimitsAreInclusive) {
  Page p;
  auto anchor = p.caption(U"anchor", 0, 0, 10, 10, U"/html[1]/body[1]/div[1]");
  p.control(U"a", U"at-300", 300, 0, 10, 10, {}, U"/html[1]/body[1]/div[2]");
  p.control(U"a", U"at-301", 0, 301, 10, 10, {}, U"/html[1]/body[1]/div[3]");
  // 11 steps away in the document, 5 pixels away on the screen.
  p.control(U"a", U"dom-far", 5, 0, 1, 1, {}, U"/html[1]/body[1]/a/b/c/d/e/f/g/h/i/j");
  // exactly 10 steps.
  p.control(U"a", U"dom-10", 0, 5, 1, 1, {}, U"/html[1]/body[1]/a/b/c/d/e/f/g/h/i");
  auto m = p.matrix();
  MatrixResolver r(m);
  RecordPtr a = entry_of(m, anchor);
  std::vector<Value> cands;
  for (const Value& v : m->items)
    if (v.as_record() != a) cands.push_back(v);
  EXPECT_EQ(dom_distance(U"/html[1]/body[1]/div[1]", U"/html[1]/body[1]/a/b/c/d/e/f/g/h/i/j"), 11);
  EXPECT_EQ(texts(r.rank(cands, *a, Text(U"near"), std::nullopt)), "dom-10,at-300");
}

TEST(Rank, TiesKeepCandidateOrder) {
  Page p;
  auto anchor = p.caption(U"anchor", 0, 0, 100, 10);
  p.control(U"a", U"one", 10, 100, 10, 10);
  p.control(U"a", U"two", 50, 100.0, 10, 10);
  p.control(U"a", U"three", 30, 100, 10, 10);
  auto m = p.matrix();
  MatrixResolver r(m);
  RecordPtr a = entry_of(m, anchor);
  std::vector<Value> cands(m->items.begin() + 1, m->items.end());
  EXPECT_EQ(texts(r.rank(cands, *a, Text(U"below"), std::nullopt)), "one,three,two");
  std::vector<Value> reversed(cands.rbegin(), cands.rend());
  EXPECT_EQ(texts(r.rank(reversed, *a, Text(U"below"), std::nullopt)), "two,three,one");
}

// ---- resolution ----------------------------------------------------------------------------

TEST(Resolve, Relational) {
  struct Case {
    const char* name;
    void (*setup)(Page&);
    const char32_t* target;
    const char* element;  // "(null)" for the failure result
    bool relaxed;
    const char* actual_type;  // "" for null
    const char* candidates;
  };
  const Case cases[] = {
      {"button next to a text anchor",
       [](Page& p) {
         p.caption(U"Name", 0, 0, 50, 20);
         p.control(U"input", U"", 60, 0, 100, 20);
         p.control(U"button", U"Go", 200, 0, 50, 20);
         p.control(U"button", U"Later", 300, 0, 50, 20);
       },
       U"button next to name", "Go", false, "button", "Go"},
      {"type relaxed when no button is in the relation",
       [](Page& p) {
         p.caption(U"Name", 0, 0, 50, 20);
         p.control(U"input", U"field", 60, 0, 100, 20);
         p.control(U"button", U"Far", 0, 500, 50, 20);
       },
       U"button next to name", "field", true, "input", "field"},
      {"textbox is not an input: found only by relaxing",
       [](Page& p) {
         p.caption(U"Name", 0, 0, 50, 20);
         p.control(U"div", U"rich", 60, 0, 100, 20, {{U"role", U"textbox"}});
         p.control(U"input", U"below", 0, 100, 100, 20);
       },
       U"input next to name", "rich", true, "textbox", "rich"},
      {"filter removing every candidate is a failure, not relaxed",
       [](Page& p) {
         p.caption(U"Name", 0, 0, 50, 20);
         p.control(U"input", U"field", 60, 0, 100, 20);
       },
       U"select next to name", "(null)", false, "", ""},
      {"no anchor", [](Page& p) { p.control(U"button", U"Go", 0, 0, 10, 10); }, U"button next to nothing",
       "(null)", false, "", ""},
      {"no relation and no ordinal", [](Page& p) { p.control(U"button", U"login", 0, 0, 10, 10); }, U"login",
       "(null)", false, "", ""},
      {"the anchor is never its own candidate",
       [](Page& p) { p.control(U"button", U"Solo", 0, 0, 10, 10); }, U"near solo", "(null)", false, "", ""},
      {"target text narrows the pool",
       [](Page& p) {
         p.caption(U"Blue Backpack", 0, 0, 100, 20);
         p.control(U"button", U"Details", 0, 30, 100, 20);
         p.control(U"button", U"Add to Cart", 0, 60, 100, 20);
       },
       U"add to cart near blue backpack", "Add to Cart", false, "", "Add to Cart"},
      {"target text matching nothing narrows nothing",
       [](Page& p) {
         p.caption(U"Blue Backpack", 0, 0, 100, 20);
         p.control(U"button", U"Details", 0, 30, 100, 20);
         p.control(U"button", U"Add to Cart", 0, 60, 100, 20);
       },
       U"wishlist near blue backpack", "Details", false, "", "Details,Add to Cart"},
      {"ordinal with a relation",
       [](Page& p) {
         p.caption(U"Price", 0, 0, 100, 20);
         p.control(U"a", U"one", 0, 30, 100, 20);
         p.control(U"a", U"two", 0, 60, 100, 20);
       },
       U"second link below price", "two", false, "link", "two"},
      {"ordinal beyond the relation: relaxed search tried, then failure",
       [](Page& p) {
         p.caption(U"Price", 0, 0, 100, 20);
         p.control(U"a", U"one", 0, 30, 100, 20);
         p.control(U"button", U"b", 0, 90, 100, 20);
       },
       U"third link below price", "(null)", false, "", ""},
      {"ordinal reached only without the type filter",
       [](Page& p) {
         p.caption(U"Price", 0, 0, 100, 20);
         p.control(U"a", U"one", 0, 30, 100, 20);
         p.control(U"button", U"b", 0, 90, 100, 20);
       },
       U"second link below price", "b", true, "button", "b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Page p;
    c.setup(p);
    MatrixResolver r(p.matrix());
    RecordPtr res = r.resolve(*target(c.target));
    EXPECT_EQ(text_of(res->at(U"element")), c.element);
    EXPECT_EQ(candidate_texts(*res), c.candidates);
    if (std::string(c.element) == "(null)") {
      EXPECT_EQ(keys(*res), "resolved,confidence,element,candidates");
      EXPECT_FALSE(res->at(U"resolved").as_bool());
      EXPECT_EQ(res->at(U"confidence").as_real(), 0.0);
      continue;
    }
    EXPECT_EQ(keys(*res), "resolved,confidence,element,anchor_text,ordinal,type_relaxed,actual_type,candidates");
    EXPECT_TRUE(res->at(U"resolved").as_bool());
    EXPECT_EQ(res->at(U"confidence").as_real(), 1.0);
    EXPECT_EQ(res->at(U"type_relaxed").as_bool(), c.relaxed);
    const Value& at = res->at(U"actual_type");
    EXPECT_EQ(at.is_null() ? "" : u8(at.as_text()), c.actual_type);
  }
}

TEST(Resolve, AnchorTextAndOrdinalOfResult) {
  Page p;
  p.control(U"input", U"", 0, 0, 100, 20, {{U"_label", U"Email"}, {U"placeholder", U"you@example.com"}});
  auto go = p.control(U"button", U"Go", 120, 0, 50, 20);
  auto m = p.matrix();
  MatrixResolver r(m);
  RecordPtr res = r.resolve(*target(U"button next to email"));
  EXPECT_EQ(res->at(U"element").as_record(), go);  // the descriptor itself
  EXPECT_EQ(u8(res->at(U"anchor_text").as_text()), "Email you@example.com");
  EXPECT_EQ(res->at(U"ordinal").as_int64(), 1);
  EXPECT_EQ(r.resolve(*target(U"first button next to email"))->at(U"ordinal").as_int64(), 1);
}

TEST(Resolve, TargetKinds) {
  MatrixResolver r(make_list());
  // Absent target: nothing to resolve.
  EXPECT_FALSE(r.resolve(*make_record())->at(U"resolved").as_bool());
  auto null_target = make_record({{U"target", Value()}});
  try {
    r.resolve(*null_target);
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "Argument 'target' has incorrect type (expected str, got NoneType)");
  }
  try {
    r.resolve(*make_record({{U"target", 5}}));
    FAIL();
  } catch (const TypeError& e) {
    EXPECT_STREQ(e.what(), "Expected str, got int");
  }
}

TEST(Resolve, MissingKeysAreLookupFailures) {
  Page p;
  p.caption(U"Name", 0, 0, 50, 20);
  p.control(U"button", U"Go", 60, 0, 50, 20);
  auto m = p.matrix();
  m->items[1].as_record()->items.erase(m->items[1].as_record()->items.begin());  // drop index
  try {
    MatrixResolver(m).resolve(*target(U"button next to name"));
    FAIL();
  } catch (const KeyError& e) {
    EXPECT_EQ(u8(e.key), "index");
  }
}

// ---- ordinal resolution ------------------------------------------------------------------------

TEST(ResolveOrdinal, Table) {
  struct Case {
    const char* name;
    void (*setup)(Page&);
    std::int64_t ordinal;
    const char32_t* type;    // nullptr: no filter
    const char32_t* search;  // nullptr: no search text
    const char* element;
    const char* candidates;
  };
  const Case cases[] = {
      {"second of three links",
       [](Page& p) {
         p.control(U"a", U"l1", 0, 0, 10, 10);
         p.control(U"button", U"b", 0, 10, 10, 10);
         p.control(U"a", U"l2", 0, 20, 10, 10);
         p.control(U"a", U"l3", 0, 30, 10, 10);
       },
       2, U"link", nullptr, "l2", "l1,l2,l3"},
      {"too few", [](Page& p) { p.control(U"button", U"b1", 0, 0, 10, 10); p.control(U"button", U"b2", 0, 10, 10, 10); },
       3, U"button", nullptr, "(null)", ""},
      {"too few exact matches: folded substring list",
       [](Page& p) {
         p.control(U"button", U"Login", 0, 0, 10, 10);
         p.control(U"button", U"Login with email", 0, 10, 10, 10);
       },
       2, nullptr, U"login", "Login with email", "Login,Login with email"},
      {"enough exact matches: only they count",
       [](Page& p) {
         p.control(U"button", U"Login", 0, 0, 10, 10);
         p.control(U"button", U"Log-in form", 0, 10, 10, 10);
         p.control(U"button", U"  LOGIN ", 0, 20, 10, 10);
       },
       2, nullptr, U"login", "  LOGIN ", "Login,  LOGIN "},
      {"search text matching nothing is ignored",
       [](Page& p) {
         p.caption(U"Login", 0, 0, 10, 10);
         p.control(U"a", U"Home", 0, 10, 10, 10);
         p.control(U"button", U"Help", 0, 20, 10, 10);
       },
       1, nullptr, U"login", "Home", "Home,Help"},
      {"anchor-only entries never count",
       [](Page& p) {
         p.caption(U"Login", 0, 0, 10, 10);
         p.control(U"button", U"Sign in", 0, 10, 10, 10, {{U"aria-label", U"Login"}});
       },
       1, nullptr, U"login", "Sign in", "Sign in"},
      {"first input",
       [](Page& p) {
         p.control(U"button", U"b", 0, 0, 10, 10);
         p.control(U"textarea", U"t", 0, 10, 10, 10);
         p.control(U"input", U"i", 0, 20, 10, 10);
       },
       1, U"input", nullptr, "t", "t,i"},
      {"empty search text is no search text",
       [](Page& p) { p.control(U"button", U"b", 0, 0, 10, 10); }, 1, nullptr, U"", "b", "b"},
      {"ordinal 0 names nothing", [](Page& p) { p.control(U"button", U"b", 0, 0, 10, 10); }, 0, nullptr, nullptr,
       "(null)", ""},
      {"negative ordinal names nothing",
       [](Page& p) { p.control(U"button", U"b", 0, 0, 10, 10); p.control(U"button", U"c", 0, 10, 10, 10); }, -1,
       nullptr, U"b", "(null)", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Page p;
    c.setup(p);
    MatrixResolver r(p.matrix());
    std::optional<Text> tf, st;
    if (c.type) tf = c.type;
    if (c.search) st = c.search;
    RecordPtr res = r.resolve_ordinal(c.ordinal, tf, st);
    EXPECT_EQ(keys(*res), "resolved,confidence,element,candidates");
    EXPECT_EQ(text_of(res->at(U"element")), c.element);
    EXPECT_EQ(candidate_texts(*res), c.candidates);
    EXPECT_EQ(res->at(U"resolved").as_bool(), std::string(c.element) != "(null)");
  }
}

TEST(ResolveOrdinal, ThroughResolve) {
  Page p;
  p.control(U"button", U"Login", 0, 0, 10, 10);
  p.control(U"a", U"Home", 0, 10, 10, 10);
  p.control(U"button", U"Login with email", 0, 20, 10, 10);
  MatrixResolver r(p.matrix());
  EXPECT_EQ(text_of(r.resolve(*target(U"second login"))->at(U"element")), "Login with email");
  EXPECT_EQ(text_of(r.resolve(*target(U"Second Button"))->at(U"element")), "Login with email");
  EXPECT_EQ(text_of(r.resolve(*target(U"first link"))->at(U"element")), "Home");
  // The instruction's own ordinal key is not read.
  auto pi = target(U"first link");
  pi->set(U"ordinal", Value(3));
  EXPECT_EQ(text_of(r.resolve(*pi)->at(U"element")), "Home");
}

TEST(OrdinalValue, Kinds) {
  EXPECT_EQ(ordinal_value(Value(3), "ordinal"), 3);
  EXPECT_EQ(ordinal_value(Value(2.9), "ordinal"), 2);
  EXPECT_EQ(ordinal_value(Value(-0.5), "ordinal"), 0);
  EXPECT_EQ(ordinal_value(Value(1e30), "ordinal"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(ordinal_value(Value(BigInt{"-100000000000000000000", -1e20}), "ordinal"),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_THROW(ordinal_value(Value(std::nan("")), "ordinal"), ValueError);
  EXPECT_THROW(ordinal_value(Value(HUGE_VAL), "ordinal"), ValueError);
  const std::pair<Value, const char*> bad[] = {{Value(true), "bool"}, {Value(U"2"), "str"}, {Value(), "NoneType"}};
  for (const auto& [v, kind] : bad) {
    try {
      ordinal_value(v, "ordinal");
      FAIL() << kind;
    } catch (const TypeError& e) {
      EXPECT_EQ(std::string(e.what()), std::string("Argument 'ordinal' has incorrect type (expected int, got ") + kind + ")");
    }
  }
}

}  // namespace
}  // namespace qv::gridlocator
