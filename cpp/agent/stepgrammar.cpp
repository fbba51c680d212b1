#include "agent/stepgrammar.hpp"

#include <algorithm>

#include "common/text.hpp"

namespace qv::stepgrammar {

namespace {

using text::ends_with;
using text::starts_with;

constexpr TextView kInto = U" into ";
constexpr TextView kFrom = U" from ";

// Python-style slice s[from:to] with both ends clamped, empty when to < from.
TextView slice(TextView s, std::size_t from, std::size_t to = TextView::npos) {
  from = std::min(from, s.size());
  to = std::min(to, s.size());
  return to <= from ? TextView() : s.substr(from, to - from);
}

bool starts_with_spatial(TextView lower) {
  return std::any_of(kSpatialKeywords.begin(), kSpatialKeywords.end(),
                     [&](TextView kw) { return starts_with(lower, kw); });
}

// Whether `word` lower-cased equals `lower`, without building the copy.
bool lower_equals(TextView word, TextView lower) {
  if (word.size() != lower.size()) return false;
  for (std::size_t i = 0; i < word.size(); ++i)
    if (text::lower(word[i]) != lower[i]) return false;
  return true;
}

bool is_stop_word(TextView word) {
  return std::any_of(kStopWords.begin(), kStopWords.end(),
                     [&](TextView stop) { return lower_equals(word, stop); });
}

// Leading and trailing runs of one character removed.
TextView strip_char(TextView s, char32_t c) {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == c) ++b;
  while (e > b && s[e - 1] == c) --e;
  return s.substr(b, e - b);
}

// Trimmed, then surrounding double quotes, then single quotes (no second trim).
Text quote_strip(TextView s) { return Text(strip_char(strip_char(text::strip(s), U'"'), U'\'')); }

struct Literals {
  const std::vector<Text>& items;
  bool test(TextView t) const {
    return std::any_of(items.begin(), items.end(), [&](const Text& l) { return l == t; });
  }
};

// Records are built by moving values in: one is made for every step parsed.
RecordPtr make_instruction(TextView action, Value target, Value value, bool literal) {
  auto r = make_record();
  r->items.reserve(4);
  r->items.emplace_back(U"action", Value(Text(action)));
  r->items.emplace_back(U"target", std::move(target));
  r->items.emplace_back(U"value", std::move(value));
  r->items.emplace_back(U"_literal_target", Value(literal));
  return r;
}

RecordPtr instruction_with_ordinal(TextView action, Text target, std::int64_t ordinal,
                                   bool literal) {
  auto r = make_record();
  r->items.reserve(5);
  r->items.emplace_back(U"action", Value(Text(action)));
  r->items.emplace_back(U"target", Value(std::move(target)));
  r->items.emplace_back(U"value", Value());
  r->items.emplace_back(U"ordinal", Value(ordinal));
  r->items.emplace_back(U"_literal_target", Value(literal));
  return r;
}

// The target as written when it is a quoted literal, else cleaned.
Text literal_or_clean(TextView raw_target, const Literals& lit) {
  return lit.test(raw_target) ? Text(raw_target) : InstructionParser::clean_target(raw_target);
}

// A type (select) step whose only " into " (" from ") starts at the space
// after the verb has nothing before the keyword; neither the parser nor the
// validator can read it.
[[noreturn]] void throw_missing_operand(TextView instruction, TextView verb) {
  bool type = verb == U"type";
  std::string msg = "Cannot read " + to_utf8(text::quoted(instruction)) + ": `" + to_utf8(verb) +
                    "` is followed directly by `" + (type ? "into" : "from") + "`, with no " +
                    (type ? "text to type" : "option to select") + " before it. Expected: " +
                    (type ? "type <text> into <target>" : "select <value> from <target>");
  throw ValueError(msg);
}

// "type <value> into <target>" and "select <value> from <target>".
RecordPtr parse_operand_rule(TextView instruction, TextView stripped, TextView lower,
                             TextView verb_prefix, TextView keyword, const Literals& lit) {
  TextView rest = stripped.substr(verb_prefix.size());
  std::size_t pos = lower.substr(verb_prefix.size()).find(keyword);
  if (pos == TextView::npos)
    throw_missing_operand(instruction, verb_prefix.substr(0, verb_prefix.size() - 1));
  TextView value = rest.substr(0, pos);
  TextView raw_target = rest.substr(pos + keyword.size());
  TextView trimmed = text::strip(raw_target);
  Text target = lit.test(trimmed) ? Text(trimmed) : InstructionParser::clean_target(raw_target);
  bool literal = lit.test(target);
  TextView action = verb_prefix.substr(0, verb_prefix.size() - 1);
  return make_instruction(action, std::move(target), Text(value), literal);
}

// The extract forms. nullptr when the step is left to the later forms.
RecordPtr parse_extract(TextView stripped, TextView lower, const Literals& lit) {
  for (TextView prefix : {TextView(U"extract text "), TextView(U"extract_text ")}) {
    if (!starts_with(lower, prefix)) continue;
    TextView rest = stripped.substr(prefix.size());
    TextView rest_lower = lower.substr(prefix.size());
    if (starts_with_spatial(rest_lower))
      return instruction_with_ordinal(U"extract_text_spatial", Text(rest), 1, false);
    if (starts_with(rest_lower, U"from ")) rest = rest.substr(5);
    Ordinal o = extract_ordinal(rest);
    Text target = literal_or_clean(o.rest, lit);
    bool literal = lit.test(target);
    return instruction_with_ordinal(U"extract_text", std::move(target), o.ordinal, literal);
  }
  if (starts_with(lower, U"extract ")) {
    Ordinal o = extract_ordinal(stripped.substr(8));
    TextView rest = o.rest;
    if (o.ordinal > 1 && starts_with(text::lower(rest), U"text ")) {
      rest = rest.substr(5);
      if (starts_with_spatial(text::lower(rest)))
        return instruction_with_ordinal(U"extract_text_spatial", Text(rest), o.ordinal, false);
    }
  }
  return nullptr;
}

// The verify forms: a relational text check before the text states, and
// those before the element states. nullptr when no form reads the step.
RecordPtr parse_verify(TextView stripped, TextView lower, const Literals& lit) {
  constexpr std::size_t kText = 12;  // "verify text "
  if (starts_with(lower, U"verify text ")) {
    if (starts_with_spatial(lower.substr(kText))) {
      std::size_t is_pos = lower.rfind(U" is ");
      if (is_pos != TextView::npos) {
        TextView spatial = text::strip(slice(stripped, kText, is_pos));
        TextView expected = text::strip(slice(stripped, is_pos + 4));
        if (!spatial.empty() && !expected.empty())
          return make_instruction(U"verify_spatial_text", Text(spatial), Text(expected), false);
      }
    }
    for (const auto& [ending, action] : kVerifyTextStates) {
      if (!ends_with(lower, ending)) continue;
      TextView t = text::strip(slice(stripped, kText, stripped.size() - ending.size()));
      return make_instruction(action, Text(t), Value(), lit.test(t));
    }
  }
  if (starts_with(lower, U"verify ")) {
    for (const auto& [ending, action] : kVerifyStates) {
      if (!ends_with(lower, ending)) continue;
      TextView raw_target = text::strip(slice(stripped, 7, stripped.size() - ending.size()));
      Text target = literal_or_clean(raw_target, lit);
      bool literal = lit.test(target);
      return make_instruction(action, std::move(target), Value(), literal);
    }
  }
  return nullptr;
}

[[noreturn]] void throw_unrecognised(TextView instruction) {
  std::vector<Text> names(kSupportedActions.begin(), kSupportedActions.end());
  throw ValueError("Unrecognised instruction: " + to_utf8(text::quoted(instruction)) +
                   ". Supported actions: " + to_utf8(text::list_form(names)));
}

Text issue(std::string_view ascii) { return Text(ascii.begin(), ascii.end()); }

}  // namespace

Ordinal extract_ordinal(TextView text) {
  auto [first, rest] = text::split_first(text);
  for (const auto& [name, n] : kOrdinals)
    if (!first.empty() && lower_equals(first, name)) return {n, Text(rest)};
  return {1, Text(text)};
}

Text InstructionParser::clean_target(TextView target) {
  std::vector<TextView> words = text::split(target);
  std::size_t i = 0;
  while (i < words.size() && is_stop_word(words[i])) ++i;
  Text out;
  for (std::size_t k = i; k < words.size(); ++k) {
    if (k > i) out += U' ';
    out += words[k];
  }
  return out;
}

Unquoted InstructionParser::unquote(TextView s) {
  // The regex tries each position in turn: a quote opens a match only when
  // the next quote is not right beside it; after a match the scan resumes
  // past its closing quote.
  Unquoted out;
  out.unquoted.reserve(s.size());
  std::size_t copied = 0, i = s.find(U'"');
  while (i != TextView::npos) {
    std::size_t close = s.find(U'"', i + 1);
    if (close == TextView::npos) break;  // no later quote: no later match
    if (close == i + 1) {                // empty pair: retry from the second quote
      i = close;
      continue;
    }
    TextView group = s.substr(i + 1, close - i - 1);
    out.unquoted += s.substr(copied, i - copied);
    out.unquoted += group;
    out.literals.emplace_back(group);
    copied = close + 1;
    i = s.find(U'"', copied);
  }
  out.unquoted += s.substr(copied);
  return out;
}

RecordPtr InstructionParser::parse(TextView instruction) const {
  TextView raw = text::strip(instruction);
  Unquoted uq = unquote(raw);
  const TextView stripped = uq.unquoted;
  const Text lower_text = text::lower(stripped);
  const TextView lower = lower_text;
  const Literals lit{uq.literals};
  // The text after a prefix that `lower` was seen to start with.
  auto after = [&](TextView prefix) { return stripped.substr(prefix.size()); };

  if (starts_with(lower, U"type ") && text::contains(lower, kInto))
    return parse_operand_rule(instruction, stripped, lower, U"type ", kInto, lit);
  if (starts_with(lower, U"select ") && text::contains(lower, kFrom))
    return parse_operand_rule(instruction, stripped, lower, U"select ", kFrom, lit);
  if (starts_with(lower, U"find exact text ")) {
    TextView target = after(U"find exact text ");
    return make_instruction(U"find_exact_text", Text(target), Value(), lit.test(target));
  }
  if (starts_with(lower, U"find text ")) {
    Text target = literal_or_clean(after(U"find text "), lit);
    bool literal = lit.test(target);
    return make_instruction(U"find_text", std::move(target), Value(), literal);
  }
  if (RecordPtr r = parse_extract(stripped, lower, lit)) return r;
  if (starts_with(lower, U"click ")) {
    Ordinal o = extract_ordinal(after(U"click "));
    Text target = literal_or_clean(o.rest, lit);
    bool literal = lit.test(target);
    return instruction_with_ordinal(U"click", std::move(target), o.ordinal, literal);
  }
  if (starts_with(lower, U"hover ")) {
    Text target = literal_or_clean(after(U"hover "), lit);
    bool literal = lit.test(target);
    return make_instruction(U"hover", std::move(target), Value(), literal);
  }
  if (starts_with(lower, U"navigate "))
    return make_instruction(U"navigate", quote_strip(after(U"navigate ")), Value(), false);
  if (starts_with(lower, U"press "))
    return make_instruction(U"press_key", Text(text::strip(after(U"press "))), Value(), false);
  if (lower == U"accept dialog") return make_instruction(U"accept_dialog", Value(), Value(), false);
  if (lower == U"dismiss dialog") return make_instruction(U"dismiss_dialog", Value(), Value(), false);
  if (starts_with(lower, U"verify dialog says "))
    return make_instruction(U"verify_dialog", Value(), Text(after(U"verify dialog says ")), false);
  if (starts_with(lower, U"sendkeys ")) {
    Text keys = quote_strip(after(U"sendkeys "));
    return make_instruction(U"sendkeys", keys, keys, false);
  }
  if (starts_with(lower, U"wait "))
    return make_instruction(U"wait", quote_strip(after(U"wait ")), Value(), false);
  if (RecordPtr r = parse_verify(stripped, lower, lit)) return r;
  throw_unrecognised(instruction);
}

std::vector<Text> InstructionParser::validate(TextView instruction) const {
  TextView raw = text::strip(instruction);
  if (raw.empty()) return {issue("Instruction is empty.")};
  if (std::count(raw.begin(), raw.end(), U'"') % 2 != 0)
    return {U"Unbalanced quote \u2014 missing closing `\"` in: " + text::quoted(raw)};
  const Text lower_text = text::lower(raw);
  const TextView lower = lower_text;
  TextView first_word = text::split_first(lower).first;
  if (std::find(kKnownActions.begin(), kKnownActions.end(), first_word) == kKnownActions.end())
    return {U"Unknown action " + text::quoted(first_word) +
            U". Expected one of: click, type, verify, hover, select, press, wait, find, extract, "
            U"sendkeys."};

  std::vector<Text> issues;
  const char* kTypeUsage = " Expected: type <text> into <target>";
  if (starts_with(lower, U"type ")) {
    if (!text::contains(lower, kInto)) {
      issues.push_back(issue(std::string("`type` instruction missing `into` keyword.") + kTypeUsage));
    } else {
      TextView rest = raw.substr(5);
      std::size_t pos = lower.substr(5).find(kInto);
      if (pos == TextView::npos) throw_missing_operand(instruction, U"type");
      if (text::strip(rest.substr(0, pos)).empty())
        issues.push_back(issue(std::string("`type` instruction missing text to type.") + kTypeUsage));
      if (text::strip(rest.substr(pos + kInto.size())).empty())
        issues.push_back(issue(std::string("`type` instruction missing target field.") + kTypeUsage));
    }
  }
  if (starts_with(lower, U"select ") && !text::contains(lower, kFrom))
    issues.push_back(
        issue("`select` instruction missing `from` keyword. Expected: select <value> from <target>"));
  if (starts_with(lower, U"verify ") && !starts_with(lower, U"verify text ") &&
      !starts_with(lower, U"verify dialog") &&
      std::none_of(kVerifyStates.begin(), kVerifyStates.end(),
                   [&](const auto& s) { return ends_with(lower, s.first); }))
    issues.push_back(issue(
        "`verify` instruction missing state. Expected ending: is present | is visible | is "
        "enabled | is disabled"));
  if (starts_with(lower, U"verify text ")) {
    constexpr TextView kRelational[] = {U"verify text next to", U"verify text below",
                                        U"verify text above", U"verify text left",
                                        U"verify text right"};
    bool relational = std::any_of(std::begin(kRelational), std::end(kRelational),
                                  [&](TextView p) { return starts_with(lower, p); });
    if (!relational && std::none_of(kVerifyTextStates.begin(), kVerifyTextStates.end(),
                                    [&](const auto& s) { return ends_with(lower, s.first); }))
      issues.push_back(issue(
          "`verify text` instruction missing state. Expected ending: is present | is visible"));
  }
  if (starts_with(lower, U"wait ")) {
    // Milliseconds are written in ASCII digits: the agent turns them into a
    // number, and superscripts or other scripts' digits would not convert.
    Text ms = quote_strip(raw.substr(5));
    bool number = !ms.empty() && std::all_of(ms.begin(), ms.end(),
                                             [](char32_t c) { return c >= U'0' && c <= U'9'; });
    if (!number)
      issues.push_back(U"`wait` value must be a number in milliseconds. Got: " + text::quoted(ms));
  }
  return issues;
}

std::vector<std::pair<std::int64_t, std::vector<Text>>> InstructionParser::validate_all(
    const std::vector<Text>& instructions) const {
  std::vector<std::pair<std::int64_t, std::vector<Text>>> out;
  for (std::size_t i = 0; i < instructions.size(); ++i) {
    std::vector<Text> issues = validate(instructions[i]);
    if (!issues.empty()) out.emplace_back(static_cast<std::int64_t>(i + 1), std::move(issues));
  }
  return out;
}

}  // namespace qv::stepgrammar
