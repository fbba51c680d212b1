#include "record_caster.hpp"

#include <cerrno>

#include "common/errors.hpp"

namespace qvb {

qv::Text text_from_py(nb::handle h) {
  PyObject* o = h.ptr();
  Py_ssize_t n = PyUnicode_GET_LENGTH(o);
  qv::Text out(static_cast<std::size_t>(n), U'\0');
  int kind = PyUnicode_KIND(o);
  const void* data = PyUnicode_DATA(o);
  for (Py_ssize_t i = 0; i < n; ++i) out[i] = static_cast<char32_t>(PyUnicode_READ(kind, data, i));
  return out;
}

nb::str text_to_py(qv::TextView t) {
  PyObject* o = PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, t.data(),
                                          static_cast<Py_ssize_t>(t.size()));
  if (!o) throw nb::python_error();
  return nb::steal<nb::str>(o);
}

std::string kind_name(nb::handle h) { return Py_TYPE(h.ptr())->tp_name; }

Converter::~Converter() {
  if (!cyclic_) return;
  // Break reference cycles among the records and lists we created.
  for (auto& kv : records_in_) kv.second->items.clear();
  for (auto& kv : lists_in_) kv.second->items.clear();
}

qv::Value Converter::from_py(nb::handle h) { return convert(h, 0); }

qv::Value Converter::convert(nb::handle h, int depth) {
  PyObject* o = h.ptr();
  if (o == Py_None) return qv::Value();
  if (o == Py_True) return qv::Value(true);
  if (o == Py_False) return qv::Value(false);
  PyTypeObject* t = Py_TYPE(o);
  if (t == &PyLong_Type) {
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (!overflow) return qv::Value(static_cast<std::int64_t>(v));
    qv::BigInt big;
    nb::object s = nb::steal(PyObject_Str(o));
    if (!s.is_valid()) throw nb::python_error();
    const char* digits = PyUnicode_AsUTF8(s.ptr());
    if (!digits) throw nb::python_error();
    big.decimal = digits;
    big.approx = overflow > 0 ? HUGE_VAL : -HUGE_VAL;
    double d = PyLong_AsDouble(o);
    if (d == -1.0 && PyErr_Occurred()) PyErr_Clear();
    else big.approx = d;
    return qv::Value(std::move(big));
  }
  if (t == &PyFloat_Type) return qv::Value(PyFloat_AS_DOUBLE(o));
  if (t == &PyUnicode_Type) return qv::Value(text_from_py(h));
  if (t == &PyList_Type || t == &PyDict_Type) {
    if (t == &PyList_Type) {
      if (auto it = lists_in_.find(o); it != lists_in_.end()) {
        for (PyObject* s : stack_)
          if (s == o) cyclic_ = true;
        return qv::Value(it->second);
      }
    } else if (auto it = records_in_.find(o); it != records_in_.end()) {
      for (PyObject* s : stack_)
        if (s == o) cyclic_ = true;
      return qv::Value(it->second);
    }
    if (depth >= kMaxDepth)
      throw qv::ValueError("nesting too deep: more than " + std::to_string(kMaxDepth) +
                           " levels of lists and dicts");
    stack_.push_back(o);
    struct Pop {
      std::vector<PyObject*>& s;
      ~Pop() { s.pop_back(); }
    } pop{stack_};
    if (t == &PyList_Type) {
      auto list = qv::make_list();
      lists_in_.emplace(o, list);
      origin_.emplace(list.get(), o);
      // The list may change size under us only through our own callbacks,
      // which never run Python code; read the length each step regardless.
      list->items.reserve(static_cast<std::size_t>(PyList_GET_SIZE(o)));
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i)
        list->items.push_back(convert(PyList_GET_ITEM(o, i), depth + 1));
      return qv::Value(list);
    }
    auto rec = qv::make_record();
    records_in_.emplace(o, rec);
    origin_.emplace(rec.get(), o);
    rec->items.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(o)));
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(o, &pos, &k, &v)) {
      if (Py_TYPE(k) != &PyUnicode_Type) continue;
      rec->items.emplace_back(text_from_py(k), convert(v, depth + 1));
    }
    return qv::Value(rec);
  }
  keep_.emplace(o, nb::borrow(h));
  return qv::Value(qv::Foreign{kind_name(h), o});
}

nb::object Converter::to_py(const qv::Value& v) {
  // Building thousands of dicts would run the cycle collector over and over
  // while none of them can be garbage yet; it runs once afterwards.
  struct NoCollection {
    int was = PyGC_Disable();
    ~NoCollection() {
      if (was) PyGC_Enable();
    }
  } no_collection;
  return build(v);
}

nb::str Converter::key_to_py(const qv::Text& key) {
  // Records repeat a handful of short keys: one str each, hashed once.
  if (key.size() > 24) return text_to_py(key);
  for (const auto& [text, str] : keys_)
    if (text == key) return str;
  nb::str made = text_to_py(key);
  if (keys_.size() < 64) keys_.emplace_back(key, made);
  return made;
}

nb::object Converter::build(const qv::Value& v) {
  switch (v.kind()) {
    case qv::Kind::Null: return nb::none();
    case qv::Kind::Bool: return nb::bool_(v.as_bool());
    case qv::Kind::Int: return nb::int_(v.as_int64());
    case qv::Kind::BigInt: {
      PyObject* o = PyLong_FromString(std::get<qv::BigInt>(v.v).decimal.c_str(), nullptr, 10);
      if (!o) throw nb::python_error();
      return nb::steal(o);
    }
    case qv::Kind::Real: return nb::float_(v.as_real());
    case qv::Kind::Text: return text_to_py(v.as_text());
    case qv::Kind::List: {
      const qv::List* l = v.as_list().get();
      if (auto it = origin_.find(l); it != origin_.end()) return nb::borrow(it->second);
      nb::object out = nb::steal(PyList_New(static_cast<Py_ssize_t>(l->items.size())));
      if (!out.is_valid()) throw nb::python_error();
      for (std::size_t i = 0; i < l->items.size(); ++i)
        PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), build(l->items[i]).release().ptr());
      return out;
    }
    case qv::Kind::Record: {
      const qv::Record* r = v.as_record().get();
      if (auto it = origin_.find(r); it != origin_.end()) return nb::borrow(it->second);
      nb::dict out;
      for (const auto& kv : r->items) {
        nb::str key = key_to_py(kv.first);
        nb::object value = build(kv.second);
        if (PyDict_SetItem(out.ptr(), key.ptr(), value.ptr()) != 0) throw nb::python_error();
      }
      return out;
    }
    case qv::Kind::Foreign: {
      const void* token = std::get<qv::Foreign>(v.v).token;
      if (auto it = keep_.find(token); it != keep_.end()) return it->second;
      return nb::none();
    }
  }
  return nb::none();
}

qv::ListPtr Converter::list_arg(nb::handle h, const char* name) {
  if (Py_TYPE(h.ptr()) != &PyList_Type) qv::throw_argument_type(name, "list", kind_name(h));
  return from_py(h).as_list();
}

qv::ListPtr Converter::optional_list_arg(nb::handle h, const char* name) {
  if (h.is_none()) return nullptr;
  return list_arg(h, name);
}

qv::RecordPtr Converter::record_arg(nb::handle h, const char* name) {
  if (Py_TYPE(h.ptr()) != &PyDict_Type) qv::throw_argument_type(name, "dict", kind_name(h));
  return from_py(h).as_record();
}

qv::Text Converter::text_arg(nb::handle h, const char* name) {
  if (Py_TYPE(h.ptr()) != &PyUnicode_Type) qv::throw_argument_type(name, "str", kind_name(h));
  return text_from_py(h);
}

void register_errors() {
  nb::register_exception_translator([](const std::exception_ptr& p, void*) {
    try {
      std::rethrow_exception(p);
    } catch (const qv::PageError& e) {
      if (e.payload) {
        // The payload is the original Python exception (see the page binding).
        auto* err = static_cast<nb::python_error*>(e.payload.get());
        err->restore();
      } else {
        PyErr_SetString(PyExc_RuntimeError, e.what());
      }
    } catch (const qv::TypeError& e) {
      PyErr_SetString(PyExc_TypeError, e.what());
    } catch (const qv::ValueError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    } catch (const qv::KeyError& e) {
      nb::str key = text_to_py(e.key);
      PyErr_SetObject(PyExc_KeyError, key.ptr());
    } catch (const qv::OSError& e) {
      nb::object exc = nb::steal(PyObject_CallFunction(
          PyExc_OSError, "isO", e.errnum, std::strerror(e.errnum),
          nb::str(e.filename.c_str(), e.filename.size()).ptr()));
      if (exc.is_valid()) PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    }
  });
}

}  // namespace qvb
