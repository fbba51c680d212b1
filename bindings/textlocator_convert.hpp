// Descriptor lists for DOMStrategy, converted only as far as the resolver
// reads them (textlocator::fields_read): a step over ten thousand
// descriptors would otherwise spend nearly all its time converting keys
// that no test looks at.
//
// The rules are the shared Converter's: one dict met twice is one record,
// a descriptor record goes back as the caller's own dict, dict keys that
// are not str are invisible, and any value other than a str, float, bool or
// None (including a descriptor that is not a dict) is handed to the
// Converter whole, so the engine sees the same Values and raises the same
// errors as over a full conversion.
#pragma once

#include <nanobind/nanobind.h>

#include <cstring>
#include <vector>

#include "record_caster.hpp"
#include "strategies/textlocator.hpp"

namespace qvb::textlocator {

namespace nb = nanobind;
namespace tl = qv::textlocator;

// Open-addressing map from pointers to small indexes; no allocation per
// entry, which matters at one insert per descriptor.
class PointerIndex {
 public:
  void reserve(std::size_t n) {
    std::size_t cap = 16;
    while (cap < 2 * n + 2) cap <<= 1;
    slots_.assign(cap, Slot{});
    mask_ = cap - 1;
  }
  // Index stored for p, or -1.
  long find(const void* p) const {
    if (slots_.empty()) return -1;
    for (std::size_t i = hash(p) & mask_;; i = (i + 1) & mask_) {
      if (slots_[i].key == p) return slots_[i].value;
      if (!slots_[i].key) return -1;
    }
  }
  void insert(const void* p, long value) {
    if (2 * (size_ + 1) > slots_.size()) grow();
    for (std::size_t i = hash(p) & mask_;; i = (i + 1) & mask_) {
      if (!slots_[i].key) {
        slots_[i] = {p, value};
        ++size_;
        return;
      }
    }
  }

 private:
  struct Slot {
    const void* key = nullptr;
    long value = -1;
  };
  static std::size_t hash(const void* p) {
    auto x = reinterpret_cast<std::uintptr_t>(p);
    x ^= x >> 17;
    x *= 0xed5ad4bbU;
    x ^= x >> 11;
    return static_cast<std::size_t>(x);
  }
  void grow() {
    std::vector<Slot> old = std::move(slots_);
    reserve(old.empty() ? 8 : old.size());
    size_ = 0;
    for (const Slot& s : old)
      if (s.key) insert(s.key, s.value);
  }
  std::vector<Slot> slots_;
  std::size_t mask_ = 0, size_ = 0;
};

class DescriptorReader {
 public:
  explicit DescriptorReader(Converter& c) : c_(c) {}

  // The items of `list` (a list, already checked) as descriptors carrying
  // the fields of `f`.
  qv::ListPtr read_list(nb::handle list, const tl::FieldsRead& f) {
    PyObject* o = list.ptr();
    Py_ssize_t n = PyList_GET_SIZE(o);
    auto out = qv::make_list();
    out->items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
      // Held while it converts: a key's __eq__ may run Python code.
      nb::object item = nb::borrow(PyList_GET_ITEM(o, i));
      out->items.push_back(read_descriptor(item, f));
    }
    return out;
  }

  void reserve(std::size_t n) {
    memo_.reserve(n);
    origin_.reserve(n);
    records_.reserve(n);
    objects_.reserve(n);
  }

  // A result record back to Python: descriptors as the caller's dicts,
  // everything the engine built as new objects.
  nb::object to_py(const qv::Value& v) {
    if (v.is_record()) {
      const qv::Record* r = v.as_record().get();
      long i = origin_.find(r);
      if (i >= 0) return objects_[static_cast<std::size_t>(i)];
      nb::dict out;
      for (const auto& kv : r->items) out[text_to_py(kv.first)] = to_py(kv.second);
      return out;
    }
    if (v.is_list()) {
      const auto& items = v.as_list()->items;
      nb::list out = nb::steal<nb::list>(PyList_New(static_cast<Py_ssize_t>(items.size())));
      for (std::size_t i = 0; i < items.size(); ++i)
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), to_py(items[i]).release().ptr());
      return out;
    }
    return c_.to_py(v);
  }

 private:
  qv::Value read_descriptor(const nb::object& item, const tl::FieldsRead& f) {
    PyObject* o = item.ptr();
    if (Py_TYPE(o) != &PyDict_Type) return c_.from_py(o);
    long known = memo_.find(o);
    if (known >= 0) return qv::Value(records_[static_cast<std::size_t>(known)]);
    auto rec = qv::make_record();
    rec->items.reserve(wanted(f));
    auto take = [&](bool wanted, const char32_t* key, PyObject* name, auto&& convert) {
      if (!wanted) return;
      PyObject* v = PyDict_GetItemWithError(o, name);
      if (!v) {
        if (PyErr_Occurred()) throw nb::python_error();
        return;
      }
      rec->items.emplace_back(key, convert(v));
    };
    auto scalar_fn = [&](PyObject* v) { return scalar(v); };
    const Names& k = names();
    // Most-read first: lookups scan the entries in order. The order is
    // never seen, since the caller gets its own dict back.
    take(f.is_visible, U"is_visible", k.is_visible, scalar_fn);
    take(f.text, U"text", k.text, scalar_fn);
    take(f.attributes != tl::FieldsRead::Attributes::None, U"attributes", k.attributes,
         [&](PyObject* v) { return attributes(v, f.attributes); });
    take(f.tag, U"tag", k.tag, scalar_fn);
    take(f.bounding_box, U"bounding_box", k.bounding_box, [&](PyObject* v) { return box(v); });
    take(f.is_enabled, U"is_enabled", k.is_enabled, scalar_fn);
    take(f.is_editable_field, U"is_editable_field", k.is_editable_field, scalar_fn);
    take(f.xpath, U"xpath", k.xpath, scalar_fn);
    long index = static_cast<long>(records_.size());
    records_.push_back(rec);
    objects_.push_back(item);
    memo_.insert(o, index);
    origin_.insert(rec.get(), index);
    return qv::Value(std::move(rec));
  }

  static std::size_t wanted(const tl::FieldsRead& f) {
    return std::size_t{f.tag} + f.text + f.is_visible + f.is_enabled + f.is_editable_field +
           f.xpath + f.bounding_box + (f.attributes != tl::FieldsRead::Attributes::None);
  }

  // Texts, reals, bools and None directly; anything else through the
  // Converter, whole.
  qv::Value scalar(PyObject* v) {
    PyTypeObject* t = Py_TYPE(v);
    if (t == &PyUnicode_Type) return qv::Value(text_from_py(v));
    if (t == &PyFloat_Type) return qv::Value(PyFloat_AS_DOUBLE(v));
    if (v == Py_True) return qv::Value(true);
    if (v == Py_False) return qv::Value(false);
    if (v == Py_None) return qv::Value();
    return c_.from_py(v);
  }

  // Every entry of a box: whether a box is empty is itself read.
  qv::Value box(PyObject* v) {
    if (Py_TYPE(v) != &PyDict_Type) return c_.from_py(v);
    auto rec = qv::make_record();
    rec->items.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(v)));
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(v, &pos, &key, &value)) {
      if (Py_TYPE(key) != &PyUnicode_Type) continue;
      rec->items.emplace_back(text_from_py(key), scalar(value));
    }
    return qv::Value(std::move(rec));
  }

  qv::Value attributes(PyObject* v, tl::FieldsRead::Attributes mode) {
    if (Py_TYPE(v) != &PyDict_Type) return c_.from_py(v);
    auto rec = qv::make_record();
    if (mode == tl::FieldsRead::Attributes::AriaLabel) {
      PyObject* label = PyDict_GetItemWithError(v, names().aria_label);
      if (label) rec->items.emplace_back(U"aria-label", scalar(label));
      else if (PyErr_Occurred()) throw nb::python_error();
      return qv::Value(std::move(rec));
    }
    rec->items.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(v)));
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(v, &pos, &key, &value)) {
      if (Py_TYPE(key) != &PyUnicode_Type || !search_name(key)) continue;
      rec->items.emplace_back(text_from_py(key), scalar(value));
    }
    return qv::Value(std::move(rec));
  }

  // Whether an attribute name is read by the search, tested on the str
  // itself so that names nobody reads are never converted.
  static bool search_name(PyObject* key) {
    if (PyUnicode_KIND(key) != PyUnicode_1BYTE_KIND) {
      return tl::attribute_read(tl::FieldsRead::Attributes::Search, text_from_py(key));
    }
    const char* s = static_cast<const char*>(PyUnicode_DATA(key));
    std::size_t n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(key));
    auto is = [&](const char* name) { return std::strlen(name) == n && std::memcmp(s, name, n) == 0; };
    if (n >= 5 && std::memcmp(s, "data-", 5) == 0) return true;
    return is("class") || is("id") || is("role") || is("aria-label") || is("_label") ||
           is("placeholder") || is("type") || is("alt");
  }

  struct Names {
    PyObject *tag, *text, *attributes, *bounding_box, *is_visible, *is_enabled,
        *is_editable_field, *xpath, *aria_label;
  };
  // Interned once per process; they live as long as the module.
  static const Names& names() {
    static const Names n{
        PyUnicode_InternFromString("tag"),          PyUnicode_InternFromString("text"),
        PyUnicode_InternFromString("attributes"),   PyUnicode_InternFromString("bounding_box"),
        PyUnicode_InternFromString("is_visible"),   PyUnicode_InternFromString("is_enabled"),
        PyUnicode_InternFromString("is_editable_field"), PyUnicode_InternFromString("xpath"),
        PyUnicode_InternFromString("aria-label")};
    return n;
  }

  Converter& c_;
  PointerIndex memo_;    // dict -> index
  PointerIndex origin_;  // Record* -> index
  std::vector<qv::RecordPtr> records_;
  std::vector<nb::object> objects_;
};

}  // namespace qvb::textlocator
