// The Python class `HalvexClient`.
#pragma once

#include "binding/python.hpp"

namespace halvex::client {

// The class, created on first use; nullptr with an exception set on failure.
PyTypeObject* client_type();

}  // namespace halvex::client
