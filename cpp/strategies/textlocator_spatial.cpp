// Spatial text steps: the nearest text in a direction from an anchor text,
// verified against an expected text or extracted.
#include <algorithm>
#include <cmath>
#include <optional>

#include "common/text.hpp"
#include "strategies/textlocator.hpp"
#include "strategies/textlocator_fields.hpp"
#include "strategies/textlocator_result.hpp"

namespace qv::textlocator {

namespace {

struct Parsed {
  TextView direction;  // empty when the target names none
  Text anchor;
};

// "right of the Price" -> ("right", "Price"). Keywords longest first, equal
// lengths in table order.
Parsed parse_target(TextView target) {
  static const std::vector<const Direction*> order = [] {
    std::vector<const Direction*> v;
    for (const Direction& d : directions()) v.push_back(&d);
    std::stable_sort(v.begin(), v.end(), [](const Direction* a, const Direction* b) {
      return a->keyword.size() > b->keyword.size();
    });
    return v;
  }();
  const Text lowered = text::lower(target);
  for (const Direction* d : order) {
    if (!text::starts_with(lowered, d->keyword + U" ")) continue;
    Text anchor(text::strip(target.substr(d->keyword.size())));
    for (TextView article : {U"the ", U"a ", U"an "})
      if (text::starts_with(text::lower(anchor), article)) anchor.erase(0, article.size());
    return {d->direction, std::move(anchor)};
  }
  return {{}, Text(target)};
}

// xpath and bounding_box both present and not empty.
bool placed(const Record& el) {
  if (fields::text(el, U"xpath").empty()) return false;
  const Record* box = fields::record(el, U"bounding_box");
  return box && !box->empty();
}

// The first line of the trimmed, lower-cased text, trimmed again.
Text first_line_key(TextView t) {
  Text low = text::lower(text::strip(t));
  TextView line(low);
  line = line.substr(0, line.find(U'\n'));
  return Text(text::strip(line));
}

struct Box {
  double x, y, x2, y2;
  double cx() const { return (x + x2) / 2; }
  double cy() const { return (y + y2) / 2; }
};

Box box_of(const Record& el) {
  const Record& b = *fields::record(el, U"bounding_box");
  double x = fields::coordinate(b, U"x"), y = fields::coordinate(b, U"y");
  double w = fields::coordinate(b, U"width"), h = fields::coordinate(b, U"height");
  return {x, y, x + w, y + h};
}

double area_of(const Record& el) {
  const Record& b = *fields::record(el, U"bounding_box");
  return fields::coordinate(b, U"width") * fields::coordinate(b, U"height");
}

RecordPtr state_of(TextView expected, std::optional<Text> actual) {
  auto s = make_record({{U"expected", Text(expected)}});
  if (actual) s->set(U"actual", std::move(*actual));
  return s;
}

Text trimmed_text(const Value& el) { return Text(text::strip(fields::text(*el.as_record(), U"text"))); }

}  // namespace

RecordPtr DOMStrategy::resolve_verify_spatial_text(TextView target, TextView expected,
                                                   const ListPtr& text_elements,
                                                   const ListPtr& dom_elements) const {
  const Parsed p = parse_target(target);
  if (p.direction.empty() || p.anchor.empty())
    return result::not_verified(state_of(expected, std::nullopt));

  const Text key = text::lower(p.anchor);
  std::vector<Value> anchors;
  for (const Value& v : text_elements->items) {
    const Record& el = fields::descriptor(v);
    if (first_line_key(fields::text(el, U"text")) == key && placed(el)) anchors.push_back(v);
  }
  // Tree steps count only from an anchor among the text elements.
  const bool step_limit = !anchors.empty();
  if (anchors.empty() && dom_elements && !dom_elements->empty()) {
    for (const Value& v : dom_elements->items) {
      const Record& el = fields::descriptor(v);
      if (text::lower(text::strip(fields::text(el, U"text"))) == key && placed(el))
        anchors.push_back(v);
    }
    if (anchors.empty()) {
      for (const Value& v : dom_elements->items) {
        const Record& el = *v.as_record();
        TextView label = fields::attribute(fields::attributes(el), U"aria-label");
        if (text::lower(text::strip(label)) == key && placed(el)) anchors.push_back(v);
      }
    }
  }
  if (anchors.empty())
    return result::not_verified(state_of(expected, U"anchor '" + p.anchor + U"' not found"));

  // Smallest box; of equal areas the first.
  std::size_t best = 0;
  double best_area = area_of(*anchors[0].as_record());
  for (std::size_t i = 1; i < anchors.size(); ++i) {
    double a = area_of(*anchors[i].as_record());
    if (a < best_area) best = i, best_area = a;
  }
  const Value& anchor = anchors[best];
  const Record* anchor_rec = anchor.as_record().get();
  const Box a = box_of(*anchor_rec);
  const TextView anchor_xpath = fields::text(*anchor_rec, U"xpath");

  std::vector<std::pair<double, Value>> pairs;
  for (const Value& v : text_elements->items) {
    const Record& el = *v.as_record();
    if (&el == anchor_rec) continue;
    if (std::find(text_only_tags().begin(), text_only_tags().end(), fields::text(el, U"tag")) ==
        text_only_tags().end())
      continue;
    if (!placed(el)) continue;
    if (text::strip(fields::text(el, U"text")).size() < 2) continue;
    if (step_limit &&
        dom_distance(anchor_xpath, fields::text(el, U"xpath")) > kDomDistanceThreshold)
      continue;
    const Box b = box_of(el);
    const double cx = b.cx(), cy = b.cy();
    bool beside = a.y <= cy && cy <= a.y2, over = a.x <= cx && cx <= a.x2;
    std::optional<double> distance;
    if (p.direction == U"right" && cx > a.cx() && beside) distance = std::abs(cx - a.cx());
    else if (p.direction == U"left" && cx < a.cx() && beside) distance = std::abs(cx - a.cx());
    else if (p.direction == U"below" && cy > a.cy() && over) distance = std::abs(cy - a.cy());
    else if (p.direction == U"above" && cy < a.cy() && over) distance = std::abs(cy - a.cy());
    if (distance) pairs.emplace_back(*distance, v);
  }
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });

  if (pairs.empty()) {
    Text message = U"no element " + Text(p.direction) + U" of '" + p.anchor + U"'";
    return make_record({{U"resolved", true},
                        {U"verified", false},
                        {U"confidence", 1.0},
                        {U"element", anchor},
                        {U"state", state_of(expected, std::move(message))},
                        {U"candidates", make_list()}});
  }
  const Value nearest = pairs.front().second;
  Text actual = trimmed_text(nearest);
  const Text want = norm(expected), got = norm(actual);
  const bool verified = !want.empty() && (text::contains(got, want) || text::contains(want, got));
  auto candidates = make_list();
  for (auto& [d, v] : pairs) candidates->push_back(std::move(v));
  return make_record({{U"resolved", true},
                      {U"verified", verified},
                      {U"confidence", 1.0},
                      {U"element", nearest},
                      {U"state", state_of(expected, std::move(actual))},
                      {U"candidates", candidates}});
}

RecordPtr DOMStrategy::resolve_extract_spatial_text(TextView target,
                                                    const ListPtr& text_elements,
                                                    const ListPtr& dom_elements,
                                                    std::int64_t ordinal) const {
  const RecordPtr found = resolve_verify_spatial_text(target, U"", text_elements, dom_elements);
  const bool resolved = found->at(U"resolved").as_bool();
  const ListPtr& all = found->at(U"candidates").as_list();
  const Value& element = found->at(U"element");
  if (resolved && !all->empty()) {
    Value chosen = (*all)[result::pick(ordinal, all->size())];
    return make_record({{U"resolved", true},
                        {U"confidence", 1.0},
                        {U"element", chosen},
                        {U"extracted", trimmed_text(chosen)},
                        {U"candidates", all}});
  }
  if (resolved && !element.is_null()) {
    // Nothing lies in the direction: the anchor answers with its own text.
    return make_record({{U"resolved", true},
                        {U"confidence", 1.0},
                        {U"element", element},
                        {U"extracted", trimmed_text(element)},
                        {U"candidates", make_list()}});
  }
  return make_record({{U"resolved", false},
                      {U"confidence", 0.0},
                      {U"element", nullptr},
                      {U"extracted", U""},
                      {U"candidates", make_list()}});
}

}  // namespace qv::textlocator
