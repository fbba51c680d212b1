// textlocator: the level-1 text strategy. Finds the element a step names by
// comparing the step's target with what each element descriptor shows or
// declares about itself, and answers the find, spatial-extract and verify
// steps over the text descriptors.
//
// Everything here reads descriptors and never changes them. Descriptors are
// records (a list item of another kind is a TypeError "Expected dict, got X"
// when it is read). Inside a descriptor a null value reads as an absent key
// for texts, booleans and records; any other value of the wrong kind is a
// TypeError ("Expected str, got int"), and a number where a coordinate is
// needed must be an int or a float.
#pragma once

#include <cstdint>
#include <vector>

#include "common/value.hpp"

namespace qv::textlocator {

// ---- tables (fixed at load time, in the order the module defines them) ----

// Attribute entries searched, in this order, after the element's text.
const std::vector<Text>& match_attributes();
// Type words removed from the ends of a target ("field", "button", ...).
const std::vector<Text>& type_descriptors();
// Tags whose text may be read beside an anchor.
const std::vector<Text>& text_only_tags();
inline constexpr std::int64_t kDomDistanceThreshold = 10;
const std::vector<Text>& typeable_tags();
const std::vector<Text>& typeable_roles();
const std::vector<Text>& selectable_tags();

// Direction keywords of spatial text steps, in table order.
struct Direction {
  Text keyword;
  Text direction;
};
const std::vector<Direction>& directions();

// ---- element text matching ------------------------------------------------

// The target without type words at its ends: trailing words first, then
// leading ones, compared lower-cased. When nothing would remain, `target`
// itself, unchanged.
Text strip_type_descriptors(TextView target);

// The strings under which `element` can be found: its text, the matched
// attribute entries (`_label` only with `include_label`), then class words,
// id words and data-attribute name words. May be empty. TypeError when
// `element` is not a record or a value read has the wrong kind.
std::vector<Text> searchable_strings(const Value& element, bool include_label);

// Contains test: the target, lower-cased with "_" and "-" as spaces, is a
// substring of some searchable string lower-cased. Errors as above.
bool matches_element(TextView target, const Value& element, bool include_label);

// Exact test: some searchable string, lower-cased and trimmed, equals the
// normalised target. Errors as above.
bool exact_matches_element(TextView target, const Value& element, bool include_label);

// Tree steps between two xpaths: the steps of each beyond their common
// prefix, summed. Never fails.
std::int64_t dom_distance(TextView xpath_a, TextView xpath_b);

// The elements that suit `action` ("type": typeable tags, roles or editable
// fields; "select": selectable tags), in order. `elements` itself for any
// other action and whenever nothing would be kept. Errors as above.
ListPtr filter_by_action(TextView action, const ListPtr& elements);

// Texts prepared for the spatial comparison: lower-cased, without "$", "£",
// "€" and ",", trimmed.
Text norm(TextView s);

// ---- the strategy -----------------------------------------------------------

// The resolution result records hold the caller's own descriptors (the very
// Values of the given lists). No resolver changes its arguments.
class DOMStrategy {
 public:
  // Dispatches on the instruction's action. `text_elements` may be null
  // (read as an empty list). TypeError when `action`, `target` or (for
  // "verify_spatial_text") `value` is present and not a text, or `ordinal`
  // (where read) is present and not an int; errors of the resolver unwind.
  RecordPtr resolve(const Record& parsed_instruction, const ListPtr& dom_elements,
                    const ListPtr& text_elements) const;

  // Nearest text in a direction from an anchor, compared with `expected`.
  // `dom_elements` may be null. KeyError naming the key when a box that is
  // read lacks x, y, width or height.
  RecordPtr resolve_verify_spatial_text(TextView target, TextView expected,
                                        const ListPtr& text_elements,
                                        const ListPtr& dom_elements) const;
  // The text at `ordinal` in that direction (the anchor's own when nothing
  // lies there). An ordinal whose index falls before the first candidate
  // chooses the first. Errors as resolve_verify_spatial_text.
  RecordPtr resolve_extract_spatial_text(TextView target, const ListPtr& text_elements,
                                         const ListPtr& dom_elements,
                                         std::int64_t ordinal) const;
  RecordPtr resolve_find_text(TextView target, const ListPtr& text_elements) const;
  RecordPtr resolve_find_exact_text(TextView target, const ListPtr& text_elements) const;
  // KeyError(action) for an action other than the four element checks.
  RecordPtr resolve_verify(TextView action, TextView target, const ListPtr& dom_elements) const;
  // KeyError(action) for an action other than the two text checks.
  RecordPtr resolve_verify_text(TextView action, TextView target,
                                const ListPtr& text_elements) const;

  // Element resolution for every other action. An ordinal whose index falls
  // before the first candidate chooses the first.
  RecordPtr resolve_element(TextView action, TextView target, std::int64_t ordinal,
                            const ListPtr& dom_elements, const ListPtr& text_elements) const;
};

// An instruction's or argument's ordinal as the resolvers use it: ints that
// do not fit 64 bits saturate (they choose the last, or the first,
// candidate just the same). TypeError for a value that is not an int.
std::int64_t ordinal_value(const Value& v);

// ---- what the resolvers read --------------------------------------------

// The descriptor keys one call of `resolve` reads for an action, so that a
// caller holding descriptors in another form can convert only these. Keys
// not named here are never read; a projection that keeps these (and every
// entry of `bounding_box`) gives the same result and the same errors.
struct FieldsRead {
  bool tag = false;
  bool text = false;
  bool is_visible = false;
  bool is_enabled = false;
  bool is_editable_field = false;
  bool xpath = false;
  bool bounding_box = false;
  // Attribute entries: the search set (match attributes, class, id, role
  // and every "data-" name) or only "aria-label".
  enum class Attributes { None, AriaLabel, Search } attributes = Attributes::None;
};
// Fields read from the interactable and the text descriptors for `action`.
struct FieldsPlan {
  FieldsRead dom;
  FieldsRead text;
};
FieldsPlan fields_read(TextView action);
// Whether an attribute entry named `name` is read under `mode`.
bool attribute_read(FieldsRead::Attributes mode, TextView name);

}  // namespace qv::textlocator
