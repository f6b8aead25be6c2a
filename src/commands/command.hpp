// The union of all protocol commands and the text each one travels as.
#pragma once

#include <array>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "commands/records.hpp"

namespace halvex::commands {

// Variant order is part of the interface: it orders the Python classes too.
using Command = std::variant<
    ProtocolVersion, GetVersion, Login, Logout, Quit, ResourceCreateFrontEnd, ResourceCreatePlayer,
    ResourceCreateRecorder, ResourceCreateTransportChannel, ResourceCreateRtpChannel, ResourceCreateSoundDevice,
    ResourceCreateFax, ResourceCreateDocument, ResourceDelete, ResourceGetStatus, CallMake, CallAnswer, CallClear,
    CallTransferConsultation, CallTransferBlind, CallHold, CallRetrieve, CallSendDTMF, CallStopActivity,
    CallT38Relay, CallsSetAlertingType, CallsSetAccepting, PlayFile, PlayStream, PlayTone, PlayStop,
    RecorderStartToFile, RecorderStartToStream, RecorderStop, RtpChannelStartReceiving, RtpChannelStartSending,
    RtpChannelStop, RtpChannelSendDTMF, SoundDeviceStart, SoundDeviceStop, FaxReceive, FaxSend, FaxAbort,
    DocumentAddFile, DocumentPrepare, DocumentSave, DocumentClear, AudioSend, AudioCancel,
    AudioLevelNotificationSend, AudioLevelNotificationCancel, InBandSignalingDetectionEnable,
    InBandSignalingDetectionDisable, GetRtpStatistics>;

inline constexpr std::size_t command_count = std::variant_size_v<Command>;

template <std::size_t I>
using record_at = std::variant_alternative_t<I, Command>;

// The client lists its methods in variant order, except that `get_version`
// comes before `get_protocol_version`.
inline constexpr auto client_method_order = [] {
    std::array<std::size_t, command_count> order{};
    for (std::size_t i = 0; i < command_count; ++i) order[i] = i;
    std::swap(order[0], order[1]);
    return order;
}();

// Anything that takes pieces of text and says whether it took each one.
template <class S>
concept TextSink = requires(S& sink, std::string_view piece) {
    { sink.put(piece) } -> std::same_as<bool>;
};

// A sink that appends to a string; it never refuses.
struct StringSink {
    std::string& out;
    bool put(std::string_view piece) {
        out.append(piece);
        return true;
    }
};

// A sink writing into memory sized beforehand (see text_length_bound).
struct BufferSink {
    char* cursor;
    bool put(std::string_view piece) {
        std::memcpy(cursor, piece.data(), piece.size());
        cursor += piece.size();
        return true;
    }
};

namespace detail {

// The most characters any integer value takes (a signed 64-bit minimum).
inline constexpr std::size_t max_integer_width = 20;

template <class T>
std::size_t value_width_bound(const T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        return value.size();
    } else if constexpr (std::is_base_of_v<Constant, T>) {
        return value.wire_text.size();
    } else {
        return max_integer_width;
    }
}

template <class T, TextSink S>
[[gnu::always_inline]] inline bool put_value(S& sink, const T& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        return sink.put(value);
    } else if constexpr (std::is_base_of_v<Constant, T>) {
        return sink.put(value.wire_text);
    } else if constexpr (std::is_same_v<T, bool>) {
        return sink.put(value ? "1" : "0");
    } else if constexpr (std::is_enum_v<T>) {
        return put_value(sink, static_cast<std::underlying_type_t<T>>(value));
    } else {
        char digits[max_integer_width];
        auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        return sink.put(std::string_view(digits, static_cast<std::size_t>(end - digits)));
    }
}

// Calls f(prefix, value) for every field that is written, in order.
template <class R, class F>
bool for_each_written(const R& record, F&& f) {
    bool ok = true;
    for_each_field<R>([&](const auto& field) {
        if (!ok) return;
        const auto& member = record.*(field.member);
        if constexpr (is_optional_v<std::remove_cvref_t<decltype(member)>>) {
            if (member) ok = f(field.prefix, *member);
        } else {
            ok = f(field.prefix, member);
        }
    });
    return ok;
}

}  // namespace detail

// Writes the record's text; stops at the first refused piece and reports it.
template <class R, TextSink S>
bool render_record(const R& record, S& sink) {
    if (!sink.put(R::info.keyword)) return false;
    return detail::for_each_written(record, [&](std::string_view prefix, const auto& value) {
        return sink.put(prefix) && detail::put_value(sink, value);
    });
}

template <TextSink S>
bool render(const Command& command, S& sink) {
    return std::visit([&](const auto& record) { return render_record(record, sink); }, command);
}

// An upper bound of the text's length, so that a string is sized once.
template <class R>
std::size_t text_length_bound(const R& record) {
    std::size_t bound = R::info.keyword.size();
    detail::for_each_written(record, [&](std::string_view prefix, const auto& value) {
        bound += prefix.size() + detail::value_width_bound(value);
        return true;
    });
    return bound;
}

// Writes the record's text at `out`, which has room for
// text_length_bound(record) characters; returns the end of the text.
template <class R>
char* write_record(const R& record, char* out) {
    BufferSink sink{out};
    render_record(record, sink);
    return sink.cursor;
}

// Appends the record's text to `out`, growing it at most once; `spare`
// keeps room for what the caller appends next.
template <class R>
void append_record_text(const R& record, std::string& out, std::size_t spare = 0) {
    std::size_t start = out.size();
    std::size_t bound = text_length_bound(record);
    out.reserve(start + bound + spare);
    out.resize(start + bound);
    char* end = write_record(record, out.data() + start);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

inline void append_text(const Command& command, std::string& out, std::size_t spare = 0) {
    std::visit([&](const auto& record) { append_record_text(record, out, spare); }, command);
}

inline std::string command_to_text(Command command) {
    std::string text;
    append_text(command, text);
    return text;
}

}  // namespace halvex::commands
