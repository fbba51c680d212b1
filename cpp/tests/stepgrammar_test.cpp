// The step language, one table of cases per behaviour. Steps and expected
// texts are written in UTF-8; a null const char* stands for a null value.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/stepgrammar.hpp"

namespace {

using qv::from_utf8;
using qv::to_utf8;
using qv::stepgrammar::extract_ordinal;
using qv::stepgrammar::InstructionParser;

const std::string kSupported =
    "['click', 'type', 'hover', 'select', 'press_key', 'sendkeys', 'extract_text', "
    "'extract_text_spatial', 'find_text', 'find_exact_text', 'verify_present', "
    "'verify_visible', 'verify_enabled', 'verify_disabled', 'verify_text_present', "
    "'verify_text_visible', 'verify_spatial_text', 'accept_dialog', 'dismiss_dialog', "
    "'verify_dialog']";

std::string unrecognised(const std::string& quoted) {
  return "Unrecognised instruction: " + quoted + ". Supported actions: " + kSupported;
}

// ---- the three small operations -------------------------------------------

TEST(ExtractOrdinal, Table) {
  struct Case {
    const char* text;
    std::int64_t ordinal;
    const char* rest;
  } cases[] = {
      {"second Save", 2, "Save"},
      {"First", 1, ""},
      {"Save", 1, "Save"},
      {"the second Save", 1, "the second Save"},
      {"", 1, ""},
      {"FIFTH row", 5, "row"},
      {"sixth row", 1, "sixth row"},
      {"second   Save item", 2, "Save item"},
      {"  third\t x  ", 3, "x  "},     // leading space skipped, trailing kept
      {"fourth   ", 4, ""},            // nothing after the blanks
      {"  Save  ", 1, "  Save  "},     // no ordinal: text unchanged
      {"secondary x", 1, "secondary x"},
      {"fifth\u3000x", 5, "x"},        // ideographic space is white space
  };
  for (const auto& c : cases) {
    auto o = extract_ordinal(from_utf8(c.text));
    EXPECT_EQ(o.ordinal, c.ordinal) << c.text;
    EXPECT_EQ(to_utf8(o.rest), c.rest) << c.text;
  }
}

TEST(CleanTarget, Table) {
  struct Case {
    const char* target;
    const char* cleaned;
  } cases[] = {
      {"the Save button", "Save button"},
      {"into the Email", "Email"},
      {"Sign in", "Sign in"},
      {"  the   a  Login  ", "Login"},
      {"the", ""},
      {"", ""},
      {"The On button", "button"},
      {"AN At IN on a the into x", "x"},  // every stop word, any case
      {"Save the  file", "Save the file"},  // only leading ones go; runs collapse
      {"theme", "theme"},
      {"\tthe\nSave\u00a0As ", "Save As"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(to_utf8(InstructionParser::clean_target(from_utf8(c.target))), c.cleaned) << c.target;
}

TEST(Unquote, Table) {
  struct Case {
    const char* instruction;
    const char* unquoted;
    std::vector<std::string> literals;
  } cases[] = {
      {R"(type "a b" into "the field")", "type a b into the field", {"a b", "the field"}},
      {R"(click Save "")", R"(click Save "")", {}},
      {R"(x "a""b" y)", "x ab y", {"a", "b"}},
      {R"(click "Save)", R"(click "Save)", {}},
      {R"(""abc")", R"("abc)", {"abc"}},          // empty pair, then a quoted text
      {R"(a """b"" c)", R"(a ""b" c)", {"b"}},
      {R"("x" "y)", R"(x "y)", {"x"}},
      {"\"multi\nline\"", "multi\nline", {"multi\nline"}},
      {R"(")", R"(")", {}},
      {"", "", {}},
      {R"(no quotes)", "no quotes", {}},
  };
  for (const auto& c : cases) {
    auto u = InstructionParser::unquote(from_utf8(c.instruction));
    EXPECT_EQ(to_utf8(u.unquoted), c.unquoted) << c.instruction;
    std::vector<std::string> got;
    for (const auto& l : u.literals) got.push_back(to_utf8(l));
    EXPECT_EQ(got, c.literals) << c.instruction;
  }
}

// ---- the parser ----------------------------------------------------------------

struct ParseCase {
  const char* step;
  const char* action;
  const char* target;  // nullptr: null
  const char* value;   // nullptr: null
  int ordinal;         // 0: no ordinal key
  bool literal;
};

void expect_parsed(const ParseCase& c) {
  SCOPED_TRACE(c.step);
  InstructionParser p;
  qv::RecordPtr r = p.parse(from_utf8(c.step));
  std::vector<std::string> keys;
  for (const auto& kv : r->items) keys.push_back(to_utf8(kv.first));
  std::vector<std::string> want = {"action", "target", "value"};
  if (c.ordinal) want.push_back("ordinal");
  want.push_back("_literal_target");
  ASSERT_EQ(keys, want);
  EXPECT_EQ(to_utf8(r->at(U"action").text()), c.action);
  auto expect_text_or_null = [&](const char32_t* key, const char* expected) {
    const qv::Value& v = r->at(key);
    if (!expected) {
      EXPECT_TRUE(v.is_null()) << to_utf8(key);
    } else {
      ASSERT_TRUE(v.is_text()) << to_utf8(key);
      EXPECT_EQ(to_utf8(v.as_text()), expected) << to_utf8(key);
    }
  };
  expect_text_or_null(U"target", c.target);
  expect_text_or_null(U"value", c.value);
  if (c.ordinal) {
    EXPECT_EQ(r->at(U"ordinal").integer(), c.ordinal);
  }
  EXPECT_EQ(r->at(U"_literal_target").boolean(), c.literal);
}

TEST(Parse, TypeAndSelect) {
  const ParseCase cases[] = {
      {"type alice into the Email field", "type", "Email field", "alice", 0, false},
      {R"(type alice into "the Email field")", "type", "the Email field", "alice", 0, true},
      {"type hello  into X", "type", "X", "hello ", 0, false},  // value not trimmed
      {R"(type "log into site" into Field)", "type", "site into Field", "log", 0, false},
      {"TYPE Bob INTO Name", "type", "Name", "Bob", 0, false},
      {R"(type x into the "Name")", "type", "Name", "x", 0, true},  // literal test on final target
      {"type  into Email", "type", "Email", "", 0, false},
      {"type a into b into c", "type", "b into c", "a", 0, false},
      {"select Red from the Colour list", "select", "Colour list", "Red", 0, false},
      {R"(select Red from "the Colour")", "select", "the Colour", "Red", 0, true},
      {"Select  Large From Size", "select", "Size", " Large", 0, false},
  };
  for (const auto& c : cases) expect_parsed(c);
  // The prefixes hold one plain space: "type\tx into Y" is no type step.
  InstructionParser p;
  EXPECT_THROW(p.parse(U"type\tx into Y"), qv::ValueError);
}

TEST(Parse, FindAndExtract) {
  const ParseCase cases[] = {
      {"find exact text  Hello World", "find_exact_text", " Hello World", nullptr, 0, false},
      {R"(find exact text "Hi")", "find_exact_text", "Hi", nullptr, 0, true},
      {"find exact text the Hi", "find_exact_text", "the Hi", nullptr, 0, false},
      {"find text the Welcome", "find_text", "Welcome", nullptr, 0, false},
      {R"(find text "the Welcome")", "find_text", "the Welcome", nullptr, 0, true},
      {"extract text below Price", "extract_text_spatial", "below Price", nullptr, 1, false},
      {"extract_text near  Total", "extract_text_spatial", "near  Total", nullptr, 1, false},
      {"Extract Text Below Price", "extract_text_spatial", "Below Price", nullptr, 1, false},
      {R"(extract text below "Price")", "extract_text_spatial", "below Price", nullptr, 1, false},
      {"extract text from second Price", "extract_text", "Price", nullptr, 2, false},
      {"extract text the Total", "extract_text", "Total", nullptr, 1, false},
      {"extract text fifth the Total", "extract_text", "Total", nullptr, 5, false},
      {R"(extract text "Total")", "extract_text", "Total", nullptr, 1, true},
      {R"(extract text from "the Total")", "extract_text", "the Total", nullptr, 1, true},
      {"extract text from", "extract_text", "from", nullptr, 1, false},
      {"extract third text below Price", "extract_text_spatial", "below Price", nullptr, 3, false},
      {"extract Second TEXT right of  Sum", "extract_text_spatial", "right of  Sum", nullptr, 2,
       false},
  };
  for (const auto& c : cases) expect_parsed(c);
}

TEST(Parse, ClickHoverAndSimpleActions) {
  const ParseCase cases[] = {
      {"click Login", "click", "Login", nullptr, 1, false},
      {"Click the second Save button", "click", "second Save button", nullptr, 1, false},
      {"click second the Save", "click", "Save", nullptr, 2, false},
      {R"(click "first")", "click", "", nullptr, 1, false},
      {R"(click the "End")", "click", "End", nullptr, 1, true},
      {R"(click "the End")", "click", "the End", nullptr, 1, true},
      {R"(click first button next to "Sign up")", "click", "button next to Sign up", nullptr, 1,
       false},
      {"click FIFTH row", "click", "row", nullptr, 5, false},
      {"click sixth row", "click", "sixth row", nullptr, 1, false},
      {"click  Login", "click", "Login", nullptr, 1, false},
      {R"(click "Save)", "click", "\"Save", nullptr, 1, false},  // odd quote stays
      {R"(click "")", "click", "\"\"", nullptr, 1, false},        // empty pair stays
      {R"(click "save")", "click", "save", nullptr, 1, true},
      {"hover the Menu", "hover", "Menu", nullptr, 0, false},
      {R"(hover "the Menu")", "hover", "the Menu", nullptr, 0, true},
      {R"(navigate "https://Example.com/A")", "navigate", "https://Example.com/A", nullptr, 0,
       false},
      {"navigate 'http://x/Y'", "navigate", "http://x/Y", nullptr, 0, false},
      {R"(navigate ' "x" ')", "navigate", " x ", nullptr, 0, false},  // no second trim
      {R"(navigate "'x'")", "navigate", "x", nullptr, 0, false},
      {"press   Enter", "press_key", "Enter", nullptr, 0, false},
      {"accept dialog", "accept_dialog", nullptr, nullptr, 0, false},
      {"Dismiss Dialog", "dismiss_dialog", nullptr, nullptr, 0, false},
      {"verify dialog says Saved is visible", "verify_dialog", nullptr, "Saved is visible", 0,
       false},
      {"Verify Dialog Says  Hi", "verify_dialog", nullptr, " Hi", 0, false},
      {R"(sendkeys "Control+A")", "sendkeys", "Control+A", "Control+A", 0, false},
      {"sendkeys 'Tab' ", "sendkeys", "Tab", "Tab", 0, false},
      {"wait 500", "wait", "500", nullptr, 0, false},
      {R"(wait "500")", "wait", "500", nullptr, 0, false},
      {"wait soon", "wait", "soon", nullptr, 0, false},
      {"wait '250'", "wait", "250", nullptr, 0, false},
  };
  for (const auto& c : cases) expect_parsed(c);
}

TEST(Parse, Verify) {
  const ParseCase cases[] = {
      {"verify text below Name is Hello", "verify_spatial_text", "below Name", "Hello", 0, false},
      {"verify text below Name is visible", "verify_spatial_text", "below Name", "visible", 0,
       false},
      {R"(verify text next to "Potential Returns" is $29.00)", "verify_spatial_text",
       "next to Potential Returns", "$29.00", 0, false},
      {"verify text left of A is B is C", "verify_spatial_text", "left of A is B", "C", 0, false},
      {"Verify Text Near X IS  Y", "verify_spatial_text", "Near X", "Y", 0, false},
      {"verify text near is present", "verify_spatial_text", "near", "present", 0, false},
      // No " is " before the ending: the relational rule passes it on.
      {"verify text below Thisis visible", "verify_text_visible", "below This", nullptr, 0, false},
      {"verify text Welcome is visible", "verify_text_visible", "Welcome", nullptr, 0, false},
      {"verify text  the Welcome  is present", "verify_text_present", "the Welcome", nullptr, 0,
       false},
      {R"(verify text "Welcome" is present)", "verify_text_present", "Welcome", nullptr, 0, true},
      {"verify text is present", "verify_text_present", "", nullptr, 0, false},
      {"verify text Welcome is enabled", "verify_enabled", "text Welcome", nullptr, 0, false},
      {"verify the Login button is visible", "verify_visible", "Login button", nullptr, 0, false},
      {R"(verify "Products" is present)", "verify_present", "Products", nullptr, 0, true},
      {R"(verify "the Save" is enabled)", "verify_enabled", "the Save", nullptr, 0, true},
      {"verify Save IS DISABLED", "verify_disabled", "Save", nullptr, 0, false},
      {"verify crisis present", "verify_present", "cris", nullptr, 0, false},
      {"verify is present", "verify_present", "", nullptr, 0, false},
      {"verify text below Name is present", "verify_spatial_text", "below Name", "present", 0,
       false},
  };
  for (const auto& c : cases) expect_parsed(c);
}

TEST(Parse, UnrecognisedSteps) {
  struct Case {
    const char* step;
    const char* quoted;
  } cases[] = {
      {"", "''"},
      {"  \t ", "'  \\t '"},
      {"type alice", "'type alice'"},
      {"select Red", "'select Red'"},
      {"back", "'back'"},
      {"refresh", "'refresh'"},
      {"click", "'click'"},
      {"verify dialog", "'verify dialog'"},
      {"accept the dialog", "'accept the dialog'"},
      {"verify Login", "'verify Login'"},
      {"verify text below Name", "'verify text below Name'"},
      {R"(verify text below X is " ")", R"('verify text below X is " "')"},  // nothing expected
      {"extract Price", "'extract Price'"},
      {"extract second text Price", "'extract second text Price'"},
      {"extract first text below Price", "'extract first text below Price'"},
      {"extract second below Price", "'extract second below Price'"},
      {" don't\n", "\" don't\\n\""},  // quoted as passed in, before trimming
  };
  InstructionParser p;
  for (const auto& c : cases) {
    try {
      p.parse(from_utf8(c.step));
      ADD_FAILURE() << "parsed: " << c.step;
    } catch (const qv::ValueError& e) {
      EXPECT_EQ(e.what(), unrecognised(c.quoted));
    }
  }
}

TEST(Parse, MissingOperandIsValueError) {
  struct Case {
    const char* step;
    const char* message;
  } cases[] = {
      {"type into Email",
       "Cannot read 'type into Email': `type` is followed directly by `into`, with no text to type "
       "before it. Expected: type <text> into <target>"},
      {"SELECT FROM Colour",
       "Cannot read 'SELECT FROM Colour': `select` is followed directly by `from`, with no option "
       "to select before it. Expected: select <value> from <target>"},
  };
  InstructionParser p;
  for (const auto& c : cases) {
    try {
      p.parse(from_utf8(c.step));
      ADD_FAILURE() << "parsed: " << c.step;
    } catch (const qv::ValueError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
  }
}

// ---- validation ------------------------------------------------------------

const char* kTypeNoInto =
    "`type` instruction missing `into` keyword. Expected: type <text> into <target>";
const char* kTypeNoText = "`type` instruction missing text to type. Expected: type <text> into <target>";
const char* kSelectNoFrom =
    "`select` instruction missing `from` keyword. Expected: select <value> from <target>";
const char* kVerifyNoState =
    "`verify` instruction missing state. Expected ending: is present | is visible | is enabled | "
    "is disabled";
const char* kVerifyTextNoState =
    "`verify text` instruction missing state. Expected ending: is present | is visible";

std::string unknown(const char* quoted) {
  return std::string("Unknown action ") + quoted +
         ". Expected one of: click, type, verify, hover, select, press, wait, find, extract, "
         "sendkeys.";
}
std::string wait_issue(const char* quoted) {
  return std::string("`wait` value must be a number in milliseconds. Got: ") + quoted;
}
std::string unbalanced(const char* quoted) {
  return std::string("Unbalanced quote \u2014 missing closing `\"` in: ") + quoted;
}

std::vector<std::string> utf8_all(const std::vector<qv::Text>& v) {
  std::vector<std::string> out;
  for (const auto& t : v) out.push_back(to_utf8(t));
  return out;
}

TEST(Validate, Table) {
  struct Case {
    const char* step;
    std::vector<std::string> issues;
  } cases[] = {
      {"", {"Instruction is empty."}},
      {" \t\n ", {"Instruction is empty."}},
      {R"(click Save")", {unbalanced(R"('click Save"')")}},
      {R"(it's "x)", {unbalanced(R"('it\'s "x')")}},
      {R"(clik "a" "b)", {unbalanced(R"('clik "a" "b')")}},  // the quote check comes first
      {"Clik Save", {unknown("'clik'")}},
      {R"("click" Save)", {unknown(R"('"click"')")}},
      {"don't stop", {unknown("\"don't\"")}},
      {"type alice", {kTypeNoInto}},
      {"type alice into ", {kTypeNoInto}},  // trimmed first: no " into " is left
      {"type  into Email", {kTypeNoText}},
      {R"(type "" into Email)", {}},  // quotes stay in place: the text is "" itself
      {"type alice into Email", {}},
      {"select Red", {kSelectNoFrom}},
      {"select  from Colours", {}},
      {"select from Colour", {}},  // the select check looks only for the keyword
      {"verify Login", {kVerifyNoState}},
      {"verify text", {kVerifyNoState}},  // not "verify text ": an element check
      {"verify Login is visible", {}},
      {"verify crisis present", {}},
      {"verify dialog says Saved", {}},
      {"verify dialogue box", {}},
      {"verify text Welcome", {kVerifyTextNoState}},
      {"verify text Welcome is enabled", {kVerifyTextNoState}},
      {"verify text Welcome is visible", {}},
      {"verify text below Name is Hello", {}},
      {"verify text left Name is Hello", {}},
      {"verify text next to A", {}},
      {"verify text above", {}},
      {"verify text right", {}},
      {"verify text under Name is Hello", {kVerifyTextNoState}},
      {"verify text near Name is Hello", {kVerifyTextNoState}},
      {"wait 500", {}},
      {R"(wait "500")", {}},
      {"wait '500'", {}},
      {"wait 1.5", {wait_issue("'1.5'")}},
      {R"(wait "")", {wait_issue("''")}},
      {"wait -1", {wait_issue("'-1'")}},
      {"wait \u00b2", {wait_issue("'\u00b2'")}},    // superscript two: not a millisecond count
      {"wait \u0665", {wait_issue("'\u0665'")}},    // Arabic-Indic five
      {"wait", {}},
      {"click", {}},
      {"back", {}},
      {"refresh", {}},
      {"NAVIGATE x", {}},
      {"press", {}},
  };
  InstructionParser p;
  for (const auto& c : cases)
    EXPECT_EQ(utf8_all(p.validate(from_utf8(c.step))), c.issues) << c.step;
}

TEST(Validate, TypeWithoutTextBeforeIntoIsValueError) {
  InstructionParser p;
  try {
    p.validate(U"type into Email");
    ADD_FAILURE() << "validated";
  } catch (const qv::ValueError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot read 'type into Email': `type` is followed directly by `into`, with no text "
              "to type before it. Expected: type <text> into <target>");
  }
}

TEST(Validate, AllKeepsFaultyStepsByNumber) {
  InstructionParser p;
  auto found = p.validate_all({U"click A", U"clik B", U"wait x"});
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].first, 2);
  EXPECT_EQ(utf8_all(found[0].second), std::vector<std::string>{unknown("'clik'")});
  EXPECT_EQ(found[1].first, 3);
  EXPECT_EQ(utf8_all(found[1].second), std::vector<std::string>{wait_issue("'x'")});
  EXPECT_TRUE(p.validate_all({}).empty());
  EXPECT_TRUE(p.validate_all({U"click A", U"wait 5"}).empty());
}

}  // namespace
