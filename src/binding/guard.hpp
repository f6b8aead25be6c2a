// Entry points from the interpreter: no C++ exception may cross back into
// it, so every function in a slot or method table runs inside a guard that
// turns one into a Python exception (MemoryError for a failed allocation).
#pragma once

#include <exception>
#include <new>
#include <type_traits>

#include "binding/fatal.hpp"
#include "binding/python.hpp"

namespace halvex::binding {

template <auto Function>
struct Guarded;

template <class Result, class... Arguments, Result (*Function)(Arguments...)>
struct Guarded<Function> {
    static Result call(Arguments... arguments) noexcept {
        try {
            return Function(arguments...);
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        } catch (const std::exception& error) {
            raise_fatal(std::string("internal error: ") + error.what());
        } catch (...) {
            raise_fatal("internal error: unknown exception");
        }
        if constexpr (std::is_pointer_v<Result>) {
            return nullptr;
        } else {
            return -1;
        }
    }
};

// The guarded function as a slot table holds it.
template <auto Function>
void* slot() {
    return reinterpret_cast<void*>(&Guarded<Function>::call);
}

// The guarded function as a method table holds it.
template <auto Function>
PyCFunction method() {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Guarded<Function>::call));
}

// The guarded function as a property table holds it.
template <auto Function>
getter property() {
    return &Guarded<Function>::call;
}

}  // namespace halvex::binding
