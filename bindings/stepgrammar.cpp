// Python face of the step language: argument checks, conversion, and the
// module tables as plain Python objects. The work itself runs without the
// GIL.
#include <nanobind/nanobind.h>

#include <type_traits>

#include "agent/stepgrammar.hpp"
#include "record_caster.hpp"

namespace nb = nanobind;
namespace sg = qv::stepgrammar;
using qvb::Converter;
using qvb::text_to_py;

namespace {

template <class Range>
nb::list texts_list(const Range& items) {
  nb::list out;
  for (qv::TextView t : items) out.append(text_to_py(t));
  return out;
}

template <class Range>
nb::dict pairs_dict(const Range& items) {
  nb::dict out;
  for (const auto& [k, v] : items) {
    if constexpr (std::is_same_v<std::decay_t<decltype(v)>, qv::TextView>)
      out[text_to_py(k)] = text_to_py(v);
    else
      out[text_to_py(k)] = nb::int_(v);
  }
  return out;
}

nb::list issues_list(const std::vector<qv::Text>& issues) {
  nb::list out;
  for (const qv::Text& t : issues) out.append(text_to_py(t));
  return out;
}

}  // namespace

NB_MODULE(stepgrammar, m) {
  qvb::register_errors();

  nb::list supported = texts_list(sg::kSupportedActions);
  nb::set known;
  for (qv::TextView t : sg::kKnownActions) known.add(text_to_py(t));
  nb::dict ordinals = pairs_dict(sg::kOrdinals);
  nb::list spatial = texts_list(sg::kSpatialKeywords);
  nb::set stop;
  for (qv::TextView t : sg::kStopWords) stop.add(text_to_py(t));
  nb::dict verify_states = pairs_dict(sg::kVerifyStates);
  nb::dict verify_text_states = pairs_dict(sg::kVerifyTextStates);
  // Compiled once here with the host's own engine; the C++ scan mirrors it.
  nb::object quote_re = nb::module_::import_("re").attr("compile")(
      nb::str(sg::kQuotePattern.data(), sg::kQuotePattern.size()));

  const std::pair<const char*, nb::object> tables[] = {
      {"SUPPORTED_ACTIONS", supported},      {"_KNOWN_ACTIONS", known},
      {"_ORDINALS", ordinals},               {"_SPATIAL_KW", spatial},
      {"_STOP_WORDS", stop},                 {"_VERIFY_STATES", verify_states},
      {"_VERIFY_TEXT_STATES", verify_text_states}, {"_QUOTE_RE", quote_re},
  };
  for (const auto& [name, table] : tables) m.attr(name) = table;

  m.def("_extract_ordinal", [](nb::handle text) {
    Converter c;
    qv::Text t = c.text_arg(text, "text");
    sg::Ordinal o;
    {
      nb::gil_scoped_release release;
      o = sg::extract_ordinal(t);
    }
    return nb::make_tuple(nb::int_(o.ordinal), text_to_py(o.rest));
  }, nb::arg("text").none(), nb::sig("def _extract_ordinal(text: str) -> tuple[int, str]"));

  // The floor for bench/parse.py: one argument in, None out, no work.
  m.def("_noop", [](nb::handle) {}, nb::arg("instruction").none(),
        nb::sig("def _noop(instruction: object) -> None"));

  nb::class_<sg::InstructionParser> cls(m, "InstructionParser");
  cls.def(nb::init<>())
      .def("parse", [](const sg::InstructionParser& self, nb::handle instruction) {
        Converter c;
        qv::Text t = c.text_arg(instruction, "instruction");
        qv::RecordPtr r;
        {
          nb::gil_scoped_release release;
          r = self.parse(t);
        }
        return c.to_py(qv::Value(r));
      }, nb::arg("instruction").none(),
          nb::sig("def parse(self, instruction: str) -> dict"))
      .def("validate", [](const sg::InstructionParser& self, nb::handle instruction) {
        Converter c;
        qv::Text t = c.text_arg(instruction, "instruction");
        std::vector<qv::Text> issues;
        {
          nb::gil_scoped_release release;
          issues = self.validate(t);
        }
        return issues_list(issues);
      }, nb::arg("instruction").none(),
          nb::sig("def validate(self, instruction: str) -> list[str]"))
      .def("validate_all", [](const sg::InstructionParser& self, nb::handle instructions) {
        Converter c;
        if (!PyList_CheckExact(instructions.ptr()))
          qv::throw_argument_type("instructions", "list", qvb::kind_name(instructions));
        // Each member is checked as validate would check its own argument.
        // Only texts are read, so no member is converted beyond that check.
        std::vector<qv::Text> steps;
        Py_ssize_t n = PyList_GET_SIZE(instructions.ptr());
        steps.reserve(static_cast<std::size_t>(n));
        for (Py_ssize_t i = 0; i < n; ++i)
          steps.push_back(c.text_arg(PyList_GET_ITEM(instructions.ptr(), i), "instruction"));
        std::vector<std::pair<std::int64_t, std::vector<qv::Text>>> found;
        {
          nb::gil_scoped_release release;
          found = self.validate_all(steps);
        }
        nb::dict out;
        for (const auto& [index, issues] : found) out[nb::int_(index)] = issues_list(issues);
        return out;
      }, nb::arg("instructions").none(),
          nb::sig("def validate_all(self, instructions: list[str]) -> dict[int, list[str]]"))
      .def_static("_clean_target", [](nb::handle target) {
        Converter c;
        qv::Text t = c.text_arg(target, "target");
        return text_to_py(sg::InstructionParser::clean_target(t));
      }, nb::arg("target").none(),
          nb::sig("def _clean_target(target: str) -> str"))
      .def_static("_unquote", [](nb::handle instruction) {
        Converter c;
        qv::Text t = c.text_arg(instruction, "instruction");
        sg::Unquoted u = sg::InstructionParser::unquote(t);
        nb::list literals;
        for (const qv::Text& l : u.literals) literals.append(text_to_py(l));
        return nb::make_tuple(text_to_py(u.unquoted), literals);
      }, nb::arg("instruction").none(),
          nb::sig("def _unquote(instruction: str) -> tuple[str, list[str]]"));
  // The class holds the vocabulary too: the very same objects.
  for (const auto& [name, table] : tables) cls.attr(name) = table;
}
