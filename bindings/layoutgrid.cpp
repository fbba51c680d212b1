// Python face of the matrix builder: converts, builds without the GIL,
// converts back. The builder keeps the caller's lists themselves and reads
// them afresh at every build.
#include <nanobind/nanobind.h>

#include "record_caster.hpp"
#include "spatial/layoutgrid.hpp"

namespace nb = nanobind;
using namespace qvb;

namespace {

struct MatrixBuilder {
  nb::object dom_elements;
  nb::object text_elements;
};

// The builder holds Python lists, which may hold the builder: let the
// collector see them.
int builder_traverse(PyObject* self, visitproc visit, void* arg) {
  auto* b = nb::inst_ptr<MatrixBuilder>(self);
  Py_VISIT(b->dom_elements.ptr());
  Py_VISIT(b->text_elements.ptr());
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int builder_clear(PyObject* self) {
  auto* b = nb::inst_ptr<MatrixBuilder>(self);
  b->dom_elements = nb::object();
  b->text_elements = nb::object();
  return 0;
}

PyType_Slot builder_slots[] = {{Py_tp_traverse, (void*)builder_traverse},
                               {Py_tp_clear, (void*)builder_clear},
                               {0, nullptr}};

}  // namespace

NB_MODULE(layoutgrid, m) {
  register_errors();
  m.doc() = "Constructs a spatial matrix of DOM elements sorted in natural reading order.";

  nb::dict tag_to_type;
  for (const auto& [tag, type] : qv::layoutgrid::tag_to_type()) tag_to_type[text_to_py(tag)] = text_to_py(type);
  m.attr("_TAG_TO_TYPE") = tag_to_type;

  nb::class_<MatrixBuilder>(m, "MatrixBuilder", nb::type_slots(builder_slots),
                            "Constructs a spatial matrix of DOM elements sorted in natural reading order.")
      .def(
          "__init__",
          [](MatrixBuilder* self, nb::handle dom_elements, nb::handle text_elements) {
            if (!PyList_CheckExact(dom_elements.ptr()))
              qv::throw_argument_type("dom_elements", "list", kind_name(dom_elements));
            nb::object text;
            if (text_elements.is_none() || (PyList_CheckExact(text_elements.ptr()) &&
                                            PyList_GET_SIZE(text_elements.ptr()) == 0))
              text = nb::list();
            else if (PyList_CheckExact(text_elements.ptr()))
              text = nb::borrow(text_elements);
            else
              qv::throw_argument_type("text_elements", "list", kind_name(text_elements));
            new (self) MatrixBuilder{nb::borrow(dom_elements), std::move(text)};
          },
          nb::arg("dom_elements").none(), nb::arg("text_elements").none() = nb::none(),
          nb::sig("def __init__(self, dom_elements: list, text_elements: list | None = None) -> None"),
          "Store interactable and optional text elements for matrix construction.")
      .def_ro("dom_elements", &MatrixBuilder::dom_elements, nb::sig("def dom_elements(self) -> list"))
      .def_ro("text_elements", &MatrixBuilder::text_elements, nb::sig("def text_elements(self) -> list"))
      .def(
          "build",
          [](MatrixBuilder& self) {
            Converter c;
            qv::ListPtr dom = c.list_arg(self.dom_elements, "dom_elements");
            qv::ListPtr text = c.list_arg(self.text_elements, "text_elements");
            qv::ListPtr matrix;
            {
              nb::gil_scoped_release unlocked;
              matrix = qv::layoutgrid::build(*dom, *text);
            }
            return c.to_py(qv::Value(matrix));
          },
          nb::sig("def build(self) -> list"), "Build and return the spatial matrix as a list sorted in reading order.");

  m.def(
      "_element_type",
      [](nb::handle element) {
        Converter c;
        qv::RecordPtr el = c.record_arg(element, "element");
        return text_to_py(qv::layoutgrid::element_type(qv::Value(el)));
      },
      nb::arg("element").none(), nb::sig("def _element_type(element: dict) -> str"),
      "Return a normalised element type from tag, role, and input type attribute.");
  m.def(
      "_position",
      [](nb::handle bounding_box) {
        Converter c;
        qv::RecordPtr box = c.record_arg(bounding_box, "bounding_box");
        return c.to_py(qv::Value(qv::layoutgrid::position(*box)));
      },
      nb::arg("bounding_box").none(), nb::sig("def _position(bounding_box: dict) -> dict"),
      "Return the position record (x, y, w, h, cx, cy, x2, y2) of a bounding box.");
  m.def(
      "_searchable",
      [](nb::handle element) {
        Converter c;
        qv::RecordPtr el = c.record_arg(element, "element");
        return text_to_py(qv::layoutgrid::searchable(qv::Value(el)));
      },
      nb::arg("element").none(), nb::sig("def _searchable(element: dict) -> str"),
      "Concatenate all human-readable surfaces into one string for anchor matching.");
}
