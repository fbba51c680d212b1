// textlocator: the text strategy seen from Python. Converts, checks the kinds
// of the declared arguments, runs the engine without the GIL, converts back.
#include <nanobind/nanobind.h>

#include "record_caster.hpp"
#include "strategies/textlocator.hpp"
#include "textlocator_convert.hpp"

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

void check_list(nb::handle h, const char* name) {
  if (Py_TYPE(h.ptr()) != &PyList_Type) qv::throw_argument_type(name, "list", qvb::kind_name(h));
}

void check_optional_list(nb::handle h, const char* name) {
  if (!h.is_none()) check_list(h, name);
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

bool reads_any(const tl::FieldsRead& f) {
  return f.tag || f.text || f.is_visible || f.is_enabled || f.is_editable_field || f.xpath ||
         f.bounding_box || f.attributes != tl::FieldsRead::Attributes::None;
}

tl::FieldsRead merged(const tl::FieldsRead& a, const tl::FieldsRead& b) {
  tl::FieldsRead m;
  m.tag = a.tag || b.tag;
  m.text = a.text || b.text;
  m.is_visible = a.is_visible || b.is_visible;
  m.is_enabled = a.is_enabled || b.is_enabled;
  m.is_editable_field = a.is_editable_field || b.is_editable_field;
  m.xpath = a.xpath || b.xpath;
  m.bounding_box = a.bounding_box || b.bounding_box;
  m.attributes = std::max(a.attributes, b.attributes);  // None < AriaLabel < Search
  return m;
}

// One DOMStrategy call: the descriptor lists (checked already; null handles
// stay null) converted as far as `action` reads them, `run` on them without
// the GIL, the result back to Python.
template <class Run>
nb::object call(Converter& c, qv::TextView action, nb::handle dom, nb::handle texts, Run&& run) {
  tl::FieldsPlan plan = tl::fields_read(action);
  const bool both = reads_any(plan.dom) && reads_any(plan.text);
  if (both) plan.dom = plan.text = merged(plan.dom, plan.text);
  qvb::textlocator::DescriptorReader reader(c);
  std::size_t n = 0;
  for (nb::handle l : {dom, texts})
    if (l.is_valid() && !l.is_none()) n += static_cast<std::size_t>(PyList_GET_SIZE(l.ptr()));
  reader.reserve(n);
  // A list the resolver never reads is passed empty: nothing of it is seen.
  auto read = [&](nb::handle l, const tl::FieldsRead& f) -> qv::ListPtr {
    if (!l.is_valid() || l.is_none()) return nullptr;
    return reads_any(f) ? reader.read_list(l, f) : qv::make_list();
  };
  qv::ListPtr d = read(dom, plan.dom), t = read(texts, plan.text);
  qv::RecordPtr out;
  {
    nb::gil_scoped_release nogil;
    out = run(d, t);
  }
  return reader.to_py(qv::Value(out));
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
      nb::arg("target").none(), nb::sig("def _strip_type_descriptors(target: str) -> str"));

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
      nb::arg("element").none(), nb::arg("include_label").none() = false,
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
      nb::arg("target").none(), nb::arg("element").none(), nb::arg("include_label").none() = false,
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
      nb::arg("target").none(), nb::arg("element").none(), nb::arg("include_label").none() = false,
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
      nb::arg("xpath_a").none(), nb::arg("xpath_b").none(),
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
      nb::arg("action").none(), nb::arg("elements").none(),
      nb::sig("def _filter_by_action(action: str, elements: list[dict]) -> list[dict]"));

  m.def(
      "_norm",
      [](nb::handle s) {
        Converter c;
        qv::Text t = c.text_arg(s, "text");
        return text_to_py(tl::norm(t));
      },
      nb::arg("text").none(), nb::sig("def _norm(text: str) -> str"));

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
            check_list(dom_elements, "dom_elements");
            check_optional_list(text_elements, "text_elements");
            // The same read resolve makes first, so errors come in its order.
            qv::Text action = qv::get_text(*instr, U"action");
            return call(c, action, dom_elements, text_elements,
                        [&](const qv::ListPtr& d, const qv::ListPtr& t) {
                          return s.resolve(*instr, d, t);
                        });
          },
          nb::arg("parsed_instruction").none(), nb::arg("dom_elements").none(),
          nb::arg("text_elements").none() = nb::none(),
          nb::sig("def resolve(self, parsed_instruction: dict, dom_elements: list[dict], "
                  "text_elements: list[dict] | None = None) -> dict"))
      .def(
          "_resolve_verify_spatial_text",
          [](const tl::DOMStrategy& s, nb::handle target, nb::handle expected,
             nb::handle text_elements, nb::handle dom_elements) {
            Converter c;
            qv::Text t = c.text_arg(target, "target");
            qv::Text e = c.text_arg(expected, "expected");
            check_list(text_elements, "text_elements");
            check_optional_list(dom_elements, "dom_elements");
            return call(c, U"verify_spatial_text", dom_elements, text_elements,
                        [&](const qv::ListPtr& d, const qv::ListPtr& x) {
                          return s.resolve_verify_spatial_text(t, e, x, d);
                        });
          },
          nb::arg("target").none(), nb::arg("expected").none(), nb::arg("text_elements").none(),
          nb::arg("dom_elements").none() = nb::none(),
          nb::sig("def _resolve_verify_spatial_text(self, target: str, expected: str, "
                  "text_elements: list[dict], dom_elements: list[dict] | None = None) -> dict"))
      .def(
          "_resolve_extract_spatial_text",
          [](const tl::DOMStrategy& s, nb::handle target, nb::handle text_elements,
             nb::handle dom_elements, nb::handle ordinal) {
            Converter c;
            qv::Text t = c.text_arg(target, "target");
            check_list(text_elements, "text_elements");
            check_optional_list(dom_elements, "dom_elements");
            std::int64_t o = int_arg(c, ordinal, "ordinal");
            return call(c, U"extract_text_spatial", dom_elements, text_elements,
                        [&](const qv::ListPtr& d, const qv::ListPtr& x) {
                          return s.resolve_extract_spatial_text(t, x, d, o);
                        });
          },
          nb::arg("target").none(), nb::arg("text_elements").none(), nb::arg("dom_elements").none() = nb::none(),
          nb::arg("ordinal").none() = 1,
          nb::sig("def _resolve_extract_spatial_text(self, target: str, "
                  "text_elements: list[dict], dom_elements: list[dict] | None = None, "
                  "ordinal: int = 1) -> dict"))
      .def(
          "_resolve_find_text",
          [](const tl::DOMStrategy& s, nb::handle target, nb::handle text_elements) {
            Converter c;
            qv::Text t = c.text_arg(target, "target");
            check_list(text_elements, "text_elements");
            return call(c, U"find_text", nb::handle(), text_elements,
                        [&](const qv::ListPtr&, const qv::ListPtr& x) { return s.resolve_find_text(t, x); });
          },
          nb::arg("target").none(), nb::arg("text_elements").none(),
          nb::sig("def _resolve_find_text(self, target: str, text_elements: list[dict]) -> dict"))
      .def(
          "_resolve_find_exact_text",
          [](const tl::DOMStrategy& s, nb::handle target, nb::handle text_elements) {
            Converter c;
            qv::Text t = c.text_arg(target, "target");
            check_list(text_elements, "text_elements");
            return call(c, U"find_exact_text", nb::handle(), text_elements,
                        [&](const qv::ListPtr&, const qv::ListPtr& x) { return s.resolve_find_exact_text(t, x); });
          },
          nb::arg("target").none(), nb::arg("text_elements").none(),
          nb::sig("def _resolve_find_exact_text(self, target: str, text_elements: list[dict]) "
                  "-> dict"))
      .def(
          "_resolve_verify",
          [](const tl::DOMStrategy& s, nb::handle action, nb::handle target,
             nb::handle dom_elements) {
            Converter c;
            qv::Text a = c.text_arg(action, "action");
            qv::Text t = c.text_arg(target, "target");
            check_list(dom_elements, "dom_elements");
            return call(c, U"verify_present", dom_elements, nb::handle(),
                        [&](const qv::ListPtr& d, const qv::ListPtr&) {
                          return s.resolve_verify(a, t, d);
                        });
          },
          nb::arg("action").none(), nb::arg("target").none(), nb::arg("dom_elements").none(),
          nb::sig("def _resolve_verify(self, action: str, target: str, "
                  "dom_elements: list[dict]) -> dict"))
      .def(
          "_resolve_verify_text",
          [](const tl::DOMStrategy& s, nb::handle action, nb::handle target,
             nb::handle text_elements) {
            Converter c;
            qv::Text a = c.text_arg(action, "action");
            qv::Text t = c.text_arg(target, "target");
            check_list(text_elements, "text_elements");
            return call(c, U"verify_text_present", nb::handle(), text_elements,
                        [&](const qv::ListPtr&, const qv::ListPtr& x) {
                          return s.resolve_verify_text(a, t, x);
                        });
          },
          nb::arg("action").none(), nb::arg("target").none(), nb::arg("text_elements").none(),
          nb::sig("def _resolve_verify_text(self, action: str, target: str, "
                  "text_elements: list[dict]) -> dict"));
}
