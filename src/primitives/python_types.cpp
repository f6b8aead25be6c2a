#include "primitives/python_types.hpp"

#include <utility>

#include "binding/convert.hpp"
#include "binding/guard.hpp"
#include "binding/ref.hpp"
#include "binding/types.hpp"

namespace halvex::primitives {

using binding::Boxed;
using binding::Ref;
using binding::unbox;

namespace {

template <class E>
PyObject* enum_repr(PyObject* self) {
    E value = unbox<E>(self);
    for (const auto& member : EnumMembers<E>::list) {
        if (member.value != value) continue;
        std::string text = std::string(kind_name<E>) + "." + std::string(member.name);
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    }
    Py_UNREACHABLE();
}

template <class E>
PyObject* enum_int(PyObject* self) {
    return PyLong_FromUnsignedLong(static_cast<unsigned long>(unbox<E>(self)));
}

// Members are class attributes, made once while the class is made ready.
template <class E>
bool add_members(PyTypeObject* type) {
    for (const auto& member : EnumMembers<E>::list) {
        Ref instance = Ref::steal(binding::box<E>(type, member.value));
        if (!instance) return false;
        std::string name(member.name);
        if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), name.c_str(), instance.get()) < 0)
            return false;
    }
    return true;
}

template <class E>
PyTypeObject* create_enum_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, binding::slot<binding::no_constructor>()},
        {Py_tp_dealloc, reinterpret_cast<void*>(binding::unbox_dealloc<E>)},
        {Py_tp_repr, binding::slot<enum_repr<E>>()},
        {Py_tp_str, binding::slot<enum_repr<E>>()},
        {Py_nb_int, binding::slot<enum_int<E>>()},
        {0, nullptr},
    };
    PyTypeObject* type = binding::create_type({kind_name<E>, sizeof(Boxed<E>)}, slots);
    if (type && !add_members<E>(type)) {
        Py_DECREF(type);
        return nullptr;
    }
    return type;
}

// A constant's value is static data: its instances need no destructor work.
template <class C>
PyTypeObject* create_constant_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, binding::slot<binding::no_constructor>()},
        {Py_tp_dealloc, reinterpret_cast<void*>(binding::unbox_dealloc<C>)},
        {0, nullptr},
    };
    return binding::create_type({kind_name<C>, sizeof(Boxed<C>), Py_TPFLAGS_IMMUTABLETYPE}, slots);
}

}  // namespace

template <class T>
PyTypeObject* python_type() {
    static PyTypeObject* type = nullptr;
    if (!type) {
        if constexpr (std::is_enum_v<T>) {
            type = create_enum_type<T>();
        } else {
            type = create_constant_type<T>();
        }
    }
    return type;
}

template <class T>
bool convert(PyObject* object, std::string_view name, T& out) {
    PyTypeObject* type = python_type<T>();
    if (!type) return false;
    if (!PyObject_TypeCheck(object, type)) return binding::wrong_type(object, name, kind_name<T>);
    out = unbox<T>(object);
    return true;
}

#define HALVEX_KIND(T)                          \
    template PyTypeObject* python_type<T>();    \
    template bool convert<T>(PyObject*, std::string_view, T&);
HALVEX_KIND(Channels)
HALVEX_KIND(Ecm)
HALVEX_KIND(AudioFormatType)
HALVEX_KIND(PayloadType)
HALVEX_KIND(ToneType)
HALVEX_KIND(ConstantWithDescription)
#undef HALVEX_KIND

}  // namespace halvex::primitives
