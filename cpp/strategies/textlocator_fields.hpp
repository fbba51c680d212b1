// Reading descriptor values with the defaults the text strategy uses. Views,
// not copies: these run once or more per element on every step.
#pragma once

#include <cstdint>

#include "common/value.hpp"

namespace qv::textlocator::fields {

// The list item as a descriptor record; TypeError "Expected dict, got X".
inline const Record& descriptor(const Value& v) { return *v.record(); }

// A text entry: absent or null reads as "", another kind is a TypeError.
inline TextView text(const Record& r, TextView key) {
  const Value* v = r.find(key);
  if (!v || v->is_null()) return {};
  return v->text();
}

// A boolean entry: absent or null reads as false, another kind is a
// TypeError (an int or a text is not taken for a flag).
inline bool flag(const Record& r, TextView key) {
  const Value* v = r.find(key);
  if (!v || v->is_null()) return false;
  return v->boolean();
}

// A record entry: nullptr when absent or null, TypeError for another kind.
inline const Record* record(const Record& r, TextView key) {
  const Value* v = r.find(key);
  if (!v || v->is_null()) return nullptr;
  return v->record().get();
}

// The element's `attributes`, or nullptr.
inline const Record* attributes(const Record& el) { return record(el, U"attributes"); }

// One attribute entry as text ("" when absent, null or there are no
// attributes).
inline TextView attribute(const Record* attrs, TextView name) {
  return attrs ? text(*attrs, name) : TextView{};
}

// A number entry must be an int or a float (bool and null are refused).
// Read with a default: absent reads as `fallback`.
inline double number(const Value& v) {
  if (!v.is_number()) throw_expected("int or float", v.kind_name());
  return v.number();
}

inline double coordinate_or(const Record* box, TextView key, double fallback) {
  if (!box) return fallback;
  const Value* v = box->find(key);
  return v ? number(*v) : fallback;
}

// A coordinate read without default: KeyError(key) when absent.
inline double coordinate(const Record& box, TextView key) {
  return number(box.at(key));
}

}  // namespace qv::textlocator::fields

namespace qv::textlocator::match {

// The target as both tests compare it: lower-cased, "_" and "-" as spaces.
Text normalise_target(TextView target);
// The contains and exact tests with the target already normalised.
bool contains(TextView normalised, const Record& element, bool include_label);
bool exact(TextView normalised, const Record& element, bool include_label);

}  // namespace qv::textlocator::match
