// Python face of the matrix resolver and its module helpers: converts,
// resolves without the GIL, converts back. The resolver keeps the caller's
// matrix list itself and converts it afresh at every call, so changes to
// the list are always seen and no converted record outlives a call.
#include <nanobind/nanobind.h>

#include "record_caster.hpp"
#include "spatial/gridlocator.hpp"

namespace nb = nanobind;
namespace gl = qv::gridlocator;
using namespace qvb;

namespace {

struct MatrixResolver {
  nb::object matrix;
};

int resolver_traverse(PyObject* self, visitproc visit, void* arg) {
  Py_VISIT(nb::inst_ptr<MatrixResolver>(self)->matrix.ptr());
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int resolver_clear(PyObject* self) {
  nb::inst_ptr<MatrixResolver>(self)->matrix = nb::object();
  return 0;
}

PyType_Slot resolver_slots[] = {{Py_tp_traverse, (void*)resolver_traverse},
                                {Py_tp_clear, (void*)resolver_clear},
                                {0, nullptr}};

nb::object opt_text(const std::optional<qv::Text>& t) { return t ? nb::object(text_to_py(*t)) : nb::none(); }

// None or a str; anything else is refused as a declared str argument.
std::optional<qv::Text> opt_text_arg(Converter& c, nb::handle h, const char* name) {
  if (h.is_none()) return std::nullopt;
  return c.text_arg(h, name);
}

template <class V>
nb::dict table(const std::vector<std::pair<qv::Text, V>>& rows) {
  nb::dict d;
  for (const auto& [k, v] : rows) {
    if constexpr (std::is_same_v<V, qv::Text>)
      d[text_to_py(k)] = text_to_py(v);
    else
      d[text_to_py(k)] = nb::int_(v);
  }
  return d;
}

nb::list to_py_entries(Converter& c, const std::vector<qv::RecordPtr>& entries) {
  nb::list out;
  for (const auto& e : entries) out.append(c.to_py(qv::Value(e)));
  return out;
}

}  // namespace

NB_MODULE(gridlocator, m) {
  register_errors();
  m.doc() = "Resolves relational instructions against the spatial matrix.";

  m.attr("_RELATIONS") = table(gl::relations());
  m.attr("_ORDINALS") = table(gl::ordinals());
  m.attr("_TYPE_KEYWORDS") = table(gl::type_keywords());
  m.attr("NEAR_MAX_PIXELS") = nb::int_(gl::NEAR_MAX_PIXELS);
  m.attr("NEAR_MAX_DOM_STEPS") = nb::int_(gl::NEAR_MAX_DOM_STEPS);
  m.attr("SPATIAL_TOLERANCE") = nb::int_(gl::SPATIAL_TOLERANCE);

  m.def(
      "_parse_target",
      [](nb::handle target) {
        Converter c;
        gl::ParsedTarget p = gl::parse_target(c.text_arg(target, "target"));
        return nb::make_tuple(opt_text(p.anchor), opt_text(p.rel_strategy), opt_text(p.type_filter),
                              p.ordinal ? nb::object(nb::int_(*p.ordinal)) : nb::none(),
                              opt_text(p.search_text), opt_text(p.target_text));
      },
      nb::arg("target").none(),
      nb::sig("def _parse_target(target: str) -> tuple[str | None, str | None, str | None, int | None, "
              "str | None, str | None]"),
      "Split a target into (anchor, rel_strategy, type_filter, ordinal, search_text, target_text).");
  m.def(
      "_normalize",
      [](nb::handle text) {
        Converter c;
        return text_to_py(gl::normalize(c.text_arg(text, "text")));
      },
      nb::arg("text").none(), nb::sig("def _normalize(text: str) -> str"),
      "Lower-case and remove blanks and hyphens, for loose comparison.");
  m.def(
      "_dom_distance",
      [](nb::handle xpath_a, nb::handle xpath_b) {
        Converter c;
        qv::Text a = c.text_arg(xpath_a, "xpath_a");
        qv::Text b = c.text_arg(xpath_b, "xpath_b");
        return gl::dom_distance(a, b);
      },
      nb::arg("xpath_a").none(), nb::arg("xpath_b").none(), nb::sig("def _dom_distance(xpath_a: str, xpath_b: str) -> int"),
      "Number of path segments of either path that the other does not share at the same position.");
  m.def(
      "_centre_distance",
      [](nb::handle a, nb::handle b) {
        Converter c;
        qv::RecordPtr ra = c.record_arg(a, "a");
        qv::RecordPtr rb = c.record_arg(b, "b");
        return gl::centre_distance(*ra, *rb);
      },
      nb::arg("a").none(), nb::arg("b").none(), nb::sig("def _centre_distance(a: dict, b: dict) -> float"),
      "Euclidean distance between the centres of two matrix entries.");
  m.def(
      "_overlaps_vertically",
      [](nb::handle a, nb::handle b) {
        Converter c;
        qv::RecordPtr ra = c.record_arg(a, "a");
        qv::RecordPtr rb = c.record_arg(b, "b");
        return gl::overlaps_vertically(*ra, *rb);
      },
      nb::arg("a").none(), nb::arg("b").none(), nb::sig("def _overlaps_vertically(a: dict, b: dict) -> bool"),
      "Whether two entries share a row: their vertical extents overlap within SPATIAL_TOLERANCE.");
  m.def(
      "_overlaps_horizontally",
      [](nb::handle a, nb::handle b) {
        Converter c;
        qv::RecordPtr ra = c.record_arg(a, "a");
        qv::RecordPtr rb = c.record_arg(b, "b");
        return gl::overlaps_horizontally(*ra, *rb);
      },
      nb::arg("a").none(), nb::arg("b").none(), nb::sig("def _overlaps_horizontally(a: dict, b: dict) -> bool"),
      "Whether two entries share a column: their horizontal extents overlap within SPATIAL_TOLERANCE.");

  nb::class_<MatrixResolver>(m, "MatrixResolver", nb::type_slots(resolver_slots),
                             "Finds elements using spatial relationships — proximity, direction, ordinal.")
      .def(
          "__init__",
          [](MatrixResolver* self, nb::handle matrix) {
            if (!PyList_CheckExact(matrix.ptr())) qv::throw_argument_type("matrix", "list", kind_name(matrix));
            new (self) MatrixResolver{nb::borrow(matrix)};
          },
          nb::arg("matrix").none(), nb::sig("def __init__(self, matrix: list) -> None"), "Store the pre-built spatial matrix.")
      .def_ro("matrix", &MatrixResolver::matrix, nb::sig("def matrix(self) -> list"))
      .def(
          "resolve",
          [](MatrixResolver& self, nb::handle parsed_instruction) {
            Converter c;
            qv::RecordPtr pi = c.record_arg(parsed_instruction, "parsed_instruction");
            gl::MatrixResolver r(c.list_arg(self.matrix, "matrix"));
            qv::RecordPtr result;
            {
              nb::gil_scoped_release unlocked;
              result = r.resolve(*pi);
            }
            return c.to_py(qv::Value(result));
          },
          nb::arg("parsed_instruction").none(), nb::sig("def resolve(self, parsed_instruction: dict) -> dict"),
          "Resolve the target of a parsed instruction to one element of the matrix.")
      .def(
          "_find_anchor",
          [](MatrixResolver& self, nb::handle anchor_text) {
            Converter c;
            qv::Text anchor = c.text_arg(anchor_text, "anchor_text");
            gl::MatrixResolver r(c.list_arg(self.matrix, "matrix"));
            qv::RecordPtr entry;
            {
              nb::gil_scoped_release unlocked;
              entry = r.find_anchor(anchor);
            }
            return entry ? c.to_py(qv::Value(entry)) : nb::none();
          },
          nb::arg("anchor_text").none(), nb::sig("def _find_anchor(self, anchor_text: str) -> dict | None"),
          "Find the matrix entry that the anchor text names, or None.")
      .def(
          "_rank",
          [](MatrixResolver& self, nb::handle candidates, nb::handle anchor, nb::handle strategy,
             nb::handle ordinal) {
            Converter c;
            qv::ListPtr cands = c.list_arg(candidates, "candidates");
            qv::RecordPtr anchor_entry = c.record_arg(anchor, "anchor");
            // A strategy that is not a str names no strategy: it ranks nothing.
            std::optional<qv::Text> strat;
            if (PyUnicode_CheckExact(strategy.ptr())) strat = text_from_py(strategy);
            std::optional<std::int64_t> ord;
            if (!ordinal.is_none()) ord = gl::ordinal_value(c.from_py(ordinal), "ordinal");
            gl::MatrixResolver r(c.list_arg(self.matrix, "matrix"));
            std::vector<qv::RecordPtr> ranked;
            {
              nb::gil_scoped_release unlocked;
              ranked = r.rank(cands->items, *anchor_entry, strat, ord);
            }
            return to_py_entries(c, ranked);
          },
          nb::arg("candidates").none(), nb::arg("anchor").none(), nb::arg("strategy").none(), nb::arg("ordinal").none(),
          nb::sig("def _rank(self, candidates: list, anchor: dict, strategy: str | None, ordinal: int | None) -> list"),
          "Keep the candidates in the strategy's relation to the anchor, best first.")
      .def(
          "_resolve_ordinal",
          [](MatrixResolver& self, nb::handle ordinal, nb::handle type_filter, nb::handle search_text) {
            Converter c;
            std::int64_t ord = gl::ordinal_value(c.from_py(ordinal), "ordinal");
            std::optional<qv::Text> tf = opt_text_arg(c, type_filter, "type_filter");
            std::optional<qv::Text> st = opt_text_arg(c, search_text, "search_text");
            gl::MatrixResolver r(c.list_arg(self.matrix, "matrix"));
            qv::RecordPtr result;
            {
              nb::gil_scoped_release unlocked;
              result = r.resolve_ordinal(ord, tf, st);
            }
            return c.to_py(qv::Value(result));
          },
          nb::arg("ordinal").none(), nb::arg("type_filter").none(), nb::arg("search_text").none() = nb::none(),
          nb::sig("def _resolve_ordinal(self, ordinal: int, type_filter: str | None, search_text: str | None = None) "
                  "-> dict"),
          "Resolve 'first button', 'second login', 'second login button' from reading order.");
}
