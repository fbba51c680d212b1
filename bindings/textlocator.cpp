// textlocator: the text strategy seen from Python. Converts, checks the kinds
// of the declared arguments, runs the engine without the GIL, converts back.
#include <nanobind/nanobind.h>

#include "record_caster.hpp"
#include "strategies/textlocator.hpp"

namespace nb = nanobind;
namespace tl = qv::textlocator;
using qvb::Converter;
using qvb::text_to_py;

namespace {

bool bool_arg(nb::handle h, const char* name) {
  if (Py_TYPE(h.ptr()) != &PyBool_Type) qv::throw_argument_type(name, "bool", qvb::kind_name(h));
  return h.ptr() == Py_True;
}

std::int64_t int_arg(Converter& c, nb::handle h, const char* name) {
  if (Py_TYPE(h.ptr()) != &PyLong_Type) qv::throw_argument_type(name, "int", qvb::kind_name(h));
  return tl::ordinal_value(c.from_py(h));
}

nb::list text_list(const std::vector<qv::Text>& items) {
  nb::list out;
  for (const qv::Text& t : items) out.append(text_to_py(t));
  return out;
}

nb::set text_set(const std::vector<qv::Text>& items) {
  nb::set out;
  for (const qv::Text& t : items) out.add(text_to_py(t));
  return out;
}

}  // namespace

NB_MODULE(textlocator, m) {
  qvb::register_errors();
  m.doc() = "The level-1 text strategy: resolves step targets by text and attributes.";

  m.attr("_MATCH_ATTRIBUTES") = text_list(tl::match_attributes());
  m.attr("_TYPE_DESCRIPTORS") = text_set(tl::type_descriptors());
  m.attr("_TEXT_ONLY_TAGS") = text_set(tl::text_only_tags());
  m.attr("_DOM_DISTANCE_THRESHOLD") = nb::int_(tl::kDomDistanceThreshold);
  m.attr("_TYPEABLE_TAGS") = text_set(tl::typeable_tags());
  m.attr("_TYPEABLE_ROLES") = text_set(tl::typeable_roles());
  m.attr("_SELECTABLE_TAGS") = text_set(tl::selectable_tags());
  nb::dict directions;
  for (const tl::Direction& d : tl::directions())
    directions[text_to_py(d.keyword)] = text_to_py(d.direction);
  m.attr("_DIRECTIONS") = directions;

  m.def(
      "_strip_type_descriptors",
      [](nb::handle target) {
        Converter c;
        qv::Text t = c.text_arg(target, "target");
        qv::Text out;
        {
          nb::gil_scoped_release nogil;
          out = tl::strip_type_descriptors(t);
        }
        return text_to_py(out);
      },
      nb::arg("target"), nb::sig("def _strip_type_descriptors(target: str) -> str"));

  m.def(
      "_searchable_strings",
      [](nb::handle element, nb::handle include_label) {
        Converter c;
        qv::Value el(c.record_arg(element, "element"));
        bool label = bool_arg(include_label, "include_label");
        std::vector<qv::Text> out;
        {
          nb::gil_scoped_release nogil;
          out = tl::searchable_strings(el, label);
        }
        return text_list(out);
      },
      nb::arg("element"), nb::arg("include_label") = false,
      nb::sig("def _searchable_strings(element: dict, include_label: bool = False) -> list[str]"));

  m.def(
      "_matches_element",
      [](nb::handle target, nb::handle element, nb::handle include_label) {
        Converter c;
        qv::Text t = c.text_arg(target, "target");
        qv::Value el(c.record_arg(element, "element"));
        bool label = bool_arg(include_label, "include_label");
        nb::gil_scoped_release nogil;
        return tl::matches_element(t, el, label);
      },
      nb::arg("target"), nb::arg("element"), nb::arg("include_label") = false,
      nb::sig("def _matches_element(target: str, element: dict, include_label: bool = False) "
              "-> bool"));

  m.def(
      "_exact_matches_element",
      [](nb::handle target, nb::handle element, nb::handle include_label) {
        Converter c;
        qv::Text t = c.text_arg(target, "target");
        qv::Value el(c.record_arg(element, "element"));
        bool label = bool_arg(include_label, "include_label");
        nb::gil_scoped_release nogil;
        return tl::exact_matches_element(t, el, label);
      },
      nb::arg("target"), nb::arg("element"), nb::arg("include_label") = false,
      nb::sig("def _exact_matches_element(target: str, element: dict, "
              "include_label: bool = False) -> bool"));

  m.def(
      "_dom_distance",
      [](nb::handle a, nb::handle b) {
        Converter c;
        qv::Text xa = c.text_arg(a, "xpath_a"), xb = c.text_arg(b, "xpath_b");
        nb::gil_scoped_release nogil;
        return tl::dom_distance(xa, xb);
      },
      nb::arg("xpath_a"), nb::arg("xpath_b"),
      nb::sig("def _dom_distance(xpath_a: str, xpath_b: str) -> int"));

  m.def(
      "_filter_by_action",
      [](nb::handle action, nb::handle elements) {
        Converter c;
        qv::Text a = c.text_arg(action, "action");
        qv::ListPtr els = c.list_arg(elements, "elements");
        qv::ListPtr out;
        {
          nb::gil_scoped_release nogil;
          out = tl::filter_by_action(a, els);
        }
        return c.to_py(qv::Value(out));
      },
      nb::arg("action"), nb::arg("elements"),
      nb::sig("def _filter_by_action(action: str, elements: list[dict]) -> list[dict]"));

  m.def(
      "_norm",
      [](nb::handle s) {
        Converter c;
        qv::Text t = c.text_arg(s, "text");
        return text_to_py(tl::norm(t));
      },
      nb::arg("text"), nb::sig("def _norm(text: str) -> str"));

  nb::class_<tl::DOMStrategy>(m, "DOMStrategy",
                              "Resolves a parsed instruction against a list of live DOM "
                              "elements.")
      .def(nb::init<>())
      .def(
          "resolve",
          [](const tl::DOMStrategy& s, nb::handle parsed_instruction, nb::handle dom_elements,
             nb::handle text_elements) {
            Converter c;
            qv::RecordPtr instr = c.record_arg(parsed_instruction, "parsed_instruction");
            qv::ListPtr dom = c.list_arg(dom_elements, "dom_elements");
            qv::ListPtr texts = c.optional_list_arg(text_elements, "text_elements");
            qv::RecordPtr out;
            {
              nb::gil_scoped_release nogil;
              out = s.resolve(*instr, dom, texts);
            }
            return c.to_py(qv::Value(out));
          },
          nb::arg("parsed_instruction"), nb::arg("dom_elements"),
          nb::arg("text_elements") = nb::none(),
          nb::sig("def resolve(self, parsed_instruction: dict, dom_elements: list[dict], "
                  "text_elements: list[dict] | None = None) -> dict"))
      .def(
          "_resolve_verify_spatial_text",
          [](const tl::DOMStrategy& s, nb::handle target, nb::handle expected,
             nb::handle text_elements, nb::handle dom_elements) {
            Converter c;
            qv::Text t = c.text_arg(target, "target");
            qv::Text e = c.text_arg(expected, "expected");
            qv::ListPtr texts = c.list_arg(text_elements, "text_elements");
            qv::ListPtr dom = c.optional_list_arg(dom_elements, "dom_elements");
            qv::RecordPtr out;
            {
              nb::gil_scoped_release nogil;
              out = s.resolve_verify_spatial_text(t, e, texts, dom);
            }
            return c.to_py(qv::Value(out));
          },
          nb::arg("target"), nb::arg("expected"), nb::arg("text_elements"),
          nb::arg("dom_elements") = nb::none(),
          nb::sig("def _resolve_verify_spatial_text(self, target: str, expected: str, "
                  "text_elements: list[dict], dom_elements: list[dict] | None = None) -> dict"))
      .def(
          "_resolve_extract_spatial_text",
          [](const tl::DOMStrategy& s, nb::handle target, nb::handle text_elements,
             nb::handle dom_elements, nb::handle ordinal) {
            Converter c;
            qv::Text t = c.text_arg(target, "target");
            qv::ListPtr texts = c.list_arg(text_elements, "text_elements");
            qv::ListPtr dom = c.optional_list_arg(dom_elements, "dom_elements");
            std::int64_t o = int_arg(c, ordinal, "ordinal");
            qv::RecordPtr out;
            {
              nb::gil_scoped_release nogil;
              out = s.resolve_extract_spatial_text(t, texts, dom, o);
            }
            return c.to_py(qv::Value(out));
          },
          nb::arg("target"), nb::arg("text_elements"), nb::arg("dom_elements") = nb::none(),
          nb::arg("ordinal") = 1,
          nb::sig("def _resolve_extract_spatial_text(self, target: str, "
                  "text_elements: list[dict], dom_elements: list[dict] | None = None, "
                  "ordinal: int = 1) -> dict"))
      .def(
          "_resolve_find_text",
          [](const tl::DOMStrategy& s, nb::handle target, nb::handle text_elements) {
            Converter c;
            qv::Text t = c.text_arg(target, "target");
            qv::ListPtr texts = c.list_arg(text_elements, "text_elements");
            qv::RecordPtr out;
            {
              nb::gil_scoped_release nogil;
              out = s.resolve_find_text(t, texts);
            }
            return c.to_py(qv::Value(out));
          },
          nb::arg("target"), nb::arg("text_elements"),
          nb::sig("def _resolve_find_text(self, target: str, text_elements: list[dict]) -> dict"))
      .def(
          "_resolve_find_exact_text",
          [](const tl::DOMStrategy& s, nb::handle target, nb::handle text_elements) {
            Converter c;
            qv::Text t = c.text_arg(target, "target");
            qv::ListPtr texts = c.list_arg(text_elements, "text_elements");
            qv::RecordPtr out;
            {
              nb::gil_scoped_release nogil;
              out = s.resolve_find_exact_text(t, texts);
            }
            return c.to_py(qv::Value(out));
          },
          nb::arg("target"), nb::arg("text_elements"),
          nb::sig("def _resolve_find_exact_text(self, target: str, text_elements: list[dict]) "
                  "-> dict"))
      .def(
          "_resolve_verify",
          [](const tl::DOMStrategy& s, nb::handle action, nb::handle target,
             nb::handle dom_elements) {
            Converter c;
            qv::Text a = c.text_arg(action, "action");
            qv::Text t = c.text_arg(target, "target");
            qv::ListPtr dom = c.list_arg(dom_elements, "dom_elements");
            qv::RecordPtr out;
            {
              nb::gil_scoped_release nogil;
              out = s.resolve_verify(a, t, dom);
            }
            return c.to_py(qv::Value(out));
          },
          nb::arg("action"), nb::arg("target"), nb::arg("dom_elements"),
          nb::sig("def _resolve_verify(self, action: str, target: str, "
                  "dom_elements: list[dict]) -> dict"))
      .def(
          "_resolve_verify_text",
          [](const tl::DOMStrategy& s, nb::handle action, nb::handle target,
             nb::handle text_elements) {
            Converter c;
            qv::Text a = c.text_arg(action, "action");
            qv::Text t = c.text_arg(target, "target");
            qv::ListPtr texts = c.list_arg(text_elements, "text_elements");
            qv::RecordPtr out;
            {
              nb::gil_scoped_release nogil;
              out = s.resolve_verify_text(a, t, texts);
            }
            return c.to_py(qv::Value(out));
          },
          nb::arg("action"), nb::arg("target"), nb::arg("text_elements"),
          nb::sig("def _resolve_verify_text(self, action: str, target: str, "
                  "text_elements: list[dict]) -> dict"));
}
