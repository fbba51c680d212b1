// The one conversion between Python objects and the engine's records.
//
// A Converter lives for one binding call, with the GIL held while it
// converts. Conversion in never fails on kind: None, exact bool, int, float,
// str, list and dict become the matching Value; everything else (tuples,
// sets, subclasses of dict/list/int/str, objects) becomes a foreign value
// that remembers its kind name and hands the very same object back.
//
// Identity both ways: one dict (or list) met twice in one call becomes one
// shared Record (List); a Record (List) that came from Python converts back
// to the same Python object. Records the engine built become new dicts with
// keys in insertion order.
//
// Dict keys that are not exact str are invisible to the engine (the entry is
// skipped on the way in); the original dict still comes back by identity.
// Nesting deeper than kMaxDepth is refused with ValueError, so no input can
// exhaust the C++ stack. A self-containing dict or list converts to a cyclic
// record; the converter breaks such cycles when it is destroyed.
#pragma once

#include <nanobind/nanobind.h>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/value.hpp"

namespace qvb {

namespace nb = nanobind;

class Converter {
 public:
  static constexpr int kMaxDepth = 200;

  Converter() = default;
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  ~Converter();

  // Python -> Value. Raises ValueError (as qv::ValueError) only for nesting
  // deeper than kMaxDepth.
  qv::Value from_py(nb::handle h);
  // Value -> Python. Records and lists that came from Python come back as
  // the same objects.
  nb::object to_py(const qv::Value& v);

  // Argument helpers: convert, then check the kind exactly, raising
  // "Argument 'name' has incorrect type (expected E, got G)".
  qv::ListPtr list_arg(nb::handle h, const char* name);
  qv::RecordPtr record_arg(nb::handle h, const char* name);
  qv::Text text_arg(nb::handle h, const char* name);
  // None or a list.
  qv::ListPtr optional_list_arg(nb::handle h, const char* name);

 private:
  qv::Value convert(nb::handle h, int depth);
  nb::object build(const qv::Value& v);
  nb::str key_to_py(const qv::Text& key);

  std::unordered_map<PyObject*, qv::RecordPtr> records_in_;
  std::unordered_map<PyObject*, qv::ListPtr> lists_in_;
  std::unordered_map<const void*, PyObject*> origin_;  // Record*/List* -> object
  std::unordered_map<const void*, nb::object> keep_;  // foreign values alive
  std::vector<PyObject*> stack_;                      // containers being converted
  bool cyclic_ = false;
  std::vector<std::pair<qv::Text, nb::str>> keys_;  // record keys made so far
};

// Text <-> Python str, lossless for every code point (lone surrogates too).
qv::Text text_from_py(nb::handle str);
nb::str text_to_py(qv::TextView t);

// Python's name of an object's kind, as CPython's own messages use it.
std::string kind_name(nb::handle h);

// Registers the translation of engine errors to Python exceptions. Call
// once in each module's NB_MODULE block.
void register_errors();

}  // namespace qvb
