// The protocol's 54 commands, each declared once: its record (fields in
// writing order), its names, its failure behaviour and its field table.
// Everything else about a command is derived from these declarations.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "commands/fields.hpp"
#include "primitives/values.hpp"

namespace halvex::commands {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using i16 = std::int16_t;
using i64 = std::int64_t;
using text = std::string;
template <class T>
using opt = std::optional<T>;

inline constexpr OnSendFailure session_failure = fatal("TODO: panic message");

// The field table of the many commands that name a single resource.
template <class R>
inline constexpr auto resource_id_only = std::tuple{positional(&R::resource_id, "resource_id")};

inline constexpr std::tuple<> no_fields{};

// Session and resource commands.

struct ProtocolVersion { static constexpr CommandInfo info{"ProtocolVersion", "protocol_version", session_failure, "get_protocol_version"}; static constexpr auto fields = no_fields; };
struct GetVersion { static constexpr CommandInfo info{"GetVersion", "get_version", session_failure}; static constexpr auto fields = no_fields; };

struct Login {
    text username{};
    text password{};
    u8 major{};
    u8 minor{};
    opt<u8> revision{};

    static constexpr CommandInfo info{"Login", "login", session_failure};
    static constexpr auto fields = std::tuple{
        positional(&Login::username, "username").filled_by_client(FromClient::Username),
        positional(&Login::password, "password").filled_by_client(FromClient::Password),
        positional(&Login::major, "major", defaults_to<2>).filled_by_client(FromClient::Nothing),
        positional(&Login::minor, "minor", defaults_to<3>).filled_by_client(FromClient::Nothing),
        positional(&Login::revision, "revision").filled_by_client(FromClient::Nothing),
    };
};

struct Logout { static constexpr CommandInfo info{"Logout", "logout", session_failure}; static constexpr auto fields = no_fields; };
struct Quit { static constexpr CommandInfo info{"Quit", "quit", session_failure}; static constexpr auto fields = no_fields; };

struct ResourceCreateFrontEnd {
    opt<text> reg_incoming_ani{};
    opt<text> reg_incoming_dnis{};
    opt<text> reg_incoming_rdn{};
    opt<bool> accepting{};

    static constexpr CommandInfo info{"ResourceCreateFrontEnd", "resource_create_frontend", session_failure};
    static constexpr auto fields = std::tuple{
        pair(&ResourceCreateFrontEnd::reg_incoming_ani, "reg_incoming_ani", " RegIncomingANI="),
        pair(&ResourceCreateFrontEnd::reg_incoming_dnis, "reg_incoming_dnis", " RegIncomingDNIS="),
        pair(&ResourceCreateFrontEnd::reg_incoming_rdn, "reg_incoming_rdn", " RegIncomingRDN="),
        pair(&ResourceCreateFrontEnd::accepting, "accepting", " Accepting="),
    };
};

struct ResourceCreatePlayer { static constexpr CommandInfo info{"ResourceCreatePlayer", "resource_create_player", session_failure}; static constexpr auto fields = no_fields; };
struct ResourceCreateRecorder { static constexpr CommandInfo info{"ResourceCreateRecorder", "resource_create_recorder", session_failure}; static constexpr auto fields = no_fields; };

struct ResourceCreateTransportChannel {
    text transport_type{};

    static constexpr CommandInfo info{"ResourceCreateTransportChannel", "resource_create_transport_channel", session_failure};
    static constexpr auto fields = std::tuple{positional(&ResourceCreateTransportChannel::transport_type, "transport_type")};
};

struct ResourceCreateRtpChannel {
    opt<bool> in_band_dtmf_enabled{};

    static constexpr CommandInfo info{"ResourceCreateRtpChannel", "resource_create_rtp_channel", session_failure};
    static constexpr auto fields = std::tuple{pair(&ResourceCreateRtpChannel::in_band_dtmf_enabled, "in_band_dtmf_enabled", " InBandDTMFEnabled=")};
};

struct ResourceCreateSoundDevice {
    text direction{};  // required, yet written as a pair
    opt<text> device{};
    opt<u8> buffers{};

    static constexpr CommandInfo info{"ResourceCreateSoundDevice", "resource_create_sound_device", session_failure};
    static constexpr auto fields = std::tuple{
        pair(&ResourceCreateSoundDevice::direction, "direction", " Direction="),
        pair(&ResourceCreateSoundDevice::device, "device", " Device="),
        pair(&ResourceCreateSoundDevice::buffers, "buffers", " Buffers="),
    };
};

struct ResourceCreateFax { static constexpr CommandInfo info{"ResourceCreateFax", "resource_create_fax", session_failure}; static constexpr auto fields = no_fields; };
struct ResourceCreateDocument { static constexpr CommandInfo info{"ResourceCreateDocument", "resource_create_document", session_failure}; static constexpr auto fields = no_fields; };
struct ResourceDelete { u32 resource_id{}; static constexpr CommandInfo info{"ResourceDelete", "resource_delete", session_failure}; static constexpr auto fields = resource_id_only<ResourceDelete>; };
struct ResourceGetStatus { u32 resource_id{}; static constexpr CommandInfo info{"ResourceGetStatus", "resource_get_status", session_failure}; static constexpr auto fields = resource_id_only<ResourceGetStatus>; };

// Call-control commands.

struct CallMake {
    u32 resource_id{};
    text address{};
    opt<u32> timeout{};
    opt<text> caller_number{};
    opt<text> caller_name{};
    opt<u8> privacy{};
    opt<u8> screen{};

    static constexpr CommandInfo info{"CallMake", "call_make", fatal("call_make failed")};
    static constexpr auto fields = std::tuple{
        positional(&CallMake::resource_id, "resource_id"),
        positional(&CallMake::address, "address"),
        pair(&CallMake::timeout, "timeout", " TimeOut=", defaults_to<30000>),
        pair(&CallMake::caller_number, "caller_number", " CallerNumber="),
        pair(&CallMake::caller_name, "caller_name", " CallerName="),
        pair(&CallMake::privacy, "privacy", " Privacy=", defaults_to<0>),
        pair(&CallMake::screen, "screen", " Screen=", defaults_to<1>),
    };
};

struct CallAnswer { u32 resource_id{}; static constexpr CommandInfo info{"CallAnswer", "call_answer", fatal("call_answer failed")}; static constexpr auto fields = resource_id_only<CallAnswer>; };

struct CallClear {
    u32 resource_id{};
    opt<text> reason{};

    static constexpr CommandInfo info{"CallClear", "call_clear", fatal("call_clear failed")};
    static constexpr auto fields = std::tuple{
        positional(&CallClear::resource_id, "resource_id"),
        pair(&CallClear::reason, "reason", " Reason="),
    };
};

struct CallTransferConsultation {
    u32 resource_id1{};
    u32 resource_id2{};

    static constexpr CommandInfo info{"CallTransferConsultation", "call_transfer_consultation", fatal("call_transfer_consultation failed")};
    static constexpr auto fields = std::tuple{
        positional(&CallTransferConsultation::resource_id1, "resource_id1"),
        positional(&CallTransferConsultation::resource_id2, "resource_id2"),
    };
};

struct CallTransferBlind {
    u32 resource_id{};
    text address{};
    opt<u8> use_h450{};

    static constexpr CommandInfo info{"CallTransferBlind", "call_transfer_blind", fatal("call_transfer_blind failed")};
    static constexpr auto fields = std::tuple{
        positional(&CallTransferBlind::resource_id, "resource_id"),
        positional(&CallTransferBlind::address, "address"),
        pair(&CallTransferBlind::use_h450, "use_h450", " UseH450=", defaults_to<1>),
    };
};

struct CallHold { u32 resource_id{}; static constexpr CommandInfo info{"CallHold", "call_hold", fatal("call_hold failed")}; static constexpr auto fields = resource_id_only<CallHold>; };
struct CallRetrieve { u32 resource_id{}; static constexpr CommandInfo info{"CallRetrieve", "call_retrieve", fatal("call_retrieve failed")}; static constexpr auto fields = resource_id_only<CallRetrieve>; };

struct CallSendDTMF {
    u32 resource_id{};
    text dtmf_string{};
    opt<u32> duration{};
    opt<u32> delay{};
    opt<u32> pause_duration{};

    static constexpr CommandInfo info{"CallSendDTMF", "call_send_dtmf", fatal("call_send_dtmf failed")};
    static constexpr auto fields = std::tuple{
        positional(&CallSendDTMF::resource_id, "resource_id"),
        positional(&CallSendDTMF::dtmf_string, "dtmf_string"),
        pair(&CallSendDTMF::duration, "duration", " Duration=", defaults_to<300>),
        pair(&CallSendDTMF::delay, "delay", " Delay=", defaults_to<200>),
        pair(&CallSendDTMF::pause_duration, "pause_duration", " PauseDuration=", defaults_to<2000>),
    };
};

struct CallStopActivity { u32 resource_id{}; static constexpr CommandInfo info{"CallStopActivity", "call_stop_activity", fatal("call_stop_activity failed")}; static constexpr auto fields = resource_id_only<CallStopActivity>; };

struct CallT38Relay {
    u32 resource_id1{};
    u32 resource_id2{};

    static constexpr CommandInfo info{"CallT38Relay", "call_t38_relay", fatal("call_t38_relay failed")};
    static constexpr auto fields = std::tuple{
        positional(&CallT38Relay::resource_id1, "resource_id1"),
        positional(&CallT38Relay::resource_id2, "resource_id2"),
    };
};

struct CallsSetAlertingType {
    u32 resource_id{};
    text alerting_type{};

    static constexpr CommandInfo info{"CallsSetAlertingType", "calls_set_alerting_type", fatal("calls_set_alerting_type failed")};
    static constexpr auto fields = std::tuple{
        positional(&CallsSetAlertingType::resource_id, "resource_id"),
        positional(&CallsSetAlertingType::alerting_type, "alerting_type"),
    };
};

struct CallsSetAccepting {
    u32 resource_id{};
    bool accepting{};

    static constexpr CommandInfo info{"CallsSetAccepting", "calls_set_accepting", fatal("calls_set_accepting failed")};
    static constexpr auto fields = std::tuple{
        positional(&CallsSetAccepting::resource_id, "resource_id"),
        positional(&CallsSetAccepting::accepting, "accepting"),
    };
};

// Player, recorder, RTP-channel and sound-device commands.

struct PlayFile {
    u32 resource_id{};
    text file_name{};
    opt<AudioFormatType> audio_type{};
    opt<u16> sample_rate{};
    opt<Channels> channels{};
    opt<u32> index{};
    opt<i64> skip_bytes{};

    static constexpr CommandInfo info{"PlayFile", "play_file", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&PlayFile::resource_id, "resource_id"),
        positional(&PlayFile::file_name, "file_name"),
        pair(&PlayFile::audio_type, "audio_type", " Type="),
        pair(&PlayFile::sample_rate, "sample_rate", " SampleRate="),
        pair(&PlayFile::channels, "channels", " Channels="),
        pair(&PlayFile::index, "index", " Index="),
        pair(&PlayFile::skip_bytes, "skip_bytes", " SkipBytes="),
    };
};

struct PlayStream {
    u32 player_id{};
    u32 transport_channel_id{};
    opt<AudioFormatType> audio_type{};
    opt<u16> sample_rate{};
    opt<u32> buffer_optimum_size{};

    static constexpr CommandInfo info{"PlayStream", "play_stream", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&PlayStream::player_id, "player_id"),
        positional(&PlayStream::transport_channel_id, "transport_channel_id"),
        pair(&PlayStream::audio_type, "audio_type", " Type="),
        pair(&PlayStream::sample_rate, "sample_rate", " SampleRate="),
        pair(&PlayStream::buffer_optimum_size, "buffer_optimum_size", " BufferOptimumSize="),
    };
};

struct PlayTone {
    u32 resource_id{};
    opt<u16> frequency{};
    opt<u16> frequency2{};
    opt<ToneType> tone{};
    opt<u8> volume{};
    opt<u16> duration{};

    static constexpr CommandInfo info{"PlayTone", "play_tone", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&PlayTone::resource_id, "resource_id"),
        pair(&PlayTone::frequency, "frequency", " Frequency="),
        pair(&PlayTone::frequency2, "frequency2", " Frequency2="),
        pair(&PlayTone::tone, "tone", " Tone="),
        pair(&PlayTone::volume, "volume", " Volume="),
        pair(&PlayTone::duration, "duration", " Duration="),
    };
};

struct PlayStop { u32 resource_id{}; static constexpr CommandInfo info{"PlayStop", "play_stop", raise_unchanged}; static constexpr auto fields = resource_id_only<PlayStop>; };

struct RecorderStartToFile {
    u32 resource_id{};
    text file_name{};
    opt<AudioFormatType> audio_type{};
    opt<u16> sample_rate{};
    opt<Channels> channels{};
    opt<i64> file_offset{};
    opt<u32> max_duration{};
    opt<u32> max_silence{};
    opt<bool> voice_trigger{};
    opt<bool> pause_if_empty{};

    static constexpr CommandInfo info{"RecorderStartToFile", "recorder_start_to_file", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&RecorderStartToFile::resource_id, "resource_id"),
        positional(&RecorderStartToFile::file_name, "file_name"),
        pair(&RecorderStartToFile::audio_type, "audio_type", " Type="),
        pair(&RecorderStartToFile::sample_rate, "sample_rate", " SampleRate="),
        pair(&RecorderStartToFile::channels, "channels", " Channels="),
        pair(&RecorderStartToFile::file_offset, "file_offset", " FileOffset="),
        pair(&RecorderStartToFile::max_duration, "max_duration", " MaxDuration="),
        pair(&RecorderStartToFile::max_silence, "max_silence", " MaxSilence="),
        pair(&RecorderStartToFile::voice_trigger, "voice_trigger", " VoiceTrigger="),
        pair(&RecorderStartToFile::pause_if_empty, "pause_if_empty", " PauseIfEmpty="),
    };
};

struct RecorderStartToStream {
    u32 recorder_id{};
    u32 transport_channel_id{};
    opt<AudioFormatType> audio_type{};
    opt<u16> sample_rate{};
    opt<u32> max_duration{};
    opt<u32> max_silence{};
    opt<bool> voice_trigger{};
    opt<bool> pause_if_empty{};

    static constexpr CommandInfo info{"RecorderStartToStream", "recorder_start_to_stream", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&RecorderStartToStream::recorder_id, "recorder_id"),
        positional(&RecorderStartToStream::transport_channel_id, "transport_channel_id"),
        pair(&RecorderStartToStream::audio_type, "audio_type", " Type="),
        pair(&RecorderStartToStream::sample_rate, "sample_rate", " SampleRate="),
        pair(&RecorderStartToStream::max_duration, "max_duration", " MaxDuration="),
        pair(&RecorderStartToStream::max_silence, "max_silence", " MaxSilence="),
        pair(&RecorderStartToStream::voice_trigger, "voice_trigger", " VoiceTrigger="),
        pair(&RecorderStartToStream::pause_if_empty, "pause_if_empty", " PauseIfEmpty="),
    };
};

struct RecorderStop { u32 resource_id{}; static constexpr CommandInfo info{"RecorderStop", "recorder_stop", raise_unchanged}; static constexpr auto fields = resource_id_only<RecorderStop>; };

struct RtpChannelStartReceiving {
    u32 resource_id{};
    opt<text> sender_control_address{};
    opt<text> receiver_data_address{};
    opt<text> receiver_control_address{};
    opt<PayloadType> payload_type{};
    opt<u8> rfc2833_payload_type{};
    opt<u8> rtp_session_id{};
    opt<u16> jitter_buffer_length_min{};
    opt<u16> jitter_buffer_length_max{};

    static constexpr CommandInfo info{"RtpChannelStartReceiving", "rtp_channel_start_receiving", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&RtpChannelStartReceiving::resource_id, "resource_id"),
        pair(&RtpChannelStartReceiving::sender_control_address, "sender_control_address", " SenderControlAddress="),
        pair(&RtpChannelStartReceiving::receiver_data_address, "receiver_data_address", " ReceiverDataAddress="),
        pair(&RtpChannelStartReceiving::receiver_control_address, "receiver_control_address", " ReceiverControlAddress="),
        pair(&RtpChannelStartReceiving::payload_type, "payload_type", " PayloadType="),
        pair(&RtpChannelStartReceiving::rfc2833_payload_type, "rfc2833_payload_type", " RFC2833PayloadType="),
        pair(&RtpChannelStartReceiving::rtp_session_id, "rtp_session_id", " RtpSessionId="),
        pair(&RtpChannelStartReceiving::jitter_buffer_length_min, "jitter_buffer_length_min", " JitterBufferLengthMin="),
        pair(&RtpChannelStartReceiving::jitter_buffer_length_max, "jitter_buffer_length_max", " JitterBufferLengthMax="),
    };
};

struct RtpChannelStartSending {
    u32 resource_id{};
    text receiver_data_address{};
    opt<text> receiver_control_address{};
    opt<text> sender_data_address{};
    opt<text> sender_control_address{};
    opt<PayloadType> payload_type{};
    opt<u8> rfc2833_payload_type{};
    opt<u8> rtp_session_id{};

    static constexpr CommandInfo info{"RtpChannelStartSending", "rtp_channel_start_sending", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&RtpChannelStartSending::resource_id, "resource_id"),
        positional(&RtpChannelStartSending::receiver_data_address, "receiver_data_address"),
        pair(&RtpChannelStartSending::receiver_control_address, "receiver_control_address", " ReceiverControlAddress="),
        pair(&RtpChannelStartSending::sender_data_address, "sender_data_address", " SenderDataAddress="),
        pair(&RtpChannelStartSending::sender_control_address, "sender_control_address", " SenderControlAddress="),
        pair(&RtpChannelStartSending::payload_type, "payload_type", " PayloadType="),
        pair(&RtpChannelStartSending::rfc2833_payload_type, "rfc2833_payload_type", " RFC2833PayloadType="),
        pair(&RtpChannelStartSending::rtp_session_id, "rtp_session_id", " RtpSessionId="),
    };
};

struct RtpChannelStop { u32 resource_id{}; static constexpr CommandInfo info{"RtpChannelStop", "rtp_channel_stop", raise_unchanged}; static constexpr auto fields = resource_id_only<RtpChannelStop>; };

// The same fields as CallSendDTMF, but no caller fills absent values.
struct RtpChannelSendDTMF {
    u32 resource_id{};
    text dtmf_string{};
    opt<u32> duration{};
    opt<u32> delay{};
    opt<u32> pause_duration{};

    static constexpr CommandInfo info{"RtpChannelSendDTMF", "rtp_channel_send_dtmf", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&RtpChannelSendDTMF::resource_id, "resource_id"),
        positional(&RtpChannelSendDTMF::dtmf_string, "dtmf_string"),
        pair(&RtpChannelSendDTMF::duration, "duration", " Duration="),
        pair(&RtpChannelSendDTMF::delay, "delay", " Delay="),
        pair(&RtpChannelSendDTMF::pause_duration, "pause_duration", " PauseDuration="),
    };
};

struct SoundDeviceStart { u32 resource_id{}; static constexpr CommandInfo info{"SoundDeviceStart", "sound_device_start", raise_unchanged}; static constexpr auto fields = resource_id_only<SoundDeviceStart>; };
struct SoundDeviceStop { u32 resource_id{}; static constexpr CommandInfo info{"SoundDeviceStop", "sound_device_stop", raise_unchanged}; static constexpr auto fields = resource_id_only<SoundDeviceStop>; };

// Fax, document, audio-routing, level-notification, detection and statistics commands.

struct FaxReceive {
    u32 fax_resource_id{};
    u32 frontend_resource_id{};
    u32 document_resource_id{};
    opt<ConstantWithDescription> fax_mode{};
    opt<Ecm> use_ecm{};
    opt<text> csi{};

    static constexpr CommandInfo info{"FaxReceive", "fax_receive", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&FaxReceive::fax_resource_id, "fax_resource_id"),
        positional(&FaxReceive::frontend_resource_id, "frontend_resource_id"),
        positional(&FaxReceive::document_resource_id, "document_resource_id"),
        pair(&FaxReceive::fax_mode, "fax_mode", " FaxMode="),
        pair(&FaxReceive::use_ecm, "use_ecm", " UseECM="),
        pair(&FaxReceive::csi, "csi", " CSI="),
    };
};

struct FaxSend {
    u32 fax_resource_id{};
    u32 frontend_resource_id{};
    u32 document_resource_id{};
    opt<ConstantWithDescription> speed{};
    opt<Ecm> use_ecm{};
    opt<text> header{};
    opt<text> tsi{};

    static constexpr CommandInfo info{"FaxSend", "fax_send", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&FaxSend::fax_resource_id, "fax_resource_id"),
        positional(&FaxSend::frontend_resource_id, "frontend_resource_id"),
        positional(&FaxSend::document_resource_id, "document_resource_id"),
        pair(&FaxSend::speed, "speed", " Speed="),
        pair(&FaxSend::use_ecm, "use_ecm", " UseECM="),
        pair(&FaxSend::header, "header", " Header="),
        pair(&FaxSend::tsi, "tsi", " TSI="),
    };
};

struct FaxAbort { u32 resource_id{}; static constexpr CommandInfo info{"FaxAbort", "fax_abort", raise_unchanged}; static constexpr auto fields = resource_id_only<FaxAbort>; };

struct DocumentAddFile {
    u32 resource_id{};
    text file_path{};
    opt<ConstantWithDescription> transformation{};

    static constexpr CommandInfo info{"DocumentAddFile", "document_add_file", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&DocumentAddFile::resource_id, "resource_id"),
        positional(&DocumentAddFile::file_path, "file_path"),
        pair(&DocumentAddFile::transformation, "transformation", " Transformation="),
    };
};

struct DocumentPrepare {
    u32 resource_id{};
    opt<ConstantWithDescription> paper_size{};
    opt<ConstantWithDescription> resolution{};

    static constexpr CommandInfo info{"DocumentPrepare", "document_prepare", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&DocumentPrepare::resource_id, "resource_id"),
        pair(&DocumentPrepare::paper_size, "paper_size", " PaperSize="),
        pair(&DocumentPrepare::resolution, "resolution", " Resolution="),
    };
};

struct DocumentSave {
    u32 resource_id{};
    text file_path{};
    opt<bool> multipage{};
    opt<ConstantWithDescription> document_type{};

    static constexpr CommandInfo info{"DocumentSave", "document_save", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&DocumentSave::resource_id, "resource_id"),
        positional(&DocumentSave::file_path, "file_path"),
        pair(&DocumentSave::multipage, "multipage", " Multipage="),
        pair(&DocumentSave::document_type, "document_type", " DocumentType="),
    };
};

struct DocumentClear { u32 resource_id{}; static constexpr CommandInfo info{"DocumentClear", "document_clear", raise_unchanged}; static constexpr auto fields = resource_id_only<DocumentClear>; };

struct AudioSend {
    u32 source_resource_id{};
    u32 sink_resource_id{};
    opt<u8> source_channel{};
    opt<u8> sink_channel{};
    opt<i16> volume{};
    opt<bool> auto_gain{};
    opt<u16> auto_gain_resolution{};
    opt<u16> auto_gain_rise_time{};
    opt<u16> auto_gain_fall_time{};
    opt<u16> auto_gain_kill_time{};

    static constexpr CommandInfo info{"AudioSend", "audio_send", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&AudioSend::source_resource_id, "source_resource_id"),
        positional(&AudioSend::sink_resource_id, "sink_resource_id"),
        pair(&AudioSend::source_channel, "source_channel", " SourceChannel="),
        pair(&AudioSend::sink_channel, "sink_channel", " SinkChannel="),
        pair(&AudioSend::volume, "volume", " Volume="),
        pair(&AudioSend::auto_gain, "auto_gain", " AutoGain="),
        pair(&AudioSend::auto_gain_resolution, "auto_gain_resolution", " AutoGainResolution="),
        pair(&AudioSend::auto_gain_rise_time, "auto_gain_rise_time", " AutoGainRiseTime="),
        pair(&AudioSend::auto_gain_fall_time, "auto_gain_fall_time", " AutoGainFallTime="),
        pair(&AudioSend::auto_gain_kill_time, "auto_gain_kill_time", " AutoGainKillTime="),
    };
};

struct AudioCancel {
    u32 source_resource_id{};
    u32 sink_resource_id{};

    static constexpr CommandInfo info{"AudioCancel", "audio_cancel", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&AudioCancel::source_resource_id, "source_resource_id"),
        positional(&AudioCancel::sink_resource_id, "sink_resource_id"),
    };
};

struct AudioLevelNotificationSend {
    u32 resource_id{};
    opt<u16> resolution{};
    opt<u16> voice_dead_band{};
    opt<u16> silence_dead_band{};
    opt<u16> adaptive_period{};
    opt<u16> voice_timer{};
    opt<u16> silence_timer{};

    static constexpr CommandInfo info{"AudioLevelNotificationSend", "audio_level_notification_send", raise_unchanged};
    static constexpr auto fields = std::tuple{
        positional(&AudioLevelNotificationSend::resource_id, "resource_id"),
        pair(&AudioLevelNotificationSend::resolution, "resolution", " Resolution="),
        pair(&AudioLevelNotificationSend::voice_dead_band, "voice_dead_band", " VoiceDeadBand="),
        pair(&AudioLevelNotificationSend::silence_dead_band, "silence_dead_band", " SilenceDeadBand="),
        pair(&AudioLevelNotificationSend::adaptive_period, "adaptive_period", " AdaptivePeriod="),
        pair(&AudioLevelNotificationSend::voice_timer, "voice_timer", " VoiceTimer="),
        pair(&AudioLevelNotificationSend::silence_timer, "silence_timer", " SilenceTimer="),
    };
};

struct AudioLevelNotificationCancel { u32 resource_id{}; static constexpr CommandInfo info{"AudioLevelNotificationCancel", "audio_level_notification_cancel", raise_unchanged}; static constexpr auto fields = resource_id_only<AudioLevelNotificationCancel>; };
struct InBandSignalingDetectionEnable { u32 resource_id{}; static constexpr CommandInfo info{"InBandSignalingDetectionEnable", "in_band_signaling_detection_enable", raise_unchanged}; static constexpr auto fields = resource_id_only<InBandSignalingDetectionEnable>; };
struct InBandSignalingDetectionDisable { u32 resource_id{}; static constexpr CommandInfo info{"InBandSignalingDetectionDisable", "in_band_signaling_detection_disable", raise_unchanged}; static constexpr auto fields = resource_id_only<InBandSignalingDetectionDisable>; };
struct GetRtpStatistics { u32 resource_id{}; static constexpr CommandInfo info{"GetRtpStatistics", "get_rtp_statistics", raise_unchanged}; static constexpr auto fields = resource_id_only<GetRtpStatistics>; };

}  // namespace halvex::commands
