// Python classes of the enumeration and constant kinds, and the conversion
// of arguments of those kinds.  The classes are created on first use.
#pragma once

#include <string_view>

#include "binding/python.hpp"
#include "primitives/values.hpp"

namespace halvex::primitives {

// The Python class of a kind (Channels, Ecm or a constant struct), or nullptr
// with an exception set.
template <class T>
PyTypeObject* python_type();

// An instance of the kind's class gives its value; anything else, integers
// included, raises "argument '<name>': '<type>' object cannot be converted to '<Class>'".
template <class T>
bool convert(PyObject* object, std::string_view name, T& out);

}  // namespace halvex::primitives
