// Plain C++ values of the enumeration and constant parameter kinds.
// No Python here: command records and their rendering use these directly.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace halvex {

enum class Channels : std::uint8_t { Mono = 1, Stereo = 2 };

enum class Ecm : std::uint16_t { No = 0, ECM64 = 64, ECM128 = 128, ECM256 = 256 };

// A protocol constant: its wire text is what a command writes for it.
// The texts point at static data, so copying a constant copies it whole.
struct Constant {
    std::string_view wire_text;
};

struct AudioFormatType : Constant {};
struct PayloadType : Constant {};
struct ToneType : Constant {};
struct ConstantWithDescription : Constant {
    std::string_view description;
};

template <class E>
struct EnumMember {
    E value;
    std::string_view name;
};

// The members of each enumeration, as Python shows them.
template <class E>
struct EnumMembers;

template <>
struct EnumMembers<Channels> {
    static constexpr std::array<EnumMember<Channels>, 2> list{{{Channels::Mono, "Mono"}, {Channels::Stereo, "Stereo"}}};
};

template <>
struct EnumMembers<Ecm> {
    static constexpr std::array<EnumMember<Ecm>, 4> list{
        {{Ecm::No, "No"}, {Ecm::ECM64, "ECM64"}, {Ecm::ECM128, "ECM128"}, {Ecm::ECM256, "ECM256"}}};
};

// The class name each kind has in Python.
template <class T>
inline constexpr std::string_view kind_name = "";
template <>
inline constexpr std::string_view kind_name<Channels> = "Channels";
template <>
inline constexpr std::string_view kind_name<Ecm> = "ECM";
template <>
inline constexpr std::string_view kind_name<AudioFormatType> = "AudioFormatType";
template <>
inline constexpr std::string_view kind_name<PayloadType> = "PayloadType";
template <>
inline constexpr std::string_view kind_name<ToneType> = "ToneType";
template <>
inline constexpr std::string_view kind_name<ConstantWithDescription> = "ConstantWithDescription";

}  // namespace halvex
