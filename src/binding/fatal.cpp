#include "binding/fatal.hpp"

#include <string>
#include <unistd.h>

#include "binding/ref.hpp"

namespace halvex::binding {
namespace {

PyObject* fatal_error_type() {
    static PyObject* type = PyErr_NewException("builtins.FatalError", PyExc_BaseException, nullptr);
    return type;
}

}  // namespace

void report_to_stderr(std::string_view message, std::source_location where) {
    std::string report = "halvex_rs: " + std::string(message) + " (at " + where.file_name() + ":" +
                         std::to_string(where.line()) + ")\n";
    std::string_view rest = report;
    while (!rest.empty()) {
        ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // nowhere left to report to
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

PyObject* raise_fatal(std::string_view message, std::source_location where) {
    report_to_stderr(message, where);
    PyObject* type = fatal_error_type();
    if (!type) return nullptr;
    Ref text = Ref::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

}  // namespace halvex::binding
