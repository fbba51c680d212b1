// DOMStrategy: dispatch, element resolution, text search and state checks.
#include "strategies/textlocator.hpp"

#include <algorithm>
#include <limits>

#include "common/text.hpp"
#include "strategies/textlocator_fields.hpp"
#include "strategies/textlocator_result.hpp"

namespace qv::textlocator {

namespace {

using result::not_found;

// Ordering by text length: a stable sort, absent or null text as 0.
void order_by_text_length(std::vector<Value>& els) {
  std::vector<std::pair<std::size_t, Value>> keyed;
  keyed.reserve(els.size());
  for (Value& v : els) keyed.emplace_back(fields::text(fields::descriptor(v), U"text").size(), v);
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < els.size(); ++i) els[i] = std::move(keyed[i].second);
}

// The text test: target lower-cased is a substring of the text lower-cased.
bool text_contains(TextView lowered_target, const Record& el) {
  TextView t = fields::text(el, U"text");
  if (t.size() < lowered_target.size()) return false;
  return text::lower(t).find(lowered_target) != Text::npos;
}

// The whole-text test: the text, trimmed and lower-cased, equals the target
// lower-cased.
bool text_equals(TextView lowered_target, const Record& el) {
  return text::lower(text::strip(fields::text(el, U"text"))) == lowered_target;
}

ListPtr list_of(std::vector<Value> items) { return std::make_shared<List>(std::move(items)); }

ListPtr or_empty(const ListPtr& l) { return l ? l : make_list(); }

}  // namespace

std::int64_t ordinal_value(const Value& v) {
  // Saturate far inside the int64 range so that ordinal - 1 cannot overflow.
  constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 4;
  if (v.kind() == Kind::BigInt)
    return std::get<BigInt>(v.v).decimal.front() == '-' ? -kLimit : kLimit;
  std::int64_t n = v.integer();
  return std::clamp(n, -kLimit, kLimit);
}

std::size_t result::pick(std::int64_t ordinal, std::size_t count) {
  auto n = static_cast<std::int64_t>(count);
  // Further below than the list reaches (checked first: ordinal - 1 would
  // overflow for the most negative ordinal): the first candidate.
  if (ordinal < -n) return 0;
  std::int64_t index = std::min(ordinal - 1, n - 1);
  if (index < 0) index += n;
  // Further below than the list reaches: the first candidate.
  return static_cast<std::size_t>(std::max<std::int64_t>(index, 0));
}

RecordPtr DOMStrategy::resolve(const Record& instr, const ListPtr& dom_elements,
                               const ListPtr& text_elements) const {
  // A present null is not read as absent here: get_text refuses it.
  const Text action = get_text(instr, U"action");
  const Text target = get_text(instr, U"target");
  auto ordinal = [&] {
    const Value* v = instr.find(U"ordinal");
    return v ? ordinal_value(*v) : std::int64_t{1};
  };
  const ListPtr texts = or_empty(text_elements);
  if (action == U"verify_spatial_text")
    return resolve_verify_spatial_text(target, get_text(instr, U"value"), texts, dom_elements);
  if (action == U"extract_text_spatial")
    return resolve_extract_spatial_text(target, texts, dom_elements, ordinal());
  if (action == U"find_text") return resolve_find_text(target, texts);
  if (action == U"find_exact_text") return resolve_find_exact_text(target, texts);
  if (action == U"verify_present" || action == U"verify_visible" ||
      action == U"verify_enabled" || action == U"verify_disabled")
    return resolve_verify(action, target, dom_elements);
  if (action == U"verify_text_present" || action == U"verify_text_visible")
    return resolve_verify_text(action, target, texts);
  return resolve_element(action, target, ordinal(), dom_elements, texts);
}

RecordPtr DOMStrategy::resolve_element(TextView action, TextView target, std::int64_t ordinal,
                                       const ListPtr& dom_elements,
                                       const ListPtr& text_elements) const {
  const ListPtr eligible = filter_by_action(action, dom_elements);
  const Text scoring = match::normalise_target(strip_type_descriptors(target));
  const bool labels = action == U"type";

  // Visibility of every eligible element first; the contains test runs on
  // the visible ones, and on the hidden ones only when no visible one passes.
  const std::size_t n = eligible->size();
  std::vector<char> visible(n);
  for (std::size_t i = 0; i < n; ++i)
    visible[i] = fields::flag(fields::descriptor((*eligible)[i]), U"is_visible");
  std::vector<Value> matched;
  for (std::size_t i = 0; i < n; ++i)
    if (visible[i] && match::contains(scoring, *(*eligible)[i].as_record(), labels))
      matched.push_back((*eligible)[i]);
  if (matched.empty()) {
    for (std::size_t i = 0; i < n; ++i)
      if (!visible[i] && match::contains(scoring, *(*eligible)[i].as_record(), labels))
        matched.push_back((*eligible)[i]);
  }
  if (matched.empty() && action == U"extract_text" && text_elements && !text_elements->empty()) {
    std::vector<Value> shown;
    for (const Value& v : text_elements->items)
      if (fields::flag(fields::descriptor(v), U"is_visible")) shown.push_back(v);
    for (const Value& v : shown)
      if (match::contains(scoring, *v.as_record(), false)) matched.push_back(v);
  }
  if (matched.empty()) return not_found();

  std::vector<Value> candidates;
  for (const Value& v : matched)
    if (match::exact(scoring, *v.as_record(), labels)) candidates.push_back(v);
  if (candidates.empty()) candidates = std::move(matched);

  if (ordinal > 0) {
    // Top to bottom, then left to right, compared as the pair (y, x).
    struct Keyed {
      double y, x;
      Value v;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(candidates.size());
    for (Value& v : candidates) {
      const Record* box = fields::record(*v.as_record(), U"bounding_box");
      keyed.push_back({fields::coordinate_or(box, U"y", 0), fields::coordinate_or(box, U"x", 0),
                       std::move(v)});
    }
    std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
      return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    for (std::size_t i = 0; i < keyed.size(); ++i) candidates[i] = std::move(keyed[i].v);
  } else {
    order_by_text_length(candidates);
  }
  Value chosen = candidates[result::pick(ordinal, candidates.size())];
  return make_record({{U"resolved", true},
                      {U"confidence", 1.0},
                      {U"element", chosen},
                      {U"candidates", list_of(std::move(candidates))}});
}

RecordPtr DOMStrategy::resolve_find_text(TextView target, const ListPtr& text_elements) const {
  const Text t = text::lower(target);
  std::vector<Value> matches;
  for (const Value& v : text_elements->items)
    if (text_contains(t, fields::descriptor(v))) matches.push_back(v);
  if (matches.empty()) return not_found();
  order_by_text_length(matches);
  Value first = matches.front();
  return make_record({{U"resolved", true},
                      {U"confidence", 1.0},
                      {U"element", first},
                      {U"candidates", list_of(std::move(matches))}});
}

RecordPtr DOMStrategy::resolve_find_exact_text(TextView target,
                                               const ListPtr& text_elements) const {
  const Text t = text::lower(target);
  std::vector<Value> exact, partial;
  for (const Value& v : text_elements->items)
    if (text_equals(t, fields::descriptor(v))) exact.push_back(v);
  for (const Value& v : text_elements->items)
    if (text_contains(t, *v.as_record())) partial.push_back(v);
  if (exact.empty()) {
    order_by_text_length(partial);
    return make_record({{U"resolved", false},
                        {U"confidence", 0.0},
                        {U"element", nullptr},
                        {U"candidates", list_of(std::move(partial))}});
  }
  Value first = exact.front();
  exact.insert(exact.end(), partial.begin(), partial.end());
  return make_record({{U"resolved", true},
                      {U"confidence", 1.0},
                      {U"element", first},
                      {U"candidates", list_of(std::move(exact))}});
}

RecordPtr DOMStrategy::resolve_verify(TextView action, TextView target,
                                      const ListPtr& dom_elements) const {
  enum { Present, Visible, Enabled, Disabled } check;
  if (action == U"verify_present") check = Present;
  else if (action == U"verify_visible") check = Visible;
  else if (action == U"verify_enabled") check = Enabled;
  else if (action == U"verify_disabled") check = Disabled;
  else throw KeyError(Text(action));

  const Text scoring = match::normalise_target(strip_type_descriptors(target));
  std::vector<Value> matched;
  for (const Value& v : dom_elements->items)
    if (match::contains(scoring, fields::descriptor(v), false)) matched.push_back(v);
  order_by_text_length(matched);
  if (matched.empty()) return result::not_verified();

  const Value best = matched.front();
  const bool visible = fields::flag(*best.as_record(), U"is_visible");
  const bool enabled = fields::flag(*best.as_record(), U"is_enabled");
  const bool verified = check == Present   ? true
                        : check == Visible ? visible
                        : check == Enabled ? enabled
                                           : !enabled;
  return make_record(
      {{U"resolved", true},
       {U"verified", verified},
       {U"confidence", 1.0},
       {U"element", best},
       {U"state", make_record({{U"present", true}, {U"visible", visible}, {U"enabled", enabled}})},
       {U"candidates", list_of(std::move(matched))}});
}

RecordPtr DOMStrategy::resolve_verify_text(TextView action, TextView target,
                                           const ListPtr& text_elements) const {
  bool want_visible;
  if (action == U"verify_text_present") want_visible = false;
  else if (action == U"verify_text_visible") want_visible = true;
  else throw KeyError(Text(action));

  const Text t = text::lower(target);
  std::vector<Value> matched;
  for (const Value& v : text_elements->items)
    if (text_contains(t, fields::descriptor(v))) matched.push_back(v);
  order_by_text_length(matched);
  if (matched.empty()) return result::not_verified();

  const Value best = matched.front();
  const bool visible = fields::flag(*best.as_record(), U"is_visible");
  return make_record({{U"resolved", true},
                      {U"verified", want_visible ? visible : true},
                      {U"confidence", 1.0},
                      {U"element", best},
                      {U"state", make_record({{U"present", true}, {U"visible", visible}})},
                      {U"candidates", list_of(std::move(matched))}});
}

// ---- fields read --------------------------------------------------------------

FieldsPlan fields_read(TextView action) {
  using A = FieldsRead::Attributes;
  FieldsPlan p;
  if (action == U"verify_spatial_text" || action == U"extract_text_spatial") {
    for (FieldsRead* f : {&p.dom, &p.text}) {
      f->text = f->tag = f->xpath = f->bounding_box = true;
    }
    p.dom.attributes = A::AriaLabel;
    return p;
  }
  if (action == U"find_text" || action == U"find_exact_text") {
    p.text.text = true;
    return p;
  }
  if (action == U"verify_text_present" || action == U"verify_text_visible") {
    p.text.text = p.text.is_visible = true;
    return p;
  }
  if (action == U"verify_present" || action == U"verify_visible" ||
      action == U"verify_enabled" || action == U"verify_disabled") {
    p.dom.text = p.dom.is_visible = p.dom.is_enabled = true;
    p.dom.attributes = A::Search;
    return p;
  }
  p.dom.text = p.dom.is_visible = p.dom.bounding_box = true;
  p.dom.attributes = A::Search;
  if (action == U"type") p.dom.tag = p.dom.is_editable_field = true;
  if (action == U"select") p.dom.tag = true;
  if (action == U"extract_text") {
    p.text.text = p.text.is_visible = p.text.bounding_box = true;
    p.text.attributes = A::Search;
  }
  return p;
}

bool attribute_read(FieldsRead::Attributes mode, TextView name) {
  switch (mode) {
    case FieldsRead::Attributes::None: return false;
    case FieldsRead::Attributes::AriaLabel: return name == U"aria-label";
    case FieldsRead::Attributes::Search:
      return text::starts_with(name, U"data-") || name == U"class" || name == U"id" ||
             name == U"role" ||
             std::find(match_attributes().begin(), match_attributes().end(), name) !=
                 match_attributes().end();
  }
  return false;
}

}  // namespace qv::textlocator
