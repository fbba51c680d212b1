#include "common/text.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <iterator>

namespace qv::text {

namespace {

// Characters with Unicode Numeric_Type=Digit (not Decimal): superscripts,
// circled and parenthesised digits and a few scripts' digit signs. utf8proc
// carries categories but no numeric type, and these are exactly the
// characters str.isdigit accepts beyond category Nd. Checked against Python
// over every code point by the tests.
struct Range {
  char32_t lo, hi;
};
constexpr Range kNumericDigit[] = {
    {0xB2, 0xB3},       {0xB9, 0xB9},       {0x1369, 0x1371},   {0x19DA, 0x19DA},
    {0x2070, 0x2070},   {0x2074, 0x2079},   {0x2080, 0x2089},   {0x2460, 0x2468},
    {0x2474, 0x247C},   {0x2488, 0x2490},   {0x24EA, 0x24EA},   {0x24F5, 0x24FD},
    {0x24FF, 0x24FF},   {0x2776, 0x277E},   {0x2780, 0x2788},   {0x278A, 0x2792},
    {0x10A40, 0x10A43}, {0x10E60, 0x10E68}, {0x11052, 0x1105A}, {0x1F100, 0x1F10A},
};

bool valid(char32_t c) { return c <= 0x10FFFF; }

}  // namespace

bool is_space(char32_t c) {
  if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F);
  if (!valid(c)) return false;
  const utf8proc_property_t* p = utf8proc_get_property(static_cast<utf8proc_int32_t>(c));
  return p->category == UTF8PROC_CATEGORY_ZS || p->bidi_class == UTF8PROC_BIDI_CLASS_WS ||
         p->bidi_class == UTF8PROC_BIDI_CLASS_B || p->bidi_class == UTF8PROC_BIDI_CLASS_S;
}

bool is_digit(char32_t c) {
  if (c < 0x80) return c >= '0' && c <= '9';
  if (!valid(c)) return false;
  if (utf8proc_category(static_cast<utf8proc_int32_t>(c)) == UTF8PROC_CATEGORY_ND) return true;
  for (const Range& r : kNumericDigit)
    if (c >= r.lo && c <= r.hi) return true;
  return false;
}

bool is_printable(char32_t c) {
  if (c < 0x80) return c >= 0x20 && c < 0x7F;
  if (!valid(c)) return false;
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(c))) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
    case UTF8PROC_CATEGORY_ZS:
      return false;
    default:
      return true;
  }
}

char32_t lower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (!valid(c)) return c;
  return static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(c)));
}

Text lower(TextView s) {
  Text out(s.size(), U'\0');
  for (std::size_t i = 0; i < s.size(); ++i) out[i] = lower(s[i]);
  return out;
}

TextView lstrip(TextView s) {
  std::size_t i = 0;
  while (i < s.size() && is_space(s[i])) ++i;
  return s.substr(i);
}

TextView rstrip(TextView s) {
  std::size_t n = s.size();
  while (n > 0 && is_space(s[n - 1])) --n;
  return s.substr(0, n);
}

TextView strip(TextView s) { return rstrip(lstrip(s)); }

std::vector<TextView> split(TextView s) {
  std::vector<TextView> out;
  std::size_t i = 0, n = s.size();
  while (i < n) {
    while (i < n && is_space(s[i])) ++i;
    if (i >= n) break;
    std::size_t j = i;
    while (j < n && !is_space(s[j])) ++j;
    out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

std::pair<TextView, TextView> split_first(TextView s) {
  std::size_t i = 0, n = s.size();
  while (i < n && is_space(s[i])) ++i;
  if (i >= n) return {TextView(), TextView()};
  std::size_t j = i;
  while (j < n && !is_space(s[j])) ++j;
  std::size_t k = j;
  while (k < n && is_space(s[k])) ++k;
  return {s.substr(i, j - i), s.substr(k)};
}

template <class T>
static Text join_impl(const std::vector<T>& parts, TextView sep) {
  Text out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    out += parts[i];
  }
  return out;
}

Text join(const std::vector<TextView>& parts, TextView sep) { return join_impl(parts, sep); }
Text join(const std::vector<Text>& parts, TextView sep) { return join_impl(parts, sep); }

bool has_digit(TextView s) { return std::any_of(s.begin(), s.end(), [](char32_t c) { return is_digit(c); }); }

bool starts_with(TextView s, TextView prefix) { return s.substr(0, prefix.size()) == prefix; }
bool ends_with(TextView s, TextView suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}
bool contains(TextView s, TextView needle) { return s.find(needle) != TextView::npos; }

Text replace_char(TextView s, char32_t from, char32_t to) {
  Text out(s);
  std::replace(out.begin(), out.end(), from, to);
  return out;
}

Text replace_all(TextView s, TextView from, TextView to) {
  if (from.empty()) return Text(s);
  Text out;
  std::size_t i = 0;
  while (true) {
    std::size_t j = s.find(from, i);
    if (j == TextView::npos) break;
    out += s.substr(i, j - i);
    out += to;
    i = j + from.size();
  }
  out += s.substr(i);
  return out;
}

Text quoted(TextView s) {
  bool has_single = s.find(U'\'') != TextView::npos;
  bool has_double = s.find(U'"') != TextView::npos;
  char32_t quote = (has_single && !has_double) ? U'"' : U'\'';
  static const char32_t* hex = U"0123456789abcdef";
  Text out;
  out.reserve(s.size() + 2);
  out += quote;
  for (char32_t c : s) {
    if (c == quote || c == U'\\') {
      out += U'\\';
      out += c;
    } else if (c == U'\t') {
      out += U"\\t";
    } else if (c == U'\n') {
      out += U"\\n";
    } else if (c == U'\r') {
      out += U"\\r";
    } else if (is_printable(c)) {
      out += c;
    } else {
      int digits;
      if (c <= 0xFF) { out += U"\\x"; digits = 2; }
      else if (c <= 0xFFFF) { out += U"\\u"; digits = 4; }
      else { out += U"\\U"; digits = 8; }
      for (int k = digits - 1; k >= 0; --k) out += hex[(c >> (4 * k)) & 0xF];
    }
  }
  out += quote;
  return out;
}

Text list_form(const std::vector<Text>& items) {
  Text out = U"[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += U", ";
    out += quoted(items[i]);
  }
  out += U"]";
  return out;
}

}  // namespace qv::text
