// The Python class `Command`, its 54 variant classes and payload classes.
#pragma once

#include "binding/python.hpp"
#include "commands/command.hpp"

namespace halvex::scripting {

// The class `Command`, created with its variant classes on first use.
PyTypeObject* command_class();

// The value held by an instance of Command, or nullptr for any other object.
const commands::Command* command_value(PyObject* object);

}  // namespace halvex::scripting
