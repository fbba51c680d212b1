#include "spatial/layoutgrid.hpp"

#include <algorithm>
#include <unordered_map>

#include "common/text.hpp"

namespace qv::layoutgrid {

namespace {

const Record* attributes_of(const Record& element) { return get_record(element, U"attributes"); }

Text attribute(const Record* attrs, TextView key) { return attrs ? get_text(*attrs, key) : Text(); }

// A box value as a number, 0 when absent.
Value box_number(const Record& box, TextView key) {
  const Value* v = box.find(key);
  if (!v) return Value(0);
  (void)v->number();  // TypeError for anything that is not a number
  return *v;
}

Text searchable_of(const Record& el) {
  const Record* attrs = attributes_of(el);
  Text parts[] = {get_text(el, U"text"), attribute(attrs, U"_label"),
                  attribute(attrs, U"aria-label"), attribute(attrs, U"placeholder"),
                  attribute(attrs, U"name")};
  std::vector<Text> kept;
  for (auto& p : parts)
    if (!p.empty()) kept.push_back(std::move(p));
  return Text(text::strip(text::join(kept, U" ")));
}

Text element_type_of(const Record& el) {
  Text tag = get_text(el, U"tag");
  const Record* attrs = attributes_of(el);
  Text role = attribute(attrs, U"role");
  Text input_type = attribute(attrs, U"type");
  if (role == U"button" || role == U"link" || role == U"textbox" || role == U"combobox")
    return role;
  if (tag == U"input" && (input_type == U"submit" || input_type == U"button" || input_type == U"reset"))
    return U"button";
  for (const auto& [t, type] : tag_to_type())
    if (t == tag) return type;
  return tag;
}

// The entry of one descriptor, or nullptr when it has no box to place.
RecordPtr entry_of(const Value& descriptor, bool anchor_only) {
  const RecordPtr& el = descriptor.record();
  const Value* box = el->find(U"bounding_box");
  if (!box || box->is_null()) return nullptr;
  const RecordPtr& bbox = box->record();
  if (bbox->empty()) return nullptr;

  Text text = get_text(*el, U"text");
  Text label = attribute(attributes_of(*el), U"_label");
  Text type = anchor_only ? Text(U"text") : element_type_of(*el);
  Text search = anchor_only ? text : searchable_of(*el);
  Value enabled(true);
  if (!anchor_only)
    if (const Value* v = el->find(U"is_enabled")) enabled = *v;

  auto entry = make_record();
  entry->items.reserve(11);
  entry->items.emplace_back(U"index", Value(0));
  entry->items.emplace_back(U"tag", Value(get_text(*el, U"tag")));
  entry->items.emplace_back(U"element_type", Value(std::move(type)));
  entry->items.emplace_back(U"text", Value(std::move(text)));
  entry->items.emplace_back(U"label", Value(std::move(label)));
  entry->items.emplace_back(U"searchable", Value(std::move(search)));
  entry->items.emplace_back(U"is_enabled", std::move(enabled));
  entry->items.emplace_back(U"is_anchor_only", Value(anchor_only));
  entry->items.emplace_back(U"order_in_type", Value(0));
  entry->items.emplace_back(U"position", Value(position(*bbox)));
  entry->items.emplace_back(U"element", descriptor);
  return entry;
}

// Slots of the keys build() fills in after sorting, and of the sort keys.
constexpr std::size_t kIndex = 0, kType = 2, kOrder = 8, kPosition = 9;
constexpr std::size_t kX = 0, kY = 1;

}  // namespace

const std::vector<std::pair<Text, Text>>& tag_to_type() {
  static const std::vector<std::pair<Text, Text>> table = {
      {U"a", U"link"}, {U"button", U"button"}, {U"input", U"input"},
      {U"select", U"select"}, {U"textarea", U"input"}};
  return table;
}

Text element_type(const Value& element) { return element_type_of(*element.record()); }

Text searchable(const Value& element) { return searchable_of(*element.record()); }

RecordPtr position(const Record& bounding_box) {
  Value x = box_number(bounding_box, U"x"), y = box_number(bounding_box, U"y");
  Value w = box_number(bounding_box, U"width"), h = box_number(bounding_box, U"height");
  Value cx = add_numbers(x, Value(w.number() / 2.0));
  Value cy = add_numbers(y, Value(h.number() / 2.0));
  Value x2 = add_numbers(x, w), y2 = add_numbers(y, h);
  auto pos = make_record();
  pos->items.reserve(8);
  pos->items.emplace_back(U"x", std::move(x));
  pos->items.emplace_back(U"y", std::move(y));
  pos->items.emplace_back(U"w", std::move(w));
  pos->items.emplace_back(U"h", std::move(h));
  pos->items.emplace_back(U"cx", std::move(cx));
  pos->items.emplace_back(U"cy", std::move(cy));
  pos->items.emplace_back(U"x2", std::move(x2));
  pos->items.emplace_back(U"y2", std::move(y2));
  return pos;
}

ListPtr build(const List& dom_elements, const List& text_elements) {
  std::vector<RecordPtr> entries;
  entries.reserve(dom_elements.size() + text_elements.size());
  for (const Value& d : dom_elements.items)
    if (auto e = entry_of(d, false)) entries.push_back(std::move(e));
  for (const Value& d : text_elements.items)
    if (auto e = entry_of(d, true)) entries.push_back(std::move(e));

  // Entries are built here, so the slots are known; no lookups in the sort.
  auto pos_of = [](const RecordPtr& e) -> const Record& {
    return *e->items[kPosition].second.as_record();
  };
  std::stable_sort(entries.begin(), entries.end(), [&](const RecordPtr& a, const RecordPtr& b) {
    const Record& pa = pos_of(a);
    const Record& pb = pos_of(b);
    int c = compare_numbers(pa.items[kY].second, pb.items[kY].second);
    if (c != 0) return c < 0;
    return compare_numbers(pa.items[kX].second, pb.items[kX].second) < 0;
  });

  std::unordered_map<Text, std::int64_t> seen;
  auto out = make_list();
  out->items.reserve(entries.size());
  std::int64_t i = 0;
  for (auto& e : entries) {
    e->items[kIndex].second = Value(i++);
    e->items[kOrder].second = Value(++seen[e->items[kType].second.as_text()]);
    out->push_back(Value(std::move(e)));
  }
  return out;
}

}  // namespace qv::layoutgrid
