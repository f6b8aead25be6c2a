// Heap types as the library shows them: `__module__` "builtins", no instance
// dict, no weak references, and a fixed message for classes without a constructor.
#pragma once

#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "binding/python.hpp"

namespace halvex::binding {

struct TypeOptions {
    std::string_view name;  // bare class name; the type is created as "builtins.<name>"
    int basic_size = 0;
    unsigned flags = 0;
    PyObject* base = nullptr;
};

// Creates a type from `slots` (terminated by {0, nullptr}).  The name and
// the slot data must outlive the type: keep them in static storage.
PyTypeObject* create_type(const TypeOptions& options, PyType_Slot* slots);

// A doc string that only carries a text signature: "name(params)\n--\n\n".
std::string text_signature(std::string_view name, std::string_view parameters);

// Strings that live as long as the process (type names, signatures, method tables).
const char* keep(std::string text);

// tp_new of classes that Python cannot instantiate.
PyObject* no_constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs);

// A Python object that carries one native value.
template <class T>
struct Boxed {
    PyObject_HEAD
    T value;
};

template <class T>
T& unbox(PyObject* object) {
    return reinterpret_cast<Boxed<T>*>(object)->value;
}

// Allocates an instance of `type` (a heap type without GC whose instances
// are Boxed<T>) and builds its value from `arguments`.
template <class T, class... Arguments>
PyObject* box(PyTypeObject* type, Arguments&&... arguments) {
    auto* object = static_cast<Boxed<T>*>(PyObject_Malloc(sizeof(Boxed<T>)));
    if (!object) return PyErr_NoMemory();
    PyObject_Init(reinterpret_cast<PyObject*>(object), type);  // also takes a reference to the type
    new (&object->value) T(std::forward<Arguments>(arguments)...);
    return reinterpret_cast<PyObject*>(object);
}

// tp_dealloc of a heap type whose instances are Boxed<T>.
template <class T>
void unbox_dealloc(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    unbox<T>(object).~T();
    PyObject_Free(object);
    Py_DECREF(type);
}

}  // namespace halvex::binding
