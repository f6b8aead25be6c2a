#include "binding/types.hpp"

#include <deque>

#include "binding/convert.hpp"
#include "binding/ref.hpp"

namespace halvex::binding {

const char* keep(std::string text) {
    static std::deque<std::string> kept;  // a deque never moves what it holds
    return kept.emplace_back(std::move(text)).c_str();
}

PyTypeObject* create_type(const TypeOptions& options, PyType_Slot* slots) {
    PyType_Spec type_spec{
        keep("builtins." + std::string(options.name)),
        options.basic_size,
        0,
        Py_TPFLAGS_DEFAULT | options.flags,
        slots,
    };
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpecWithBases(&type_spec, options.base));
}

std::string text_signature(std::string_view name, std::string_view parameters) {
    return std::string(name) + "(" + std::string(parameters) + ")\n--\n\n";
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
    std::string message = "No constructor defined for " + class_name(type);
    raise(PyExc_TypeError, message);
    return nullptr;
}

}  // namespace halvex::binding
