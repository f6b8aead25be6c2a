// Plain C++ values of the enumeration and constant parameter kinds.
// No Python here: command records and their rendering use these directly.
#pragma once

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

}  // namespace halvex
