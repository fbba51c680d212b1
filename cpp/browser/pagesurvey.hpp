// The page survey: every element a step can act on, every element that
// carries readable text, field and spatial labels, and the optional
// snapshot file, all gathered from an abstract Page (pagesurvey_page.hpp).
//
// The per-element rules (what drops an element, how a descriptor is put
// together from the page's answers) are free functions over the answers as
// data, so a survey that gathers the answers another way reaches the same
// descriptors. DomParser asks the page one question at a time, in the order
// the rules need them.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "browser/pagesurvey_page.hpp"
#include "common/value.hpp"

namespace qv::browser {

// ---- module tables ---------------------------------------------------------

const std::vector<Text>& native_tags();          // _NATIVE_TAGS
const std::vector<Text>& aria_roles();           // _ARIA_ROLES
const Text& interactable_selector();             // INTERACTABLE_SELECTOR
const std::vector<Text>& captured_attributes();  // CAPTURED_ATTRIBUTES
const Text& xpath_js();                          // _XPATH_JS
const Text& custom_input_selector();             // _CUSTOM_INPUT_SELECTOR
const std::vector<Text>& text_tags();            // _TEXT_TAGS
const Text& text_selector();                     // TEXT_SELECTOR

// Page scripts and selectors used inside the survey.
extern const char32_t kTagNameJs[];
extern const char32_t kDataAttributesJs[];
extern const char32_t kDirectTextJs[];
extern const char32_t kPreviousSiblingLabelJs[];
extern const char32_t kEarlierChildLabelJs[];
extern const char32_t kLabelCandidateSelector[];
// The parameterless pointer-cursor script (one pass over the page).
const Text& cursor_pointer_js();

// ---- per-element rules over the page's answers ----------------------------

// An inner text or attribute answer trimmed; the empty string for null.
Text trimmed(const std::optional<Text>& answer);

// True when `tag` is no native field and `classes` (lower-cased; null reads
// as empty) contains "editable" or "input".
bool is_custom_input(TextView tag, const std::optional<Text>& classes);

// Interactable boxes: not null, not empty, and width and height both above
// 0 (a missing key counts as 0). TypeError when the box is no record or a
// size is no number.
bool box_has_area(const Value& box);
// Text elements and label candidates: a box that is neither null nor empty.
bool box_present(const Value& box);
// A hidden interactable element stays only when it names itself.
bool hidden_element_named(const std::optional<Text>& aria_label,
                          const std::optional<Text>& title);

// `attributes` from the answers for CAPTURED_ATTRIBUTES, in that order
// (nullopt: the element has no such attribute).
RecordPtr captured_attribute_record(const std::vector<std::optional<Text>>& answers);
// Merges the data-attributes script's record: new names appended, present
// ones overwritten in place; values that are not texts are left out.
// TypeError when `data` is no record.
void merge_data_attributes(Record& attributes, const Value& data);

// Descriptors with their keys in the documented order.
RecordPtr interactable_descriptor(Text tag, Text text, RecordPtr attributes, Value box,
                                  bool visible, bool enabled, Text xpath);
RecordPtr custom_input_descriptor(Text tag, Text text, RecordPtr attributes, Value box,
                                  Text xpath);
RecordPtr text_descriptor(Text tag, Text text, bool has_direct_text, RecordPtr attributes,
                          Value box, Text xpath);

// A label candidate {text, bounding_box} from a visible element's answers,
// or nullptr when its text is empty or longer than 60, or its box is
// missing or higher than 40. KeyError/TypeError for a box without a
// numeric height.
RecordPtr label_candidate(const std::optional<Text>& inner_text, const Value& box);

// Pointer-cursor descriptors from the page script's result (null or empty:
// none), the first of each path only; an item whose box is not four finite
// numbers is left out, and class or aria-label only when it is a text. Errors (a record without `text` or a
// coordinate) are not caught.
ListPtr pointer_descriptors(const Value& script_result);

// What the field-label rules ask, one question at a time, in rule order.
struct FieldLabelQuestions {
  // An attribute of the element; failures reach the caller.
  std::function<std::optional<Text>(TextView name)> attribute;
  // The inner text of the page's first match for a selector; nullopt when
  // nothing matches. Failures move on to the next rule.
  std::function<std::optional<Text>(TextView selector)> first_match_text;
  // A one-parameter script on the element. Failures move on.
  std::function<Value(TextView script)> evaluate;
};
// The element's field label, or the empty string.
Text field_label(const FieldLabelQuestions& ask);

// ---- pure steps ------------------------------------------------------------

// Text descriptors without the wrappers that only repeat the text of a
// smaller, overlapping descriptor; the same records, in input order.
// TypeError/KeyError for a box without numeric x, y, width, height.
ListPtr dedup_text_elements(const List& elements);

// The spatial label for one interactable descriptor: the text of the
// nearest candidate ending at or above its top edge whose horizontal extent
// overlaps or touches its own (first of equals); nullptr when it already
// has a label, has no box, or no candidate qualifies.
const Value* spatial_label(const Record& element, const List& candidates);
// Stores the spatial label under `_label` in each descriptor's attributes
// that gets one, in order, calling `stored(index, label)` after each.
// Errors are not caught; labels stored before an error stay.
void assign_spatial_labels(const List& elements, const List& candidates,
                           const std::function<void(std::size_t, const Value&)>& stored = {});

// ---- snapshots -------------------------------------------------------------

// `value` as Python's json.dumps(value, indent=2) writes it: ASCII only,
// keys in insertion order, reals in their shortest form (8.0), NaN and
// Infinity as Python spells them. TypeError for a foreign value, ValueError
// for a record or list that contains itself.
std::string to_json(const Value& value);
// A real as Python's repr(float) writes it.
std::string float_repr(double d);
// The page URL with "://" and then "/" turned into "_", cut to 60 characters.
Text url_slug(TextView url);
// "%Y%m%d_%H%M%S".
std::string timestamp(const std::tm& t);
// os.path.join(log_path, name).
std::string join_path(const std::string& dir, const std::string& name);
// os.makedirs(path, exist_ok=True); OSError(errno, failing path).
void make_directories(const std::string& path);
// Creates or truncates `path` and writes `content`; OSError(errno, path).
void write_file(const std::string& path, const std::string& content);

// ---- one round trip a source ----------------------------------------------

// The value of a JSON text (what JSON.stringify writes): numbers without
// fraction or exponent as ints, others as reals. ValueError when malformed.
Value parse_json(TextView text);

// The sources a page script can gather the answers for, and their bits.
enum class Source { native, custom_input, text, label_candidate };
constexpr std::size_t kSourceCount = 4;
constexpr std::size_t source_index(Source s) { return static_cast<std::size_t>(s); }
constexpr unsigned source_bit(Source s) { return 1u << source_index(s); }
constexpr unsigned kAllSources = (1u << kSourceCount) - 1;
// The selector a source's elements are matched by.
const Text& source_selector(Source source);
// The selectors of the sources in `sources` (a set of bits) as one comma
// list, in Source order.
Text sources_selector(unsigned sources);
// What the survey script runs over: one source's own selector, or for
// several "*, *", every element sorted as the page's selector engine sorts
// a comma list. Each source's matches in that order are the source's own
// matches in their own order, so the script keeps, for each element, the
// bits of the sources whose selectors it matches.
Text fast_survey_selector(unsigned sources);
// A script over the matches of fast_survey_selector(sources) returning one
// JSON text: for each element that some source in `sources` matches, in
// order, a record of the answers that the per-element calls of each of its
// sources would give, with the bits of those sources under "m"; or only
// those bits for an element whose answers a script cannot reproduce
// exactly.
const Text& fast_survey_js(unsigned sources);
// For each source in `sources`, its handles over the script's result, in
// the source's order: recorded answers for the elements the script
// answered, the page's own handles (from `query_selector_all` of the
// source's selector, asked only when needed) for the others. qv::Error when
// the result is malformed.
using SourceHandles = std::array<std::optional<std::vector<HandlePtr>>, kSourceCount>;
SourceHandles recorded_handles(Page& page, unsigned sources, const Value& result);

// How a survey gathers the answers: one script a source, or one page call
// a question.
enum class SurveyMode { fast, reference };

// ---- the survey ------------------------------------------------------------

class DomParser {
 public:
  DomParser(Page& page, Host& host, SurveyMode mode = SurveyMode::reference)
      : page_(page), host_(host), mode_(mode) {}

  // (interactable descriptors, text descriptors). Errors of the page-wide
  // queries and of the snapshot are not caught; one element's failing
  // calls drop that element.
  std::pair<ListPtr, ListPtr> extract_interactable_elements();
  ListPtr extract_text_elements();
  Text get_field_label(ElementHandle& handle);
  ListPtr extract_custom_inputs();
  // Empty when the page script fails.
  ListPtr extract_cursor_pointer_elements();
  ListPtr collect_label_candidates();
  // Writes the snapshot when the settings ask for it; OSError when the
  // directory or file cannot be written (nothing printed then).
  void save_snapshot(const List& elements, const List& text_elements);

 private:
  ListPtr native_elements();
  // All matches of the source's selector as handles: through one script in
  // fast mode (falling back to the page's query when the script fails),
  // else the page's query. Errors of that query are not caught.
  std::vector<HandlePtr> handles(Source source);
  // Runs the script for `sources` ahead of their extraction (fast mode).
  void prefetch(unsigned sources);
  Page& page_;
  Host& host_;
  SurveyMode mode_;
  // Sources prefetched and not yet taken; their handles (none for a
  // source whose script failed).
  unsigned pending_ = 0;
  SourceHandles prefetched_;
};

}  // namespace qv::browser
