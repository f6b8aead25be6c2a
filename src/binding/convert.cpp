#include "binding/convert.hpp"

#include <cstring>

#include "binding/ref.hpp"

namespace halvex::binding {
namespace {

std::string text_of(PyObject* text) {
    Py_ssize_t length = 0;
    const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text, &length) : nullptr;
    if (!utf8) {
        PyErr_Clear();
        return {};
    }
    return std::string(utf8, static_cast<std::size_t>(length));
}

std::string argument_prefix(std::string_view name) { return "argument '" + std::string(name) + "': "; }

bool out_of_range() {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
}

// NumPy's boolean scalar, recognised by name so that NumPy is never imported.
bool is_numpy_bool(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    std::string name = class_name(type);
    if (name != "bool_" && name != "bool") return false;
    return text_of(Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__")).get()) ==
           "numpy";
}

}  // namespace

std::string class_name(PyTypeObject* type) { return text_of(Ref::steal(PyType_GetName(type)).get()); }

std::string type_name_of(PyObject* object) { return class_name(Py_TYPE(object)); }

bool wrong_type(PyObject* object, std::string_view name, std::string_view target) {
    std::string message = argument_prefix(name) + "'" + type_name_of(object) + "' object cannot be converted to '" +
                          std::string(target) + "'";
    raise(PyExc_TypeError, message);
    return false;
}

bool prefix_type_error(std::string_view name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
    PendingError error = PendingError::fetch();
    std::string message = argument_prefix(name) + text_of(Ref::steal(PyObject_Str(error.value.get())).get());
    raise(PyExc_TypeError, message);
    return false;
}

bool convert_index(PyObject* object, std::string_view name, long long low, long long high, long long& out) {
    Ref index;
    if (!PyLong_Check(object)) {
        index = Ref::steal(PyNumber_Index(object));
        if (!index) return prefix_type_error(name);
        object = index.get();
    }
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
    if (overflow != 0) {
        PyLong_AsLongLong(object);  // sets the interpreter's own OverflowError
        return false;
    }
    if (value == -1 && PyErr_Occurred()) return false;
    if (value < low || value > high) return out_of_range();
    out = value;
    return true;
}

bool convert_u64(PyObject* object, std::string_view name, std::uint64_t& out) {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return prefix_type_error(name);
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = value;
    return true;
}

template <>
bool convert<bool>(PyObject* object, std::string_view name, bool& out) {
    if (object == Py_True || object == Py_False) {
        out = object == Py_True;
        return true;
    }
    if (!is_numpy_bool(object)) return wrong_type(object, name, "bool");
    int truth = PyObject_IsTrue(object);
    if (truth < 0) return false;
    out = truth == 1;
    return true;
}

bool convert_str(PyObject* object, std::string_view name, std::string_view& out) {
    if (!Py_IS_TYPE(object, &PyUnicode_Type) && !PyUnicode_Check(object)) return wrong_type(object, name, "str");
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &length);
    if (!utf8) return false;
    out = std::string_view(utf8, static_cast<std::size_t>(length));
    return true;
}

bool convert(PyObject* object, std::string_view name, std::string& out) {
    std::string_view text;
    if (!convert_str(object, name, text)) return false;
    out.assign(text);
    return true;
}

namespace {

// Short texts (the usual command values) are scanned byte by byte; long
// ones with memchr.
bool has_line_break(std::string_view text) {
    constexpr std::size_t short_text = 64;
    if (text.size() > short_text)
        return std::memchr(text.data(), '\n', text.size()) || std::memchr(text.data(), '\r', text.size());
    for (char c : text)
        if (c == '\n' || c == '\r') return true;
    return false;
}

}  // namespace

bool convert_line_value(PyObject* object, std::string_view name, std::string& out) {
    std::string_view text;
    if (!convert_str(object, name, text)) return false;
    if (has_line_break(text)) {
        std::string message = argument_prefix(name) + "line breaks are not allowed in command values";
        raise(PyExc_ValueError, message);
        return false;
    }
    out.assign(text);
    return true;
}

}  // namespace halvex::binding
