// Unicode text helpers with Python's str semantics, on utf8proc.
//
// Lower-casing is character by character (simple case mapping), so the result
// has the same length as the input and positions carry over. White space,
// digits and printable characters follow Python's str.isspace, str.isdigit
// and str.isprintable for the Unicode version utf8proc carries.
#pragma once

#include <string>
#include <vector>

#include "common/value.hpp"

namespace qv::text {

// Python's str.isspace for one character.
bool is_space(char32_t c);
// Python's str.isdigit for one character (Numeric_Type Digit or Decimal).
bool is_digit(char32_t c);
// Python's str.isprintable for one character (what repr leaves unescaped).
bool is_printable(char32_t c);
// Simple lower-case mapping of one character; itself when it has none.
char32_t lower(char32_t c);

// Character-by-character lower case; same length as `s`.
Text lower(TextView s);
// s.strip() / lstrip() / rstrip() with Python's white space.
TextView strip(TextView s);
TextView lstrip(TextView s);
TextView rstrip(TextView s);
// s.split(): words at runs of white space, no empty words.
std::vector<TextView> split(TextView s);
// s.split(None, 1): first word, and the rest starting at the next non-space
// character (trailing white space kept). Both empty when `s` is blank.
std::pair<TextView, TextView> split_first(TextView s);
// sep.join(parts)
Text join(const std::vector<TextView>& parts, TextView sep);
Text join(const std::vector<Text>& parts, TextView sep);
// True when some character of `s` is a digit.
bool has_digit(TextView s);

bool starts_with(TextView s, TextView prefix);
bool ends_with(TextView s, TextView suffix);
bool contains(TextView s, TextView needle);
// Replace every occurrence of `from` by `to` (single characters).
Text replace_char(TextView s, char32_t from, char32_t to);
Text replace_all(TextView s, TextView from, TextView to);

// Python's repr(s): the quoted form used in messages.
Text quoted(TextView s);
// "['a', 'b']": the list form of texts.
Text list_form(const std::vector<Text>& items);

}  // namespace qv::text
