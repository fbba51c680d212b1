// The survey against a simulated page: injected faults a real browser
// cannot be made to show on cue, and the pure steps (wrapper removal,
// spatial labels, snapshot layout and files).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "browser/pagesurvey.hpp"

namespace qv::browser {
namespace {

using Attrs = std::vector<std::pair<Text, Text>>;

struct FakeElement {
  bool visible = true;
  bool enabled = true;
  Text tag = U"button";
  std::optional<Text> inner;
  Attrs attrs;
  Value box;
  Text xpath;
  bool direct = true;
  Value prev_label;     // previous-sibling script answer
  Value earlier_label;  // earlier-child script answer
  std::set<std::string> fail;  // operations that throw
};

// The injected error; tests compare payload pointers to prove it is the
// very error that comes out.
std::shared_ptr<void> marker(int n) { return std::make_shared<int>(n); }

class FakeHandle : public ElementHandle {
 public:
  explicit FakeHandle(FakeElement e) : e_(std::move(e)) {}
  bool is_visible() override { return check("is_visible"), e_.visible; }
  bool is_enabled() override { return check("is_enabled"), e_.enabled; }
  std::optional<Text> inner_text() override { return check("inner_text"), e_.inner; }
  std::optional<Text> get_attribute(TextView name) override {
    check("attr:" + to_utf8(name));
    for (const auto& [k, v] : e_.attrs)
      if (k == name) return v;
    return std::nullopt;
  }
  Value bounding_box() override { return check("bounding_box"), e_.box; }
  Value evaluate(TextView script) override {
    if (script == kTagNameJs) return check("tag"), Value(e_.tag);
    if (script == xpath_js()) return check("xpath"), Value(e_.xpath);
    if (script == kDirectTextJs) return check("direct"), Value(e_.direct);
    if (script == kPreviousSiblingLabelJs) return check("prev"), e_.prev_label;
    if (script == kEarlierChildLabelJs) return check("earlier"), e_.earlier_label;
    if (script == kDataAttributesJs) {
      check("data");
      auto r = make_record();
      for (const auto& [k, v] : e_.attrs)
        if (k.rfind(U"data-", 0) == 0) r->set(k, v);
      return r;
    }
    throw PageError("unknown script", nullptr);
  }

 private:
  void check(const std::string& op) {
    if (e_.fail.count(op)) throw PageError("injected " + op, marker(1));
  }
  FakeElement e_;
};

class FakePage : public Page {
 public:
  std::map<Text, std::vector<HandlePtr>> matches;
  std::map<Text, std::shared_ptr<void>> failing_queries;
  Value pointer_result;
  std::shared_ptr<void> pointer_failure;
  Text page_url = U"https://example.test/a/b";
  int url_reads = 0;

  void add(TextView selector, FakeElement e) {
    matches[Text(selector)].push_back(std::make_shared<FakeHandle>(std::move(e)));
  }
  std::vector<HandlePtr> query_selector_all(TextView selector) override {
    if (auto it = failing_queries.find(Text(selector)); it != failing_queries.end())
      throw PageError("query failed", it->second);
    auto it = matches.find(Text(selector));
    return it == matches.end() ? std::vector<HandlePtr>{} : it->second;
  }
  HandlePtr query_selector(TextView selector) override {
    auto found = query_selector_all(selector);
    return found.empty() ? nullptr : found.front();
  }
  Value evaluate(TextView) override {
    if (pointer_failure) throw PageError("navigating", pointer_failure);
    return pointer_result;
  }
  Text url() override { return ++url_reads, page_url; }
};

class FakeHost : public Host {
 public:
  bool save = false;
  Text dir;
  std::vector<Text> printed;
  std::tm when{};
  bool save_snapshots() override { return save; }
  Text log_path() override { return dir; }
  void print_line(TextView line) override { printed.emplace_back(line); }
  std::tm local_now() override { return when; }
};

RecordPtr box(double x, double y, double w, double h) {
  return make_record({{U"x", x}, {U"y", y}, {U"width", w}, {U"height", h}});
}

FakeElement element(Text xpath, std::set<std::string> fail = {}) {
  FakeElement e;
  e.inner = U"  Save  ";
  e.box = box(0, 0, 10, 10);
  e.xpath = std::move(xpath);
  e.fail = std::move(fail);
  return e;
}

std::vector<Text> xpaths(const List& l) {
  std::vector<Text> out;
  for (const Value& v : l.items) out.push_back(v.record()->at(U"xpath").text());
  return out;
}

// ---- injected faults ------------------------------------------------------

struct FaultCase {
  const char* source;  // which selector the elements answer
  std::string op;      // the failing call of the middle element
};

class ElementFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ElementFault, DropsExactlyThatElement) {
  const FaultCase& c = GetParam();
  FakePage page;
  FakeHost host;
  Text selector = c.source == std::string("native")   ? interactable_selector()
                  : c.source == std::string("custom") ? custom_input_selector()
                  : c.source == std::string("text")   ? text_selector()
                                                      : Text(kLabelCandidateSelector);
  for (int i = 0; i < 3; ++i) {
    FakeElement e = element(U"/x[" + Text(1, U'1' + i) + U"]", i == 1 ? std::set{c.op} : std::set<std::string>{});
    e.tag = c.source == std::string("custom") ? U"div" : U"input";
    e.attrs = {{U"class", U"editable"}};
    e.inner = U"text " + Text(1, U'1' + i);  // distinct texts: no wrapper, no duplicate label
    e.box = box(20.0 * i, 0, 10, 10);
    page.add(selector, e);
  }
  DomParser parser(page, host);
  if (c.source == std::string("label")) {
    auto cands = parser.collect_label_candidates();
    ASSERT_EQ(cands->size(), 2u);
    EXPECT_EQ(cands->items[1].record()->at(U"text").text(), U"text 3");
    return;
  }
  ListPtr got = c.source == std::string("native")   ? parser.extract_interactable_elements().first
                : c.source == std::string("custom") ? parser.extract_custom_inputs()
                                                    : parser.extract_text_elements();
  EXPECT_EQ(xpaths(*got), (std::vector<Text>{U"/x[1]", U"/x[3]"})) << c.source << " " << c.op;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ElementFault,
    ::testing::Values(
        FaultCase{"native", "is_visible"}, FaultCase{"native", "is_enabled"},
        FaultCase{"native", "tag"}, FaultCase{"native", "inner_text"},
        FaultCase{"native", "bounding_box"}, FaultCase{"native", "attr:placeholder"},
        FaultCase{"native", "data"}, FaultCase{"native", "xpath"},
        // an attribute read of the field-label rules reaches the element
        FaultCase{"native", "attr:aria-label"}, FaultCase{"custom", "tag"},
        FaultCase{"custom", "attr:class"}, FaultCase{"custom", "bounding_box"},
        FaultCase{"custom", "is_visible"}, FaultCase{"custom", "xpath"},
        FaultCase{"custom", "inner_text"}, FaultCase{"custom", "attr:title"},
        FaultCase{"text", "is_visible"}, FaultCase{"text", "inner_text"},
        FaultCase{"text", "bounding_box"}, FaultCase{"text", "attr:href"},
        FaultCase{"text", "data"}, FaultCase{"text", "direct"},
        FaultCase{"label", "is_visible"}, FaultCase{"label", "inner_text"},
        FaultCase{"label", "bounding_box"}));

TEST(PageWideQuery, FailureFailsTheSurveyWithThatError) {
  for (Text selector : {interactable_selector(), custom_input_selector(), text_selector(),
                        Text(kLabelCandidateSelector)}) {
    FakePage page;
    FakeHost host;
    auto err = marker(7);
    page.failing_queries[selector] = err;
    try {
      DomParser(page, host).extract_interactable_elements();
      ADD_FAILURE() << "no error for " << to_utf8(selector);
    } catch (const PageError& e) {
      EXPECT_EQ(e.payload, err);
    }
  }
}

TEST(PageWideQuery, FailingPointerScriptOnlyLosesThatSource) {
  FakePage page;
  FakeHost host;
  page.add(interactable_selector(), element(U"/b[1]"));
  page.pointer_failure = marker(3);
  auto [elements, texts] = DomParser(page, host).extract_interactable_elements();
  EXPECT_EQ(xpaths(*elements), std::vector<Text>{U"/b[1]"});
}

TEST(PageWideQuery, AbortIsNeverSwallowed) {
  class AbortingHandle : public FakeHandle {
   public:
    using FakeHandle::FakeHandle;
    bool is_visible() override { throw PageAbort("interrupted", marker(9)); }
  };
  FakePage page;
  FakeHost host;
  page.matches[interactable_selector()].push_back(std::make_shared<AbortingHandle>(element(U"/b[1]")));
  EXPECT_THROW(DomParser(page, host).extract_interactable_elements(), PageAbort);
  page.pointer_failure = nullptr;
  page.matches.clear();
  class AbortingPage : public FakePage {
    Value evaluate(TextView) override { throw PageAbort("interrupted", nullptr); }
  } aborting;
  EXPECT_THROW(DomParser(aborting, host).extract_cursor_pointer_elements(), PageAbort);
}

// ---- field labels -----------------------------------------------------------

struct LabelCase {
  const char* name;
  Attrs attrs;
  std::map<Text, std::optional<Text>> others;  // selector -> inner text of its match
  std::set<Text> failing;                      // selectors / scripts that fail
  Value prev, earlier;
  Text expected;
};

TEST(FieldLabel, RulesInOrder) {
  const Text prev = kPreviousSiblingLabelJs, earlier = kEarlierChildLabelJs;
  std::vector<LabelCase> cases = {
      {"aria-label wins", {{U"aria-label", U" Mail "}, {U"placeholder", U"p"}}, {}, {}, {}, {}, U"Mail"},
      {"blank aria-label falls through", {{U"aria-label", U"  "}, {U"placeholder", U"p"}}, {}, {}, {}, {}, U"p"},
      {"labelledby used whole", {{U"aria-labelledby", U"a b"}}, {{U"#a b", U" Named "}}, {}, {}, {}, U"Named"},
      {"labelledby without match", {{U"aria-labelledby", U"a"}, {U"title", U"t"}}, {}, {}, {}, {}, U"t"},
      {"labelledby query fails", {{U"aria-labelledby", U"a"}, {U"title", U"t"}}, {{U"#a", U"x"}}, {U"#a"}, {}, {}, U"t"},
      {"label for beats placeholder", {{U"id", U"e"}, {U"placeholder", U"p"}}, {{U"label[for=\"e\"]", U"Email"}}, {}, {}, {}, U"Email"},
      {"empty label text moves on", {{U"id", U"e"}, {U"placeholder", U"p"}}, {{U"label[for=\"e\"]", U" "}}, {}, {}, {}, U"p"},
      {"empty id skips rule 3", {{U"id", U""}}, {{U"label[for=\"\"]", U"no"}}, {}, Value(U"Prev"), {}, U"Prev"},
      {"sibling script trimmed", {}, {}, {}, Value(U" Prev "), Value(U"Earlier"), U"Prev"},
      {"sibling script fails", {}, {}, {prev}, Value(U"Prev"), Value(U"Earlier"), U"Earlier"},
      {"non-text answer ignored", {}, {}, {}, Value(true), Value(U"Earlier"), U"Earlier"},
      {"both scripts fail", {}, {}, {prev, earlier}, Value(U"a"), Value(U"b"), U""},
      {"nothing", {}, {}, {}, {}, {}, U""},
  };
  for (const LabelCase& c : cases) {
    FieldLabelQuestions ask{
        [&](TextView name) -> std::optional<Text> {
          for (const auto& [k, v] : c.attrs)
            if (k == name) return v;
          return std::nullopt;
        },
        [&](TextView sel) -> std::optional<Text> {
          if (c.failing.count(Text(sel))) throw PageError("query", nullptr);
          auto it = c.others.find(Text(sel));
          if (it == c.others.end()) return std::nullopt;
          return it->second;
        },
        [&](TextView js) -> Value {
          if (c.failing.count(Text(js))) throw PageError("script", nullptr);
          return js == prev ? c.prev : c.earlier;
        },
    };
    EXPECT_EQ(to_utf8(field_label(ask)), to_utf8(c.expected)) << c.name;
  }
}

// ---- pointer-cursor records -------------------------------------------------

TEST(PointerDescriptors, FirstOfEachPathAndOptionalAttributes) {
  auto rec = [](Text xpath, Text cls, Text aria) {
    return Value(make_record({{U"text", U"Settings"}, {U"xpath", xpath}, {U"x", 1}, {U"y", 2},
                              {U"w", 0}, {U"h", 4}, {U"cls", cls}, {U"aria", aria}}));
  };
  auto l = make_list();
  l->push_back(rec(U"/div[1]", U"", U""));
  l->push_back(rec(U"/div[1]", U"dup", U""));
  l->push_back(rec(U"/div[2]", U"c", U"Open"));
  ListPtr got = pointer_descriptors(Value(l));
  ASSERT_EQ(got->size(), 2u);
  const Record& first = *got->items[0].record();
  EXPECT_TRUE(first.at(U"attributes").record()->empty());
  EXPECT_EQ(first.at(U"tag").text(), U"button");
  EXPECT_EQ(to_json(first.at(U"bounding_box")),
            "{\n  \"x\": 1,\n  \"y\": 2,\n  \"width\": 0,\n  \"height\": 4\n}");
  EXPECT_EQ(to_json(got->items[1].record()->at(U"attributes")),
            "{\n  \"class\": \"c\",\n  \"aria-label\": \"Open\"\n}");
  EXPECT_TRUE(pointer_descriptors(Value())->empty());
  EXPECT_TRUE(pointer_descriptors(Value(make_list()))->empty());
}

// ---- wrapper removal ---------------------------------------------------------

RecordPtr text_el(Text text, bool direct, RecordPtr b) {
  return text_descriptor(U"div", std::move(text), direct, make_record(), Value(b), U"/d");
}

TEST(Dedup, Cases) {
  struct Case {
    const char* name;
    std::vector<RecordPtr> input;
    std::vector<std::size_t> kept;
  };
  std::vector<Case> cases = {
      {"li around a smaller span with its text",
       {text_el(U"Price", false, box(0, 0, 100, 20)), text_el(U"Price", true, box(5, 2, 40, 16))},
       {1}},
      {"direct text stays",
       {text_el(U"Total: 42", true, box(0, 0, 100, 20)), text_el(U"42", true, box(50, 2, 20, 16))},
       {0, 1}},
      {"equal areas stay",
       {text_el(U"A", false, box(0, 0, 10, 10)), text_el(U"A", false, box(0, 0, 10, 10))},
       {0, 1}},
      {"touching boxes do not overlap",
       {text_el(U"AB", false, box(0, 0, 10, 10)), text_el(U"A", true, box(10, 0, 5, 5))},
       {0, 1}},
      {"text must occur, case kept",
       {text_el(U"price", false, box(0, 0, 100, 20)), text_el(U"Price", true, box(5, 2, 40, 16))},
       {0, 1}},
      {"a dropped element still dominates",
       {text_el(U"abc", false, box(0, 0, 100, 100)), text_el(U"ab", false, box(0, 0, 50, 50)),
        text_el(U"a", true, box(0, 0, 10, 10))},
       {2}},
  };
  for (const Case& c : cases) {
    auto l = make_list();
    for (const auto& r : c.input) l->push_back(r);
    ListPtr got = dedup_text_elements(*l);
    std::vector<const Record*> want, have;
    for (std::size_t i : c.kept) want.push_back(c.input[i].get());
    for (const Value& v : got->items) have.push_back(v.record().get());
    EXPECT_EQ(have, want) << c.name;
  }
}

TEST(Dedup, SameRecordTwiceIsNotItsOwnWrapper) {
  auto r = text_el(U"x", false, box(0, 0, 10, 10));
  auto small = text_el(U"y", true, box(0, 0, 1, 1));
  auto l = make_list();
  l->push_back(r);
  l->push_back(r);
  l->push_back(small);
  EXPECT_EQ(dedup_text_elements(*l)->size(), 3u);
}

// ---- spatial labels ----------------------------------------------------------

TEST(SpatialLabels, NearestAboveWithHorizontalOverlap) {
  auto cand = [](Text t, RecordPtr b) { return Value(make_record({{U"text", t}, {U"bounding_box", b}})); };
  auto field = [](RecordPtr b, Attrs attrs = {}) {
    auto a = make_record();
    for (auto& [k, v] : attrs) a->set(k, v);
    return Value(interactable_descriptor(U"input", U"", a, Value(b), true, true, U"/i"));
  };
  struct Case {
    const char* name;
    std::vector<Value> cands;
    Value element;
    std::optional<Text> expected;
  };
  std::vector<Case> cases = {
      {"bottom on the top edge wins", {cand(U"Far", box(0, 0, 50, 10)), cand(U"Near", box(0, 30, 50, 20))},
       field(box(0, 50, 100, 20)), U"Near"},
      {"equal distance: first", {cand(U"A", box(0, 30, 10, 10)), cand(U"B", box(50, 30, 10, 10))},
       field(box(0, 50, 100, 20)), U"A"},
      {"right edge on the field's left edge", {cand(U"Edge", box(0, 0, 20, 10))},
       field(box(20, 50, 100, 20)), U"Edge"},
      {"beside without overlap", {cand(U"Side", box(0, 0, 19, 10))}, field(box(20, 50, 100, 20)),
       std::nullopt},
      {"below never labels", {cand(U"Below", box(0, 60, 50, 10))}, field(box(0, 50, 100, 20)),
       std::nullopt},
      {"existing label kept", {cand(U"Other", box(0, 0, 50, 10))},
       field(box(0, 50, 100, 20), {{U"_label", U"Mine"}}), std::nullopt},
      {"no distance limit", {cand(U"Top", box(0, -5000, 50, 10))}, field(box(0, 50, 100, 20)),
       U"Top"},
  };
  for (const Case& c : cases) {
    auto cands = make_list();
    for (const Value& v : c.cands) cands->push_back(v);
    auto els = make_list();
    els->push_back(c.element);
    std::vector<std::size_t> stored;
    assign_spatial_labels(*els, *cands, [&](std::size_t i, const Value&) { stored.push_back(i); });
    const Record& attrs = *c.element.record()->at(U"attributes").record();
    const Value* label = attrs.find(U"_label");
    if (c.expected) {
      ASSERT_TRUE(label) << c.name;
      EXPECT_EQ(label->text(), *c.expected) << c.name;
      EXPECT_EQ(attrs.items.back().first, U"_label") << c.name;
      EXPECT_EQ(stored, std::vector<std::size_t>{0}) << c.name;
    } else {
      EXPECT_TRUE(stored.empty()) << c.name;
    }
  }
}

// ---- snapshots ------------------------------------------------------------------

TEST(Snapshot, FloatReprAsPython) {
  std::vector<std::pair<double, std::string>> cases = {
      {8.0, "8.0"},       {0.0, "0.0"},          {-0.0, "-0.0"},         {0.1, "0.1"},
      {46.21875, "46.21875"}, {1e16, "1e+16"},   {1e15, "1000000000000000.0"},
      {1.5e-7, "1.5e-07"}, {0.0001, "0.0001"},   {1e-05, "1e-05"},       {123456789.125, "123456789.125"},
      {1.7976931348623157e308, "1.7976931348623157e+308"}, {5e-324, "5e-324"}, {-2.5, "-2.5"}};
  for (auto& [d, want] : cases) EXPECT_EQ(float_repr(d), want);
  EXPECT_EQ(to_json(Value(std::nan(""))), "NaN");
}

TEST(Snapshot, UrlSlugAndName) {
  EXPECT_EQ(url_slug(U"s://h/a/b"), U"s_h_a_b");
  EXPECT_EQ(url_slug(U"http://h/?q=a:b#f"), U"http_h_?q=a:b#f");
  EXPECT_EQ(url_slug(Text(100, U'x')).size(), 60u);
  std::tm t{};
  t.tm_year = 125, t.tm_mon = 1, t.tm_mday = 4, t.tm_hour = 9, t.tm_min = 5, t.tm_sec = 3;
  EXPECT_EQ(timestamp(t), "20250204_090503");
  EXPECT_EQ(join_path("data/logs/", "f.json"), "data/logs/f.json");
  EXPECT_EQ(join_path("data/logs", "f.json"), "data/logs/f.json");
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/pagesurvey_test_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
  std::string path;
};

TEST(Snapshot, WritesFileAndLine) {
  TempDir tmp;
  FakePage page;
  FakeHost host;
  host.save = true;
  host.dir = from_utf8(tmp.path + "/a/b");
  host.when.tm_year = 125, host.when.tm_mon = 1, host.when.tm_mday = 4;
  host.when.tm_hour = 9, host.when.tm_min = 5, host.when.tm_sec = 3;
  auto els = make_list();
  els->push_back(make_record({{U"text", U"caf\u00e9 \U0001F600"}, {U"n", 8.0}, {U"l", make_list()}}));
  DomParser(page, host).save_snapshot(*els, List());
  std::string path = tmp.path + "/a/b/20250204_090503_https_example.test_a_b.json";
  std::ifstream in(path);
  ASSERT_TRUE(in) << path;
  std::stringstream content;
  content << in.rdbuf();
  EXPECT_EQ(content.str(),
            "{\n  \"url\": \"https://example.test/a/b\",\n  \"elements\": [\n    {\n"
            "      \"text\": \"caf\\u00e9 \\ud83d\\ude00\",\n      \"n\": 8.0,\n      \"l\": []\n"
            "    }\n  ],\n  \"text_elements\": []\n}");
  ASSERT_EQ(host.printed.size(), 1u);
  EXPECT_EQ(host.printed[0], U"  [DOM snapshot saved \u2192 " + from_utf8(path) + U"]");
  EXPECT_EQ(page.url_reads, 2);  // the slug, then the content
}

TEST(Snapshot, OffWritesNothing) {
  TempDir tmp;
  FakePage page;
  FakeHost host;
  host.dir = from_utf8(tmp.path + "/never");
  DomParser(page, host).save_snapshot(List(), List());
  EXPECT_NE(access((tmp.path + "/never").c_str(), F_OK), 0);
  EXPECT_TRUE(host.printed.empty());
}

TEST(Snapshot, UnwritableDirectoryRaisesAndPrintsNothing) {
  TempDir tmp;
  std::ofstream(tmp.path + "/file") << "x";
  FakePage page;
  FakeHost host;
  host.save = true;
  for (auto [dir, err, failing] :
       {std::tuple{tmp.path + "/file/sub", ENOTDIR, tmp.path + "/file/sub"},
        std::tuple{tmp.path + "/file/a/b", ENOTDIR, tmp.path + "/file/a"},
        std::tuple{tmp.path + "/file", EEXIST, tmp.path + "/file"}}) {
    host.dir = from_utf8(dir);
    try {
      DomParser(page, host).save_snapshot(List(), List());
      ADD_FAILURE() << dir;
    } catch (const OSError& e) {
      EXPECT_EQ(e.errnum, err) << dir;
      EXPECT_EQ(e.filename, failing);
    }
  }
  EXPECT_TRUE(host.printed.empty());
}

TEST(Snapshot, CycleAndForeignRefused) {
  auto r = make_record();
  r->set(U"self", r);
  EXPECT_THROW(to_json(Value(r)), ValueError);
  r->items.clear();
  EXPECT_THROW(to_json(Value(Foreign{"tuple", nullptr})), TypeError);
  // The same record twice is no cycle.
  auto inner = make_record({{U"a", 1}});
  auto l = make_list();
  l->push_back(inner);
  l->push_back(inner);
  EXPECT_NO_THROW(to_json(Value(l)));
}

// ---- the one-script survey ----------------------------------------------------

struct JsonCase {
  const char32_t* text;
  std::string kind;  // kind_name() of the result, or "error"
  std::string shown; // to_json() of the result
};

TEST(ParseJson, KindsAndValuesAsPythonReadsThem) {
  std::vector<JsonCase> cases = {
      {U"5", "int", "5"},
      {U"-0", "int", "0"},
      {U"5.5", "float", "5.5"},
      {U"10.015625", "float", "10.015625"},
      {U"1e+21", "float", "1e+21"},
      {U"1e-400", "float", "0.0"},
      {U"100000000000000000000", "int", "100000000000000000000"},
      {U" [1, 2.0 , null,true,false] ", "list", "[\n  1,\n  2.0,\n  null,\n  true,\n  false\n]"},
      {U"{\"a\":1,\"b\":2,\"a\":3}", "dict", "{\n  \"a\": 3,\n  \"b\": 2\n}"},
      {U"\"\\ud83d\\ude00 \\u00e9\\n\"", "str", "\"\\ud83d\\ude00 \\u00e9\\n\""},
      {U"\"\\ud800x\"", "str", "\"\\ud800x\""},
      {U"", "error", ""},
      {U"[1,", "error", ""},
      {U"{\"a\"}", "error", ""},
      {U"tru", "error", ""},
      {U"[1] x", "error", ""},
      {U"\"a\u0001\"", "error", ""},
      {U"\"\\x\"", "error", ""},
      {U"1.", "error", ""},
  };
  for (const JsonCase& c : cases) {
    SCOPED_TRACE(to_utf8(c.text));
    if (c.kind == "error") {
      EXPECT_THROW(parse_json(c.text), ValueError);
      continue;
    }
    Value v = parse_json(c.text);
    EXPECT_EQ(v.kind_name(), c.kind);
    EXPECT_EQ(to_json(v), c.shown);
  }
  EXPECT_THROW(parse_json(Text(300, U'[') + Text(300, U']')), ValueError);
  EXPECT_NO_THROW(parse_json(Text(100, U'[') + Text(100, U']')));
}

// A page that also runs the survey's scripts: canned answers per selector.
class ScriptedPage : public FakePage {
 public:
  std::map<Text, Value> answers;
  std::shared_ptr<void> script_failure;
  int scripts = 0;
  Value eval_on_selector_all(TextView selector, TextView) override {
    ++scripts;
    if (script_failure) throw PageError("script failed", script_failure);
    auto it = answers.find(Text(selector));
    return it == answers.end() ? Value(U"[]") : it->second;
  }
};

// Two buttons, native only (bit 1): the first answered, the second sent
// back to the real calls.
const char32_t kRecordedButton[] =
    U"[{\"m\":1,\"v\":true,\"en\":false,\"t\":\"button\",\"it\":\" Go \","
    U"\"a\":{\"id\":\"b1\",\"class\":\"\"},"
    U"\"b\":[1,2.5,30,20],\"d\":{\"data-x\":\"1\"},\"p\":\"/b[1]\"}, 1]";

TEST(FastSurvey, RecordedAnswersAndFlaggedElementsAskedTheUsualWay) {
  ScriptedPage page;
  FakeHost host;
  page.answers[fast_survey_selector(kAllSources)] = Value(Text(kRecordedButton));
  // The page's own handles: only the second (flagged) one is asked.
  page.add(interactable_selector(), element(U"/never[1]", {"is_visible", "bounding_box"}));
  page.add(interactable_selector(), element(U"/b[2]"));
  ListPtr got = DomParser(page, host, SurveyMode::fast).extract_interactable_elements().first;
  ASSERT_EQ(xpaths(*got), (std::vector<Text>{U"/b[1]", U"/b[2]"}));
  EXPECT_EQ(to_json(got->items[0]),
            "{\n  \"tag\": \"button\",\n  \"text\": \"Go\",\n  \"attributes\": {\n"
            "    \"id\": \"b1\",\n    \"class\": \"\",\n    \"data-x\": \"1\"\n  },\n"
            "  \"bounding_box\": {\n    \"x\": 1,\n    \"y\": 2.5,\n    \"width\": 30,\n"
            "    \"height\": 20\n  },\n  \"is_visible\": true,\n  \"is_enabled\": false,\n"
            "  \"xpath\": \"/b[1]\"\n}");
  EXPECT_EQ(page.scripts, 1);
}

TEST(FastSurvey, OneAnswerListSplitsAmongItsSources) {
  // A native-and-text button (bits 1 and 4), then two text-and-label
  // elements (4 and 8) of which the first is sent back to the real calls.
  const Value answer(Text(
      U"[{\"m\":5,\"v\":true}, 12, {\"m\":12,\"v\":false}]"));
  FakePage page;
  for (const char32_t* p : {U"/t[1]", U"/t[2]", U"/t[3]"}) page.add(text_selector(), element(p));
  page.add(source_selector(Source::label_candidate), element(U"/l[1]"));
  page.add(source_selector(Source::label_candidate), element(U"/l[2]"));
  SourceHandles got = recorded_handles(page, kAllSources, answer);
  const auto& native = *got[0];
  const auto& custom = *got[1];
  const auto& text = *got[2];
  const auto& label = *got[3];
  ASSERT_EQ(native.size(), 1u);
  EXPECT_TRUE(custom.empty());
  ASSERT_EQ(text.size(), 3u);
  ASSERT_EQ(label.size(), 2u);
  EXPECT_EQ(native[0], text[0]);  // one element, one record
  EXPECT_TRUE(native[0]->is_visible());
  EXPECT_EQ(text[1], page.matches[text_selector()][1]);
  EXPECT_EQ(label[0], page.matches[source_selector(Source::label_candidate)][0]);
  EXPECT_EQ(text[2], label[1]);
  EXPECT_FALSE(label[1]->is_visible());

  // The page changed between the script and the query: that source is
  // asked element by element, the others keep their answers.
  page.add(text_selector(), element(U"/t[4]"));
  got = recorded_handles(page, kAllSources, answer);
  EXPECT_EQ(*got[2], page.matches[text_selector()]);
  EXPECT_NE((*got[3])[1], page.matches[source_selector(Source::label_candidate)][1]);
  EXPECT_FALSE((*got[3])[1]->is_visible());

  // Asked for fewer sources, an answer naming another is malformed.
  EXPECT_THROW(recorded_handles(page, source_bit(Source::native), answer), ValueError);
}

TEST(FastSurvey, ScriptSelectors) {
  EXPECT_EQ(fast_survey_selector(source_bit(Source::text)), text_selector());
  EXPECT_EQ(fast_survey_selector(kAllSources), U"*, *");
  // Each part once, in source order.
  EXPECT_EQ(sources_selector(source_bit(Source::text) | source_bit(Source::label_candidate)),
            text_selector());
  std::vector<Text> parts;
  Text all = sources_selector(kAllSources) + U", ";
  for (std::size_t at = 0, cut; (cut = all.find(U", ", at)) != Text::npos; at = cut + 2)
    parts.push_back(all.substr(at, cut - at));
  EXPECT_EQ(std::set<Text>(parts.begin(), parts.end()).size(), parts.size());
  // The native parts, the custom-input ones, then the text tags not yet named.
  ASSERT_EQ(parts.size(), 21u + 4u + 13u);
  EXPECT_EQ(parts[0], U"button");
  EXPECT_EQ(parts[21], U"span[class*='editable']");
  EXPECT_EQ(parts[25], U"h1");
}

TEST(FastSurvey, FailingOrMalformedScriptFallsBackToTheReference) {
  const std::vector<std::pair<const char*, Value>> cases{
      {"throws", Value()},
      {"malformed", Value(U"[{\"v\": tru")},
      {"not a text", Value(7)},
      {"no sources named", Value(U"[{\"v\": true}]")},
      {"unknown source bit", Value(U"[16]")},
      {"negative bits", Value(U"[-1]")},
      {"bits not a number", Value(U"[{\"m\": \"1\"}]")},
      {"item neither record nor bits", Value(U"[\"x\"]")},
  };
  for (const auto& [how, answer] : cases) {
    SCOPED_TRACE(how);
    ScriptedPage page;
    FakeHost host;
    if (std::string(how) == "throws") page.script_failure = marker(4);
    page.answers[fast_survey_selector(kAllSources)] = answer;
    page.add(interactable_selector(), element(U"/b[1]"));
    ListPtr got = DomParser(page, host, SurveyMode::fast).extract_interactable_elements().first;
    EXPECT_EQ(xpaths(*got), std::vector<Text>{U"/b[1]"});
  }
}

TEST(FastSurvey, WhenTheReferenceFailsTooItsErrorComesOut) {
  ScriptedPage page;
  FakeHost host;
  page.script_failure = marker(5);
  auto err = marker(6);
  page.failing_queries[text_selector()] = err;
  try {
    DomParser(page, host, SurveyMode::fast).extract_interactable_elements();
    ADD_FAILURE() << "no error";
  } catch (const PageError& e) {
    EXPECT_EQ(e.payload, err);
  }
  class AbortingScripts : public ScriptedPage {
    Value eval_on_selector_all(TextView, TextView) override { throw PageAbort("interrupted", nullptr); }
  } aborting;
  EXPECT_THROW(DomParser(aborting, host, SurveyMode::fast).extract_interactable_elements(), PageAbort);
}

TEST(FastSurvey, ReferenceModeRunsNoScript) {
  ScriptedPage page;
  FakeHost host;
  page.add(interactable_selector(), element(U"/b[1]"));
  DomParser(page, host, SurveyMode::reference).extract_interactable_elements();
  EXPECT_EQ(page.scripts, 0);
}

}  // namespace
}  // namespace qv::browser
