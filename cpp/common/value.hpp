// The engine's record model: dynamic values as they cross from the host.
//
// A Value is null, a bool, an int, a real, a text, a list, a record, or a
// "foreign" value (any other host kind, kept only as its kind name). Kinds are
// exact: bool is not int, and a list is only a list. Lists and records are
// held by shared pointer, so one host object read twice in one call is one
// C++ object, and "the very same record" is a pointer comparison.
//
// Texts are sequences of Unicode code points (std::u32string), so a position
// found in a lower-cased copy is the same position in the original and any
// host string, lone surrogates included, converts without loss.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/errors.hpp"

namespace qv {

using Text = std::u32string;
using TextView = std::u32string_view;

struct Value;
struct List;
struct Record;
using ListPtr = std::shared_ptr<List>;
using RecordPtr = std::shared_ptr<Record>;

// An integer too large for 64 bits. Kept exactly (decimal digits) so that a
// copy of it converts back to the same number; its numeric value for
// comparisons is the nearest double. Arithmetic on it is refused.
struct BigInt {
  std::string decimal;
  double approx = 0.0;
};

// A host value of a kind the engine does not model (tuple, set, a dict
// subclass, an arbitrary object). `token` is opaque to the engine: the
// binding uses it to hand the very same object back.
struct Foreign {
  std::string kind;  // the host's kind name, e.g. "tuple"
  const void* token = nullptr;
};

enum class Kind { Null, Bool, Int, BigInt, Real, Text, List, Record, Foreign };

struct Value {
  using Storage = std::variant<std::monostate, bool, std::int64_t, BigInt, double,
                               Text, ListPtr, RecordPtr, Foreign>;
  Storage v;

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool b) : v(b) {}
  Value(int i) : v(static_cast<std::int64_t>(i)) {}
  Value(std::int64_t i) : v(i) {}
  Value(BigInt b) : v(std::move(b)) {}
  Value(double d) : v(d) {}
  Value(Text t) : v(std::move(t)) {}
  Value(const char32_t* t) : v(Text(t)) {}
  Value(ListPtr l) : v(std::move(l)) {}
  Value(RecordPtr r) : v(std::move(r)) {}
  Value(Foreign f) : v(std::move(f)) {}

  Kind kind() const { return static_cast<Kind>(v.index()); }
  bool is_null() const { return kind() == Kind::Null; }
  bool is_bool() const { return kind() == Kind::Bool; }
  bool is_int() const { return kind() == Kind::Int || kind() == Kind::BigInt; }
  bool is_real() const { return kind() == Kind::Real; }
  bool is_number() const { return is_int() || is_real(); }
  bool is_text() const { return kind() == Kind::Text; }
  bool is_list() const { return kind() == Kind::List; }
  bool is_record() const { return kind() == Kind::Record; }

  // Python's name for this value's kind: NoneType, bool, int, float, str,
  // list, dict, or the foreign kind's own name.
  std::string kind_name() const;

  // Unchecked accessors; call only after the matching is_*() test.
  bool as_bool() const { return std::get<bool>(v); }
  std::int64_t as_int64() const { return std::get<std::int64_t>(v); }
  double as_real() const { return std::get<double>(v); }
  const Text& as_text() const { return std::get<Text>(v); }
  const ListPtr& as_list() const { return std::get<ListPtr>(v); }
  const RecordPtr& as_record() const { return std::get<RecordPtr>(v); }

  // Checked readers: throw TypeError "Expected <kind>, got <kind_name()>".
  const Text& text() const;
  const RecordPtr& record() const;
  const ListPtr& list() const;
  bool boolean() const;
  // Any int or real as a double (big ints approximately).
  double number() const;
  // An int that fits 64 bits; TypeError for other kinds, ValueError for a
  // big int.
  std::int64_t integer() const;

  // Python truthiness for the modelled kinds (foreign values count as true).
  bool truthy() const;
};

// Ordered list of values. Held by ListPtr.
struct List {
  std::vector<Value> items;
  List() = default;
  explicit List(std::vector<Value> v) : items(std::move(v)) {}
  std::size_t size() const { return items.size(); }
  bool empty() const { return items.empty(); }
  const Value& operator[](std::size_t i) const { return items[i]; }
  void push_back(Value v) { items.push_back(std::move(v)); }
};

// String-keyed map in insertion order. Records are small, so lookups scan.
// Keys are texts; a host record with a non-text key converts to a foreign
// value instead (see the binding).
struct Record {
  std::vector<std::pair<Text, Value>> items;

  // The value under `key`, or nullptr when the key is absent.
  const Value* find(TextView key) const;
  Value* find(TextView key);
  bool contains(TextView key) const { return find(key) != nullptr; }
  // The value under `key`; KeyError(key) when absent.
  const Value& at(TextView key) const;
  // Sets `key`: in place when present, appended otherwise.
  void set(TextView key, Value v);
  std::size_t size() const { return items.size(); }
  bool empty() const { return items.empty(); }
};

inline ListPtr make_list() { return std::make_shared<List>(); }
inline RecordPtr make_record() { return std::make_shared<Record>(); }

// Builds a record from (key, value) pairs in the given order.
RecordPtr make_record(std::initializer_list<std::pair<TextView, Value>> items);

// ---- reading records with the defaults the algorithms use ----------------

// The text under `key`: `fallback` when absent; TypeError "Expected str, got
// X" when present and not a text (null included).
Text get_text(const Record& r, TextView key, TextView fallback = U"");
// As get_text, but absent *or null* reads as `fallback`.
Text get_text_or_null(const Record& r, TextView key, TextView fallback = U"");
// The record under `key`: nullptr when absent or null; TypeError for other
// kinds.
const Record* get_record(const Record& r, TextView key);
// The bool under `key`: `fallback` when absent; Python truthiness otherwise.
bool get_truthy(const Record& r, TextView key, bool fallback);

// Numbers compared by value, ints and reals alike (big ints approximately).
// Returns <0, 0, >0. TypeError when either is not a number.
int compare_numbers(const Value& a, const Value& b);

// Arithmetic that keeps Python's kinds: int op int gives int (ValueError on
// 64-bit overflow or a big int operand), anything with a real gives a real.
Value add_numbers(const Value& a, const Value& b);
Value sub_numbers(const Value& a, const Value& b);
Value mul_numbers(const Value& a, const Value& b);

// UTF-8 <-> code points, for messages and file output. Lone surrogates are
// written as their three-byte form (Python's "surrogatepass").
std::string to_utf8(TextView t);
Text from_utf8(std::string_view s);

}  // namespace qv
