// An owning reference: whatever path a function leaves by, it lets go.
#pragma once

#include <string_view>
#include <utility>

#include "binding/python.hpp"

namespace halvex::binding {

class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* object) { return Ref(object); }
    static Ref borrow(PyObject* object) {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(object_);
            object_ = std::exchange(other.object_, nullptr);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    // Hands the reference to the caller (typically as a function's result).
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

// Raises `type` with `message`, which may hold any bytes of UTF-8 text
// (a NUL included).  Returns false, for `return raise(...)`.
inline bool raise(PyObject* type, std::string_view message) {
    PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
    if (text) {
        PyErr_SetObject(type, text);
        Py_DECREF(text);
    }
    return false;
}

// The exception being raised, taken out of the interpreter (and normalised).
struct PendingError {
    Ref type;
    Ref value;
    Ref traceback;

    static PendingError fetch() {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        return {Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
    }
};

}  // namespace halvex::binding
