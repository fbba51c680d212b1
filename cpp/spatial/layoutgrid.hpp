// The spatial matrix: every described element of a page once, in reading
// order (top to bottom, then left to right), with a normalised type, its
// rank within that type, its position and the text it can be named by.
//
// Interactable descriptors become entries a step may act on; text
// descriptors become anchor-only entries that a relational step may name as
// its anchor but never acts on. Entries hold the descriptors themselves, not
// copies, and nothing here changes a descriptor.
#pragma once

#include <utility>
#include <vector>

#include "common/value.hpp"

namespace qv::layoutgrid {

// Tag to normalised element type, in table order.
const std::vector<std::pair<Text, Text>>& tag_to_type();

// The normalised type of a descriptor: its role when that is one of button,
// link, textbox, combobox; "button" for input elements of type submit,
// button or reset; the tag's entry in tag_to_type(); else the tag itself.
// All comparisons exact. TypeError when the descriptor is not a record or a
// value read as text is not a text.
Text element_type(const Value& element);

// The position record of a bounding box: x, y, w, h as the box holds them
// (0 when absent; ints stay ints, reals stay reals), cx and cy as reals, x2
// and y2 as sums. TypeError "Expected a number, got ..." for a value that is
// not a number; ValueError when integer arithmetic overflows 64 bits.
RecordPtr position(const Record& bounding_box);

// The descriptor's text and its _label, aria-label, placeholder and name
// attributes, empty parts dropped, joined with single blanks and trimmed.
// TypeError when the descriptor is not a record or a part is not a text.
Text searchable(const Value& element);

// The spatial matrix of two descriptor lists: one entry per descriptor that
// has a non-empty bounding box, interactable entries first, then stably
// sorted by (y, x) compared by value, with index and order_in_type set from
// that order. Every entry is a new record; `element` is the descriptor.
// TypeError for a descriptor that is not a record, a bounding box that is
// not a record, or a value of the wrong kind (see above).
ListPtr build(const List& dom_elements, const List& text_elements);

}  // namespace qv::layoutgrid
