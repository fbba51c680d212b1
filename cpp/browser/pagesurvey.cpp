#include "browser/pagesurvey.hpp"
#include "browser/pagesurvey_recorded.hpp"

#include <cmath>
#include <limits>
#include <unordered_set>

#include "common/text.hpp"

namespace qv::browser {

namespace {

std::vector<Text> joined_items() {
  std::vector<Text> items(native_tags());
  for (const Text& role : aria_roles()) items.push_back(U"[role=\"" + role + U"\"]");
  for (const char32_t* extra : {U"img[alt]", U"img[data-testid]", U"[data-testid]"})
    items.emplace_back(extra);
  return items;
}

// Runs one element's page calls. Any failure drops the element (false) and
// the survey goes on; only an abort of the host goes through.
template <class F>
bool survive(F&& steps) {
  try {
    steps();
    return true;
  } catch (const PageAbort&) {
    throw;
  } catch (const Error&) {
    return false;
  }
}

double number_or_zero(const Record& box, TextView key) {
  const Value* v = box.find(key);
  return v ? v->number() : 0.0;
}

Text script_text(const Value& result) {
  if (!result.is_text()) return Text();
  return Text(text::strip(result.as_text()));
}

}  // namespace

// ---- tables ------------------------------------------------------------------

const std::vector<Text>& native_tags() {
  static const std::vector<Text> t{U"button", U"input", U"a", U"select", U"textarea"};
  return t;
}

const std::vector<Text>& aria_roles() {
  static const std::vector<Text> t{U"button",   U"link",           U"textbox",
                                   U"checkbox", U"menuitem",       U"menuitemcheckbox",
                                   U"menuitemradio", U"option",    U"combobox",
                                   U"searchbox", U"spinbutton",    U"switch",
                                   U"tab"};
  return t;
}

const Text& interactable_selector() {
  static const Text s = text::join(joined_items(), U", ");
  return s;
}

const std::vector<Text>& captured_attributes() {
  static const std::vector<Text> t{U"id",    U"name",  U"type",        U"placeholder", U"aria-label",
                                   U"aria-labelledby", U"title", U"role", U"href",     U"value",
                                   U"class", U"data-testid", U"alt"};
  return t;
}

// Counts same-tag siblings the way the document path defines it; stops at
// the top of the element's tree (a shadow root has no parent element).
const Text& xpath_js() {
  static const Text s =
      U"el => {\n"
      U"  const steps = [];\n"
      U"  let node = el;\n"
      U"  while (node && node.nodeType === 1) {\n"
      U"    let count = 0;\n"
      U"    for (let sib = node.previousElementSibling; sib; sib = sib.previousElementSibling) {\n"
      U"      if (sib.tagName === node.tagName) count++;\n"
      U"    }\n"
      U"    steps.unshift(node.tagName.toLowerCase() + '[' + (count + 1) + ']');\n"
      U"    node = node.parentElement;\n"
      U"  }\n"
      U"  return '/' + steps.join('/');\n"
      U"}";
  return s;
}

const Text& custom_input_selector() {
  static const Text s =
      U"span[class*='editable'], div[class*='editable'], span[class*='input'], div[class*='input']";
  return s;
}

const std::vector<Text>& text_tags() {
  static const std::vector<Text> t{U"h1", U"h2", U"h3", U"h4",  U"h5", U"h6", U"p",     U"span",
                                   U"label", U"li", U"td", U"th", U"a",  U"button", U"div"};
  return t;
}

const Text& text_selector() {
  static const Text s = text::join(text_tags(), U", ");
  return s;
}

const char32_t kTagNameJs[] = U"el => el.tagName.toLowerCase()";
const char32_t kDataAttributesJs[] =
    U"el => Object.fromEntries(Array.from(el.attributes).filter(a => a.name.startsWith('data-'))"
    U".map(a => [a.name, a.value]))";
const char32_t kDirectTextJs[] =
    U"el => Array.from(el.childNodes).some(n => n.nodeType === 3 && "
    U"n.textContent.trim().length > 0)";
const char32_t kLabelCandidateSelector[] = U"h1, h2, h3, h4, h5, h6, label, div, span, p";

const char32_t kPreviousSiblingLabelJs[] =
    U"el => {\n"
    U"  for (let sib = el.previousElementSibling; sib; sib = sib.previousElementSibling) {\n"
    U"    const own = Array.from(sib.childNodes)\n"
    U"      .filter(n => n.nodeType === 3)\n"
    U"      .map(n => n.textContent.trim())\n"
    U"      .filter(t => t.length > 0)\n"
    U"      .join(' ');\n"
    U"    if (own && own.length < 50) return own;\n"
    U"    const first = sib.firstElementChild;\n"
    U"    if (first) {\n"
    U"      const t = (first.textContent || '').trim();\n"
    U"      if (t && t.length < 50) return t;\n"
    U"    }\n"
    U"  }\n"
    U"  return null;\n"
    U"}";

const char32_t kEarlierChildLabelJs[] =
    U"el => {\n"
    U"  const parent = el.parentElement;\n"
    U"  if (!parent) return null;\n"
    U"  for (const child of parent.children) {\n"
    U"    if (child === el) break;\n"
    U"    const t = (child.textContent || '').trim();\n"
    U"    if (t && t.length < 50) return t;\n"
    U"  }\n"
    U"  return null;\n"
    U"}";

// All pointer-cursor data in one pass, to spare a round trip per element.
const Text& cursor_pointer_js() {
  static const Text s =
      U"() => {\n"
      U"  const pathOf = " + xpath_js() + U";\n"
      U"  const found = [];\n"
      U"  const seen = new Set();\n"
      U"  for (const el of document.querySelectorAll('div, span, li, td')) {\n"
      U"    if (getComputedStyle(el).cursor !== 'pointer') continue;\n"
      U"    const text = (el.innerText || '').trim();\n"
      U"    if (!text || text.length > 60) continue;\n"
      U"    if (el.querySelectorAll('*').length > 10) continue;\n"
      U"    const r = el.getBoundingClientRect();\n"
      U"    if (r.width <= 0 || r.height <= 0) continue;\n"
      U"    const xpath = pathOf(el);\n"
      U"    if (seen.has(xpath)) continue;\n"
      U"    seen.add(xpath);\n"
      U"    found.push({\n"
      U"      text, xpath,\n"
      // "+ 0" turns the -0 that Math.round gives small negatives into 0.
      U"      x: Math.round(r.left) + 0, y: Math.round(r.top) + 0,\n"
      U"      w: Math.round(r.width) + 0, h: Math.round(r.height) + 0,\n"
      U"      cls: typeof el.className === 'string' ? el.className : '',\n"
      U"      aria: el.getAttribute('aria-label') || '',\n"
      U"    });\n"
      U"  }\n"
      U"  return found;\n"
      U"}";
  return s;
}

std::tm Host::local_now() {
  std::time_t t = std::time(nullptr);
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

// ---- per-element rules -----------------------------------------------------

Text trimmed(const std::optional<Text>& answer) {
  return answer ? Text(text::strip(*answer)) : Text();
}

bool is_custom_input(TextView tag, const std::optional<Text>& classes) {
  if (tag == U"input" || tag == U"textarea" || tag == U"select") return false;
  Text lower = classes ? text::lower(*classes) : Text();
  return text::contains(lower, U"editable") || text::contains(lower, U"input");
}

bool box_present(const Value& box) { return box.truthy(); }

bool box_has_area(const Value& box) {
  if (!box.truthy()) return false;
  const Record& r = *box.record();
  return !(number_or_zero(r, U"width") <= 0 || number_or_zero(r, U"height") <= 0);
}

bool hidden_element_named(const std::optional<Text>& aria_label,
                          const std::optional<Text>& title) {
  return (aria_label && !aria_label->empty()) || (title && !title->empty());
}

RecordPtr captured_attribute_record(const std::vector<std::optional<Text>>& answers) {
  auto attrs = make_record();
  const auto& names = captured_attributes();
  for (std::size_t i = 0; i < names.size() && i < answers.size(); ++i)
    if (answers[i]) attrs->items.emplace_back(names[i], Value(*answers[i]));
  return attrs;
}

void merge_data_attributes(Record& attributes, const Value& data) {
  // Texts only: a page that replaces the helpers the script calls must not
  // put other kinds into a descriptor's attributes.
  for (const auto& kv : data.record()->items)
    if (kv.second.is_text()) attributes.set(kv.first, kv.second);
}

RecordPtr interactable_descriptor(Text tag, Text text, RecordPtr attributes, Value box,
                                  bool visible, bool enabled, Text xpath) {
  return make_record({{U"tag", std::move(tag)},
                      {U"text", std::move(text)},
                      {U"attributes", std::move(attributes)},
                      {U"bounding_box", std::move(box)},
                      {U"is_visible", visible},
                      {U"is_enabled", enabled},
                      {U"xpath", std::move(xpath)}});
}

RecordPtr custom_input_descriptor(Text tag, Text text, RecordPtr attributes, Value box,
                                  Text xpath) {
  return make_record({{U"tag", std::move(tag)},
                      {U"text", std::move(text)},
                      {U"attributes", std::move(attributes)},
                      {U"bounding_box", std::move(box)},
                      {U"is_visible", true},
                      {U"is_enabled", true},
                      {U"is_editable_field", true},
                      {U"xpath", std::move(xpath)}});
}

RecordPtr text_descriptor(Text tag, Text text, bool has_direct_text, RecordPtr attributes,
                          Value box, Text xpath) {
  return make_record({{U"tag", std::move(tag)},
                      {U"text", std::move(text)},
                      {U"has_direct_text", has_direct_text},
                      {U"attributes", std::move(attributes)},
                      {U"bounding_box", std::move(box)},
                      {U"is_visible", true},
                      {U"is_enabled", true},
                      {U"xpath", std::move(xpath)}});
}

RecordPtr label_candidate(const std::optional<Text>& inner_text, const Value& box) {
  Text t = trimmed(inner_text);
  if (t.empty() || !box_present(box)) return nullptr;
  double height = box.record()->at(U"height").number();
  if (t.size() > 60 || height > 40) return nullptr;
  return make_record({{U"text", std::move(t)}, {U"bounding_box", box}});
}

ListPtr pointer_descriptors(const Value& script_result) {
  auto out = make_list();
  if (!script_result.truthy()) return out;
  std::unordered_set<Text> seen;
  for (const Value& item : script_result.list()->items) {
    const Record& r = *item.record();
    Text path = get_text(r, U"xpath");
    // The page's own getBoundingClientRect may answer NaN or infinities:
    // such an element has no box to describe.
    auto finite = [&](TextView k) {
      const Value& v = r.at(k);
      return v.is_number() && std::isfinite(v.number());
    };
    if (!(finite(U"x") && finite(U"y") && finite(U"w") && finite(U"h"))) continue;
    if (!seen.insert(path).second) continue;
    // And its own getAttribute anything at all: texts only.
    auto text_of = [&](TextView k) {
      const Value* v = r.find(k);
      return v && v->is_text() && !v->as_text().empty() ? v : nullptr;
    };
    auto attrs = make_record();
    if (const Value* cls = text_of(U"cls")) attrs->set(U"class", *cls);
    if (const Value* aria = text_of(U"aria")) attrs->set(U"aria-label", *aria);
    auto box = make_record({{U"x", r.at(U"x")},
                            {U"y", r.at(U"y")},
                            {U"width", r.at(U"w")},
                            {U"height", r.at(U"h")}});
    out->push_back(make_record({{U"tag", U"button"},
                                {U"text", r.at(U"text")},
                                {U"attributes", std::move(attrs)},
                                {U"bounding_box", std::move(box)},
                                {U"is_visible", true},
                                {U"is_enabled", true},
                                {U"xpath", std::move(path)}}));
  }
  return out;
}

Text field_label(const FieldLabelQuestions& ask) {
  auto own = [&](TextView name) -> Text {
    std::optional<Text> v = ask.attribute(name);
    return trimmed(v);
  };
  // Rules 2 and 3: the text of another element; failures only move on.
  auto other = [&](const Text& selector) -> Text {
    Text found;
    survive([&] { found = trimmed(ask.first_match_text(selector)); });
    return found;
  };
  auto script = [&](const char32_t* js) -> Text {
    Text found;
    survive([&] { found = script_text(ask.evaluate(js)); });
    return found;
  };

  if (Text t = own(U"aria-label"); !t.empty()) return t;
  if (auto by = ask.attribute(U"aria-labelledby"); by && !by->empty())
    if (Text t = other(U"#" + *by); !t.empty()) return t;
  if (auto id = ask.attribute(U"id"); id && !id->empty())
    if (Text t = other(U"label[for=\"" + *id + U"\"]"); !t.empty()) return t;
  if (Text t = own(U"placeholder"); !t.empty()) return t;
  if (Text t = own(U"title"); !t.empty()) return t;
  if (Text t = script(kPreviousSiblingLabelJs); !t.empty()) return t;
  if (Text t = script(kEarlierChildLabelJs); !t.empty()) return t;
  return Text();
}

// ---- spatial labels ----------------------------------------------------------

namespace {

// The edges of an element that still wants a spatial label; nullopt when it
// has a label already or no box.
struct Unlabelled {
  double left, width, top;
};

std::optional<Unlabelled> unlabelled(const Record& element) {
  const Record* attrs = get_record(element, U"attributes");
  if (attrs) {
    if (const Value* label = attrs->find(U"_label"); label && label->truthy()) return std::nullopt;
  }
  const Value* boxv = element.find(U"bounding_box");
  if (!boxv || !boxv->truthy()) return std::nullopt;
  const Record& box = *boxv->record();
  double left = box.at(U"x").number();
  double width = box.at(U"width").number();
  double top = box.at(U"y").number();
  return Unlabelled{left, width, top};
}

}  // namespace

const Value* spatial_label(const Record& element, const List& candidates) {
  std::optional<Unlabelled> e = unlabelled(element);
  if (!e) return nullptr;
  const auto [left, width, top] = *e;

  const Value* best = nullptr;
  double best_distance = std::numeric_limits<double>::infinity();
  for (const Value& cv : candidates.items) {
    const Record& c = *cv.record();
    const Record& cbox = *c.at(U"bounding_box").record();
    double cx = cbox.at(U"x").number();
    double bottom = cbox.at(U"y").number() + cbox.at(U"height").number();
    if (bottom > top) continue;
    double right = cx + cbox.at(U"width").number();
    if (cx <= left + width && right >= left) {
      double distance = top - bottom;
      if (distance < best_distance) {
        best = &c.at(U"text");
        best_distance = distance;
      }
    }
  }
  return best && best->truthy() ? best : nullptr;
}

namespace {

// A candidate's numbers read once: the survey asks every candidate for
// every element, and record lookups by key dominate that loop.
struct Edges {
  double x, bottom, right;
  const Value* text;
};

// All candidates' edges, or nullopt when one of them lacks a number the
// full rule would meet (then the rule runs on the records, so its errors
// come exactly where they would).
std::optional<std::vector<Edges>> candidate_edges(const List& candidates) {
  std::vector<Edges> out;
  out.reserve(candidates.size());
  try {
    for (const Value& cv : candidates.items) {
      const Record& c = *cv.record();
      const Record& cbox = *c.at(U"bounding_box").record();
      double cx = cbox.at(U"x").number();
      double bottom = cbox.at(U"y").number() + cbox.at(U"height").number();
      out.push_back({cx, bottom, cx + cbox.at(U"width").number(), &c.at(U"text")});
    }
  } catch (const Error&) {
    return std::nullopt;
  }
  return out;
}

const Value* spatial_label_over(const Record& element, const std::vector<Edges>& edges) {
  std::optional<Unlabelled> e = unlabelled(element);
  if (!e) return nullptr;
  const auto [left, width, top] = *e;
  const Value* best = nullptr;
  double best_distance = std::numeric_limits<double>::infinity();
  for (const Edges& c : edges) {
    if (c.bottom > top) continue;
    if (c.x <= left + width && c.right >= left) {
      double distance = top - c.bottom;
      if (distance < best_distance) {
        best = c.text;
        best_distance = distance;
      }
    }
  }
  return best && best->truthy() ? best : nullptr;
}

}  // namespace

void assign_spatial_labels(const List& elements, const List& candidates,
                           const std::function<void(std::size_t, const Value&)>& stored) {
  std::optional<std::vector<Edges>> edges = candidate_edges(candidates);
  for (std::size_t i = 0; i < elements.size(); ++i) {
    const RecordPtr& e = elements[i].record();
    const Value* label = edges ? spatial_label_over(*e, *edges) : spatial_label(*e, candidates);
    if (!label) continue;
    Value copy = *label;
    e->at(U"attributes").record()->set(U"_label", copy);
    if (stored) stored(i, copy);
  }
}

// ---- the survey ----------------------------------------------------------------

ListPtr DomParser::native_elements() {
  auto out = make_list();
  for (const HandlePtr& h : handles(Source::native)) {
    RecordPtr desc;
    survive([&] {
      bool visible = h->is_visible();
      bool enabled = h->is_enabled();
      Text tag = h->evaluate(kTagNameJs).text();
      Text t = trimmed(h->inner_text());
      if (t.empty()) t = trimmed(h->get_attribute(U"value"));
      Value box = h->bounding_box();
      if (!box_has_area(box)) return;
      if (!visible) {
        auto aria = h->get_attribute(U"aria-label");
        auto title = h->get_attribute(U"title");
        if (!hidden_element_named(aria, title)) return;
      }
      std::vector<std::optional<Text>> answers;
      for (const Text& name : captured_attributes()) answers.push_back(h->get_attribute(name));
      RecordPtr attrs = captured_attribute_record(answers);
      merge_data_attributes(*attrs, h->evaluate(kDataAttributesJs));
      Text xpath = h->evaluate(xpath_js()).text();
      if (tag == U"input" || tag == U"textarea") {
        Text label = get_field_label(*h);
        if (!label.empty()) attrs->set(U"_label", label);
      }
      desc = interactable_descriptor(std::move(tag), std::move(t), attrs, std::move(box), visible,
                                     enabled, std::move(xpath));
    });
    if (desc) out->push_back(desc);
  }
  return out;
}

Text DomParser::get_field_label(ElementHandle& handle) {
  auto* recorded = dynamic_cast<RecordedElement*>(&handle);
  FieldLabelQuestions ask{
      [&](TextView name) { return handle.get_attribute(name); },
      [&](TextView selector) -> std::optional<Text> {
        if (recorded) {
          std::optional<Text> found = recorded->first_match_text(selector);
          if (!found) return std::nullopt;
          return trimmed(found);
        }
        HandlePtr other = page_.query_selector(selector);
        if (!other) return std::nullopt;
        return trimmed(other->inner_text());
      },
      [&](TextView script) { return handle.evaluate(script); },
  };
  return field_label(ask);
}

ListPtr DomParser::extract_custom_inputs() {
  auto out = make_list();
  std::unordered_set<Text> seen;
  for (const HandlePtr& h : handles(Source::custom_input)) {
    RecordPtr desc;
    survive([&] {
      Text tag = h->evaluate(kTagNameJs).text();
      std::optional<Text> classes = h->get_attribute(U"class");
      if (!is_custom_input(tag, classes)) return;
      Value box = h->bounding_box();
      if (!box_has_area(box)) return;
      if (!h->is_visible()) return;
      Text xpath = h->evaluate(xpath_js()).text();
      if (!seen.insert(xpath).second) return;
      Text t = trimmed(h->inner_text());
      Text label = get_field_label(*h);
      std::vector<std::optional<Text>> answers;
      for (const Text& name : captured_attributes()) answers.push_back(h->get_attribute(name));
      RecordPtr attrs = captured_attribute_record(answers);
      if (!label.empty()) attrs->set(U"_label", label);
      desc = custom_input_descriptor(std::move(tag), std::move(t), attrs, std::move(box),
                                     std::move(xpath));
    });
    if (desc) out->push_back(desc);
  }
  return out;
}

ListPtr DomParser::extract_cursor_pointer_elements() {
  Value result;
  if (!survive([&] { result = page_.evaluate(cursor_pointer_js()); })) return make_list();
  return pointer_descriptors(result);
}

ListPtr DomParser::collect_label_candidates() {
  auto out = make_list();
  std::unordered_set<Text> seen;
  for (const HandlePtr& h : handles(Source::label_candidate)) {
    RecordPtr cand;
    survive([&] {
      if (!h->is_visible()) return;
      std::optional<Text> inner = h->inner_text();
      Value box = h->bounding_box();
      cand = label_candidate(inner, box);
    });
    if (!cand) continue;
    if (!seen.insert(cand->at(U"text").as_text()).second) continue;
    out->push_back(cand);
  }
  return out;
}

ListPtr DomParser::extract_text_elements() {
  auto found = make_list();
  for (const HandlePtr& h : handles(Source::text)) {
    RecordPtr desc;
    survive([&] {
      if (!h->is_visible()) return;
      Text t = trimmed(h->inner_text());
      if (t.empty()) return;
      Value box = h->bounding_box();
      if (!box_present(box)) return;
      Text tag = h->evaluate(kTagNameJs).text();
      Text xpath = h->evaluate(xpath_js()).text();
      auto attrs = make_record();
      for (const char32_t* name : {U"id", U"class", U"href", U"aria-label"})
        if (auto v = h->get_attribute(name)) attrs->items.emplace_back(name, Value(*v));
      merge_data_attributes(*attrs, h->evaluate(kDataAttributesJs));
      bool direct = h->evaluate(kDirectTextJs).truthy();
      desc = text_descriptor(std::move(tag), std::move(t), direct, attrs, std::move(box),
                             std::move(xpath));
    });
    if (desc) found->push_back(desc);
  }
  return dedup_text_elements(*found);
}

std::pair<ListPtr, ListPtr> DomParser::extract_interactable_elements() {
  // One script for all four sources: one pass of the page's selector engine.
  if (mode_ == SurveyMode::fast) prefetch(kAllSources);
  ListPtr elements = native_elements();
  for (ListPtr more : {extract_custom_inputs(), extract_cursor_pointer_elements()})
    for (Value& v : more->items) elements->push_back(std::move(v));
  ListPtr candidates = collect_label_candidates();
  assign_spatial_labels(*elements, *candidates);
  ListPtr texts = extract_text_elements();
  save_snapshot(*elements, *texts);
  return {elements, texts};
}

}  // namespace qv::browser
