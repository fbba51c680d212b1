// The text strategy over random descriptors: every action through
// DOMStrategy::resolve and the resolvers called directly with extreme
// ordinals. Only a result or a kind/value/key error may come out; a result
// has confidence 1.0 exactly when resolved, and its element and candidates
// are the caller's own descriptors.
#include <limits>
#include <unordered_set>

#include "fuzz/fuzz_values.hpp"
#include "strategies/textlocator.hpp"

using namespace qv;
namespace tl = qv::textlocator;

namespace {

const Text kActions[] = {
    U"click",          U"type",           U"hover",          U"select",
    U"press_key",      U"sendkeys",       U"extract_text",   U"extract_text_spatial",
    U"find_text",      U"find_exact_text", U"verify_present", U"verify_visible",
    U"verify_enabled", U"verify_disabled", U"verify_text_present", U"verify_text_visible",
    U"verify_spatial_text", U"navigate", U"wait", U"accept_dialog", U"",
};

std::int64_t ordinal(FuzzedDataProvider& f) {
  switch (f.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: return std::numeric_limits<std::int64_t>::min();
    case 1: return std::numeric_limits<std::int64_t>::max();
    case 2: return f.ConsumeIntegral<std::int64_t>();
    default: return f.ConsumeIntegralInRange<std::int64_t>(-6, 6);
  }
}

struct Given {
  std::unordered_set<const Record*> records;
  bool owns(const Value& v) const {
    return v.is_null() || (v.is_record() && records.count(v.as_record().get()));
  }
};

void check_result(const RecordPtr& r, const Given& given) {
  QV_FUZZ_CHECK(r && r->items[0].first == U"resolved" && r->items[0].second.is_bool());
  bool resolved = r->items[0].second.as_bool();
  const Value& conf = r->at(U"confidence");
  QV_FUZZ_CHECK(conf.is_real() && conf.as_real() == (resolved ? 1.0 : 0.0));
  QV_FUZZ_CHECK(given.owns(r->at(U"element")));
  if (!resolved) QV_FUZZ_CHECK(r->at(U"element").is_null());
  const Value& cands = r->at(U"candidates");
  QV_FUZZ_CHECK(cands.is_list());
  for (const Value& c : cands.as_list()->items) QV_FUZZ_CHECK(given.owns(c));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider f(data, size);
  fuzz::Gen g(f);
  ListPtr dom = g.descriptors(false, 10);
  ListPtr texts = f.ConsumeIntegralInRange<int>(0, 7) ? g.descriptors(true, 10) : nullptr;
  Given given;
  for (const ListPtr& l : {dom, texts})
    if (l)
      for (const Value& v : l->items)
        if (v.is_record()) given.records.insert(v.as_record().get());

  tl::DOMStrategy strategy;
  for (int round = 0; round < 3 && f.remaining_bytes(); ++round) {
    auto instr = make_record();
    const Text& action = f.PickValueInArray(kActions);
    g.field(*instr, U"action", Value(action));
    g.field(*instr, U"target", Value(g.text(6)));
    g.field(*instr, U"value", Value(g.known_text()));
    if (f.ConsumeBool()) {
      Value o = f.ConsumeBool() ? Value(ordinal(f)) : g.number();
      g.field(*instr, U"ordinal", o);
    }
    QV_FUZZ_ALLOWED(check_result(strategy.resolve(*instr, dom, texts), given));
  }

  const Text target = g.text(6);
  const ListPtr t = texts ? texts : make_list();
  QV_FUZZ_ALLOWED(check_result(
      strategy.resolve_element(f.PickValueInArray(kActions), target, ordinal(f), dom, texts), given));
  QV_FUZZ_ALLOWED(
      check_result(strategy.resolve_extract_spatial_text(target, t, dom, ordinal(f)), given));
  QV_FUZZ_ALLOWED(check_result(
      strategy.resolve_verify_spatial_text(target, g.known_text(), t, f.ConsumeBool() ? dom : nullptr),
      given));
  QV_FUZZ_ALLOWED(check_result(strategy.resolve_verify(f.PickValueInArray(kActions), target, dom), given));
  QV_FUZZ_ALLOWED(
      check_result(strategy.resolve_verify_text(f.PickValueInArray(kActions), target, t), given));

  // The matching helpers on single descriptors.
  bool labels = f.ConsumeBool();
  for (const Value& d : dom->items) {
    QV_FUZZ_ALLOWED({
      std::vector<Text> strings = tl::searchable_strings(d, labels);
      bool contains = tl::matches_element(target, d, labels);
      bool exact = tl::exact_matches_element(target, d, labels);
      (void)contains;
      (void)exact;
      (void)strings;
    });
  }
  QV_FUZZ_ALLOWED({
    ListPtr kept = tl::filter_by_action(f.PickValueInArray(kActions), dom);
    QV_FUZZ_CHECK(kept->size() <= dom->size());
  });
  tl::norm(target);
  Text stripped = tl::strip_type_descriptors(target);
  QV_FUZZ_CHECK(stripped.size() <= target.size());
  QV_FUZZ_CHECK(tl::dom_distance(target, g.xpath()) >= 0);
  return 0;
}
