// The relational target parser and its small helpers over random targets.
// Never fails; every text it gives back is lower case and trimmed, and the
// anchor comes only with a relation.
#include "common/text.hpp"
#include "fuzz/fuzz_values.hpp"
#include "spatial/gridlocator.hpp"

using namespace qv;
namespace gl = qv::gridlocator;

namespace {

void check_lower(const std::optional<Text>& t) {
  if (!t) return;
  QV_FUZZ_CHECK(text::lower(*t) == *t);
  QV_FUZZ_CHECK(text::strip(*t).size() == t->size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider f(data, size);
  fuzz::Gen g(f);
  const Text target = f.ConsumeBool() ? g.text(16) : from_utf8(f.ConsumeRandomLengthString(200));

  gl::ParsedTarget pt = gl::parse_target(target);
  check_lower(pt.anchor);
  check_lower(pt.rel_strategy);
  check_lower(pt.type_filter);
  check_lower(pt.search_text);
  check_lower(pt.target_text);
  QV_FUZZ_CHECK(pt.anchor.has_value() == pt.rel_strategy.has_value());
  QV_FUZZ_CHECK(!pt.target_text || pt.rel_strategy);
  if (pt.ordinal) QV_FUZZ_CHECK(*pt.ordinal >= 1 && *pt.ordinal <= 5);
  if (pt.rel_strategy) {
    bool known = false;
    for (const auto& [kw, s] : gl::relations()) known = known || s == *pt.rel_strategy;
    QV_FUZZ_CHECK(known);
  }

  Text n = gl::normalize(target);
  QV_FUZZ_CHECK(n.size() <= target.size());
  QV_FUZZ_CHECK(n.find(U' ') == Text::npos && n.find(U'-') == Text::npos);

  const Text a = g.xpath(), b = f.ConsumeBool() ? g.xpath() : target;
  std::int64_t d = gl::dom_distance(a, b);
  QV_FUZZ_CHECK(d >= 0);
  QV_FUZZ_CHECK(d == gl::dom_distance(b, a));
  QV_FUZZ_CHECK(gl::dom_distance(a, a) == 0);
  return 0;
}
