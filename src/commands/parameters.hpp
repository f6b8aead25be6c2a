// The Python parameters of a command, as its field table gives them.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "commands/fields.hpp"

namespace halvex::commands {

// Who calls: a client method (which fills some fields itself) or a constructor.
enum class Caller { Client, Constructor };

template <class Field>
constexpr bool is_parameter(const Field& field, Caller caller) {
    return caller == Caller::Constructor || field.client == FromClient::Argument;
}

template <class R, Caller C>
constexpr std::size_t parameter_count() {
    std::size_t count = 0;
    for_each_field<R>([&](const auto& field) { count += is_parameter(field, C) ? 1 : 0; });
    return count;
}

template <class R, Caller C>
constexpr auto parameter_names() {
    std::array<std::string_view, parameter_count<R, C>()> names{};
    std::size_t k = 0;
    for_each_field<R>([&](const auto& field) {
        if (is_parameter(field, C)) names[k++] = field.name;
    });
    return names;
}

template <class R, Caller C>
inline constexpr auto parameter_names_v = parameter_names<R, C>();

// "a, b, c", optionally led by "$self".
template <class R, Caller C>
std::string parameter_list(bool with_self) {
    std::string text = with_self ? "$self" : "";
    for (std::string_view name : parameter_names_v<R, C>) {
        if (!text.empty()) text += ", ";
        text += name;
    }
    return text;
}

template <class Field>
inline constexpr bool accepts_none =
    is_optional_v<typename Field::member_type> ||
    !std::is_same_v<std::remove_cvref_t<decltype(Field::fallback)>, NoFallback>;

}  // namespace halvex::commands
