#include "spatial/gridlocator.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/text.hpp"

namespace qv::gridlocator {

namespace {

// ---- reading entries ------------------------------------------------------

const Record& position_of(const Record& entry) { return *entry.at(U"position").record(); }

// A number read without default: KeyError when absent, TypeError when not a
// number.
const Value& number_at(const Record& r, TextView key) {
  const Value& v = r.at(key);
  (void)v.number();
  return v;
}


// Whether `s` lower-cased equals `lower` (already lower case). Lower-casing
// keeps lengths, so most texts are told apart by size without any work.
bool equals_lowered(TextView s, TextView lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i)
    if (text::lower(s[i]) != lower[i]) return false;
  return true;
}

bool starts_lowered(TextView s, TextView lower_prefix) {
  return s.size() >= lower_prefix.size() && equals_lowered(s.substr(0, lower_prefix.size()), lower_prefix);
}

bool is_nan(const Value& v) { return v.is_real() && std::isnan(v.as_real()); }

// Numeric comparisons as the host makes them: anything with NaN is false.
bool lt(const Value& a, const Value& b) { return !is_nan(a) && !is_nan(b) && compare_numbers(a, b) < 0; }
bool le(const Value& a, const Value& b) { return !is_nan(a) && !is_nan(b) && compare_numbers(a, b) <= 0; }
bool ge(const Value& a, const Value& b) { return le(b, a); }

// The entry's element descriptor; nullptr (an empty record) when absent.
const Record* element_of(const Record& entry) {
  const Value* v = entry.find(U"element");
  return v ? v->record().get() : nullptr;
}

const Record* attributes_of(const Record* el) {
  if (!el) return nullptr;
  const Value* v = el->find(U"attributes");
  return v ? v->record().get() : nullptr;
}

bool anchor_only(const Record& entry) { return get_truthy(entry, U"is_anchor_only", false); }

// Whether the entry's element_type is exactly `type`; a value of another
// kind is simply not equal.
bool has_type(const Record& entry, const Text& type) {
  const Value& v = entry.at(U"element_type");
  return v.is_text() && v.as_text() == type;
}

bool same_index(const Value& a, const Value& b) {
  (void)a.number();
  (void)b.number();
  return !is_nan(a) && !is_nan(b) && compare_numbers(a, b) == 0;
}

// The rank-th member (1-based) of a list, if there is one.
template <class T>
std::vector<T> nth(const std::vector<T>& items, std::int64_t rank) {
  if (rank < 1 || static_cast<std::uint64_t>(rank) > items.size()) return {};
  return {items[static_cast<std::size_t>(rank - 1)]};
}

const std::vector<TextView>& articles() {
  static const std::vector<TextView> a = {U"the", U"a", U"an"};
  return a;
}

bool contains_word(const std::vector<TextView>& words, TextView w) {
  return std::find(words.begin(), words.end(), w) != words.end();
}

std::optional<Text> joined_or_null(const std::vector<TextView>& words) {
  if (words.empty()) return std::nullopt;
  return text::join(words, U" ");
}

// Relations in the order they are tried: longest keyword first, table order
// among equal lengths.
const std::vector<std::pair<Text, Text>>& relations_by_length() {
  static const std::vector<std::pair<Text, Text>> sorted = [] {
    auto r = relations();
    std::stable_sort(r.begin(), r.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    return r;
  }();
  return sorted;
}

RecordPtr success_base(const Value& element) {
  return make_record({{U"resolved", Value(true)}, {U"confidence", Value(1.0)}, {U"element", element}});
}

ListPtr elements_of(const std::vector<RecordPtr>& entries) {
  auto out = make_list();
  out->items.reserve(entries.size());
  for (const auto& e : entries) out->push_back(e->at(U"element"));
  return out;
}

}  // namespace

// ---- tables -----------------------------------------------------------------

const std::vector<std::pair<Text, Text>>& relations() {
  static const std::vector<std::pair<Text, Text>> t = {
      {U"next to", U"next_to"}, {U"below", U"below"},  {U"under", U"below"}, {U"above", U"above"},
      {U"left of", U"left"},    {U"right of", U"right"}, {U"near", U"near"}};
  return t;
}

const std::vector<std::pair<Text, std::int64_t>>& ordinals() {
  static const std::vector<std::pair<Text, std::int64_t>> t = {
      {U"first", 1}, {U"second", 2}, {U"third", 3}, {U"fourth", 4}, {U"fifth", 5},
      {U"1st", 1},   {U"2nd", 2},    {U"3rd", 3},   {U"4th", 4},    {U"5th", 5}};
  return t;
}

const std::vector<std::pair<Text, Text>>& type_keywords() {
  static const std::vector<std::pair<Text, Text>> t = {
      {U"button", U"button"}, {U"btn", U"button"},   {U"link", U"link"},
      {U"anchor", U"link"},   {U"input", U"input"},  {U"field", U"input"},
      {U"textbox", U"input"}, {U"select", U"select"}, {U"dropdown", U"select"}};
  return t;
}

// ---- target parsing -----------------------------------------------------------

ParsedTarget parse_target(TextView target) {
  ParsedTarget out;
  const Text lower = text::lower(target);
  const std::vector<TextView> words = text::split(lower);

  std::optional<TextView> rel_keyword;
  for (const auto& [kw, strategy] : relations_by_length()) {
    if (lower.find(kw) != Text::npos) {
      rel_keyword = kw;
      out.rel_strategy = strategy;
      break;
    }
  }
  std::optional<TextView> ordinal_word;
  for (const auto& [w, n] : ordinals()) {
    if (contains_word(words, w)) {
      ordinal_word = w;
      out.ordinal = n;
      break;
    }
  }
  std::optional<TextView> type_word;
  for (const auto& [w, type] : type_keywords()) {
    if (contains_word(words, w)) {
      type_word = w;
      out.type_filter = type;
      break;
    }
  }
  auto skipped = [&](TextView w) {
    return (ordinal_word && w == *ordinal_word) || (type_word && w == *type_word);
  };

  if (rel_keyword) {
    const std::size_t at = lower.find(*rel_keyword);
    TextView pre = TextView(lower).substr(0, at);
    TextView anchor_raw = text::strip(TextView(lower).substr(at + rel_keyword->size()));
    for (TextView article : articles()) {
      if (anchor_raw.size() > article.size() && text::starts_with(anchor_raw, article) &&
          anchor_raw[article.size()] == U' ')
        anchor_raw.remove_prefix(article.size() + 1);
    }
    out.anchor = Text(text::strip(anchor_raw));
    std::vector<TextView> pre_words;
    for (TextView w : text::split(text::strip(pre)))
      if (!skipped(w)) pre_words.push_back(w);
    out.target_text = joined_or_null(pre_words);
  }

  if (out.ordinal && (!out.anchor || out.anchor->empty())) {
    std::vector<TextView> keyword_words;
    if (rel_keyword) keyword_words = text::split(*rel_keyword);
    std::vector<TextView> remaining;
    for (TextView w : words)
      if (!skipped(w) && !contains_word(keyword_words, w) && !contains_word(articles(), w))
        remaining.push_back(w);
    out.search_text = joined_or_null(remaining);
  }
  return out;
}

Text normalize(TextView t) {
  Text out;
  out.reserve(t.size());
  for (char32_t c : text::lower(t))
    if (c != U' ' && c != U'-') out += c;
  return out;
}

std::int64_t dom_distance(TextView xpath_a, TextView xpath_b) {
  auto segments = [](TextView p) {
    while (!p.empty() && p.front() == U'/') p.remove_prefix(1);
    while (!p.empty() && p.back() == U'/') p.remove_suffix(1);
    std::vector<TextView> segs;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= p.size(); ++i) {
      if (i == p.size() || p[i] == U'/') {
        segs.push_back(p.substr(start, i - start));
        start = i + 1;
      }
    }
    return segs;
  };
  const auto a = segments(xpath_a), b = segments(xpath_b);
  std::int64_t common = 0;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] == b[i]) ++common;
  return (static_cast<std::int64_t>(a.size()) - common) + (static_cast<std::int64_t>(b.size()) - common);
}

// ---- geometry ---------------------------------------------------------------------

namespace {

// The geometry on position records, so that a ranking looks each entry's
// position up once. Left operands are read first, so that a missing key is
// reported in reading order.
double centre_distance_pos(const Record& pa, const Record& pb) {
  const double ax = number_at(pa, U"cx").number();
  const double dx = ax - number_at(pb, U"cx").number();
  const double ay = number_at(pa, U"cy").number();
  const double dy = ay - number_at(pb, U"cy").number();
  return std::sqrt(dx * dx + dy * dy);
}

bool overlaps_pos(const Record& pa, const Record& pb, TextView lo, TextView hi) {
  const Value tol(SPATIAL_TOLERANCE);
  Value a_lo = sub_numbers(number_at(pa, lo), tol);
  if (!lt(a_lo, number_at(pb, hi))) return false;
  Value b_lo = sub_numbers(number_at(pb, lo), tol);
  return lt(b_lo, number_at(pa, hi));
}

bool ge_at(const Record& pa, TextView ka, const Record& pb, TextView kb) {
  const Value& left = number_at(pa, ka);
  return ge(left, number_at(pb, kb));
}

bool le_at(const Record& pa, TextView ka, const Record& pb, TextView kb) {
  const Value& left = number_at(pa, ka);
  return le(left, number_at(pb, kb));
}

}  // namespace

double centre_distance(const Record& a, const Record& b) {
  const Record& pa = position_of(a);
  return centre_distance_pos(pa, position_of(b));
}

bool overlaps_vertically(const Record& a, const Record& b) {
  const Record& pa = position_of(a);
  return overlaps_pos(pa, position_of(b), U"y", U"y2");
}

bool overlaps_horizontally(const Record& a, const Record& b) {
  const Record& pa = position_of(a);
  return overlaps_pos(pa, position_of(b), U"x", U"x2");
}

// ---- ordinals and results ---------------------------------------------------------------

std::int64_t ordinal_value(const Value& v, const char* name) {
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
  switch (v.kind()) {
    case Kind::Int: return v.as_int64();
    case Kind::BigInt: return v.number() > 0 ? kMax : kMin;
    case Kind::Real: {
      const double d = v.as_real();
      if (std::isnan(d)) throw ValueError("cannot convert float NaN to integer");
      if (std::isinf(d)) throw ValueError("cannot convert float infinity to integer");
      const double t = std::trunc(d);
      if (t >= 9223372036854775808.0) return kMax;
      if (t < -9223372036854775808.0) return kMin;
      return static_cast<std::int64_t>(t);
    }
    default: throw_argument_type(name, "int", v.kind_name());
  }
}

RecordPtr failure_result() {
  return make_record({{U"resolved", Value(false)},
                      {U"confidence", Value(0.0)},
                      {U"element", Value()},
                      {U"candidates", Value(make_list())}});
}

// ---- the resolver -----------------------------------------------------------------------

RecordPtr MatrixResolver::resolve(const Record& parsed_instruction) const {
  Text target;
  if (const Value* t = parsed_instruction.find(U"target")) {
    if (t->is_null()) throw_argument_type("target", "str", "NoneType");
    target = t->text();
  }
  const ParsedTarget pt = parse_target(target);
  if (!pt.anchor || pt.anchor->empty()) {
    if (!pt.ordinal) return failure_result();
    return resolve_ordinal(*pt.ordinal, pt.type_filter, pt.search_text);
  }

  const RecordPtr anchor_entry = find_anchor(*pt.anchor);
  if (!anchor_entry) return failure_result();
  std::vector<Value> candidates = get_candidates(*anchor_entry, pt.target_text, pt.type_filter);
  // The type filter is relaxed only when candidates exist but none of them
  // stands in the relation.
  if (candidates.empty()) return failure_result();
  std::vector<RecordPtr> ranked = rank(candidates, *anchor_entry, pt.rel_strategy, pt.ordinal);
  const bool type_relaxed = ranked.empty() && pt.type_filter.has_value();
  if (type_relaxed) {
    candidates = get_candidates(*anchor_entry, pt.target_text, std::nullopt);
    ranked = rank(candidates, *anchor_entry, pt.rel_strategy, pt.ordinal);
  }
  if (ranked.empty()) return failure_result();

  const RecordPtr& best = ranked.front();
  auto result = success_base(best->at(U"element"));
  result->items.emplace_back(U"anchor_text", anchor_entry->at(U"searchable"));
  result->items.emplace_back(U"ordinal", Value(pt.ordinal.value_or(1)));
  result->items.emplace_back(U"type_relaxed", Value(type_relaxed));
  Value actual_type = type_relaxed ? best->at(U"element_type")
                      : pt.type_filter ? Value(*pt.type_filter)
                                       : Value();
  result->items.emplace_back(U"actual_type", std::move(actual_type));
  result->items.emplace_back(U"candidates", Value(elements_of(ranked)));
  return result;
}

std::vector<Value> MatrixResolver::get_candidates(const Record& anchor_entry,
                                                  const std::optional<Text>& target_text,
                                                  const std::optional<Text>& tf) const {
  std::vector<Value> pool;
  for (const Value& v : matrix_->items) {
    const Record& e = *v.record();
    const Value& index = e.at(U"index");
    if (same_index(index, anchor_entry.at(U"index"))) continue;
    if (anchor_only(e)) continue;
    if (tf && !has_type(e, *tf)) continue;
    pool.push_back(v);
  }
  if (target_text && !target_text->empty()) {
    const Text t_norm = normalize(*target_text);
    std::vector<Value> filtered;
    for (const Value& v : pool)
      if (normalize(get_text(*v.as_record(), U"searchable")).find(t_norm) != Text::npos)
        filtered.push_back(v);
    if (!filtered.empty()) return filtered;
  }
  return pool;
}

RecordPtr MatrixResolver::find_anchor(TextView anchor_text) const {
  static const TextView kAttrs[] = {U"aria-label", U"_label", U"placeholder"};
  const Text anchor_lower = text::lower(anchor_text);

  // An exact text match beats an attribute match: a product title is the
  // anchor rather than a button whose label merely repeats it.
  std::vector<RecordPtr> text_matches, attr_matches;
  for (const Value& v : matrix_->items) {
    const RecordPtr& e = v.record();
    const Record* el = element_of(*e);
    const Value* el_text = el ? el->find(U"text") : nullptr;
    if (equals_lowered(el_text ? TextView(el_text->text()) : TextView(), anchor_lower)) {
      text_matches.push_back(e);
      continue;
    }
    const Record* attrs = attributes_of(el);
    if (!attrs) continue;
    for (TextView name : kAttrs) {
      const Value* val = attrs->find(name);
      if (!val || val->is_null()) continue;
      const Text& s = val->text();
      if (!s.empty() && equals_lowered(s, anchor_lower)) {
        attr_matches.push_back(e);
        break;
      }
    }
  }
  std::vector<RecordPtr> matches = !text_matches.empty() ? std::move(text_matches) : std::move(attr_matches);

  if (matches.empty()) {
    const Text prefix = anchor_lower + U" ";
    const Text paren = anchor_lower + U"(";
    for (const Value& v : matrix_->items) {
      const RecordPtr& e = v.record();
      const Value* t = e->find(U"text");
      const TextView tv = t ? TextView(t->text()) : TextView();
      if (starts_lowered(tv, prefix) || starts_lowered(tv, paren)) matches.push_back(e);
    }
    if (matches.empty()) {
      for (const Value& v : matrix_->items) {
        const RecordPtr& e = v.record();
        const Record* attrs = attributes_of(element_of(*e));
        if (!attrs) continue;
        for (TextView name : kAttrs) {
          const Value* a = attrs->find(name);
          if (a && !a->is_null() && starts_lowered(a->text(), prefix)) {
            matches.push_back(e);
            break;
          }
        }
      }
    }
  }
  if (matches.empty()) return nullptr;

  std::vector<RecordPtr> pool;
  for (const auto& e : matches)
    if (!anchor_only(*e)) pool.push_back(e);
  if (pool.empty()) pool = std::move(matches);
  if (pool.size() == 1) return pool.front();

  // Several candidates: the smallest box is the most specific element.
  auto area = [](const Record& e) {
    const Value* p = e.find(U"position");
    const Record* pos = p ? p->record().get() : nullptr;
    const Value* w = pos ? pos->find(U"w") : nullptr;
    const Value* h = pos ? pos->find(U"h") : nullptr;
    return mul_numbers(w ? *w : Value(999), h ? *h : Value(999));
  };
  RecordPtr best = pool.front();
  Value best_area = area(*best);
  for (std::size_t i = 1; i < pool.size(); ++i) {
    Value a = area(*pool[i]);
    if (lt(a, best_area)) {
      best = pool[i];
      best_area = std::move(a);
    }
  }
  return best;
}

std::vector<RecordPtr> MatrixResolver::rank(const std::vector<Value>& candidates, const Record& anchor,
                                            const std::optional<Text>& strategy,
                                            std::optional<std::int64_t> ordinal) const {
  if (!strategy) return {};
  const Text& s = *strategy;
  // Sort keys are taken while filtering, so the sort itself cannot fail.
  std::vector<std::pair<Value, RecordPtr>> kept;
  bool descending = false;
  // The anchor's position is looked up at the first candidate, as reading
  // it is part of testing one.
  const Record* anchor_pos = nullptr;
  auto ap = [&]() -> const Record& {
    if (!anchor_pos) anchor_pos = &position_of(anchor);
    return *anchor_pos;
  };
  auto each = [&](auto keep) {
    for (const Value& v : candidates) {
      const RecordPtr& e = v.record();
      keep(e, position_of(*e));
    }
  };
  if (s == U"next_to") {
    each([&](const RecordPtr& e, const Record& p) {
      if (overlaps_pos(p, ap(), U"y", U"y2") && ge_at(p, U"x", ap(), U"x2"))
        kept.emplace_back(number_at(*e, U"index"), e);
    });
  } else if (s == U"below") {
    each([&](const RecordPtr& e, const Record& p) {
      if (ge_at(p, U"y", ap(), U"y2") && overlaps_pos(p, ap(), U"x", U"x2")) kept.emplace_back(p.at(U"y"), e);
    });
  } else if (s == U"above") {
    descending = true;
    each([&](const RecordPtr& e, const Record& p) {
      if (le_at(p, U"y2", ap(), U"y") && overlaps_pos(p, ap(), U"x", U"x2")) kept.emplace_back(p.at(U"y2"), e);
    });
  } else if (s == U"left") {
    descending = true;
    each([&](const RecordPtr& e, const Record& p) {
      if (le_at(p, U"x2", ap(), U"x") && overlaps_pos(p, ap(), U"y", U"y2")) kept.emplace_back(p.at(U"x2"), e);
    });
  } else if (s == U"right") {
    each([&](const RecordPtr& e, const Record& p) {
      if (ge_at(p, U"x", ap(), U"x2") && overlaps_pos(p, ap(), U"y", U"y2")) kept.emplace_back(p.at(U"x"), e);
    });
  } else if (s == U"near") {
    std::optional<Text> anchor_xpath;
    auto xpath_of = [](const Record& e) {
      const Record* el = element_of(e);
      return el ? get_text(*el, U"xpath") : Text();
    };
    each([&](const RecordPtr& e, const Record& p) {
      const double d = centre_distance_pos(p, ap());
      if (!(d <= static_cast<double>(NEAR_MAX_PIXELS))) return;
      if (!anchor_xpath) anchor_xpath = xpath_of(anchor);
      if (dom_distance(*anchor_xpath, xpath_of(*e)) <= NEAR_MAX_DOM_STEPS) kept.emplace_back(Value(d), e);
    });
  } else {
    return {};
  }

  // "above" and "left" sort by the negated edge: largest first, ties stable.
  std::stable_sort(kept.begin(), kept.end(), [descending](const auto& a, const auto& b) {
    return descending ? compare_numbers(b.first, a.first) < 0 : compare_numbers(a.first, b.first) < 0;
  });
  std::vector<RecordPtr> sorted;
  sorted.reserve(kept.size());
  for (auto& k : kept) sorted.push_back(std::move(k.second));

  if (ordinal) return nth(sorted, *ordinal);
  // Without an ordinal "next_to" is the one element right beside the anchor.
  if (s == U"next_to" && sorted.size() > 1) sorted.resize(1);
  return sorted;
}

RecordPtr MatrixResolver::resolve_ordinal(std::int64_t ordinal, const std::optional<Text>& type_filter,
                                          const std::optional<Text>& search_text) const {
  std::vector<RecordPtr> candidates;
  for (const Value& v : matrix_->items) {
    const RecordPtr& e = v.record();
    if (anchor_only(*e)) continue;
    if (type_filter && !has_type(*e, *type_filter)) continue;
    candidates.push_back(e);
  }
  // Exact text matches win only when there are enough of them to reach the
  // rank; otherwise the looser folded matches are counted.
  if (search_text && !search_text->empty()) {
    const Text s_lower = text::lower(*search_text);
    std::vector<RecordPtr> exact;
    for (const auto& e : candidates)
      if (text::strip(text::lower(e->at(U"text").text())) == TextView(s_lower)) exact.push_back(e);
    if (ordinal <= static_cast<std::int64_t>(exact.size())) {
      candidates = std::move(exact);
    } else {
      const Text s_norm = normalize(*search_text);
      std::vector<RecordPtr> filtered;
      for (const auto& e : candidates)
        if (normalize(e->at(U"searchable").text()).find(s_norm) != Text::npos) filtered.push_back(e);
      if (!filtered.empty()) candidates = std::move(filtered);
    }
  }
  auto match = nth(candidates, ordinal);
  if (match.empty()) return failure_result();
  auto result = success_base(match.front()->at(U"element"));
  result->items.emplace_back(U"candidates", Value(elements_of(candidates)));
  return result;
}

}  // namespace qv::gridlocator
