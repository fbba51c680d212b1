// Resolution of relational and ordinal targets on the spatial matrix:
// "the button next to name", "add to cart near blue backpack", "the second
// link". The resolver re-reads the target text with its own vocabulary (not
// the instruction parser's), finds the anchor entry, keeps the entries that
// stand in the named relation to it and ranks them.
//
// Everything here reads matrix entries as the matrix builder makes them and
// changes none of them; results hold the entries' element descriptors
// themselves. Not found is a result (resolved false), never an error.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "common/value.hpp"

namespace qv::gridlocator {

// Largest centre-to-centre distance, in pixels, for "near".
inline constexpr std::int64_t NEAR_MAX_PIXELS = 300;
// Largest dom_distance for "near".
inline constexpr std::int64_t NEAR_MAX_DOM_STEPS = 10;
// Slack in pixels by which two boxes may miss each other and still share a
// row (or a column).
inline constexpr std::int64_t SPATIAL_TOLERANCE = 40;

// Relation keyword (as written) to strategy name, in table order.
const std::vector<std::pair<Text, Text>>& relations();
// Ordinal word to rank, in table order ("first".."fifth", "1st".."5th").
const std::vector<std::pair<Text, std::int64_t>>& ordinals();
// Type word to canonical element type, in table order.
const std::vector<std::pair<Text, Text>>& type_keywords();

// A target text taken apart; every text is lower case.
struct ParsedTarget {
  std::optional<Text> anchor;        // words after the relation keyword; may be empty
  std::optional<Text> rel_strategy;  // strategy of the relation keyword
  std::optional<Text> type_filter;   // canonical type of the first type word
  std::optional<std::int64_t> ordinal;
  std::optional<Text> search_text;   // words of an ordinal target without anchor
  std::optional<Text> target_text;   // words before the keyword, less ordinal/type words
};

// Parses a target: the longest relation keyword found anywhere as a
// substring (table order among equal lengths), the first ordinal and type
// words of the tables that are whole words, and the texts around them.
// Never fails.
ParsedTarget parse_target(TextView target);

// Lower case with every blank and hyphen removed: "Log-in" -> "login".
Text normalize(TextView text);

// Segments of a outside the common ones plus those of b, where a segment
// counts as common when both paths have it at the same position.
std::int64_t dom_distance(TextView xpath_a, TextView xpath_b);

// Euclidean distance between the position centres of two entries.
// KeyError when `position`, `cx` or `cy` is missing; TypeError for a value
// of the wrong kind.
double centre_distance(const Record& a, const Record& b);

// Whether the vertical (horizontal) extents of two entries overlap or miss
// by less than SPATIAL_TOLERANCE. Errors as centre_distance.
bool overlaps_vertically(const Record& a, const Record& b);
bool overlaps_horizontally(const Record& a, const Record& b);

// An ordinal given by a caller: an int as it is, a real truncated toward
// zero (ValueError for NaN and infinities), an int beyond 64 bits clamped
// (no list is that long). TypeError "Argument '<name>' has incorrect type
// (expected int, got <kind>)" for any other kind, bool included.
std::int64_t ordinal_value(const Value& v, const char* name);

// The failure result: resolved false, confidence 0.0, element null, no
// candidates.
RecordPtr failure_result();

class MatrixResolver {
 public:
  explicit MatrixResolver(ListPtr matrix) : matrix_(std::move(matrix)) {}
  const ListPtr& matrix() const { return matrix_; }

  // Resolves the target of a parsed instruction (only `target` is read;
  // absent reads as ""). A relational target gives the relational result
  // form, an ordinal target without anchor the ordinal form, anything
  // unresolved the failure result. TypeError for a target that is not a
  // text ("Argument 'target' ..." for null, "Expected str, got ..." for
  // other kinds); KeyError / TypeError for malformed entries.
  RecordPtr resolve(const Record& parsed_instruction) const;

  // The anchor entry named by `anchor_text` (exact text match, then exact
  // attribute match, then the two prefix passes; interactable entries
  // preferred, then the smallest box), or nullptr when none matches.
  RecordPtr find_anchor(TextView anchor_text) const;

  // The candidates in `strategy`'s relation to `anchor`, best first; only
  // the ordinal-th when `ordinal` is given (none when there are fewer, or
  // when the ordinal is below 1). An unknown or missing strategy ranks
  // nothing. Candidates must be records carrying the position keys read.
  std::vector<RecordPtr> rank(const std::vector<Value>& candidates, const Record& anchor,
                              const std::optional<Text>& strategy,
                              std::optional<std::int64_t> ordinal) const;

  // The ordinal-th interactable entry (of `type_filter`, when given) in
  // reading order, narrowed by `search_text` as far as that leaves enough
  // entries. An ordinal below 1 names no entry: the failure result.
  RecordPtr resolve_ordinal(std::int64_t ordinal, const std::optional<Text>& type_filter,
                            const std::optional<Text>& search_text) const;

 private:
  std::vector<Value> get_candidates(const Record& anchor_entry,
                                    const std::optional<Text>& target_text,
                                    const std::optional<Text>& tf) const;
  ListPtr matrix_;
};

}  // namespace qv::gridlocator
