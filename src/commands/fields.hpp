// The vocabulary of a command declaration: what a command is called and how
// each of its fields is named, filled and written.  Every layer (rendering,
// Python argument parsing, client methods, constructors, stubs) reads these
// descriptors, so a command is declared once, in records.hpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <tuple>
#include <type_traits>

namespace halvex::commands {

// What a client method puts in a field; `Argument` makes it a parameter.
enum class FromClient : std::uint8_t { Argument, Username, Password, Nothing };

struct NoFallback {};

// The value that callers put in place of an absent (None) optional argument.
template <class V>
struct Fallback {
    V value;
};

template <class Record, class Member, class Default = NoFallback>
struct Field {
    using record_type = Record;
    using member_type = Member;

    Member Record::*member;
    std::string_view name;    // Python parameter name
    std::string_view prefix;  // written before the value: " " or " Key="
    Default fallback{};
    FromClient client = FromClient::Argument;

    constexpr Field filled_by_client(FromClient source) const {
        Field copy = *this;
        copy.client = source;
        return copy;
    }
};

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};
template <class T>
inline constexpr bool is_optional_v = is_optional<T>::value;

template <class T>
struct value_of {
    using type = T;
};
template <class T>
struct value_of<std::optional<T>> {
    using type = T;
};
template <class T>
using value_of_t = typename value_of<T>::type;

// A value written after one space, whether required or optional.
template <class R, class M>
constexpr Field<R, M> positional(M R::*member, std::string_view name) {
    return {member, name, " "};
}

// A required value that callers may leave to its fallback.
template <class R, class T, class V>
constexpr Field<R, T, Fallback<T>> positional(T R::*member, std::string_view name, Fallback<V> fallback) {
    return {member, name, " ", Fallback<T>{static_cast<T>(fallback.value)}};
}

// A value written as " Key=value"; `prefix` holds " Key=".
template <class R, class M>
constexpr Field<R, M> pair(M R::*member, std::string_view name, std::string_view prefix) {
    return {member, name, prefix};
}

template <class R, class T, class V>
constexpr Field<R, std::optional<T>, Fallback<T>> pair(std::optional<T> R::*member, std::string_view name,
                                                       std::string_view prefix, Fallback<V> fallback) {
    return {member, name, prefix, Fallback<T>{static_cast<T>(fallback.value)}};
}

template <auto V>
inline constexpr Fallback<decltype(V)> defaults_to{V};

// How a client method reports a transmission failure.
struct OnSendFailure {
    std::string_view fatal_text;  // empty: the transmission error is raised unchanged

    constexpr bool is_fatal() const { return !fatal_text.empty(); }
};

constexpr OnSendFailure fatal(std::string_view text) { return {text}; }
inline constexpr OnSendFailure raise_unchanged{};

struct CommandInfo {
    std::string_view keyword;        // protocol keyword, also the variant and record name
    std::string_view name;           // snake-case name of the constructor and client method
    OnSendFailure on_send_failure;
    std::string_view client_name{};  // the client method's name where it differs from `name`

    constexpr std::string_view client_method() const { return client_name.empty() ? name : client_name; }
};

// Calls f(field) for every field descriptor of record R, in field order.
template <class R, class F>
constexpr void for_each_field(F&& f) {
    std::apply([&](const auto&... field) { (f(field), ...); }, R::fields);
}

template <class R>
inline constexpr std::size_t field_count = std::tuple_size_v<std::remove_cvref_t<decltype(R::fields)>>;

}  // namespace halvex::commands
