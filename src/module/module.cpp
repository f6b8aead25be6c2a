// The extension's entry point: the module `halvex_rs` with its submodules
// `client` and `commands`.
#include <cstdint>
#include <string>

#include "binding/args.hpp"
#include "binding/convert.hpp"
#include "binding/guard.hpp"
#include "binding/ref.hpp"
#include "client/client.hpp"
#include "scripting/command_type.hpp"

namespace halvex {
namespace {

using binding::Ref;

constexpr std::string_view sum_parameters[] = {"a", "b"};

PyObject* sum_as_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* values[2];
    if (!binding::parse_arguments({"sum_as_string", sum_parameters}, args, nargs, kwnames, values)) return nullptr;
    std::uint64_t a = 0, b = 0;
    if (!binding::convert_u64(values[0], "a", a) || !binding::convert_u64(values[1], "b", b)) return nullptr;
    std::string sum = std::to_string(a + b);  // unsigned: wraps modulo 2**64
    return PyUnicode_FromStringAndSize(sum.data(), static_cast<Py_ssize_t>(sum.size()));
}

PyMethodDef sum_as_string_def = {"sum_as_string", binding::method<sum_as_string>(),
                                 METH_FASTCALL | METH_KEYWORDS, "sum_as_string(a, b)\n--\n\n"};

// Appends `name` to the module's __all__ (a list, created when missing) and
// sets the attribute.
bool add_name(PyObject* module, const char* name, PyObject* value) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
    } else if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "`__all__` must be a list");
        return false;
    }
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0) return false;
    return PyObject_SetAttrString(module, name, value) == 0;
}

Ref new_sum_as_string(const char* module_name) {
    Ref name = Ref::steal(PyUnicode_FromString(module_name));
    if (!name) return {};
    return Ref::steal(PyCFunction_NewEx(&sum_as_string_def, nullptr, name.get()));
}

bool add_submodule(PyObject* parent, PyObject* submodule) {
    const char* name = PyModule_GetName(submodule);
    return name && add_name(parent, name, submodule);
}

Ref build_client_module() {
    Ref module = Ref::steal(PyModule_New("client"));
    if (!module) return {};
    PyTypeObject* client = client::client_type();
    if (!client || !add_name(module.get(), "HalvexClient", reinterpret_cast<PyObject*>(client))) return {};
    Ref sum = new_sum_as_string("client");
    if (!sum || !add_name(module.get(), "sum_as_string", sum.get())) return {};
    return module;
}

Ref build_commands_module() {
    Ref module = Ref::steal(PyModule_New("commands"));
    if (!module) return {};
    PyTypeObject* command = scripting::command_class();
    if (!command || !add_name(module.get(), "Command", reinterpret_cast<PyObject*>(command))) return {};
    return module;
}

PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "halvex_rs", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

Ref build_module() {
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module) return {};
    Ref sum = new_sum_as_string("halvex_rs");
    if (!sum) return {};
    if (!add_name(module.get(), "sum_as_string", sum.get())) PyErr_Clear();
    Ref client = build_client_module();
    if (!client || !add_submodule(module.get(), client.get())) return {};
    Ref commands = build_commands_module();
    if (!commands || !add_submodule(module.get(), commands.get())) return {};
    return module;
}

// The module is built once per process and handed out again on later imports.
PyObject* initialise() {
    static PyObject* built = nullptr;
    static std::int64_t interpreter = -1;
    std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (built) {
        if (current != interpreter) {
            PyErr_SetString(PyExc_ImportError,
                            "halvex_rs does not support sub-interpreters: it can only be imported once per process");
            return nullptr;
        }
        return Py_NewRef(built);
    }
    Ref module = build_module();
    if (!module) return nullptr;
    built = Py_NewRef(module.get());
    interpreter = current;
    return module.release();
}

}  // namespace
}  // namespace halvex

PyMODINIT_FUNC PyInit_halvex_rs(void) { return halvex::binding::Guarded<halvex::initialise>::call(); }
