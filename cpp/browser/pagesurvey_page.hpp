// The page the survey works on: the few operations it asks of a live
// browser page and of its element handles, as an abstract interface. The
// binding implements it over Playwright; tests implement it with a
// simulated page to inject faults.
//
// Every operation may fail. A failure of the host page is thrown as
// qv::PageError carrying the host's own error, so it can be swallowed where
// the survey drops one element or handed back unchanged where it fails the
// survey. PageAbort marks host errors that nothing may swallow (an
// interrupt, a request to exit).
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "common/errors.hpp"
#include "common/value.hpp"

namespace qv::browser {

struct PageAbort : PageError {
  using PageError::PageError;
};

class ElementHandle {
 public:
  virtual ~ElementHandle() = default;
  virtual bool is_visible() = 0;
  virtual bool is_enabled() = 0;
  // The rendered text; nullopt when the page answers null.
  virtual std::optional<Text> inner_text() = 0;
  // The attribute's value (possibly empty); nullopt when absent.
  virtual std::optional<Text> get_attribute(TextView name) = 0;
  // Null, or a record with x, y, width, height as the page reports them.
  virtual Value bounding_box() = 0;
  // Runs a one-parameter function text on the element; its converted result.
  virtual Value evaluate(TextView script) = 0;
};

using HandlePtr = std::shared_ptr<ElementHandle>;

class Page {
 public:
  virtual ~Page() = default;
  // Handles of all matches in the page's order; empty when none match.
  virtual std::vector<HandlePtr> query_selector_all(TextView selector) = 0;
  // The first match, or nullptr.
  virtual HandlePtr query_selector(TextView selector) = 0;
  // Runs a parameterless function text in the page; its converted result.
  virtual Value evaluate(TextView script) = 0;
  // Runs a one-parameter function text on the list of all matches of a
  // selector, in the page's order, in one exchange; its converted result.
  // A page that cannot do this throws qv::Error, so callers fall back to
  // asking element by element.
  virtual Value eval_on_selector_all(TextView selector, TextView script);
  virtual Text url() = 0;
};

// What a snapshot needs besides the page: the two settings, read afresh
// each time, the local clock and the console.
class Host {
 public:
  virtual ~Host() = default;
  virtual bool save_snapshots() = 0;
  virtual Text log_path() = 0;
  // Writes one line (a newline is added) to standard output.
  virtual void print_line(TextView line) = 0;
  virtual std::tm local_now();
};

}  // namespace qv::browser
