// Argument parsing for METH_FASTCALL | METH_KEYWORDS functions (and for
// tp_new, through a tuple/dict adapter): every parameter exactly once,
// positionally or by keyword.
#pragma once

#include <span>
#include <string_view>

#include "binding/python.hpp"

namespace halvex::binding {

struct Signature {
    std::string_view function;               // shown in messages, e.g. "HalvexClient.call_make"
    std::span<const std::string_view> names;  // parameter names, in order
};

// Fills out[i] with a borrowed reference to the value of parameter i.
// On a missing, surplus, duplicate or unknown argument: TypeError, false.
bool parse_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** out);

// Points `values` at the parameters' values in order: at `args` itself for
// a call that passes every argument by position (the common case, which
// needs no parsing), else at `storage` filled by parse_arguments.
inline bool arguments_in_order(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames, PyObject** storage, PyObject* const*& values) {
    values = args;
    if (!kwnames && nargs == static_cast<Py_ssize_t>(signature.names.size())) return true;
    values = storage;
    return parse_arguments(signature, args, nargs, kwnames, storage);
}

// The same for the (args tuple, kwargs dict) calling convention.
bool parse_tuple_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** out);

}  // namespace halvex::binding
