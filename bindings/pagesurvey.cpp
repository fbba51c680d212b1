// pagesurvey: the page survey over Playwright's synchronous Page.
//
// The engine asks an abstract page; here that page is the Python object the
// caller gave (Playwright's Page and its ElementHandles, or anything that
// answers the same calls). Playwright's sync API belongs to the thread that
// made it, so every page call runs on the caller's thread with the GIL held.
// A Python exception from a page call travels through the engine as
// qv::PageError holding the exception itself, and comes out as that very
// object unless the survey drops the element it concerned.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "browser/pagesurvey.hpp"
#include "common/text.hpp"
#include "record_caster.hpp"

namespace nb = nanobind;
namespace qb = qv::browser;
using namespace qvb;

namespace {

// Exceptions that are not Exception (KeyboardInterrupt, SystemExit) must
// never be taken for one element's failure.
[[noreturn]] void throw_page_error(nb::python_error& e) {
  bool abort = !e.matches(PyExc_Exception);
  std::string what = e.what();
  auto payload = std::make_shared<nb::python_error>(std::move(e));
  if (abort) throw qb::PageAbort(what, payload);
  throw qv::PageError(what, payload);
}

template <class F>
auto page_call(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (nb::python_error& e) {
    throw_page_error(e);
  }
}

qv::Value to_value(nb::handle h) {
  Converter c;
  return c.from_py(h);
}

// A page answer that must be a text, or None.
std::optional<qv::Text> optional_text(nb::handle h) {
  if (h.is_none()) return std::nullopt;
  if (!PyUnicode_CheckExact(h.ptr())) qv::throw_expected("str", kind_name(h));
  return text_from_py(h);
}

bool truth(nb::handle h) {
  int r = PyObject_IsTrue(h.ptr());
  if (r < 0) throw nb::python_error();
  return r != 0;
}

class PyElement : public qb::ElementHandle {
 public:
  explicit PyElement(nb::handle h) : h_(nb::borrow(h)) {}
  nb::handle object() const { return h_; }

  bool is_visible() override {
    return page_call([&] { return truth(h_.attr("is_visible")()); });
  }
  bool is_enabled() override {
    return page_call([&] { return truth(h_.attr("is_enabled")()); });
  }
  std::optional<qv::Text> inner_text() override {
    nb::object r = page_call([&] { return h_.attr("inner_text")(); });
    return optional_text(r);
  }
  std::optional<qv::Text> get_attribute(qv::TextView name) override {
    nb::object r = page_call([&] { return h_.attr("get_attribute")(text_to_py(name)); });
    return optional_text(r);
  }
  qv::Value bounding_box() override {
    return to_value(page_call([&] { return h_.attr("bounding_box")(); }));
  }
  qv::Value evaluate(qv::TextView script) override {
    return to_value(page_call([&] { return h_.attr("evaluate")(text_to_py(script)); }));
  }

 private:
  nb::object h_;
};

class PyPage : public qb::Page {
 public:
  explicit PyPage(nb::handle p) : p_(p) {}

  std::vector<qb::HandlePtr> query_selector_all(qv::TextView selector) override {
    return page_call([&] {
      std::vector<qb::HandlePtr> out;
      nb::object found = p_.attr("query_selector_all")(text_to_py(selector));
      for (nb::handle h : found) out.push_back(std::make_shared<PyElement>(h));
      return out;
    });
  }
  qb::HandlePtr query_selector(qv::TextView selector) override {
    nb::object h = page_call([&] { return p_.attr("query_selector")(text_to_py(selector)); });
    if (h.is_none()) return nullptr;
    return std::make_shared<PyElement>(h);
  }
  qv::Value evaluate(qv::TextView script) override {
    return to_value(page_call([&] { return p_.attr("evaluate")(text_to_py(script)); }));
  }
  qv::Value eval_on_selector_all(qv::TextView selector, qv::TextView script) override {
    return to_value(page_call([&] {
      return p_.attr("eval_on_selector_all")(text_to_py(selector), text_to_py(script));
    }));
  }
  qv::Text url() override {
    nb::object u = page_call([&] { return p_.attr("url"); });
    if (!PyUnicode_CheckExact(u.ptr())) qv::throw_expected("str", kind_name(u));
    return text_from_py(u);
  }

 private:
  nb::handle p_;
};

// The settings are read from the Python module at each snapshot, so a
// change made after import (a test's monkeypatch) is seen.
class PyHost : public qb::Host {
 public:
  bool save_snapshots() override { return truth(settings().attr("SAVE_SNAPSHOTS")); }
  qv::Text log_path() override {
    nb::object p = nb::module_::import_("os").attr("fspath")(settings().attr("LOG_PATH"));
    if (!PyUnicode_CheckExact(p.ptr())) qv::throw_expected("str", kind_name(p));
    return text_from_py(p);
  }
  void print_line(qv::TextView line) override {
    nb::module_::import_("builtins").attr("print")(text_to_py(line));
  }

 private:
  static nb::module_ settings() { return nb::module_::import_("quelvar_web.settings"); }
};

struct PyDomParser {
  nb::object page;
};

// QUELVAR_SURVEY=reference asks the page element by element; anything else
// gathers each source in one script. Read at each survey, so a test can
// switch it.
qb::SurveyMode survey_mode() {
  nb::object v = nb::module_::import_("os").attr("environ").attr("get")("QUELVAR_SURVEY");
  if (PyUnicode_Check(v.ptr()) && text_from_py(v) == U"reference") return qb::SurveyMode::reference;
  return qb::SurveyMode::fast;
}

// One survey call: the engine's parser over this object's page.
struct Survey {
  PyPage page;
  PyHost host;
  qb::DomParser parser;
  explicit Survey(const PyDomParser& self)
      : page(self.page), parser(page, host, survey_mode()) {}
};

nb::list texts_to_py(const std::vector<qv::Text>& items) {
  nb::list out;
  for (const qv::Text& t : items) out.append(text_to_py(t));
  return out;
}

nb::list list_to_py(const qv::ListPtr& l) {
  Converter c;
  return nb::borrow<nb::list>(c.to_py(qv::Value(l)));
}

}  // namespace

NB_MODULE(pagesurvey, m) {
  register_errors();
  m.doc() = "Survey of a live page: interactable and text element descriptors.";

  m.attr("_NATIVE_TAGS") = texts_to_py(qb::native_tags());
  m.attr("_ARIA_ROLES") = texts_to_py(qb::aria_roles());
  m.attr("INTERACTABLE_SELECTOR") = text_to_py(qb::interactable_selector());
  m.attr("CAPTURED_ATTRIBUTES") = texts_to_py(qb::captured_attributes());
  m.attr("_XPATH_JS") = text_to_py(qb::xpath_js());
  m.attr("_CUSTOM_INPUT_SELECTOR") = text_to_py(qb::custom_input_selector());
  m.attr("_TEXT_TAGS") = texts_to_py(qb::text_tags());
  m.attr("TEXT_SELECTOR") = text_to_py(qb::text_selector());

  m.def(
      "_is_custom_input",
      [](nb::handle tag, nb::handle classes) {
        Converter c;
        qv::Text t = c.text_arg(tag, "tag");
        std::optional<qv::Text> cls;
        if (!classes.is_none()) cls = c.text_arg(classes, "classes");
        return qb::is_custom_input(t, cls);
      },
      nb::arg("tag").none(), nb::arg("classes").none(),
      "Return True if a non-native element looks like an editable field by class name.");

  nb::class_<PyDomParser>(m, "DOMParser",
                          "Queries the page DOM and returns structured, interactable element "
                          "descriptors.")
      .def(nb::init<nb::object>(), nb::arg("page").none())
      .def_rw("page", &PyDomParser::page)
      .def(
          "extract_interactable_elements",
          [](const PyDomParser& self) {
            Survey s(self);
            auto [elements, texts] = s.parser.extract_interactable_elements();
            return nb::make_tuple(list_to_py(elements), list_to_py(texts));
          },
          "Return all visible, interactable elements (buttons, inputs, links, selects, "
          "textareas).")
      .def(
          "extract_text_elements",
          [](const PyDomParser& self) { return list_to_py(Survey(self).parser.extract_text_elements()); },
          "Return all visible elements that carry readable text content.")
      .def(
          "_get_field_label",
          [](const PyDomParser& self, nb::handle handle) {
            Survey s(self);
            PyElement element(handle);
            return text_to_py(s.parser.get_field_label(element));
          },
          nb::arg("handle").none(), "Compute the accessible label for an input-like element.")
      .def(
          "_extract_custom_inputs",
          [](const PyDomParser& self) { return list_to_py(Survey(self).parser.extract_custom_inputs()); },
          "Extract non-native editable fields identified by class naming conventions.")
      .def(
          "_extract_cursor_pointer_elements",
          [](const PyDomParser& self) {
            return list_to_py(Survey(self).parser.extract_cursor_pointer_elements());
          },
          "Extract custom clickable elements identified by cursor:pointer CSS.")
      .def(
          "_collect_label_candidates",
          [](const PyDomParser& self) {
            return list_to_py(Survey(self).parser.collect_label_candidates());
          },
          "Extract heading, label, and short-text div/span elements for spatial label lookup.")
      .def(
          "_assign_spatial_labels",
          [](const PyDomParser&, nb::handle elements, nb::handle candidates) {
            Converter c;
            qv::ListPtr els = c.list_arg(elements, "elements");
            qv::ListPtr cands = c.list_arg(candidates, "candidates");
            // Each label goes into the caller's own dict as soon as it is found.
            nb::str key = text_to_py(U"_label");
            qb::assign_spatial_labels(*els, *cands, [&](std::size_t i, const qv::Value& label) {
              nb::handle element = PyList_GET_ITEM(elements.ptr(), static_cast<Py_ssize_t>(i));
              nb::object attrs = element[text_to_py(U"attributes")];
              attrs[key] = c.to_py(label);
            });
          },
          nb::arg("elements").none(), nb::arg("candidates").none(),
          "Attach the nearest above-element heading/label to each element as _label.")
      .def_static(
          "_dedup_text_elements",
          [](nb::handle elements) {
            Converter c;
            qv::ListPtr els = c.list_arg(elements, "elements");
            qv::ListPtr kept;
            {
              nb::gil_scoped_release release;
              kept = qb::dedup_text_elements(*els);
            }
            return nb::borrow<nb::list>(c.to_py(qv::Value(kept)));
          },
          nb::arg("elements").none(), "Eliminate container elements that only aggregate child text.")
      .def(
          "_save_snapshot",
          [](const PyDomParser& self, nb::handle elements, nb::handle text_elements) {
            Converter c;
            qv::ListPtr els = c.list_arg(elements, "elements");
            qv::ListPtr texts = c.list_arg(text_elements, "text_elements");
            Survey(self).parser.save_snapshot(*els, *texts);
          },
          nb::arg("elements").none(), nb::arg("text_elements").none(),
          "Save interactable and text elements to a timestamped JSON file in data/logs/.");
}
