#include "binding/args.hpp"

#include <string>
#include <vector>

#include "binding/ref.hpp"

namespace halvex::binding {
namespace {

std::string quoted(std::string_view name) {
    std::string text(1, '\'');
    text.append(name).push_back('\'');
    return text;
}

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": the interpreter's own listing style.
std::string listing(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        text += quoted(names[i]);
    }
    return text;
}

bool fail(const Signature& signature, const std::string& problem) {
    std::string message = std::string(signature.function) + "() " + problem;
    raise(PyExc_TypeError, message);
    return false;
}

bool too_many_positional(const Signature& signature, Py_ssize_t given) {
    std::size_t takes = signature.names.size();
    return fail(signature, "takes " + std::to_string(takes) + " positional argument" + (takes == 1 ? "" : "s") +
                               " but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given");
}

bool report_missing(const Signature& signature, PyObject** out) {
    bool complete = true;
    for (std::size_t i = 0; i < signature.names.size(); ++i) complete = complete && out[i];
    if (complete) return true;
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < signature.names.size(); ++i)
        if (!out[i]) missing.push_back(signature.names[i]);
    return fail(signature, "missing " + std::to_string(missing.size()) + " required argument" +
                               (missing.size() == 1 ? "" : "s") + ": " + listing(missing));
}

// Index of the parameter named `key`, or -1.
Py_ssize_t parameter_index(const Signature& signature, PyObject* key) {
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(key, &length);
    if (!utf8) {
        PyErr_Clear();
        return -1;
    }
    std::string_view name(utf8, static_cast<std::size_t>(length));
    for (std::size_t i = 0; i < signature.names.size(); ++i)
        if (signature.names[i] == name) return static_cast<Py_ssize_t>(i);
    return -1;
}

bool bad_keyword(const Signature& signature, PyObject* key, const char* problem) {
    Ref text = Ref::steal(PyObject_Str(key));
    if (!text) return false;
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &length);
    if (!utf8) return false;
    return fail(signature, std::string(problem) + quoted(std::string_view(utf8, static_cast<std::size_t>(length))));
}

}  // namespace

bool parse_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                     PyObject** out) {
    const auto count = static_cast<Py_ssize_t>(signature.names.size());
    if (nargs > count) return too_many_positional(signature, nargs);
    for (Py_ssize_t i = 0; i < count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    if (kwnames) {
        Py_ssize_t keywords = PyTuple_Size(kwnames);
        for (Py_ssize_t k = 0; k < keywords; ++k) {
            PyObject* key = PyTuple_GetItem(kwnames, k);
            Py_ssize_t index = parameter_index(signature, key);
            if (index < 0) return bad_keyword(signature, key, "got an unexpected keyword argument ");
            if (out[index]) return bad_keyword(signature, key, "got multiple values for argument ");
            out[index] = args[nargs + k];
        }
    }
    return report_missing(signature, out);
}

bool parse_tuple_arguments(const Signature& signature, PyObject* args, PyObject* kwargs, PyObject** out) {
    Py_ssize_t nargs = PyTuple_Size(args);
    std::vector<PyObject*> values;
    for (Py_ssize_t i = 0; i < nargs; ++i) values.push_back(PyTuple_GetItem(args, i));
    Ref kwnames;
    if (kwargs && PyDict_Size(kwargs) > 0) {
        kwnames = Ref::steal(PyTuple_New(PyDict_Size(kwargs)));
        if (!kwnames) return false;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t position = 0;
        Py_ssize_t k = 0;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            PyTuple_SetItem(kwnames.get(), k++, Py_NewRef(key));
            values.push_back(value);
        }
    }
    // Borrowed values stay alive: the caller's tuple and dict hold them.
    return parse_arguments(signature, values.data(), nargs, kwnames.get(), out);
}

}  // namespace halvex::binding
