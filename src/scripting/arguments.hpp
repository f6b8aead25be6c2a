// From Python arguments to a command record, driven by the record's field
// table: parameter names, text signatures, conversions and fallbacks.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "binding/args.hpp"
#include "binding/convert.hpp"
#include "binding/types.hpp"
#include "commands/command.hpp"
#include "commands/parameters.hpp"
#include "primitives/python_types.hpp"

namespace halvex::scripting {

using commands::Caller;
using commands::FromClient;
using commands::parameter_count;
using commands::parameter_list;
using commands::parameter_names_v;
using commands::is_parameter;

// The credentials a client puts into the fields it fills itself.
struct Credentials {
    std::string_view username;
    std::string_view password;
};

template <class T>
bool convert_value(PyObject* object, std::string_view name, T& out) {
    if constexpr (std::is_same_v<T, std::string>) {
        return binding::convert_line_value(object, name, out);
    } else if constexpr (std::is_enum_v<T> || std::is_base_of_v<Constant, T>) {
        return primitives::convert(object, name, out);
    } else {
        return binding::convert(object, name, out);
    }
}

// What None (or a value the client leaves out) means for a field.
template <class Field, class M>
void fill_absent(const Field& field, M& member) {
    if constexpr (!std::is_same_v<decltype(field.fallback), commands::NoFallback>) {
        member = field.fallback.value;
    } else {
        member = M{};
    }
}

template <class Field, class M>
bool convert_field(const Field& field, PyObject* object, M& member) {
    if constexpr (commands::accepts_none<Field>) {
        if (object == Py_None) {
            fill_absent(field, member);
            return true;
        }
    }
    if constexpr (commands::is_optional_v<M>) {
        return convert_value(object, field.name, member.emplace());
    } else {
        return convert_value(object, field.name, member);
    }
}

template <class Field, class M>
void fill_from_client(const Field& field, const Credentials& credentials, M& member) {
    if constexpr (std::is_same_v<M, std::string>) {
        if (field.client == FromClient::Username) return void(member.assign(credentials.username));
        if (field.client == FromClient::Password) return void(member.assign(credentials.password));
    }
    fill_absent(field, member);
}

// Converts `values` (one per parameter, in order) into `record`, putting
// fallbacks in place of None.  Stops at the first failing conversion.
template <class R, Caller C>
bool fill_record(R& record, PyObject* const* values, const Credentials* credentials = nullptr) {
    bool ok = true;
    std::size_t k = 0;
    commands::for_each_field<R>([&](const auto& field) {
        if (!ok) return;
        auto& member = record.*(field.member);
        if (is_parameter(field, C)) {
            ok = convert_field(field, values[k++], member);
        } else {
            fill_from_client(field, *credentials, member);
        }
    });
    return ok;
}

}  // namespace halvex::scripting
