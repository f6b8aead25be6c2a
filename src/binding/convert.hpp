// Conversions of Python arguments to native values.  A wrong type raises
// TypeError "argument '<name>': <message>"; other errors are left as raised.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "binding/python.hpp"

namespace halvex::binding {

// The __name__ of a class, and of an object's class, for messages.
std::string class_name(PyTypeObject* type);
std::string type_name_of(PyObject* object);

// Raises TypeError "argument '<name>': '<type>' object cannot be converted to '<target>'".
bool wrong_type(PyObject* object, std::string_view name, std::string_view target);

// Adds the "argument '<name>': " prefix to a pending TypeError; returns false.
bool prefix_type_error(std::string_view name);

// Any object with __index__ whose value fits in [low, high]; raises the
// errors of a failed conversion.
bool convert_index(PyObject* object, std::string_view name, long long low, long long high, long long& out);

// The same, with a direct road for a plain int in range (the common case).
inline bool convert_integer(PyObject* object, std::string_view name, long long low, long long high, long long& out) {
    if (Py_IS_TYPE(object, &PyLong_Type)) {
        int overflow = 0;
        long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
        if (overflow == 0 && value >= low && value <= high) {
            out = value;
            return true;
        }
    }
    return convert_index(object, name, low, high, out);
}

template <std::integral T>
bool convert(PyObject* object, std::string_view name, T& out) {
    static_assert(sizeof(T) < 8 || std::is_signed_v<T>, "64-bit unsigned values use convert_u64");
    long long value = 0;
    if (!convert_integer(object, name, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), value))
        return false;
    out = static_cast<T>(value);
    return true;
}

// 0 to 2**64 - 1; out-of-range values raise the interpreter's own OverflowError.
bool convert_u64(PyObject* object, std::string_view name, std::uint64_t& out);

// True, False, or a NumPy boolean scalar; integers are rejected.
template <>
bool convert<bool>(PyObject* object, std::string_view name, bool& out);

// A str, encoded as UTF-8 (a lone surrogate raises UnicodeEncodeError).
bool convert_str(PyObject* object, std::string_view name, std::string_view& out);
bool convert(PyObject* object, std::string_view name, std::string& out);

// A str that may become part of a protocol line: no line feed or carriage
// return, which would end the line early and smuggle in another command.
bool convert_line_value(PyObject* object, std::string_view name, std::string& out);

}  // namespace halvex::binding
