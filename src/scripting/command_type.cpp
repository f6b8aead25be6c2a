#include "scripting/command_type.hpp"

#include <array>
#include <string>
#include <utility>
#include <vector>

#include "binding/args.hpp"
#include "binding/convert.hpp"
#include "binding/guard.hpp"
#include "binding/ref.hpp"
#include "binding/types.hpp"
#include "scripting/arguments.hpp"

namespace halvex::scripting {

using binding::Ref;
using binding::unbox;
using commands::Command;

namespace {

PyTypeObject* command_base = nullptr;
std::array<PyTypeObject*, commands::command_count> variant_classes{};

// A new command object holding a record of type R built from `arguments`.
template <class R, class... Arguments>
PyObject* new_command(Arguments&&... arguments) {
    constexpr std::size_t index = Command(std::in_place_type<R>).index();
    return binding::box<Command>(variant_classes[index], std::in_place_type<R>, std::forward<Arguments>(arguments)...);
}

PyObject* text_object(const char* begin, const char* end) {
    return PyUnicode_FromStringAndSize(begin, static_cast<Py_ssize_t>(end - begin));
}

// Most commands fit on the stack; long texts go to the heap.
template <class R>
PyObject* record_str(const R& record) {
    constexpr std::size_t stack_capacity = 512;
    if (commands::text_length_bound(record) <= stack_capacity) {
        char text[stack_capacity];
        return text_object(text, commands::write_record(record, text));
    }
    std::string text;
    commands::append_record_text(record, text);
    return text_object(text.data(), text.data() + text.size());
}

PyObject* command_str(PyObject* self) {
    return std::visit([](const auto& record) { return record_str(record); }, unbox<Command>(self));
}

// Payload classes: one per record, opaque, created on first use.

template <class R>
PyTypeObject* payload_class() {
    static PyTypeObject* type = nullptr;
    if (!type) {
        static PyType_Slot slots[] = {
            {Py_tp_new, binding::slot<binding::no_constructor>()},
            {Py_tp_dealloc, reinterpret_cast<void*>(binding::unbox_dealloc<R>)},
            {0, nullptr},
        };
        type = binding::create_type({R::info.keyword, sizeof(binding::Boxed<R>), Py_TPFLAGS_IMMUTABLETYPE}, slots);
    }
    return type;
}

// A new payload object holding a copy of the record of command `self`.
template <class R>
PyObject* new_payload(PyObject* self) {
    PyTypeObject* type = payload_class<R>();
    if (!type) return nullptr;
    return binding::box<R>(type, std::get<R>(unbox<Command>(self)));
}

// Static constructors.

template <class R>
PyObject* construct(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    constexpr auto& names = parameter_names_v<R, Caller::Constructor>;
    PyObject* storage[names.size()];
    PyObject* const* values = nullptr;
    if (!binding::arguments_in_order({R::info.name, names}, args, nargs, kwnames, storage, values)) return nullptr;
    Ref command = Ref::steal(new_command<R>());
    if (!command || !fill_record<R, Caller::Constructor>(std::get<R>(unbox<Command>(command.get())), values))
        return nullptr;
    return command.release();
}

template <class R>
PyObject* construct_without_arguments(PyObject*, PyObject*) {
    return new_command<R>();
}

template <class R>
PyMethodDef constructor_def() {
    const char* name = binding::keep(std::string(R::info.name));
    const char* doc = binding::keep(binding::text_signature(R::info.name, parameter_list<R, Caller::Constructor>(false)));
    if constexpr (parameter_count<R, Caller::Constructor>() == 0) {
        return {name, binding::method<construct_without_arguments<R>>(), METH_NOARGS | METH_STATIC, doc};
    } else {
        return {name, binding::method<construct<R>>(),
                METH_FASTCALL | METH_KEYWORDS | METH_STATIC, doc};
    }
}

// Variant classes: Command_<Variant>, one per command.

constexpr std::string_view payload_parameter[] = {"_0"};

template <class R>
PyObject* variant_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* payload = nullptr;
    std::string function = binding::class_name(type);
    if (!binding::parse_tuple_arguments({function, payload_parameter}, args, kwargs, &payload)) return nullptr;
    PyTypeObject* expected = payload_class<R>();
    if (!expected) return nullptr;
    if (!PyObject_TypeCheck(payload, expected)) {
        binding::wrong_type(payload, "_0", R::info.keyword);
        return nullptr;
    }
    return new_command<R>(unbox<R>(payload));
}

template <class R>
PyObject* variant_payload(PyObject* self, void*) {
    return new_payload<R>(self);
}

Py_ssize_t variant_length(PyObject*) { return 1; }

template <class R>
PyObject* variant_item(PyObject* self, Py_ssize_t index) {
    if (index != 0) {
        PyErr_SetString(PyExc_IndexError, "tuple index out of range");
        return nullptr;
    }
    return new_payload<R>(self);
}

template <class R>
PyObject* variant_subscript(PyObject* self, PyObject* key) {
    std::uint64_t index = 0;
    if (!binding::convert_u64(key, "idx", index)) return nullptr;
    return variant_item<R>(self, index == 0 ? 0 : 1);
}

template <class R>
PyTypeObject* create_variant_class() {
    static PyGetSetDef properties[] = {
        {"_0", binding::property<variant_payload<R>>(), nullptr, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static std::string name = "Command_" + std::string(R::info.keyword);
    static PyType_Slot slots[] = {
        {Py_tp_new, binding::slot<variant_new<R>>()},
        {Py_tp_dealloc, reinterpret_cast<void*>(binding::unbox_dealloc<Command>)},
        {Py_tp_getset, properties},
        {Py_sq_length, binding::slot<variant_length>()},
        {Py_sq_item, binding::slot<variant_item<R>>()},
        {Py_mp_length, binding::slot<variant_length>()},
        {Py_mp_subscript, binding::slot<variant_subscript<R>>()},
        {Py_tp_doc, const_cast<char*>(binding::keep(binding::text_signature(name, "_0")))},
        {0, nullptr},
    };
    PyTypeObject* type = binding::create_type({name, sizeof(binding::Boxed<Command>), 0,
                                               reinterpret_cast<PyObject*>(command_base)}, slots);
    if (!type) return nullptr;
    Ref match_args = Ref::steal(Py_BuildValue("(s)", "_0"));
    if (!match_args || PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), "__match_args__", match_args.get()) < 0) {
        Py_DECREF(type);
        return nullptr;
    }
    return type;
}

template <std::size_t I>
bool add_variant_class() {
    using R = commands::record_at<I>;
    PyTypeObject* type = create_variant_class<R>();
    if (!type) return false;
    variant_classes[I] = type;
    std::string attribute(R::info.keyword);
    return PyObject_SetAttrString(reinterpret_cast<PyObject*>(command_base), attribute.c_str(),
                                  reinterpret_cast<PyObject*>(type)) == 0;
}

std::vector<PyMethodDef> constructor_table() {
    std::vector<PyMethodDef> methods;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (methods.push_back(constructor_def<commands::record_at<I>>()), ...);
    }(std::make_index_sequence<commands::command_count>());
    methods.push_back({nullptr, nullptr, 0, nullptr});
    return methods;
}

PyTypeObject* create_command_class() {
    static std::vector<PyMethodDef> constructors = constructor_table();
    static PyType_Slot slots[] = {
        {Py_tp_new, binding::slot<binding::no_constructor>()},
        {Py_tp_dealloc, reinterpret_cast<void*>(binding::unbox_dealloc<Command>)},
        {Py_tp_str, binding::slot<command_str>()},
        {Py_tp_methods, constructors.data()},
        {0, nullptr},
    };
    command_base = binding::create_type({"Command", sizeof(binding::Boxed<Command>), Py_TPFLAGS_BASETYPE}, slots);
    if (!command_base) return nullptr;
    bool created = [&]<std::size_t... I>(std::index_sequence<I...>) {
        return (add_variant_class<I>() && ...);
    }(std::make_index_sequence<commands::command_count>());
    if (!created) {
        for (PyTypeObject*& type : variant_classes) Py_CLEAR(type);
        Py_CLEAR(command_base);
    }
    return command_base;
}

}  // namespace

PyTypeObject* command_class() {
    if (!command_base) create_command_class();
    return command_base;
}

const commands::Command* command_value(PyObject* object) {
    if (!command_base || !PyObject_TypeCheck(object, command_base)) return nullptr;
    return &unbox<Command>(object);
}

}  // namespace halvex::scripting
