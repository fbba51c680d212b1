// An element whose answers were gathered in one page script: it answers the
// survey's questions from that record instead of asking the page, so the
// per-element rules run unchanged over it.
#pragma once

#include <stdexcept>

#include "browser/pagesurvey.hpp"

namespace qv::browser {

// Thrown when the survey asks a recorded element something its script did
// not gather: a fault of the script, never of the page, so nothing
// swallows it.
struct MissingAnswer : std::logic_error {
  using std::logic_error::logic_error;
};

class RecordedElement : public ElementHandle {
 public:
  explicit RecordedElement(RecordPtr answers) : a_(std::move(answers)) {}
  bool is_visible() override;
  bool is_enabled() override;
  std::optional<Text> inner_text() override;
  std::optional<Text> get_attribute(TextView name) override;
  Value bounding_box() override;
  // Answers only the survey's own scripts.
  Value evaluate(TextView script) override;
  // The inner text (untrimmed) of the page's first match for a field-label
  // selector (rule 2 for "#...", rule 3 otherwise); nullopt for no match.
  std::optional<Text> first_match_text(TextView selector);

 private:
  const Value& answer(TextView key) const;
  RecordPtr a_;
};

}  // namespace qv::browser
