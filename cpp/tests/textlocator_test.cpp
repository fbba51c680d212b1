// Tables of cases for the text strategy: matching helpers, element
// resolution, text search and state checks, spatial text steps, errors, and
// the promise that a descriptor cut down to the fields a step reads resolves
// the same.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "common/text.hpp"
#include "strategies/textlocator.hpp"

using namespace qv;
namespace tl = qv::textlocator;

namespace {

using KV = std::initializer_list<std::pair<TextView, Value>>;

Value rec(KV kv) { return Value(make_record(kv)); }
Value box(double x, double y, double w = 10, double h = 10) {
  return rec({{U"x", x}, {U"y", y}, {U"width", w}, {U"height", h}});
}
ListPtr list(std::initializer_list<Value> items) { return std::make_shared<List>(items); }

// An interactable descriptor: text, attributes, top-left corner, visibility.
Value el(TextView text, Value attrs = rec({}), double x = 0, double y = 0, bool visible = true,
         TextView tag = U"button") {
  return rec({{U"tag", Text(tag)},
              {U"text", Text(text)},
              {U"attributes", attrs},
              {U"bounding_box", box(x, y)},
              {U"is_visible", visible},
              {U"is_enabled", true},
              {U"xpath", U"/html[1]/body[1]/button[1]"}});
}

// A text descriptor with its box and xpath.
Value txt(TextView text, double x, double y, double w, double h, TextView xpath,
          TextView tag = U"span") {
  return rec({{U"tag", Text(tag)},
              {U"text", Text(text)},
              {U"has_direct_text", true},
              {U"attributes", rec({})},
              {U"bounding_box", rec({{U"x", x}, {U"y", y}, {U"width", w}, {U"height", h}})},
              {U"is_visible", true},
              {U"is_enabled", true},
              {U"xpath", Text(xpath)}});
}

std::string u8(TextView t) { return to_utf8(t); }

// Which of `pool` a value is ("#2"), or its text form.
std::string name_of(const Value& v, const std::vector<ListPtr>& pools) {
  if (v.is_null()) return "null";
  int base = 0;
  for (const ListPtr& pool : pools) {
    if (!pool) continue;
    for (std::size_t i = 0; i < pool->size(); ++i)
      if (v.is_record() && (*pool)[i].is_record() &&
          (*pool)[i].as_record().get() == v.as_record().get())
        return "#" + std::to_string(base + i);
    base += static_cast<int>(pool->size());
  }
  switch (v.kind()) {
    case Kind::Bool: return v.as_bool() ? "true" : "false";
    case Kind::Real: return std::to_string(v.as_real());
    case Kind::Text: return "'" + u8(v.as_text()) + "'";
    case Kind::Record: {
      std::string s = "{";
      for (const auto& [k, x] : v.as_record()->items) s += u8(k) + ":" + name_of(x, pools) + " ";
      return s + "}";
    }
    case Kind::List: {
      std::string s = "[";
      for (const Value& x : v.as_list()->items) s += name_of(x, pools) + " ";
      return s + "]";
    }
    default: return v.kind_name();
  }
}

// A result as one line: keys in order, descriptors by their index in the
// given lists (dom first, then texts).
std::string describe(const RecordPtr& r, const ListPtr& dom, const ListPtr& texts = nullptr) {
  return name_of(Value(r), {dom, texts});
}

tl::DOMStrategy strategy;

RecordPtr step(KV instr, const ListPtr& dom, const ListPtr& texts = nullptr) {
  return strategy.resolve(*make_record(instr), dom, texts);
}

}  // namespace

// ---- matching helpers ----------------------------------------------------------

TEST(StripTypeDescriptors, Table) {
  struct Case {
    Text in, out;
  } cases[] = {
      {U"Email field", U"Email"},
      {U"  Save \t btn  ", U"Save"},
      {U"input Email", U"Email"},
      {U"select country dropdown", U"country"},
      {U"Login button", U"Login"},
      {U"the submit button", U"the submit"},
      {U"button", U"button"},
      {U"  Button  Link ", U"  Button  Link "},  // nothing would remain: unchanged
      {U"Search box field", U"Search"},
      {U"field Name field", U"Name"},
      {U"check box input here", U"check box input here"},  // only the ends
      {U"", U""},
      {U"   ", U"   "},
  };
  for (const Case& c : cases)
    EXPECT_EQ(u8(tl::strip_type_descriptors(c.in)), u8(c.out)) << u8(c.in);
}

TEST(SearchableStrings, Table) {
  struct Case {
    const char* name;
    Value element;
    bool label;
    std::vector<Text> want;
  } cases[] = {
      {"text then attributes in table order",
       rec({{U"text", U"Go"},
            {U"attributes", rec({{U"alt", U"A"}, {U"type", U"submit"}, {U"aria-label", U"L"},
                                 {U"placeholder", U"P"}, {U"data-testid", U"go-btn"}})}}),
       false, {U"Go", U"L", U"P", U"go-btn", U"submit", U"A"}},
      {"label only when asked", rec({{U"attributes", rec({{U"_label", U"Email"}})}}), false, {}},
      {"label asked", rec({{U"attributes", rec({{U"_label", U"Email"}})}}), true, {U"Email"}},
      {"class words",
       rec({{U"attributes", rec({{U"class", U"btn-primary nav_link x1 col"}})}}), false,
       {U"btn primary nav link"}},
      {"class token length before replacement",
       rec({{U"attributes", rec({{U"class", U"a-b mt4 ab-c"}})}}), false, {U"ab c"}},
      {"id words", rec({{U"attributes", rec({{U"id", U"user_name-2"}})}}), false,
       {U"user name"}},
      {"id login-btn-2", rec({{U"attributes", rec({{U"id", U"login-btn-2"}})}}), false,
       {U"login"}},
      {"id a1-b2 gives nothing", rec({{U"attributes", rec({{U"id", U"a1-b2"}})}}), false, {}},
      {"non-ASCII digits count as digits",
       rec({{U"attributes", rec({{U"class", U"menu\u0663 item"}})}}), false, {U"item"}},
      {"data names in record order, never values nor data-testid",
       rec({{U"attributes", rec({{U"data-v-7ba5bd90", U"x"}, {U"data-qa-login", U"ignored"},
                                 {U"data-testid", U"t"}, {U"data-row", U"3"}})}}),
       false, {U"t", U"qa login", U"row"}},
      {"empty and null text, empty attribute",
       rec({{U"text", U""}, {U"attributes", rec({{U"aria-label", U""}, {U"alt", nullptr}})}}),
       false, {}},
      {"no attributes", rec({{U"text", nullptr}}), false, {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> got, want;
    for (const Text& s : tl::searchable_strings(c.element, c.label)) got.push_back(u8(s));
    for (const Text& s : c.want) want.push_back(u8(s));
    EXPECT_EQ(got, want) << c.name;
  }
}

TEST(MatchesElement, ContainsAndExact) {
  struct Case {
    Text target;
    Value element;
    bool label, contains, exact;
  } cases[] = {
      {U"sign-in", rec({{U"text", U"Sign-in"}}), false, false, false},
      {U"sign-in", rec({{U"text", U"Please sign in"}}), false, true, false},
      {U"Log", rec({{U"text", U"Log"}}), false, true, true},
      {U"Log", rec({{U"text", U"  Log \n"}}), false, true, true},
      {U"Log", rec({{U"text", U"Log in"}}), false, true, false},
      {U"log_in", rec({{U"text", U"LOG IN"}}), false, true, true},
      {U"Email", rec({{U"attributes", rec({{U"_label", U"Email"}})}}), false, false, false},
      {U"Email", rec({{U"attributes", rec({{U"_label", U"Email"}})}}), true, true, true},
      {U"nav link", rec({{U"attributes", rec({{U"class", U"nav_link"}})}}), false, true, true},
      {U" save", rec({{U"text", U"Save"}}), false, false, false},  // target not trimmed
      {U"", rec({{U"text", U"Anything"}}), false, true, false},
      {U"", rec({{U"text", U"   "}}), false, true, true},
      {U"", rec({{U"text", U""}}), false, false, false},  // no searchable string
  };
  for (const Case& c : cases) {
    EXPECT_EQ(tl::matches_element(c.target, c.element, c.label), c.contains) << u8(c.target);
    EXPECT_EQ(tl::exact_matches_element(c.target, c.element, c.label), c.exact) << u8(c.target);
  }
}

TEST(DomDistance, Table) {
  struct Case {
    Text a, b;
    std::int64_t d;
  } cases[] = {
      {U"/html[1]/body[1]", U"/html[1]/body[1]", 0},
      {U"/html[1]/body[1]/div[2]/span[1]", U"/html[1]/body[1]/div[2]/p[3]/span[1]", 3},
      {U"/a[1]/b[1]/c[1]", U"/a[1]/x[1]/c[1]", 4},
      {U"/div[2]", U"/div[3]", 2},
      {U"", U"", 0},
      {U"", U"/a[1]", 2},  // an empty xpath is one empty step
      {U"//a[1]/", U"a[1]", 0},
      {U"/a[1]//b[1]", U"/a[1]/b[1]", 3},
  };
  for (const Case& c : cases) EXPECT_EQ(tl::dom_distance(c.a, c.b), c.d) << u8(c.a) << " " << u8(c.b);
}

TEST(FilterByAction, KeepsSuitableOrReturnsTheListItself) {
  Value link = el(U"Home", rec({}), 0, 0, true, U"a");
  Value input = el(U"", rec({}), 0, 0, true, U"input");
  Value role = el(U"", rec({{U"role", U"searchbox"}}), 0, 0, true, U"div");
  Value upper_role = el(U"", rec({{U"role", U"Textbox"}}), 0, 0, true, U"div");
  Value editable = rec({{U"tag", U"div"}, {U"is_editable_field", true}});
  Value select = el(U"", rec({}), 0, 0, true, U"select");
  ListPtr mixed = list({link, input, role, upper_role, editable, select});
  ListPtr links = list({link, upper_role});

  ListPtr typed = tl::filter_by_action(U"type", mixed);
  EXPECT_EQ(describe(std::make_shared<Record>(Record{{{U"l", Value(typed)}}}), mixed),
            "{l:[#1 #2 #4 ] }");
  EXPECT_EQ(tl::filter_by_action(U"type", links), links);  // nothing typeable: the list itself
  ListPtr selected = tl::filter_by_action(U"select", mixed);
  ASSERT_EQ(selected->size(), 1u);
  EXPECT_EQ((*selected)[0].as_record(), select.as_record());
  EXPECT_EQ(tl::filter_by_action(U"select", links), links);
  EXPECT_EQ(tl::filter_by_action(U"click", mixed), mixed);
  EXPECT_EQ(tl::filter_by_action(U"Type", mixed), mixed);  // actions compare exactly
}

// ---- element resolution --------------------------------------------------------

struct ElementCase {
  const char* name;
  Text action, target;
  std::int64_t ordinal;
  ListPtr dom, texts;
  std::string want;  // describe() of the result
};

TEST(ElementResolution, Table) {
  Value save_changes = el(U"Save changes", rec({}), 0, 10);
  Value save = el(U"Save", rec({}), 0, 50);
  Value hidden = el(U"Close", rec({{U"aria-label", U"Close"}}), 0, 0, false);
  Value shown = el(U"Close dialog", rec({}), 0, 90);
  Value a = el(U"Buy", rec({}), 50, 100), b = el(U"Buy", rec({}), 300, 40),
        c = el(U"Buy", rec({}), 10, 40);
  Value same1 = el(U"Next", rec({}), 5, 5), same2 = el(U"Next", rec({}), 5, 5);
  Value email = el(U"", rec({{U"_label", U"Email"}}), 0, 0, true, U"input");
  Value link = el(U"Email us", rec({}), 0, 30, true, U"a");
  Value t_price = txt(U"Price list", 0, 0, 10, 10, U"/p[1]");
  Value lengths1 = el(U"Add to cart", rec({}), 0, 0), lengths2 = el(U"Add", rec({}), 0, 10),
        lengths3 = el(U"Add now", rec({}), 0, 20), lengths4 = el(U"Add it!", rec({}), 0, 30);
  Value blank = el(U"   ", rec({}), 0, 80), word = el(U"Word", rec({}), 0, 5),
        none = rec({{U"tag", U"button"}, {U"is_visible", true}});

  const ElementCase cases[] = {
      {"exact narrows the candidates", U"click", U"Save", 1, list({save_changes, save}), nullptr,
       "{resolved:true confidence:1.000000 element:#1 candidates:[#1 ] }"},
      {"contains when no exact", U"click", U"Sav", 1, list({save, save_changes}), nullptr,
       "{resolved:true confidence:1.000000 element:#1 candidates:[#1 #0 ] }"},
      {"visible tier only", U"click", U"close", 1, list({hidden, shown}), nullptr,
       "{resolved:true confidence:1.000000 element:#1 candidates:[#1 ] }"},
      {"hidden when only it matches", U"click", U"Close", 1, list({hidden}), nullptr,
       "{resolved:true confidence:1.000000 element:#0 candidates:[#0 ] }"},
      {"ordinal 2 by (y, x)", U"click", U"Buy", 2, list({a, b, c}), nullptr,
       "{resolved:true confidence:1.000000 element:#1 candidates:[#2 #1 #0 ] }"},
      {"ordinal beyond chooses last", U"click", U"Buy", 5, list({a, b, c}), nullptr,
       "{resolved:true confidence:1.000000 element:#0 candidates:[#2 #1 #0 ] }"},
      {"equal boxes keep list order", U"click", U"Next", 1, list({same2, same1}), nullptr,
       "{resolved:true confidence:1.000000 element:#0 candidates:[#0 #1 ] }"},
      {"type searches labels", U"type", U"Email field", 1, list({link, email}), nullptr,
       "{resolved:true confidence:1.000000 element:#1 candidates:[#1 ] }"},
      {"click ignores labels", U"click", U"Email", 1, list({email}), nullptr,
       "{resolved:false confidence:0.000000 element:null candidates:[] }"},
      {"type with nothing typeable keeps all", U"type", U"Email", 1, list({link}), nullptr,
       "{resolved:true confidence:1.000000 element:#0 candidates:[#0 ] }"},
      {"extract_text falls back to visible texts", U"extract_text", U"price", 1, list({save}),
       list({t_price}), "{resolved:true confidence:1.000000 element:#1 candidates:[#1 ] }"},
      {"click never reads texts", U"click", U"price", 1, list({save}), list({t_price}),
       "{resolved:false confidence:0.000000 element:null candidates:[] }"},
      {"ordinal 0: longest text", U"click", U"ad", 0,
       list({lengths1, lengths2, lengths3, lengths4}), nullptr,
       "{resolved:true confidence:1.000000 element:#0 candidates:[#1 #2 #3 #0 ] }"},
      {"ordinal -1: second longest, equal lengths in list order", U"click", U"ad", -1,
       list({lengths1, lengths2, lengths3, lengths4}), nullptr,
       "{resolved:true confidence:1.000000 element:#3 candidates:[#1 #2 #3 #0 ] }"},
      {"ordinal far below: the first", U"click", U"ad", -40,
       list({lengths1, lengths2, lengths3, lengths4}), nullptr,
       "{resolved:true confidence:1.000000 element:#1 candidates:[#1 #2 #3 #0 ] }"},
      {"empty target: blank string is exact", U"click", U"", 1, list({word, none, blank}),
       nullptr, "{resolved:true confidence:1.000000 element:#2 candidates:[#2 ] }"},
      {"empty target: top-most with a string", U"click", U"", 1, list({none, word, save}),
       nullptr, "{resolved:true confidence:1.000000 element:#1 candidates:[#1 #2 ] }"},
      {"empty list", U"click", U"Save", 1, list({}), nullptr,
       "{resolved:false confidence:0.000000 element:null candidates:[] }"},
  };
  for (const ElementCase& c : cases) {
    RecordPtr r = strategy.resolve_element(c.action, c.target, c.ordinal, c.dom,
                                           c.texts ? c.texts : list({}));
    EXPECT_EQ(describe(r, c.dom, c.texts), c.want) << c.name;
  }
}

TEST(ElementResolution, NaNBoxesKeepTheSortSound) {
  const double nan = std::nan("");
  ListPtr dom = list({el(U"Go", rec({}), nan, nan), el(U"Go", rec({}), 0, 5),
                      el(U"Go", rec({}), nan, 1), el(U"Go", rec({}), 3, nan)});
  RecordPtr r = strategy.resolve_element(U"click", U"Go", 1, dom, list({}));
  EXPECT_EQ(r->at(U"candidates").as_list()->size(), 4u);
}

// ---- dispatch and instruction reading ------------------------------------------

TEST(Resolve, DispatchAndDefaults) {
  ListPtr dom = list({el(U"Save", rec({}), 0, 0)});
  ListPtr texts = list({txt(U"Total: 10", 0, 0, 50, 10, U"/p[1]")});
  // No action and no target: element resolution of "" over dom.
  EXPECT_EQ(describe(step({}, dom), dom),
            "{resolved:true confidence:1.000000 element:#0 candidates:[#0 ] }");
  // Null text elements read as an empty list.
  EXPECT_EQ(describe(step({{U"action", U"find_text"}, {U"target", U"total"}}, dom), dom),
            "{resolved:false confidence:0.000000 element:null candidates:[] }");
  EXPECT_EQ(describe(step({{U"action", U"find_text"}, {U"target", U"total"}}, dom, texts), dom,
                     texts),
            "{resolved:true confidence:1.000000 element:#1 candidates:[#1 ] }");
  // Case counts in the action: "Find_text" is element resolution over dom.
  EXPECT_EQ(describe(step({{U"action", U"Find_text"}, {U"target", U"save"}}, dom, texts), dom,
                     texts),
            "{resolved:true confidence:1.000000 element:#0 candidates:[#0 ] }");
  // value is read only for verify_spatial_text; ordinal only where used.
  EXPECT_NO_THROW(step({{U"action", U"click"}, {U"target", U"Save"}, {U"value", nullptr}}, dom));
  EXPECT_NO_THROW(step({{U"action", U"find_text"}, {U"ordinal", nullptr}}, dom));
}

TEST(Resolve, RefusesInstructionValuesOfTheWrongKind) {
  ListPtr dom = list({});
  struct Case {
    const char* name;
    RecordPtr instr;
    std::string message;
  } cases[] = {
      {"null action", make_record({{U"action", nullptr}}), "Expected str, got NoneType"},
      {"int target", make_record({{U"action", U"click"}, {U"target", 3}}), "Expected str, got int"},
      {"null value", make_record({{U"action", U"verify_spatial_text"}, {U"value", nullptr}}),
       "Expected str, got NoneType"},
      {"bool ordinal", make_record({{U"action", U"click"}, {U"ordinal", true}}),
       "Expected int, got bool"},
      {"null ordinal", make_record({{U"action", U"extract_text_spatial"}, {U"ordinal", nullptr}}),
       "Expected int, got NoneType"},
  };
  for (const Case& c : cases) {
    try {
      strategy.resolve(*c.instr, dom, nullptr);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const TypeError& e) {
      EXPECT_EQ(e.what(), c.message) << c.name;
    }
  }
}

TEST(Resolve, DescriptorsOfTheWrongKindAreTypeErrors) {
  struct Case {
    const char* name;
    Text action;
    Value element;
    std::string message;
  } cases[] = {
      {"not a record", U"click", Value(Text(U"button")), "Expected dict, got str"},
      {"int text", U"click", rec({{U"text", 5}, {U"is_visible", true}}), "Expected str, got int"},
      {"list attributes", U"click", rec({{U"attributes", Value(list({}))}, {U"is_visible", true}}),
       "Expected dict, got list"},
      {"int aria-label", U"verify_present", rec({{U"attributes", rec({{U"aria-label", 1}})}}),
       "Expected str, got int"},
      {"text is_visible", U"click", rec({{U"text", U"Go"}, {U"is_visible", U"yes"}}),
       "Expected bool, got str"},
      {"text coordinate", U"click",
       rec({{U"text", U"Go"}, {U"is_visible", true}, {U"bounding_box", rec({{U"y", U"1"}})}}),
       "Expected int or float, got str"},
      {"int tag", U"type", rec({{U"tag", 1}}), "Expected str, got int"},
      {"int is_enabled", U"verify_enabled", rec({{U"text", U"Go"}, {U"is_enabled", 1}}),
       "Expected bool, got int"},
  };
  for (const Case& c : cases) {
    try {
      strategy.resolve(*make_record({{U"action", c.action}, {U"target", U"Go"}}),
                       list({c.element}), nullptr);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const TypeError& e) {
      EXPECT_EQ(e.what(), c.message) << c.name;
    }
  }
}

// ---- text search and state checks -------------------------------------------

TEST(TextSearch, FindAndFindExact) {
  ListPtr totals = list({txt(U"Subtotal: 8", 0, 0, 1, 1, U"/p[1]"),
                         txt(U"Total: 10", 0, 0, 1, 1, U"/p[2]")});
  EXPECT_EQ(describe(strategy.resolve_find_text(U"total", totals), totals),
            "{resolved:true confidence:1.000000 element:#1 candidates:[#1 #0 ] }");
  ListPtr exacts = list({txt(U"Total due", 0, 0, 1, 1, U"/p[1]"),
                         txt(U" Total ", 0, 0, 1, 1, U"/p[2]")});
  EXPECT_EQ(describe(strategy.resolve_find_exact_text(U"Total", exacts), exacts),
            "{resolved:true confidence:1.000000 element:#1 candidates:[#1 #0 #1 ] }");
  EXPECT_EQ(describe(strategy.resolve_find_exact_text(U"Tot", exacts), exacts),
            "{resolved:false confidence:0.000000 element:null candidates:[#1 #0 ] }");
  EXPECT_EQ(describe(strategy.resolve_find_exact_text(U" total", exacts), exacts),
            "{resolved:false confidence:0.000000 element:null candidates:[#1 ] }");
  // An empty target passes everywhere; the shortest text wins.
  EXPECT_EQ(describe(strategy.resolve_find_text(U"", exacts), exacts),
            "{resolved:true confidence:1.000000 element:#1 candidates:[#1 #0 ] }");
  // Visibility is not tested, and "-" is not normalised here.
  ListPtr hidden = list({rec({{U"text", U"Sign-in"}, {U"is_visible", false}})});
  EXPECT_EQ(describe(strategy.resolve_find_text(U"sign-in", hidden), hidden),
            "{resolved:true confidence:1.000000 element:#0 candidates:[#0 ] }");
  EXPECT_EQ(describe(strategy.resolve_find_text(U"sign in", hidden), hidden),
            "{resolved:false confidence:0.000000 element:null candidates:[] }");
}

TEST(StateChecks, Verify) {
  Value hidden_submit = rec({{U"text", U"Submit"}, {U"is_visible", false}, {U"is_enabled", true}});
  Value submit_order = rec({{U"text", U"Submit order"}, {U"is_visible", true}, {U"is_enabled", true}});
  Value no_state = rec({{U"text", U"Email"}});
  ListPtr dom = list({submit_order, hidden_submit, no_state});
  struct Case {
    Text action, target;
    std::string want;
  } cases[] = {
      {U"verify_visible", U"Submit",
       "{resolved:true verified:false confidence:1.000000 element:#1 state:{present:true "
       "visible:false enabled:true } candidates:[#1 #0 ] }"},
      {U"verify_present", U"Submit button",
       "{resolved:true verified:true confidence:1.000000 element:#1 state:{present:true "
       "visible:false enabled:true } candidates:[#1 #0 ] }"},
      {U"verify_enabled", U"Email field",
       "{resolved:true verified:false confidence:1.000000 element:#2 state:{present:true "
       "visible:false enabled:false } candidates:[#2 ] }"},
      {U"verify_disabled", U"Email",
       "{resolved:true verified:true confidence:1.000000 element:#2 state:{present:true "
       "visible:false enabled:false } candidates:[#2 ] }"},
      {U"verify_disabled", U"Nothing",
       "{resolved:false verified:false confidence:0.000000 element:null state:{} "
       "candidates:[] }"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(describe(strategy.resolve_verify(c.action, c.target, dom), dom), c.want)
        << u8(c.action) << " " << u8(c.target);
  EXPECT_THROW(strategy.resolve_verify(U"verify_text_present", U"Submit", dom), KeyError);
  EXPECT_THROW(strategy.resolve_verify(U"click", U"Nothing", list({})), KeyError);
}

TEST(StateChecks, VerifyText) {
  ListPtr texts = list({rec({{U"text", U"Email field here"}, {U"is_visible", true}}),
                        rec({{U"text", U"Email"}})});
  // The whole target is searched: "email field" is not cut to "email".
  EXPECT_EQ(describe(strategy.resolve_verify_text(U"verify_text_present", U"Email field", texts),
                     texts),
            "{resolved:true verified:true confidence:1.000000 element:#0 state:{present:true "
            "visible:true } candidates:[#0 ] }");
  EXPECT_EQ(describe(strategy.resolve_verify_text(U"verify_text_visible", U"email", texts), texts),
            "{resolved:true verified:false confidence:1.000000 element:#1 state:{present:true "
            "visible:false } candidates:[#1 #0 ] }");
  EXPECT_EQ(describe(strategy.resolve_verify_text(U"verify_text_visible", U"phone", texts), texts),
            "{resolved:false verified:false confidence:0.000000 element:null state:{} "
            "candidates:[] }");
  EXPECT_THROW(strategy.resolve_verify_text(U"verify_visible", U"email", texts), KeyError);
}

// ---- spatial text -------------------------------------------------------------

namespace {

// A row "Price | $10 | per unit" and a column "Total" over "1,200", all in
// one table so tree distances are small.
struct SpatialPage {
  Value price = txt(U"Price", 100, 100, 50, 20, U"/html[1]/body[1]/table[1]/tr[1]/td[1]");
  Value ten = txt(U"$10", 200, 100, 40, 20, U"/html[1]/body[1]/table[1]/tr[1]/td[2]", U"td");
  Value unit = txt(U"per unit", 300, 105, 60, 20, U"/html[1]/body[1]/table[1]/tr[1]/td[3]", U"td");
  Value left = txt(U"Item", 10, 95, 40, 20, U"/html[1]/body[1]/table[1]/tr[1]/th[1]", U"th");
  Value total = txt(U"Total", 100, 200, 50, 20, U"/html[1]/body[1]/table[1]/tr[2]/td[1]");
  Value sum = txt(U"1,200", 110, 240, 40, 20, U"/html[1]/body[1]/table[1]/tr[3]/td[1]", U"td");
  Value button = rec({{U"tag", U"button"}, {U"text", U"Buy now"},
                      {U"bounding_box", box(200, 200, 40, 20)}, {U"xpath", U"/html[1]/body[1]/button[1]"}});
  ListPtr texts = list({price, ten, unit, left, total, sum, button});
};

}  // namespace

TEST(SpatialText, VerifyTable) {
  SpatialPage p;
  struct Case {
    Text target, expected;
    std::string want;
  } cases[] = {
      {U"right of Price", U"$10",
       "{resolved:true verified:true confidence:1.000000 element:#1 state:{expected:'$10' "
       "actual:'$10' } candidates:[#1 #2 ] }"},
      {U"Right of the Price", U"10",
       "{resolved:true verified:true confidence:1.000000 element:#1 state:{expected:'10' "
       "actual:'$10' } candidates:[#1 #2 ] }"},
      {U"next to Price", U"$11",
       "{resolved:true verified:false confidence:1.000000 element:#1 state:{expected:'$11' "
       "actual:'$10' } candidates:[#1 #2 ] }"},
      {U"left of price", U"item",
       "{resolved:true verified:true confidence:1.000000 element:#3 state:{expected:'item' "
       "actual:'Item' } candidates:[#3 ] }"},
      {U"below Total", U"$1200 USD",
       "{resolved:true verified:true confidence:1.000000 element:#5 state:{expected:'$1200 USD' "
       "actual:'1,200' } candidates:[#5 ] }"},
      {U"under Total", U"",
       "{resolved:true verified:false confidence:1.000000 element:#5 state:{expected:'' "
       "actual:'1,200' } candidates:[#5 ] }"},
      {U"above Total", U"x",
       "{resolved:true verified:false confidence:1.000000 element:#0 state:{expected:'x' "
       "actual:'Price' } candidates:[#0 ] }"},
      {U"above Price", U"x",
       "{resolved:true verified:false confidence:1.000000 element:#0 state:{expected:'x' "
       "actual:'no element above of 'Price'' } candidates:[] }"},
      {U"near Total", U"x",
       "{resolved:false verified:false confidence:0.000000 element:null state:{expected:'x' } "
       "candidates:[] }"},
      {U"below", U"x",
       "{resolved:false verified:false confidence:0.000000 element:null state:{expected:'x' } "
       "candidates:[] }"},
      {U"belowTotal", U"x",
       "{resolved:false verified:false confidence:0.000000 element:null state:{expected:'x' } "
       "candidates:[] }"},
      {U"below   ", U"x",
       "{resolved:false verified:false confidence:0.000000 element:null state:{expected:'x' } "
       "candidates:[] }"},
      {U"right of Cost", U"x",
       "{resolved:false verified:false confidence:0.000000 element:null state:{expected:'x' "
       "actual:'anchor 'Cost' not found' } candidates:[] }"},
      {U"next to an the Price", U"x",
       "{resolved:false verified:false confidence:0.000000 element:null state:{expected:'x' "
       "actual:'anchor 'the Price' not found' } candidates:[] }"},
      {U"next to the a Price", U"10",
       "{resolved:true verified:true confidence:1.000000 element:#1 state:{expected:'10' "
       "actual:'$10' } candidates:[#1 #2 ] }"},
      // A button's text is never a candidate, nor an anchor among the texts.
      {U"right of Total", U"Buy",
       "{resolved:true verified:false confidence:1.000000 element:#4 state:{expected:'Buy' "
       "actual:'no element right of 'Total'' } candidates:[] }"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(describe(strategy.resolve_verify_spatial_text(c.target, c.expected, p.texts, nullptr),
                       p.texts),
              c.want)
        << u8(c.target);
}

TEST(SpatialText, NormalisedComparisonBothWays) {
  struct Case {
    Text expected, actual;
    bool verified;
  } cases[] = {
      {U"$1,200", U"1200 USD", true}, {U"1200 USD", U"1,200", true},
      {U"", U"anything", false},      {U"10", U"$,€£", true},
      {U"$", U"$", false},            {U"€5", U"£5", true},
      {U"abc", U"abd", false},
  };
  for (const Case& c : cases) {
    ListPtr texts = list({txt(U"Label", 0, 0, 50, 20, U"/div[1]/span[1]"),
                          txt(c.actual, 60, 0, 50, 20, U"/div[1]/span[2]")});
    RecordPtr r = strategy.resolve_verify_spatial_text(U"right of Label", c.expected, texts, nullptr);
    EXPECT_EQ(r->at(U"verified").as_bool(), c.verified) << u8(c.expected) << " / " << u8(c.actual);
  }
}

TEST(SpatialText, AnchorChoice) {
  // Two-line text anchors by its first line; the smaller box wins.
  Value big = txt(U"Price", 0, 0, 200, 50, U"/div[1]/span[1]");
  Value two_line = txt(U"  Price \nper unit", 0, 100, 50, 20, U"/div[1]/span[2]");
  Value right = txt(U"$5", 80, 105, 20, 10, U"/div[1]/span[3]");
  Value far_right = txt(U"$9", 300, 10, 20, 10, U"/div[1]/span[4]");
  ListPtr texts = list({big, two_line, right, far_right});
  EXPECT_EQ(describe(strategy.resolve_verify_spatial_text(U"right of price", U"5", texts, nullptr),
                     texts),
            "{resolved:true verified:true confidence:1.000000 element:#2 state:{expected:'5' "
            "actual:'$5' } candidates:[#2 ] }");

  // Among interactable elements only the whole text counts, then aria-label;
  // the first match of equal area wins.
  Value dom_two_line = rec({{U"text", U"Price\nper unit"}, {U"bounding_box", box(0, 0, 50, 20)},
                            {U"xpath", U"/form[1]/button[1]"}});
  Value dom_label = rec({{U"text", U""}, {U"attributes", rec({{U"aria-label", U" PRICE "}})},
                         {U"bounding_box", box(0, 0, 50, 20)}, {U"xpath", U"/form[1]/button[2]"}});
  Value dom_text = rec({{U"text", U"Price"}, {U"bounding_box", box(0, 0, 50, 20)},
                        {U"xpath", U"/form[1]/button[3]"}});
  Value cand = txt(U"$7", 60, 5, 10, 10, U"/html[1]/a[1]/b[1]/c[1]/d[1]/e[1]/f[1]/g[1]/span[1]");
  ListPtr only = list({cand});
  ListPtr dom = list({dom_two_line, dom_label, dom_text});
  RecordPtr r = strategy.resolve_verify_spatial_text(U"right of Price", U"7", only, dom);
  EXPECT_EQ(describe(r, dom, only),
            "{resolved:true verified:true confidence:1.000000 element:#3 state:{expected:'7' "
            "actual:'$7' } candidates:[#3 ] }");
  ListPtr dom2 = list({dom_two_line, dom_label});
  r = strategy.resolve_verify_spatial_text(U"right of Price", U"7", only, dom2);
  EXPECT_EQ(name_of(r->at(U"element"), {dom2, only}), "#2");
  ListPtr dom3 = list({dom_two_line});
  r = strategy.resolve_verify_spatial_text(U"right of Price", U"7", only, dom3);
  EXPECT_EQ(r->at(U"resolved").as_bool(), false);
}

TEST(SpatialText, CandidateTests) {
  // Tree distance 10 passes, 11 does not; edges of the anchor count.
  Value anchor = txt(U"Name", 0, 100, 40, 20, U"/a[1]/b[1]/c[1]");
  Value d10 = txt(U"ten", 50, 100, 10, 0, U"/a[1]/x[1]/y[1]/z[1]/k[1]/l[1]/m[1]/n[1]/span[1]");
  Value d11 = txt(U"eleven", 45, 100, 10, 0, U"/a[1]/x[1]/y[1]/z[1]/k[1]/l[1]/m[1]/n[1]/o[1]/span[1]");
  Value bottom_edge = txt(U"edge", 70, 110, 10, 20, U"/a[1]/b[1]/span[2]");  // centre y = 120
  Value below_edge = txt(U"out", 60, 111, 10, 20, U"/a[1]/b[1]/span[3]");    // centre y = 121
  Value same_cx = txt(U"mid", 10, 100, 20, 20, U"/a[1]/b[1]/span[4]");       // centre x = 20
  Value short_text = txt(U" x ", 80, 100, 10, 10, U"/a[1]/b[1]/span[5]");
  Value wrong_tag = txt(U"Button", 90, 100, 10, 10, U"/a[1]/b[1]/button[1]", U"button");
  Value no_xpath = txt(U"noxp", 95, 100, 10, 10, U"");
  Value copy_of_anchor = txt(U"Name", 0, 100, 40, 20, U"/a[1]/b[1]/c[1]");
  ListPtr texts = list({anchor, d10, d11, bottom_edge, below_edge, same_cx, short_text, wrong_tag,
                        no_xpath, copy_of_anchor});
  RecordPtr r = strategy.resolve_verify_spatial_text(U"right of Name", U"ten", texts, nullptr);
  // copy_of_anchor has the same centre as the anchor, so it is not right of it.
  EXPECT_EQ(describe(r, texts),
            "{resolved:true verified:true confidence:1.000000 element:#1 state:{expected:'ten' "
            "actual:'ten' } candidates:[#1 #3 ] }");
  r = strategy.resolve_verify_spatial_text(U"left of Name", U"", texts, nullptr);
  EXPECT_EQ(r->at(U"candidates").as_list()->size(), 0u);  // same_cx is neither side
}

TEST(SpatialText, Extract) {
  SpatialPage p;
  struct Case {
    Text target;
    std::int64_t ordinal;
    std::string want;
  } cases[] = {
      {U"right of Price", 1,
       "{resolved:true confidence:1.000000 element:#1 extracted:'$10' candidates:[#1 #2 ] }"},
      {U"right of Price", 2,
       "{resolved:true confidence:1.000000 element:#2 extracted:'per unit' candidates:[#1 #2 ] }"},
      {U"right of Price", 9,
       "{resolved:true confidence:1.000000 element:#2 extracted:'per unit' candidates:[#1 #2 ] }"},
      {U"right of Price", 0,
       "{resolved:true confidence:1.000000 element:#2 extracted:'per unit' candidates:[#1 #2 ] }"},
      {U"right of Price", -7,
       "{resolved:true confidence:1.000000 element:#1 extracted:'$10' candidates:[#1 #2 ] }"},
      {U"above Price", 1,
       "{resolved:true confidence:1.000000 element:#0 extracted:'Price' candidates:[] }"},
      {U"above Nothing", 1,
       "{resolved:false confidence:0.000000 element:null extracted:'' candidates:[] }"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(describe(strategy.resolve_extract_spatial_text(c.target, p.texts, nullptr, c.ordinal),
                       p.texts),
              c.want)
        << u8(c.target) << " " << c.ordinal;
}

TEST(SpatialText, BoxesWithoutACoordinateAreKeyErrors) {
  struct Case {
    const char* name;
    Value anchor_box, candidate_box;
    Text key;
  } cases[] = {
      {"anchor without height", rec({{U"x", 0}, {U"y", 0}, {U"width", 5}}), box(10, 0), U"height"},
      {"anchor without x", rec({{U"y", 0}, {U"width", 5}, {U"height", 5}}), box(10, 0), U"x"},
      {"candidate without y", box(0, 0), rec({{U"x", 10}, {U"width", 5}, {U"height", 5}}), U"y"},
  };
  for (const Case& c : cases) {
    ListPtr texts = list({rec({{U"tag", U"span"}, {U"text", U"A"}, {U"bounding_box", c.anchor_box},
                               {U"xpath", U"/p[1]"}}),
                          rec({{U"tag", U"span"}, {U"text", U"Bb"}, {U"bounding_box", c.candidate_box},
                               {U"xpath", U"/p[2]"}})});
    try {
      strategy.resolve_verify_spatial_text(U"right of A", U"", texts, nullptr);
      ADD_FAILURE() << c.name;
    } catch (const KeyError& e) {
      EXPECT_EQ(u8(e.key), u8(c.key)) << c.name;
    }
  }
}

// ---- projection to the fields read ----------------------------------------

namespace {

// What a caller that converts only fields_read() keeps of a descriptor.
Value project(const Value& v, const tl::FieldsRead& f) {
  if (!v.is_record()) return v;
  auto out = make_record();
  for (const auto& [k, x] : v.as_record()->items) {
    bool keep = (k == U"tag" && f.tag) || (k == U"text" && f.text) ||
                (k == U"is_visible" && f.is_visible) || (k == U"is_enabled" && f.is_enabled) ||
                (k == U"is_editable_field" && f.is_editable_field) || (k == U"xpath" && f.xpath) ||
                (k == U"bounding_box" && f.bounding_box);
    if (k == U"attributes" && f.attributes != tl::FieldsRead::Attributes::None) {
      if (!x.is_record()) {
        out->items.emplace_back(k, x);
        continue;
      }
      auto attrs = make_record();
      for (const auto& [ak, av] : x.as_record()->items)
        if (tl::attribute_read(f.attributes, ak)) attrs->items.emplace_back(ak, av);
      out->items.emplace_back(k, Value(attrs));
    } else if (keep) {
      out->items.emplace_back(k, x);
    }
  }
  return Value(out);
}

ListPtr projected(const ListPtr& l, const tl::FieldsRead& f) {
  auto out = make_list();
  for (const Value& v : l->items) out->push_back(project(v, f));
  return out;
}

}  // namespace

TEST(FieldsRead, ProjectionResolvesTheSame) {
  SpatialPage p;
  Value email = rec({{U"tag", U"input"}, {U"text", U""},
                     {U"attributes", rec({{U"type", U"email"}, {U"_label", U"Email"},
                                          {U"name", U"email"}, {U"data-qa-mail", U"1"}})},
                     {U"bounding_box", box(0, 30, 100, 20)}, {U"is_visible", true},
                     {U"is_enabled", false}, {U"xpath", U"/html[1]/body[1]/form[1]/input[1]"}});
  Value combo = rec({{U"tag", U"div"}, {U"text", U"Country"},
                     {U"attributes", rec({{U"role", U"combobox"}, {U"aria-label", U"Price"}})},
                     {U"bounding_box", box(0, 60, 100, 20)}, {U"is_visible", true},
                     {U"is_enabled", true}, {U"is_editable_field", true},
                     {U"xpath", U"/html[1]/body[1]/form[1]/div[1]"}});
  Value select = rec({{U"tag", U"select"}, {U"text", U"Blue Red"},
                      {U"attributes", rec({{U"id", U"colour-pick"}, {U"class", U"form-select"}})},
                      {U"bounding_box", box(0, 90, 100, 20)}, {U"is_visible", false},
                      {U"is_enabled", true}, {U"xpath", U"/html[1]/body[1]/form[1]/select[1]"}});
  Value editor = rec({{U"tag", U"div"}, {U"text", U"Notes"}, {U"attributes", rec({{U"class", U"editor"}})},
                      {U"bounding_box", box(0, 120, 100, 20)}, {U"is_visible", true},
                      {U"is_enabled", true}, {U"is_editable_field", true},
                      {U"xpath", U"/html[1]/body[1]/form[1]/div[2]"}});
  ListPtr dom = list({el(U"Save", rec({{U"data-testid", U"save"}}), 0, 0), email, combo, select,
                      editor,
                      el(U"Cancel", rec({{U"title", U"Cancel"}}), 50, 0, false)});
  const Text actions[] = {U"click", U"type", U"select", U"hover", U"extract_text",
                          U"verify_present", U"verify_visible", U"verify_enabled",
                          U"verify_disabled", U"verify_text_present", U"verify_text_visible",
                          U"find_text", U"find_exact_text", U"verify_spatial_text",
                          U"extract_text_spatial"};
  const Text targets[] = {U"", U"save", U"Email", U"country", U"colour", U"form select",
                          U"qa mail", U"right of Price", U"below Total", U"email field", U"$10",
                          U"right of Country", U"Total", U"notes"};
  for (const Text& action : actions) {
    tl::FieldsPlan plan = tl::fields_read(action);
    for (const Text& target : targets) {
      RecordPtr instr = make_record({{U"action", action}, {U"target", target}, {U"value", U"10"}});
      std::string full = describe(strategy.resolve(*instr, dom, p.texts), dom, p.texts);
      ListPtr pd = projected(dom, plan.dom), pt = projected(p.texts, plan.text);
      std::string cut = describe(strategy.resolve(*instr, pd, pt), pd, pt);
      EXPECT_EQ(cut, full) << u8(action) << " / " << u8(target);
    }
  }
}
