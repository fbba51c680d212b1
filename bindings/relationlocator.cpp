// Python face of the level-2 strategy. Its operation reads nothing but the
// kinds of its arguments, so they are not converted: each is handed over as
// an empty value of its exact kind.
#include <nanobind/nanobind.h>

#include "record_caster.hpp"
#include "strategies/relationlocator.hpp"

namespace nb = nanobind;
using namespace qvb;

namespace {

struct SpatialStrategy {};

// The kind of an argument without its content (a dict or list subclass is
// a foreign kind, as the converter has it).
qv::Value kind_only(nb::handle h) {
  if (PyDict_CheckExact(h.ptr())) return qv::Value(qv::make_record());
  if (PyList_CheckExact(h.ptr())) return qv::Value(qv::make_list());
  if (h.is_none()) return qv::Value();
  return qv::Value(qv::Foreign{kind_name(h), h.ptr()});
}

}  // namespace

NB_MODULE(relationlocator, m) {
  register_errors();
  m.doc() = "Level 2 resolution strategy: uses the spatial matrix to resolve relational instructions.";

  nb::class_<SpatialStrategy>(m, "SpatialStrategy",
                              "Resolves instructions using spatial relationships between DOM elements.")
      .def(nb::init<>())
      .def(
          "resolve",
          [](const SpatialStrategy&, nb::handle parsed_instruction, nb::handle matrix, nb::handle dom_candidates) {
            qv::relationlocator::SpatialStrategy s;
            (void)s.resolve(kind_only(parsed_instruction), kind_only(matrix), kind_only(dom_candidates));
            return nb::none();
          },
          nb::arg("parsed_instruction").none(), nb::arg("matrix").none(), nb::arg("dom_candidates").none(),
          nb::sig("def resolve(self, parsed_instruction: dict, matrix: dict, dom_candidates: list) -> dict | None"),
          "Use the spatial matrix and DOM candidates to resolve a relational instruction.");
}
