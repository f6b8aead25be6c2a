// The fatal-error exception: raised for failures that the library treats as
// unrecoverable.  It derives from BaseException so that `except Exception`
// does not swallow it.
#pragma once

#include <source_location>
#include <string_view>

#include "binding/python.hpp"

namespace halvex::binding {

// Raises the exception with `message` and reports message and place on
// standard error.  Always returns nullptr, for `return raise_fatal(...)`.
PyObject* raise_fatal(std::string_view message, std::source_location where = std::source_location::current());

// Writes "halvex_rs: <message> (at <file>:<line>)" to standard error.
void report_to_stderr(std::string_view message, std::source_location where);

}  // namespace halvex::binding
