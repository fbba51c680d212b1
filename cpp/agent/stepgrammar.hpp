// The step language: one line of plain English -> a parsed instruction, and
// the checks that give an author helpful messages before a run.
//
// Everything here is pure: the tables are constants, the parser holds no
// state, and every function reads only its arguments, so any number of
// threads may call it at once.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "common/value.hpp"

namespace qv::stepgrammar {

// The actions named in the parser's error message, in that order. "navigate"
// and "wait" are produced but deliberately not advertised.
inline constexpr std::array<TextView, 20> kSupportedActions = {
    U"click",          U"type",           U"hover",
    U"select",         U"press_key",      U"sendkeys",
    U"extract_text",   U"extract_text_spatial",
    U"find_text",      U"find_exact_text", U"verify_present",
    U"verify_visible", U"verify_enabled", U"verify_disabled",
    U"verify_text_present", U"verify_text_visible", U"verify_spatial_text",
    U"accept_dialog",  U"dismiss_dialog", U"verify_dialog",
};

// First words that validation accepts. "back" and "refresh" pass
// validation although the parser has no rule for them.
inline constexpr std::array<TextView, 15> kKnownActions = {
    U"click", U"type",    U"hover",   U"select", U"press",
    U"sendkeys", U"wait", U"verify",  U"find",   U"extract",
    U"accept", U"dismiss", U"back",   U"refresh", U"navigate",
};

inline constexpr std::array<std::pair<TextView, std::int64_t>, 5> kOrdinals = {{
    {U"first", 1}, {U"second", 2}, {U"third", 3}, {U"fourth", 4}, {U"fifth", 5},
}};

// Each keyword ends with its space, so "nearby" is not "near".
inline constexpr std::array<TextView, 7> kSpatialKeywords = {
    U"next to ", U"below ", U"above ", U"left of ", U"right of ", U"under ", U"near ",
};

inline constexpr std::array<TextView, 7> kStopWords = {
    U"on", U"the", U"a", U"an", U"in", U"at", U"into",
};

// State endings, tried in this order.
inline constexpr std::array<std::pair<TextView, TextView>, 4> kVerifyStates = {{
    {U"is present", U"verify_present"},
    {U"is visible", U"verify_visible"},
    {U"is enabled", U"verify_enabled"},
    {U"is disabled", U"verify_disabled"},
}};

inline constexpr std::array<std::pair<TextView, TextView>, 2> kVerifyTextStates = {{
    {U"is present", U"verify_text_present"},
    {U"is visible", U"verify_text_visible"},
}};

// The quote pattern as the host's regular-expression engine spells it; the
// scan in `InstructionParser::unquote` behaves exactly like it.
inline constexpr std::string_view kQuotePattern = "\"([^\"]+)\"";

struct Ordinal {
  std::int64_t ordinal;
  Text rest;
};

// A leading ordinal word ("first" .. "fifth", any case) and the text after
// it with the white space that followed it removed; {1, text} unchanged when
// the first word is not an ordinal. Never fails.
Ordinal extract_ordinal(TextView text);

struct Unquoted {
  Text unquoted;               // the step with the quotes of each match removed
  std::vector<Text> literals;  // the quoted texts, in order of appearance
};

class InstructionParser {
 public:
  // The words of `target` with leading stop words dropped, joined by single
  // spaces. Never fails.
  static Text clean_target(TextView target);

  // Every `"text"` (one or more characters, no double quote inside) found
  // left to right without overlap: its quotes removed from the step and its
  // text collected. An empty pair or an odd quote stays as it is.
  static Unquoted unquote(TextView instruction);

  // The parsed instruction record (keys action, target, value, [ordinal,]
  // _literal_target). ValueError "Unrecognised instruction: ..." when no rule
  // accepts the step, or a ValueError naming the missing operand for
  // "type into X" / "select from X".
  RecordPtr parse(TextView instruction) const;

  // The issues of one step, in the order found; empty when it passes.
  // ValueError (as parse) for "type into X".
  std::vector<Text> validate(TextView instruction) const;

  // (1-based step number, issues) for every step with issues, in order.
  std::vector<std::pair<std::int64_t, std::vector<Text>>> validate_all(
      const std::vector<Text>& instructions) const;
};

}  // namespace qv::stepgrammar
