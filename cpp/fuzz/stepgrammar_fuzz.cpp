// Step parsing and validation over random steps: raw UTF-8 or steps put
// together from the step language's own words. Parse may refuse a step
// with ValueError only; validation refuses nothing but the one
// unreadable "type into X" form. Every record has the documented keys in
// order, and the helpers keep their promises.
#include <algorithm>

#include "agent/stepgrammar.hpp"
#include "common/text.hpp"
#include "fuzz/fuzz_values.hpp"

using namespace qv;
namespace sg = qv::stepgrammar;

namespace {

bool is_action(TextView a) {
  return a == U"navigate" || a == U"wait" ||
         std::find(sg::kSupportedActions.begin(), sg::kSupportedActions.end(), a) !=
             sg::kSupportedActions.end();
}

void check_record(const Record& r) {
  bool with_ordinal = r.size() == 5;
  QV_FUZZ_CHECK(r.size() == 4 || with_ordinal);
  QV_FUZZ_CHECK(r.items[0].first == U"action" && r.items[1].first == U"target" &&
                r.items[2].first == U"value" && r.items.back().first == U"_literal_target");
  QV_FUZZ_CHECK(r.items[0].second.is_text() && is_action(r.items[0].second.as_text()));
  TextView action = r.items[0].second.as_text();
  QV_FUZZ_CHECK(r.items[1].second.is_text() || r.items[1].second.is_null());
  QV_FUZZ_CHECK(r.items[2].second.is_text() || r.items[2].second.is_null());
  QV_FUZZ_CHECK(r.items.back().second.is_bool());
  bool ordinal_action =
      action == U"click" || action == U"extract_text" || action == U"extract_text_spatial";
  QV_FUZZ_CHECK(with_ordinal == ordinal_action);
  if (with_ordinal) {
    QV_FUZZ_CHECK(r.items[3].first == U"ordinal" && r.items[3].second.kind() == Kind::Int);
    std::int64_t n = r.items[3].second.as_int64();
    QV_FUZZ_CHECK(n >= 1 && n <= 5);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider f(data, size);
  Text step;
  if (f.ConsumeBool()) {
    std::string raw = f.ConsumeRemainingBytesAsString();
    step = from_utf8(raw);
  } else {
    fuzz::Gen g(f);
    step = g.text(16);
  }
  sg::InstructionParser parser;

  try {
    RecordPtr r = parser.parse(step);
    QV_FUZZ_CHECK(r);
    check_record(*r);
  } catch (const ValueError&) {
  }
  try {
    std::vector<Text> issues = parser.validate(step);
    QV_FUZZ_CHECK(issues.size() <= 2);
    for (const Text& m : issues) QV_FUZZ_CHECK(!m.empty());
  } catch (const ValueError&) {
  }

  // The step's lines as a list of steps.
  std::vector<Text> steps;
  Text line;
  for (char32_t c : step) {
    if (c == U'\n') {
      steps.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  steps.push_back(line);
  try {
    auto all = parser.validate_all(steps);
    std::int64_t last = 0;
    for (const auto& [n, issues] : all) {
      QV_FUZZ_CHECK(n > last && n <= static_cast<std::int64_t>(steps.size()));
      QV_FUZZ_CHECK(!issues.empty());
      last = n;
    }
  } catch (const ValueError&) {
  }

  sg::Ordinal o = sg::extract_ordinal(step);
  QV_FUZZ_CHECK(o.ordinal >= 1 && o.ordinal <= 5);
  QV_FUZZ_CHECK(o.rest.size() <= step.size());

  Text cleaned = sg::InstructionParser::clean_target(step);
  QV_FUZZ_CHECK(text::strip(cleaned).size() == cleaned.size());
  QV_FUZZ_CHECK(cleaned.find(U"  ") == Text::npos);

  sg::Unquoted u = sg::InstructionParser::unquote(step);
  std::size_t quoted_chars = 0;
  for (const Text& l : u.literals) {
    QV_FUZZ_CHECK(!l.empty() && l.find(U'"') == Text::npos);
    quoted_chars += l.size() + 2;
  }
  // Each match loses exactly its two quotes.
  QV_FUZZ_CHECK(u.unquoted.size() + 2 * u.literals.size() == step.size());
  QV_FUZZ_CHECK(quoted_chars <= step.size());

  QV_FUZZ_CHECK(text::lower(step).size() == step.size());
  return 0;
}
