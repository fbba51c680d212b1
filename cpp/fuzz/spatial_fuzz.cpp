// Matrix building and resolution over random descriptors: the builder
// keeps one entry per boxed descriptor in (y, x) order with consecutive
// indexes; the resolver answers any target on any matrix (also one whose
// entries were tampered with) with a result or a kind/value/key error, and
// a resolved element is always one of the given descriptors.
#include <unordered_set>

#include "fuzz/fuzz_values.hpp"
#include "spatial/gridlocator.hpp"
#include "spatial/layoutgrid.hpp"

using namespace qv;
namespace gl = qv::gridlocator;
namespace lg = qv::layoutgrid;

namespace {

void check_result(const RecordPtr& r, const std::unordered_set<const Record*>& given) {
  QV_FUZZ_CHECK(r);
  QV_FUZZ_CHECK(r->size() >= 3 && r->items[0].first == U"resolved");
  const Value& resolved = r->items[0].second;
  QV_FUZZ_CHECK(resolved.is_bool());
  const Value* conf = r->find(U"confidence");
  QV_FUZZ_CHECK(conf && conf->is_real());
  QV_FUZZ_CHECK(conf->as_real() == (resolved.as_bool() ? 1.0 : 0.0));
  const Value* el = r->find(U"element");
  QV_FUZZ_CHECK(el);
  if (resolved.as_bool()) {
    // The element is whatever the entry held: the caller's own value.
    if (el->is_record()) QV_FUZZ_CHECK(given.count(el->as_record().get()) || given.empty());
  } else {
    QV_FUZZ_CHECK(el->is_null());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider f(data, size);
  fuzz::Gen g(f);
  ListPtr dom = g.descriptors(false, 12);
  ListPtr texts = g.descriptors(true, 12);

  ListPtr matrix;
  try {
    matrix = lg::build(*dom, *texts);
  } catch (const TypeError&) {
  } catch (const ValueError&) {
  }
  std::unordered_set<const Record*> given;
  for (const ListPtr& l : {dom, texts})
    for (const Value& v : l->items)
      if (v.is_record()) given.insert(v.as_record().get());

  if (matrix) {
    QV_FUZZ_CHECK(matrix->size() <= dom->size() + texts->size());
    for (std::size_t i = 0; i < matrix->size(); ++i) {
      const Record& e = *(*matrix)[i].as_record();
      QV_FUZZ_CHECK(e.at(U"index").as_int64() == static_cast<std::int64_t>(i));
      QV_FUZZ_CHECK(e.at(U"order_in_type").as_int64() >= 1);
      QV_FUZZ_CHECK(given.count(e.at(U"element").as_record().get()));
    }
    // Tamper: an entry's key replaced by anything at all.
    if (!matrix->empty() && g.odd()) {
      auto& entry = matrix->items[f.ConsumeIntegralInRange<std::size_t>(0, matrix->size() - 1)];
      auto copy = std::make_shared<Record>(*entry.as_record());
      auto& kv = copy->items[f.ConsumeIntegralInRange<std::size_t>(0, copy->size() - 1)];
      kv.second = g.any(1);
      if (kv.second.is_record()) given.insert(kv.second.as_record().get());
      entry = Value(copy);
    }
  } else {
    // A matrix of anything.
    matrix = make_list();
    std::size_t n = f.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t i = 0; i < n; ++i) matrix->push_back(g.any(2));
    given.clear();
  }

  gl::MatrixResolver resolver(matrix);
  for (int round = 0; round < 3 && f.remaining_bytes(); ++round) {
    auto instr = make_record();
    if (!g.odd()) instr->set(U"target", Value(g.text(10)));
    else if (f.ConsumeBool()) instr->set(U"target", g.any(1));
    QV_FUZZ_ALLOWED(check_result(resolver.resolve(*instr), given));
  }

  QV_FUZZ_ALLOWED({
    RecordPtr a = resolver.find_anchor(g.known_text());
    if (a) {
      std::vector<Value> cands(matrix->items.begin(), matrix->items.end());
      std::optional<Text> strategy;
      if (!g.odd()) strategy = f.PickValueInArray<Text>(
          {U"next_to", U"below", U"above", U"left", U"right", U"near", U"nowhere"});
      std::optional<std::int64_t> ordinal;
      if (f.ConsumeBool()) ordinal = f.ConsumeIntegral<std::int64_t>();
      else if (f.ConsumeBool()) ordinal = f.ConsumeIntegralInRange<std::int64_t>(-1, 6);
      auto ranked = resolver.rank(cands, *a, strategy, ordinal);
      if (ordinal) QV_FUZZ_CHECK(ranked.size() <= 1);
    }
  });

  QV_FUZZ_ALLOWED({
    std::optional<Text> tf, st;
    if (f.ConsumeBool()) tf = f.PickValueInArray<Text>({U"button", U"link", U"input", U"select"});
    if (f.ConsumeBool()) st = g.known_text();
    std::int64_t ordinal = f.ConsumeBool() ? f.ConsumeIntegral<std::int64_t>()
                                           : f.ConsumeIntegralInRange<std::int64_t>(-2, 6);
    check_result(resolver.resolve_ordinal(ordinal, tf, st), given);
  });
  return 0;
}
