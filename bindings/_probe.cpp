// Test-only module: exposes the record caster and the text helpers so the
// Python tests can hold them against Python itself.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <algorithm>
#include <vector>

#include "common/text.hpp"
#include "record_caster.hpp"

namespace nb = nanobind;
using namespace qvb;

namespace {

// Deep copy through the engine: every list and record rebuilt as new
// objects, so key order and kinds are what the engine holds. A container
// that holds itself cannot be copied this way: ValueError.
qv::Value rebuild(const qv::Value& v, std::vector<const void*>& open) {
  const void* self = v.is_list() ? static_cast<const void*>(v.as_list().get())
                     : v.is_record() ? static_cast<const void*>(v.as_record().get())
                                     : nullptr;
  if (!self) return v;
  if (std::find(open.begin(), open.end(), self) != open.end())
    throw qv::ValueError("cannot rebuild a list or dict that contains itself");
  open.push_back(self);
  qv::Value out;
  if (v.is_list()) {
    auto l = qv::make_list();
    for (const auto& item : v.as_list()->items) l->push_back(rebuild(item, open));
    out = qv::Value(l);
  } else {
    auto r = qv::make_record();
    for (const auto& kv : v.as_record()->items) r->items.emplace_back(kv.first, rebuild(kv.second, open));
    out = qv::Value(r);
  }
  open.pop_back();
  return out;
}

}  // namespace

NB_MODULE(_probe, m) {
  register_errors();
  m.def("roundtrip", [](nb::handle h) {
    Converter c;
    qv::Value v = c.from_py(h);
    return c.to_py(v);
  }, nb::arg("value").none());
  m.def("rebuild", [](nb::handle h) {
    Converter c;
    std::vector<const void*> open;
    qv::Value v = rebuild(c.from_py(h), open);
    return c.to_py(v);
  }, nb::arg("value").none());
  m.def("kind", [](nb::handle h) {
    Converter c;
    return c.from_py(h).kind_name();
  }, nb::arg("value").none());
  // Whether the two members of a list converted to one shared record.
  m.def("same_record", [](nb::handle h) {
    Converter c;
    auto l = c.list_arg(h, "pair");
    if (l->size() != 2 || !(*l)[0].is_record() || !(*l)[1].is_record()) return false;
    return (*l)[0].as_record().get() == (*l)[1].as_record().get();
  }, nb::arg("pair").none());
  m.def("text_value", [](nb::handle rec, nb::handle key) {
    Converter c;
    auto r = c.record_arg(rec, "record");
    qv::Text k = c.text_arg(key, "key");
    return text_to_py(r->at(k).text());
  }, nb::arg("record").none(), nb::arg("key").none());
  m.def("lower", [](nb::handle s) { Converter c; return text_to_py(qv::text::lower(c.text_arg(s, "s"))); }, nb::arg("s").none());
  m.def("strip", [](nb::handle s) { Converter c; return text_to_py(qv::text::strip(c.text_arg(s, "s"))); }, nb::arg("s").none());
  m.def("split", [](nb::handle s) {
    Converter c;
    qv::Text t = c.text_arg(s, "s");
    nb::list out;
    for (auto w : qv::text::split(t)) out.append(text_to_py(w));
    return out;
  }, nb::arg("s").none());
  m.def("quoted", [](nb::handle s) { Converter c; return text_to_py(qv::text::quoted(c.text_arg(s, "s"))); }, nb::arg("s").none());
  // Per-code-point classes over [lo, hi): a bytes object of flags
  // (1 space, 2 digit, 4 printable) and the lower-case mappings.
  m.def("classes", [](std::uint32_t lo, std::uint32_t hi) {
    std::string flags;
    nb::list lowers;
    for (std::uint32_t c = lo; c < hi; ++c) {
      char f = 0;
      if (qv::text::is_space(c)) f |= 1;
      if (qv::text::is_digit(c)) f |= 2;
      if (qv::text::is_printable(c)) f |= 4;
      flags += f;
      lowers.append(static_cast<std::uint32_t>(qv::text::lower(static_cast<char32_t>(c))));
    }
    return nb::make_tuple(nb::bytes(flags.data(), flags.size()), lowers);
  }, nb::arg("lo"), nb::arg("hi"));
}
