// The survey's pure steps over random descriptors and page answers:
// wrapper removal, spatial labels, label candidates, pointer-cursor
// descriptors and the per-element drop rules. Only a result or a
// kind/value/key error; wrapper removal keeps a subsequence of the same
// records, and a spatial label is only ever appended under `_label`.
#include <unordered_set>

#include "browser/pagesurvey.hpp"
#include "fuzz/fuzz_values.hpp"

using namespace qv;
namespace br = qv::browser;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider f(data, size);
  fuzz::Gen g(f);

  ListPtr texts = g.descriptors(true, 12);
  QV_FUZZ_ALLOWED({
    ListPtr kept = br::dedup_text_elements(*texts);
    std::size_t j = 0;
    for (const Value& v : kept->items) {
      while (j < texts->size() && (*texts)[j].as_record() != v.as_record()) ++j;
      QV_FUZZ_CHECK(j < texts->size());  // same records, input order
      ++j;
    }
  });

  // Label candidates as the survey makes them, then any list at all.
  auto candidates = make_list();
  std::size_t n = f.ConsumeIntegralInRange<std::size_t>(0, 8);
  for (std::size_t i = 0; i < n && f.remaining_bytes(); ++i) {
    std::optional<Text> inner;
    if (!g.odd()) inner = g.known_text();
    QV_FUZZ_ALLOWED({
      RecordPtr c = br::label_candidate(inner, g.box());
      if (c) {
        QV_FUZZ_CHECK(c->at(U"text").as_text().size() <= 60 && !c->at(U"text").as_text().empty());
        candidates->push_back(Value(c));
      }
    });
    if (g.odd()) candidates->push_back(g.any(2));
  }
  ListPtr dom = g.descriptors(false, 8);
  std::vector<std::size_t> sizes;
  std::vector<bool> had_label;
  for (const Value& d : dom->items) {
    const Value* a = d.is_record() ? d.as_record()->find(U"attributes") : nullptr;
    sizes.push_back(a && a->is_record() ? a->as_record()->size() : 0);
    had_label.push_back(a && a->is_record() && a->as_record()->find(U"_label"));
  }
  QV_FUZZ_ALLOWED(br::assign_spatial_labels(*dom, *candidates, [&](std::size_t i, const Value& label) {
    const Record& attrs = *(*dom)[i].as_record()->at(U"attributes").as_record();
    // A new key is appended; an empty `_label` already there is replaced
    // in its place, as a dict assignment does.
    if (had_label[i]) {
      QV_FUZZ_CHECK(attrs.size() == sizes[i] && attrs.find(U"_label")->is_text() &&
                    attrs.find(U"_label")->as_text() == label.as_text());
    } else {
      QV_FUZZ_CHECK(attrs.size() == sizes[i] + 1 && attrs.items.back().first == U"_label");
    }
    QV_FUZZ_CHECK(label.is_text() && !label.as_text().empty());
  }));

  // The pointer-cursor script's answer: records of its shape, or anything.
  auto script = make_list();
  std::size_t m = f.ConsumeIntegralInRange<std::size_t>(0, 6);
  for (std::size_t i = 0; i < m && f.remaining_bytes(); ++i) {
    auto r = make_record();
    g.field(*r, U"xpath", Value(g.xpath()));
    g.field(*r, U"text", Value(g.known_text()));
    if (f.ConsumeBool()) g.field(*r, U"cls", Value(g.text(2)));
    if (f.ConsumeBool()) g.field(*r, U"aria", Value(g.text(2)));
    for (TextView k : {U"x", U"y", U"w", U"h"}) g.field(*r, k, g.number());
    script->push_back(g.odd() ? g.any(1) : Value(r));
  }
  QV_FUZZ_ALLOWED({
    ListPtr out = br::pointer_descriptors(g.odd() ? g.any(2) : Value(script));
    std::unordered_set<Text> paths;
    for (const Value& v : out->items)
      QV_FUZZ_CHECK(paths.insert(v.as_record()->at(U"xpath").as_text()).second);
  });

  QV_FUZZ_ALLOWED(br::box_has_area(g.odd() ? g.any(2) : g.box()));
  QV_FUZZ_ALLOWED(br::box_present(g.any(2)));
  std::optional<Text> cls;
  if (f.ConsumeBool()) cls = g.text(3);
  br::is_custom_input(g.text(1), cls);
  QV_FUZZ_ALLOWED({
    RecordPtr attrs = make_record({{U"id", Value(g.text(1))}});
    br::merge_data_attributes(*attrs, g.any(2));
  });
  return 0;
}
