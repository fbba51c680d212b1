// Element text matching: the module tables and the six functions every
// resolver of the text strategy rests on.
#include <algorithm>

#include "common/text.hpp"
#include "strategies/textlocator.hpp"
#include "strategies/textlocator_fields.hpp"

namespace qv::textlocator {

namespace {

bool in(const std::vector<Text>& table, TextView word) {
  return std::find(table.begin(), table.end(), word) != table.end();
}

// s with "_" and "-" as spaces, appended to `out`.
void append_spaced(Text& out, TextView s) {
  for (char32_t c : s) out += (c == U'_' || c == U'-') ? U' ' : c;
}

bool keep_word(TextView w, std::size_t min_len) { return w.size() >= min_len && !text::has_digit(w); }

// Calls f(word) for each white-space-separated word of s, in order.
template <class F>
void for_each_word(TextView s, F&& f) {
  std::size_t i = 0, n = s.size();
  while (i < n) {
    while (i < n && text::is_space(s[i])) ++i;
    std::size_t start = i;
    while (i < n && !text::is_space(s[i])) ++i;
    if (i > start) f(s.substr(start, i - start));
  }
}

// Class words: tokens of at least 4 characters without digits, their "_"
// and "-" then made spaces; the length test is on the token as written.
void class_words(TextView cls, Text& out) {
  out.clear();
  for_each_word(cls, [&](TextView tok) {
    if (!keep_word(tok, 4)) return;
    if (!out.empty()) out += U' ';
    append_spaced(out, tok);
  });
}

// Id and data-name words: "_" and "-" made spaces first, so the length test
// is on the pieces.
void piece_words(TextView s, std::size_t min_len, Text& spaced, Text& out) {
  spaced.clear();
  append_spaced(spaced, s);
  out.clear();
  for_each_word(spaced, [&](TextView w) {
    if (!keep_word(w, min_len)) return;
    if (!out.empty()) out += U' ';
    out += w;
  });
}

// Buffers reused from element to element: matching runs once per element
// on every step, and allocation would otherwise be most of its cost.
struct Scratch {
  Text words, spaced, lowered;
};
Scratch& scratch() {
  thread_local Scratch s;
  return s;
}

// Calls f on every searchable string of `el`, in order. Every string is
// built even after a hit, so a value of the wrong kind is reported whatever
// the outcome. Returns whether f returned true for any.
template <class F>
bool visit_searchable(const Record& el, bool include_label, F&& f) {
  bool hit = false;
  TextView t = fields::text(el, U"text");
  if (!t.empty()) hit |= f(t);
  const Record* attrs = fields::attributes(el);
  if (!attrs) return hit;
  // One pass over the entries finds the named ones; a record has each key
  // once, so the first of a name is the one.
  constexpr std::size_t kNamed = 8;  // the match attributes, then class and id
  const Value* named[kNamed] = {};
  const auto& names = match_attributes();
  for (const auto& [name, value] : attrs->items) {
    std::size_t k = 0;
    while (k < names.size() && names[k] != name) ++k;
    if (k == names.size()) k = name == U"class" ? 6 : name == U"id" ? 7 : kNamed;
    if (k < kNamed && !named[k]) named[k] = &value;
  }
  auto entry = [&](std::size_t k) -> TextView {
    const Value* v = named[k];
    if (!v || v->is_null()) return {};
    return v->text();
  };
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (names[k] == U"_label" && !include_label) continue;
    TextView v = entry(k);
    if (!v.empty()) hit |= f(v);
  }
  Scratch& s = scratch();
  TextView cls = entry(6);
  if (!cls.empty()) {
    class_words(cls, s.words);
    if (!s.words.empty()) hit |= f(s.words);
  }
  TextView id = entry(7);
  if (!id.empty()) {
    piece_words(id, 4, s.spaced, s.words);
    if (!s.words.empty()) hit |= f(s.words);
  }
  for (const auto& [name, value] : attrs->items) {
    (void)value;  // only the names of data attributes are searched
    if (!text::starts_with(name, U"data-") || name == U"data-testid") continue;
    piece_words(TextView(name).substr(5), 2, s.spaced, s.words);
    if (!s.words.empty()) hit |= f(s.words);
  }
  return hit;
}

void lower_into(TextView s, Text& out) {
  out.resize(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) out[i] = text::lower(s[i]);
}

}  // namespace

// ---- tables -----------------------------------------------------------------

const std::vector<Text>& match_attributes() {
  static const std::vector<Text> t{U"aria-label", U"_label", U"placeholder",
                                   U"data-testid", U"type",   U"alt"};
  return t;
}

const std::vector<Text>& type_descriptors() {
  static const std::vector<Text> t{U"input",   U"field",    U"button",  U"btn",   U"box",
                                   U"link",    U"dropdown", U"select",  U"checkbox",
                                   U"radio",   U"textarea", U"textbox", U"area",  U"icon",
                                   U"control", U"widget",   U"form",    U"element"};
  return t;
}

const std::vector<Text>& text_only_tags() {
  static const std::vector<Text> t{U"span", U"p",  U"label", U"h1", U"h2", U"h3", U"h4",
                                   U"h5",   U"h6", U"li",    U"td", U"th", U"div", U"a"};
  return t;
}

const std::vector<Text>& typeable_tags() {
  static const std::vector<Text> t{U"input", U"textarea"};
  return t;
}

const std::vector<Text>& typeable_roles() {
  static const std::vector<Text> t{U"textbox", U"searchbox", U"spinbutton", U"combobox"};
  return t;
}

const std::vector<Text>& selectable_tags() {
  static const std::vector<Text> t{U"select"};
  return t;
}

const std::vector<Direction>& directions() {
  static const std::vector<Direction> t{{U"next to", U"right"}, {U"right of", U"right"},
                                        {U"left of", U"left"},  {U"below", U"below"},
                                        {U"under", U"below"},   {U"above", U"above"}};
  return t;
}

// ---- functions --------------------------------------------------------------

Text strip_type_descriptors(TextView target) {
  std::vector<TextView> words = text::split(target);
  auto is_descriptor = [](TextView w) { return in(type_descriptors(), text::lower(w)); };
  std::size_t lo = 0, hi = words.size();
  while (hi > lo && is_descriptor(words[hi - 1])) --hi;
  while (lo < hi && is_descriptor(words[lo])) ++lo;
  if (lo == hi) return Text(target);
  return text::join(std::vector<TextView>(words.begin() + lo, words.begin() + hi), U" ");
}

std::vector<Text> searchable_strings(const Value& element, bool include_label) {
  std::vector<Text> out;
  visit_searchable(fields::descriptor(element), include_label, [&](TextView s) {
    out.emplace_back(s);
    return false;
  });
  return out;
}

namespace match {

Text normalise_target(TextView target) {
  Text out;
  append_spaced(out, text::lower(target));
  return out;
}

bool contains(TextView normalised, const Record& element, bool include_label) {
  Text& low = scratch().lowered;
  return visit_searchable(element, include_label, [&](TextView s) {
    if (s.size() < normalised.size()) return false;
    lower_into(s, low);
    return low.find(normalised) != Text::npos;
  });
}

bool exact(TextView normalised, const Record& element, bool include_label) {
  Text& low = scratch().lowered;
  return visit_searchable(element, include_label, [&](TextView s) {
    if (s.size() < normalised.size()) return false;
    lower_into(s, low);
    return text::strip(low) == normalised;
  });
}

}  // namespace match

bool matches_element(TextView target, const Value& element, bool include_label) {
  return match::contains(match::normalise_target(target), fields::descriptor(element),
                         include_label);
}

bool exact_matches_element(TextView target, const Value& element, bool include_label) {
  return match::exact(match::normalise_target(target), fields::descriptor(element),
                      include_label);
}

std::int64_t dom_distance(TextView xpath_a, TextView xpath_b) {
  auto steps = [](TextView x) {
    std::size_t lo = x.find_first_not_of(U'/');
    if (lo == TextView::npos) return std::vector<TextView>{TextView{}};
    std::size_t hi = x.find_last_not_of(U'/');
    x = x.substr(lo, hi - lo + 1);
    std::vector<TextView> out;
    std::size_t start = 0;
    for (;;) {
      std::size_t slash = x.find(U'/', start);
      out.push_back(x.substr(start, slash == TextView::npos ? TextView::npos : slash - start));
      if (slash == TextView::npos) break;
      start = slash + 1;
    }
    return out;
  };
  std::vector<TextView> a = steps(xpath_a), b = steps(xpath_b);
  std::size_t common = 0;
  while (common < a.size() && common < b.size() && a[common] == b[common]) ++common;
  return static_cast<std::int64_t>((a.size() - common) + (b.size() - common));
}

ListPtr filter_by_action(TextView action, const ListPtr& elements) {
  auto keep_if = [&](auto&& pred) {
    auto kept = make_list();
    for (const Value& v : elements->items)
      if (pred(fields::descriptor(v))) kept->push_back(v);
    return kept->empty() ? elements : kept;
  };
  if (action == U"type") {
    return keep_if([](const Record& el) {
      if (in(typeable_tags(), fields::text(el, U"tag"))) return true;
      if (in(typeable_roles(), fields::attribute(fields::attributes(el), U"role"))) return true;
      return fields::flag(el, U"is_editable_field");
    });
  }
  if (action == U"select") {
    return keep_if(
        [](const Record& el) { return in(selectable_tags(), fields::text(el, U"tag")); });
  }
  return elements;
}

Text norm(TextView s) {
  Text out;
  for (char32_t c : s) {
    if (c == U'$' || c == U'\u00A3' || c == U'\u20AC' || c == U',') continue;
    out += text::lower(c);
  }
  return Text(text::strip(out));
}

}  // namespace qv::textlocator
