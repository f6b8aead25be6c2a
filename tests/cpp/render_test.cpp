// The wire text of every protocol command, written out by hand from the
// protocol's command layouts, and the behaviour of `render` towards sinks
// that refuse pieces.

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "commands/command.hpp"

namespace halvex::commands {
namespace {

constexpr std::uint8_t u8_max = std::numeric_limits<std::uint8_t>::max();
constexpr std::uint16_t u16_max = std::numeric_limits<std::uint16_t>::max();
constexpr std::uint32_t u32_max = std::numeric_limits<std::uint32_t>::max();
constexpr std::int16_t i16_min = std::numeric_limits<std::int16_t>::min();
constexpr std::int16_t i16_max = std::numeric_limits<std::int16_t>::max();
constexpr std::int64_t i64_min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t i64_max = std::numeric_limits<std::int64_t>::max();

ConstantWithDescription described(std::string_view wire_text) {
    return ConstantWithDescription{{wire_text}, "described"};
}

// Each row builds its command in a function of its own, which keeps the
// table cheap to compile.
struct RenderCase {
    const char* label;  // test name suffix
    Command (*make)();
    std::string expected;
};

void PrintTo(const RenderCase& row, std::ostream* os) { *os << row.label << " -> \"" << row.expected << '"'; }

std::string row_label(const testing::TestParamInfo<RenderCase>& info) { return info.param.label; }

// Records what it is offered; takes the first `accepted` pieces and refuses
// every piece after them.
struct ScriptedSink {
    explicit ScriptedSink(std::size_t accepted = std::numeric_limits<std::size_t>::max()) : accepted(accepted) {}

    std::size_t accepted;
    std::string held;
    std::vector<std::string> offered;

    bool put(std::string_view piece) {
        offered.emplace_back(piece);
        if (offered.size() > accepted) return false;
        held.append(piece);
        return true;
    }
};

class RenderText : public testing::TestWithParam<RenderCase> {};

TEST_P(RenderText, WritesTheExactLine) {
    const RenderCase& row = GetParam();
    const Command command = row.make();

    std::string via_sink;
    StringSink sink{via_sink};
    EXPECT_TRUE(render(command, sink));
    EXPECT_EQ(via_sink, row.expected);

    EXPECT_EQ(command_to_text(command), row.expected);

    std::string appended = "prefix|";
    append_text(command, appended);
    EXPECT_EQ(appended, "prefix|" + row.expected);
}

TEST_P(RenderText, AcceptingSinkTakesThePiecesOfTheLine) {
    ScriptedSink sink;
    EXPECT_TRUE(render(GetParam().make(), sink));
    EXPECT_EQ(sink.held, GetParam().expected);

    std::string joined;
    for (const std::string& piece : sink.offered) joined += piece;
    EXPECT_EQ(joined, GetParam().expected);
}

TEST_P(RenderText, SinkRefusingEverythingStaysEmpty) {
    ScriptedSink sink(0);
    EXPECT_FALSE(render(GetParam().make(), sink));
    EXPECT_EQ(sink.held, "");
    EXPECT_EQ(sink.offered.size(), 1u) << "render went on after the first refusal";
}

TEST_P(RenderText, SinkRefusingPartwayHoldsAPrefixOfTheLine) {
    const RenderCase& row = GetParam();
    const Command command = row.make();
    ScriptedSink full;
    ASSERT_TRUE(render(command, full));
    const std::size_t pieces = full.offered.size();

    for (std::size_t k = 0; k < pieces; ++k) {
        SCOPED_TRACE("refusing from piece " + std::to_string(k));
        ScriptedSink sink(k);
        EXPECT_FALSE(render(command, sink));
        EXPECT_EQ(sink.offered.size(), k + 1) << "render went on after a refusal";

        std::string first_k;
        for (std::size_t i = 0; i < k; ++i) first_k += full.offered[i];
        EXPECT_EQ(sink.held, first_k);
        EXPECT_EQ(row.expected.substr(0, sink.held.size()), sink.held);
    }
}

// Session and resource commands.
const std::vector<RenderCase> session_and_resource_rows = {
    {"ProtocolVersion", []() -> Command { return ProtocolVersion{}; }, "ProtocolVersion"},
    {"GetVersion", []() -> Command { return GetVersion{}; }, "GetVersion"},
    {"Logout", []() -> Command { return Logout{}; }, "Logout"},
    {"Quit", []() -> Command { return Quit{}; }, "Quit"},
    {"LoginWithoutRevision",
     []() -> Command { return Login{.username = "user1", .password = "pw", .major = 2, .minor = 3}; },
     "Login user1 pw 2 3"},
    {"LoginWithRevision",
     []() -> Command {
         return Login{.username = "alice", .password = "s3cret", .major = 4, .minor = 5, .revision = 6};
     },
     "Login alice s3cret 4 5 6"},
    {"ResourceCreateFrontEndAbsent", []() -> Command { return ResourceCreateFrontEnd{}; }, "ResourceCreateFrontEnd"},
    {"ResourceCreateFrontEndPresent",
     []() -> Command {
         return ResourceCreateFrontEnd{
             .reg_incoming_ani = "100", .reg_incoming_dnis = "200", .reg_incoming_rdn = "300", .accepting = true};
     },
     "ResourceCreateFrontEnd RegIncomingANI=100 RegIncomingDNIS=200 RegIncomingRDN=300 Accepting=1"},
    {"ResourceCreatePlayer", []() -> Command { return ResourceCreatePlayer{}; }, "ResourceCreatePlayer"},
    {"ResourceCreateRecorder", []() -> Command { return ResourceCreateRecorder{}; }, "ResourceCreateRecorder"},
    {"ResourceCreateTransportChannel",
     []() -> Command { return ResourceCreateTransportChannel{.transport_type = "tcp"}; },
     "ResourceCreateTransportChannel tcp"},
    {"ResourceCreateRtpChannelAbsent", []() -> Command { return ResourceCreateRtpChannel{}; },
     "ResourceCreateRtpChannel"},
    {"ResourceCreateRtpChannelPresent",
     []() -> Command { return ResourceCreateRtpChannel{.in_band_dtmf_enabled = true}; },
     "ResourceCreateRtpChannel InBandDTMFEnabled=1"},
    {"ResourceCreateSoundDeviceAbsent", []() -> Command { return ResourceCreateSoundDevice{.direction = "out"}; },
     "ResourceCreateSoundDevice Direction=out"},
    {"ResourceCreateSoundDevicePresent",
     []() -> Command { return ResourceCreateSoundDevice{.direction = "both", .device = "hw:1", .buffers = 9}; },
     "ResourceCreateSoundDevice Direction=both Device=hw:1 Buffers=9"},
    {"ResourceCreateFax", []() -> Command { return ResourceCreateFax{}; }, "ResourceCreateFax"},
    {"ResourceCreateDocument", []() -> Command { return ResourceCreateDocument{}; }, "ResourceCreateDocument"},
    {"ResourceDelete", []() -> Command { return ResourceDelete{.resource_id = 31}; }, "ResourceDelete 31"},
    {"ResourceGetStatus", []() -> Command { return ResourceGetStatus{.resource_id = 47}; }, "ResourceGetStatus 47"},
};
INSTANTIATE_TEST_SUITE_P(SessionAndResource, RenderText, testing::ValuesIn(session_and_resource_rows), row_label);

// Call-control commands.
const std::vector<RenderCase> call_control_rows = {
    {"CallMakeAbsent", []() -> Command { return CallMake{.resource_id = 7, .address = "1234"}; }, "CallMake 7 1234"},
    {"CallMakePresent",
     []() -> Command {
         return CallMake{.resource_id = 12,
                         .address = "301",
                         .timeout = 45000,
                         .caller_number = "200",
                         .caller_name = "Bob",
                         .privacy = 2,
                         .screen = 3};
     },
     "CallMake 12 301 TimeOut=45000 CallerNumber=200 CallerName=Bob Privacy=2 Screen=3"},
    {"CallAnswer", []() -> Command { return CallAnswer{.resource_id = 8}; }, "CallAnswer 8"},
    {"CallClearAbsent", []() -> Command { return CallClear{.resource_id = 5}; }, "CallClear 5"},
    {"CallClearPresent", []() -> Command { return CallClear{.resource_id = 5, .reason = "busy"}; },
     "CallClear 5 Reason=busy"},
    {"CallTransferConsultation",
     []() -> Command { return CallTransferConsultation{.resource_id1 = 9, .resource_id2 = 3}; },
     "CallTransferConsultation 9 3"},
    {"CallTransferBlindAbsent", []() -> Command { return CallTransferBlind{.resource_id = 4, .address = "555"}; },
     "CallTransferBlind 4 555"},
    {"CallTransferBlindPresent",
     []() -> Command { return CallTransferBlind{.resource_id = 4, .address = "555", .use_h450 = 2}; },
     "CallTransferBlind 4 555 UseH450=2"},
    {"CallHold", []() -> Command { return CallHold{.resource_id = 14}; }, "CallHold 14"},
    {"CallRetrieve", []() -> Command { return CallRetrieve{.resource_id = 15}; }, "CallRetrieve 15"},
    {"CallSendDTMFAbsent", []() -> Command { return CallSendDTMF{.resource_id = 3, .dtmf_string = "12#*"}; },
     "CallSendDTMF 3 12#*"},
    {"CallSendDTMFPresent",
     []() -> Command {
         return CallSendDTMF{
             .resource_id = 3, .dtmf_string = "12#*", .duration = 100, .delay = 50, .pause_duration = 1000};
     },
     "CallSendDTMF 3 12#* Duration=100 Delay=50 PauseDuration=1000"},
    {"CallStopActivity", []() -> Command { return CallStopActivity{.resource_id = 16}; }, "CallStopActivity 16"},
    {"CallT38Relay", []() -> Command { return CallT38Relay{.resource_id1 = 21, .resource_id2 = 22}; },
     "CallT38Relay 21 22"},
    {"CallsSetAlertingType",
     []() -> Command { return CallsSetAlertingType{.resource_id = 6, .alerting_type = "distinctive"}; },
     "CallsSetAlertingType 6 distinctive"},
    {"CallsSetAcceptingTrue", []() -> Command { return CallsSetAccepting{.resource_id = 6, .accepting = true}; },
     "CallsSetAccepting 6 1"},
    {"CallsSetAcceptingFalse", []() -> Command { return CallsSetAccepting{.resource_id = 6, .accepting = false}; },
     "CallsSetAccepting 6 0"},
};
INSTANTIATE_TEST_SUITE_P(CallControl, RenderText, testing::ValuesIn(call_control_rows), row_label);

// Player, recorder, RTP-channel and sound-device commands.
const std::vector<RenderCase> media_rows = {
    {"PlayFileAbsent", []() -> Command { return PlayFile{.resource_id = 1, .file_name = "a.wav"}; },
     "PlayFile 1 a.wav"},
    {"PlayFilePresent",
     []() -> Command {
         return PlayFile{.resource_id = 1,
                         .file_name = "a.wav",
                         .audio_type = AudioFormatType{{"PCM16"}},
                         .sample_rate = 16000,
                         .channels = Channels::Stereo,
                         .index = 3,
                         .skip_bytes = 1024};
     },
     "PlayFile 1 a.wav Type=PCM16 SampleRate=16000 Channels=2 Index=3 SkipBytes=1024"},
    {"PlayStreamAbsent", []() -> Command { return PlayStream{.player_id = 2, .transport_channel_id = 3}; },
     "PlayStream 2 3"},
    {"PlayStreamPresent",
     []() -> Command {
         return PlayStream{.player_id = 2,
                           .transport_channel_id = 3,
                           .audio_type = AudioFormatType{{"ALAW"}},
                           .sample_rate = 8000,
                           .buffer_optimum_size = 4096};
     },
     "PlayStream 2 3 Type=ALAW SampleRate=8000 BufferOptimumSize=4096"},
    {"PlayToneAbsent", []() -> Command { return PlayTone{.resource_id = 4}; }, "PlayTone 4"},
    {"PlayTonePresent",
     []() -> Command {
         return PlayTone{.resource_id = 4,
                         .frequency = 440,
                         .frequency2 = 480,
                         .tone = ToneType{{"Dial"}},
                         .volume = 80,
                         .duration = 1500};
     },
     "PlayTone 4 Frequency=440 Frequency2=480 Tone=Dial Volume=80 Duration=1500"},
    {"PlayStop", []() -> Command { return PlayStop{.resource_id = 17}; }, "PlayStop 17"},
    {"RecorderStartToFileAbsent",
     []() -> Command { return RecorderStartToFile{.resource_id = 5, .file_name = "rec.wav"}; },
     "RecorderStartToFile 5 rec.wav"},
    {"RecorderStartToFilePresent",
     []() -> Command {
         return RecorderStartToFile{.resource_id = 5,
                                    .file_name = "rec.wav",
                                    .audio_type = AudioFormatType{{"ULAW"}},
                                    .sample_rate = 11025,
                                    .channels = Channels::Stereo,
                                    .file_offset = 512,
                                    .max_duration = 60,
                                    .max_silence = 7,
                                    .voice_trigger = true,
                                    .pause_if_empty = false};
     },
     "RecorderStartToFile 5 rec.wav Type=ULAW SampleRate=11025 Channels=2 FileOffset=512 MaxDuration=60 "
     "MaxSilence=7 VoiceTrigger=1 PauseIfEmpty=0"},
    {"RecorderStartToStreamAbsent",
     []() -> Command { return RecorderStartToStream{.recorder_id = 8, .transport_channel_id = 9}; },
     "RecorderStartToStream 8 9"},
    {"RecorderStartToStreamPresent",
     []() -> Command {
         return RecorderStartToStream{.recorder_id = 8,
                                      .transport_channel_id = 9,
                                      .audio_type = AudioFormatType{{"G729"}},
                                      .sample_rate = 22050,
                                      .max_duration = 120,
                                      .max_silence = 4,
                                      .voice_trigger = false,
                                      .pause_if_empty = true};
     },
     "RecorderStartToStream 8 9 Type=G729 SampleRate=22050 MaxDuration=120 MaxSilence=4 VoiceTrigger=0 "
     "PauseIfEmpty=1"},
    {"RecorderStop", []() -> Command { return RecorderStop{.resource_id = 18}; }, "RecorderStop 18"},
    {"RtpChannelStartReceivingAbsent", []() -> Command { return RtpChannelStartReceiving{.resource_id = 10}; },
     "RtpChannelStartReceiving 10"},
    {"RtpChannelStartReceivingPresent",
     []() -> Command {
         return RtpChannelStartReceiving{.resource_id = 10,
                                         .sender_control_address = "10.0.0.1:5001",
                                         .receiver_data_address = "10.0.0.2:6000",
                                         .receiver_control_address = "10.0.0.2:6001",
                                         .payload_type = PayloadType{{"PCMA"}},
                                         .rfc2833_payload_type = 101,
                                         .rtp_session_id = 2,
                                         .jitter_buffer_length_min = 20,
                                         .jitter_buffer_length_max = 200};
     },
     "RtpChannelStartReceiving 10 SenderControlAddress=10.0.0.1:5001 ReceiverDataAddress=10.0.0.2:6000 "
     "ReceiverControlAddress=10.0.0.2:6001 PayloadType=PCMA RFC2833PayloadType=101 RtpSessionId=2 "
     "JitterBufferLengthMin=20 JitterBufferLengthMax=200"},
    {"RtpChannelStartSendingAbsent",
     []() -> Command { return RtpChannelStartSending{.resource_id = 11, .receiver_data_address = "10.0.0.3:7000"}; },
     "RtpChannelStartSending 11 10.0.0.3:7000"},
    {"RtpChannelStartSendingPresent",
     []() -> Command {
         return RtpChannelStartSending{.resource_id = 11,
                                       .receiver_data_address = "10.0.0.3:7000",
                                       .receiver_control_address = "10.0.0.3:7001",
                                       .sender_data_address = "10.0.0.4:8000",
                                       .sender_control_address = "10.0.0.4:8001",
                                       .payload_type = PayloadType{{"PCMU"}},
                                       .rfc2833_payload_type = 96,
                                       .rtp_session_id = 5};
     },
     "RtpChannelStartSending 11 10.0.0.3:7000 ReceiverControlAddress=10.0.0.3:7001 "
     "SenderDataAddress=10.0.0.4:8000 SenderControlAddress=10.0.0.4:8001 PayloadType=PCMU "
     "RFC2833PayloadType=96 RtpSessionId=5"},
    {"RtpChannelStop", []() -> Command { return RtpChannelStop{.resource_id = 19}; }, "RtpChannelStop 19"},
    {"RtpChannelSendDTMFAbsent", []() -> Command { return RtpChannelSendDTMF{.resource_id = 12, .dtmf_string = "0A"}; },
     "RtpChannelSendDTMF 12 0A"},
    {"RtpChannelSendDTMFPresent",
     []() -> Command {
         return RtpChannelSendDTMF{
             .resource_id = 12, .dtmf_string = "0A", .duration = 250, .delay = 75, .pause_duration = 900};
     },
     "RtpChannelSendDTMF 12 0A Duration=250 Delay=75 PauseDuration=900"},
    {"SoundDeviceStart", []() -> Command { return SoundDeviceStart{.resource_id = 20}; }, "SoundDeviceStart 20"},
    {"SoundDeviceStop", []() -> Command { return SoundDeviceStop{.resource_id = 23}; }, "SoundDeviceStop 23"},
};
INSTANTIATE_TEST_SUITE_P(Media, RenderText, testing::ValuesIn(media_rows), row_label);

// Fax, document, audio-routing, level-notification, detection and statistics commands.
const std::vector<RenderCase> fax_document_audio_rows = {
    {"FaxReceiveAbsent",
     []() -> Command { return FaxReceive{.fax_resource_id = 1, .frontend_resource_id = 2, .document_resource_id = 3}; },
     "FaxReceive 1 2 3"},
    {"FaxReceivePresent",
     []() -> Command {
         return FaxReceive{.fax_resource_id = 1,
                           .frontend_resource_id = 2,
                           .document_resource_id = 3,
                           .fax_mode = described("T38"),
                           .use_ecm = Ecm::ECM64,
                           .csi = "+44 20 7946"};
     },
     "FaxReceive 1 2 3 FaxMode=T38 UseECM=64 CSI=+44 20 7946"},
    {"FaxSendAbsent",
     []() -> Command { return FaxSend{.fax_resource_id = 3, .frontend_resource_id = 1, .document_resource_id = 2}; },
     "FaxSend 3 1 2"},
    {"FaxSendPresent",
     []() -> Command {
         return FaxSend{.fax_resource_id = 3,
                        .frontend_resource_id = 1,
                        .document_resource_id = 2,
                        .speed = described("14400"),
                        .use_ecm = Ecm::ECM128,
                        .header = "Sales Dept",
                        .tsi = "100"};
     },
     "FaxSend 3 1 2 Speed=14400 UseECM=128 Header=Sales Dept TSI=100"},
    {"FaxAbort", []() -> Command { return FaxAbort{.resource_id = 24}; }, "FaxAbort 24"},
    {"DocumentAddFileAbsent",
     []() -> Command { return DocumentAddFile{.resource_id = 4, .file_path = "/tmp/page.tif"}; },
     "DocumentAddFile 4 /tmp/page.tif"},
    {"DocumentAddFilePresent",
     []() -> Command {
         return DocumentAddFile{
             .resource_id = 4, .file_path = "/tmp/page.tif", .transformation = described("Rotate90")};
     },
     "DocumentAddFile 4 /tmp/page.tif Transformation=Rotate90"},
    {"DocumentPrepareAbsent", []() -> Command { return DocumentPrepare{.resource_id = 4}; }, "DocumentPrepare 4"},
    {"DocumentPreparePresent",
     []() -> Command {
         return DocumentPrepare{.resource_id = 4, .paper_size = described("A4"), .resolution = described("Fine")};
     },
     "DocumentPrepare 4 PaperSize=A4 Resolution=Fine"},
    {"DocumentSaveAbsent", []() -> Command { return DocumentSave{.resource_id = 4, .file_path = "/tmp/out.tif"}; },
     "DocumentSave 4 /tmp/out.tif"},
    {"DocumentSavePresent",
     []() -> Command {
         return DocumentSave{
             .resource_id = 4, .file_path = "/tmp/out.tif", .multipage = true, .document_type = described("TIFF")};
     },
     "DocumentSave 4 /tmp/out.tif Multipage=1 DocumentType=TIFF"},
    {"DocumentClear", []() -> Command { return DocumentClear{.resource_id = 25}; }, "DocumentClear 25"},
    {"AudioSendAbsent", []() -> Command { return AudioSend{.source_resource_id = 1, .sink_resource_id = 2}; },
     "AudioSend 1 2"},
    {"AudioSendPresent",
     []() -> Command {
         return AudioSend{.source_resource_id = 1,
                          .sink_resource_id = 2,
                          .source_channel = 3,
                          .sink_channel = 4,
                          .volume = -12,
                          .auto_gain = true,
                          .auto_gain_resolution = 10,
                          .auto_gain_rise_time = 20,
                          .auto_gain_fall_time = 30,
                          .auto_gain_kill_time = 40};
     },
     "AudioSend 1 2 SourceChannel=3 SinkChannel=4 Volume=-12 AutoGain=1 AutoGainResolution=10 "
     "AutoGainRiseTime=20 AutoGainFallTime=30 AutoGainKillTime=40"},
    {"AudioCancel", []() -> Command { return AudioCancel{.source_resource_id = 26, .sink_resource_id = 27}; },
     "AudioCancel 26 27"},
    {"AudioLevelNotificationSendAbsent", []() -> Command { return AudioLevelNotificationSend{.resource_id = 3}; },
     "AudioLevelNotificationSend 3"},
    {"AudioLevelNotificationSendPresent",
     []() -> Command {
         return AudioLevelNotificationSend{.resource_id = 3,
                                           .resolution = 11,
                                           .voice_dead_band = 12,
                                           .silence_dead_band = 13,
                                           .adaptive_period = 14,
                                           .voice_timer = 15,
                                           .silence_timer = 16};
     },
     "AudioLevelNotificationSend 3 Resolution=11 VoiceDeadBand=12 SilenceDeadBand=13 AdaptivePeriod=14 "
     "VoiceTimer=15 SilenceTimer=16"},
    {"AudioLevelNotificationCancel", []() -> Command { return AudioLevelNotificationCancel{.resource_id = 28}; },
     "AudioLevelNotificationCancel 28"},
    {"InBandSignalingDetectionEnable", []() -> Command { return InBandSignalingDetectionEnable{.resource_id = 29}; },
     "InBandSignalingDetectionEnable 29"},
    {"InBandSignalingDetectionDisable", []() -> Command { return InBandSignalingDetectionDisable{.resource_id = 30}; },
     "InBandSignalingDetectionDisable 30"},
    {"GetRtpStatistics", []() -> Command { return GetRtpStatistics{.resource_id = 32}; }, "GetRtpStatistics 32"},
};
INSTANTIATE_TEST_SUITE_P(FaxDocumentAudio, RenderText, testing::ValuesIn(fax_document_audio_rows), row_label);

// The worked examples of the command layouts.
const std::vector<RenderCase> worked_example_rows = {
    {"SoundDeviceWithoutDevice", []() -> Command { return ResourceCreateSoundDevice{.direction = "in", .buffers = 4}; },
     "ResourceCreateSoundDevice Direction=in Buffers=4"},
    {"SoundDeviceWithDevice",
     []() -> Command { return ResourceCreateSoundDevice{.direction = "in", .device = "card0", .buffers = 4}; },
     "ResourceCreateSoundDevice Direction=in Device=card0 Buffers=4"},
    {"CallMake",
     []() -> Command {
         return CallMake{
             .resource_id = 12, .address = "301", .timeout = 45, .caller_number = "200", .privacy = 0, .screen = 1};
     },
     "CallMake 12 301 TimeOut=45 CallerNumber=200 Privacy=0 Screen=1"},
    {"RecorderStartToFile",
     []() -> Command {
         return RecorderStartToFile{.resource_id = 5,
                                    .file_name = "msg.wav",
                                    .sample_rate = 8000,
                                    .channels = Channels::Mono,
                                    .max_duration = 60,
                                    .max_silence = 5,
                                    .pause_if_empty = false};
     },
     "RecorderStartToFile 5 msg.wav SampleRate=8000 Channels=1 MaxDuration=60 MaxSilence=5 PauseIfEmpty=0"},
    {"FaxSend",
     []() -> Command {
         return FaxSend{.fax_resource_id = 3,
                        .frontend_resource_id = 1,
                        .document_resource_id = 2,
                        .use_ecm = Ecm::ECM256,
                        .header = "Sales",
                        .tsi = "100"};
     },
     "FaxSend 3 1 2 UseECM=256 Header=Sales TSI=100"},
};
INSTANTIATE_TEST_SUITE_P(WorkedExample, RenderText, testing::ValuesIn(worked_example_rows), row_label);

// Largest and smallest values of each integer kind, zero, and texts that
// need no escaping however odd they look.
const std::vector<RenderCase> boundary_rows = {
    {"U8Max",
     []() -> Command {
         return Login{.username = "u", .password = "p", .major = u8_max, .minor = u8_max, .revision = u8_max};
     },
     "Login u p 255 255 255"},
    {"U8Zero",
     []() -> Command { return Login{.username = "u", .password = "p", .major = 0, .minor = 0, .revision = 0}; },
     "Login u p 0 0 0"},
    {"U16Max",
     []() -> Command {
         return PlayTone{
             .resource_id = 1, .frequency = u16_max, .frequency2 = u16_max, .volume = u8_max, .duration = u16_max};
     },
     "PlayTone 1 Frequency=65535 Frequency2=65535 Volume=255 Duration=65535"},
    {"U16Zero", []() -> Command { return PlayTone{.resource_id = 1, .frequency = 0, .duration = 0}; },
     "PlayTone 1 Frequency=0 Duration=0"},
    {"U32Max", []() -> Command { return ResourceDelete{.resource_id = u32_max}; }, "ResourceDelete 4294967295"},
    {"U32Zero", []() -> Command { return ResourceDelete{.resource_id = 0}; }, "ResourceDelete 0"},
    {"U32MaxEverywhere",
     []() -> Command {
         return CallSendDTMF{.resource_id = u32_max,
                             .dtmf_string = "1",
                             .duration = u32_max,
                             .delay = u32_max,
                             .pause_duration = u32_max};
     },
     "CallSendDTMF 4294967295 1 Duration=4294967295 Delay=4294967295 PauseDuration=4294967295"},
    {"I16Min", []() -> Command { return AudioSend{.source_resource_id = 1, .sink_resource_id = 2, .volume = i16_min}; },
     "AudioSend 1 2 Volume=-32768"},
    {"I16Max", []() -> Command { return AudioSend{.source_resource_id = 1, .sink_resource_id = 2, .volume = i16_max}; },
     "AudioSend 1 2 Volume=32767"},
    {"I16Zero", []() -> Command { return AudioSend{.source_resource_id = 0, .sink_resource_id = 0, .volume = 0}; },
     "AudioSend 0 0 Volume=0"},
    {"I64Min", []() -> Command { return PlayFile{.resource_id = 1, .file_name = "f", .skip_bytes = i64_min}; },
     "PlayFile 1 f SkipBytes=-9223372036854775808"},
    {"I64Max",
     []() -> Command { return RecorderStartToFile{.resource_id = 1, .file_name = "f", .file_offset = i64_max}; },
     "RecorderStartToFile 1 f FileOffset=9223372036854775807"},
    {"I64MinusOne",
     []() -> Command { return RecorderStartToFile{.resource_id = 1, .file_name = "f", .file_offset = -1}; },
     "RecorderStartToFile 1 f FileOffset=-1"},
    {"EmptyRequiredTexts", []() -> Command { return Login{.username = "", .password = "", .major = 2, .minor = 3}; },
     "Login   2 3"},
    {"EmptyLastRequiredText", []() -> Command { return ResourceCreateTransportChannel{.transport_type = ""}; },
     "ResourceCreateTransportChannel "},
    {"EmptyRequiredPairText", []() -> Command { return ResourceCreateSoundDevice{.direction = ""}; },
     "ResourceCreateSoundDevice Direction="},
    {"EmptyOptionalTextLast", []() -> Command { return CallClear{.resource_id = 5, .reason = ""}; },
     "CallClear 5 Reason="},
    {"EmptyOptionalTextBeforeNextPair",
     []() -> Command { return ResourceCreateFrontEnd{.reg_incoming_ani = "", .reg_incoming_dnis = "200"}; },
     "ResourceCreateFrontEnd RegIncomingANI= RegIncomingDNIS=200"},
    {"TextWithSpacesAndEquals",
     []() -> Command { return CallsSetAlertingType{.resource_id = 6, .alerting_type = "ring=long Tone=x"}; },
     "CallsSetAlertingType 6 ring=long Tone=x"},
    {"TextWithLineFeed", []() -> Command { return CallClear{.resource_id = 1, .reason = "a\nb"}; },
     "CallClear 1 Reason=a\nb"},
    {"PasswordWrittenInClear",
     []() -> Command { return Login{.username = "a b", .password = "p=q", .major = 2, .minor = 3}; },
     "Login a b p=q 2 3"},
    {"EmptyConstantWireText",
     []() -> Command { return PlayFile{.resource_id = 1, .file_name = "f", .audio_type = AudioFormatType{{""}}}; },
     "PlayFile 1 f Type="},
};
INSTANTIATE_TEST_SUITE_P(Boundary, RenderText, testing::ValuesIn(boundary_rows), row_label);

// Values that look like "nothing" are present and written; absent fields
// leave no trace, and the present ones keep field order around the gaps.
const std::vector<RenderCase> presence_rows = {
    {"AcceptingFalse", []() -> Command { return ResourceCreateFrontEnd{.accepting = false}; },
     "ResourceCreateFrontEnd Accepting=0"},
    {"AcceptingTrue", []() -> Command { return ResourceCreateFrontEnd{.accepting = true}; },
     "ResourceCreateFrontEnd Accepting=1"},
    {"InBandDtmfFalse", []() -> Command { return ResourceCreateRtpChannel{.in_band_dtmf_enabled = false}; },
     "ResourceCreateRtpChannel InBandDTMFEnabled=0"},
    {"BuffersZero", []() -> Command { return ResourceCreateSoundDevice{.direction = "in", .buffers = 0}; },
     "ResourceCreateSoundDevice Direction=in Buffers=0"},
    {"BuffersMax", []() -> Command { return ResourceCreateSoundDevice{.direction = "in", .buffers = u8_max}; },
     "ResourceCreateSoundDevice Direction=in Buffers=255"},
    {"DeviceWithoutBuffers",
     []() -> Command { return ResourceCreateSoundDevice{.direction = "in", .device = "card0"}; },
     "ResourceCreateSoundDevice Direction=in Device=card0"},
    {"TimeoutZero", []() -> Command { return CallMake{.resource_id = 1, .address = "2", .timeout = 0}; },
     "CallMake 1 2 TimeOut=0"},
    {"CallerNameWithoutNumber",
     []() -> Command { return CallMake{.resource_id = 1, .address = "2", .caller_name = "Ann"}; },
     "CallMake 1 2 CallerName=Ann"},
    {"CallerNameAfterTimeout",
     []() -> Command { return CallMake{.resource_id = 1, .address = "2", .timeout = 9, .caller_name = "Ann"}; },
     "CallMake 1 2 TimeOut=9 CallerName=Ann"},
    {"ScreenOnly", []() -> Command { return CallMake{.resource_id = 1, .address = "2", .screen = 0}; },
     "CallMake 1 2 Screen=0"},
    {"UseH450Zero", []() -> Command { return CallTransferBlind{.resource_id = 4, .address = "5", .use_h450 = 0}; },
     "CallTransferBlind 4 5 UseH450=0"},
    {"UseH450Max", []() -> Command { return CallTransferBlind{.resource_id = 4, .address = "5", .use_h450 = u8_max}; },
     "CallTransferBlind 4 5 UseH450=255"},
    {"DtmfDurationAndPauseWithoutDelay",
     []() -> Command {
         return CallSendDTMF{.resource_id = 3, .dtmf_string = "9", .duration = 100, .pause_duration = 1000};
     },
     "CallSendDTMF 3 9 Duration=100 PauseDuration=1000"},
    {"RtpDtmfDelayOnly",
     []() -> Command { return RtpChannelSendDTMF{.resource_id = 3, .dtmf_string = "9", .delay = 0}; },
     "RtpChannelSendDTMF 3 9 Delay=0"},
    {"TransferConsultationSmallerSecond",
     []() -> Command { return CallTransferConsultation{.resource_id1 = 100, .resource_id2 = 2}; },
     "CallTransferConsultation 100 2"},
    {"ChannelsMono",
     []() -> Command { return PlayFile{.resource_id = 1, .file_name = "f", .channels = Channels::Mono}; },
     "PlayFile 1 f Channels=1"},
    {"ChannelsStereo",
     []() -> Command { return RecorderStartToFile{.resource_id = 1, .file_name = "f", .channels = Channels::Stereo}; },
     "RecorderStartToFile 1 f Channels=2"},
    {"SkipBytesNegative", []() -> Command { return PlayFile{.resource_id = 1, .file_name = "f", .skip_bytes = -1024}; },
     "PlayFile 1 f SkipBytes=-1024"},
    {"SkipBytesZero",
     []() -> Command { return PlayFile{.resource_id = 1, .file_name = "f", .index = 0, .skip_bytes = 0}; },
     "PlayFile 1 f Index=0 SkipBytes=0"},
    {"Frequency2WithoutFrequency", []() -> Command { return PlayTone{.resource_id = 4, .frequency2 = 480}; },
     "PlayTone 4 Frequency2=480"},
    {"ToneVolumeDuration",
     []() -> Command { return PlayTone{.resource_id = 4, .tone = ToneType{{"Busy"}}, .volume = 0, .duration = 5}; },
     "PlayTone 4 Tone=Busy Volume=0 Duration=5"},
    {"VoiceTriggerFalse",
     []() -> Command { return RecorderStartToFile{.resource_id = 1, .file_name = "f", .voice_trigger = false}; },
     "RecorderStartToFile 1 f VoiceTrigger=0"},
    {"StreamVoiceTriggerFalse",
     []() -> Command {
         return RecorderStartToStream{.recorder_id = 1, .transport_channel_id = 2, .voice_trigger = false};
     },
     "RecorderStartToStream 1 2 VoiceTrigger=0"},
    {"ReceivingEmptyAddress",
     []() -> Command { return RtpChannelStartReceiving{.resource_id = 1, .receiver_data_address = ""}; },
     "RtpChannelStartReceiving 1 ReceiverDataAddress="},
    {"ReceivingJitterMinAboveMax",
     []() -> Command {
         return RtpChannelStartReceiving{
             .resource_id = 1, .jitter_buffer_length_min = 300, .jitter_buffer_length_max = 10};
     },
     "RtpChannelStartReceiving 1 JitterBufferLengthMin=300 JitterBufferLengthMax=10"},
    {"SendingEmptyReceiverAddress",
     []() -> Command { return RtpChannelStartSending{.resource_id = 1, .receiver_data_address = ""}; },
     "RtpChannelStartSending 1 "},
    {"SendingSenderControlOnly",
     []() -> Command {
         return RtpChannelStartSending{.resource_id = 1, .receiver_data_address = "a", .sender_control_address = "b"};
     },
     "RtpChannelStartSending 1 a SenderControlAddress=b"},
    {"EcmNoReceive",
     []() -> Command {
         return FaxReceive{
             .fax_resource_id = 1, .frontend_resource_id = 2, .document_resource_id = 3, .use_ecm = Ecm::No};
     },
     "FaxReceive 1 2 3 UseECM=0"},
    {"EcmNoSend",
     []() -> Command {
         return FaxSend{.fax_resource_id = 1, .frontend_resource_id = 2, .document_resource_id = 3, .use_ecm = Ecm::No};
     },
     "FaxSend 1 2 3 UseECM=0"},
    {"TsiOnly",
     []() -> Command {
         return FaxSend{.fax_resource_id = 1, .frontend_resource_id = 2, .document_resource_id = 3, .tsi = "77"};
     },
     "FaxSend 1 2 3 TSI=77"},
    {"TsiAfterEcm",
     []() -> Command {
         return FaxSend{.fax_resource_id = 1,
                        .frontend_resource_id = 2,
                        .document_resource_id = 3,
                        .use_ecm = Ecm::ECM64,
                        .tsi = "77"};
     },
     "FaxSend 1 2 3 UseECM=64 TSI=77"},
    {"CsiEmpty",
     []() -> Command {
         return FaxReceive{.fax_resource_id = 1, .frontend_resource_id = 2, .document_resource_id = 3, .csi = ""};
     },
     "FaxReceive 1 2 3 CSI="},
    {"ResolutionWithoutPaperSize",
     []() -> Command { return DocumentPrepare{.resource_id = 4, .resolution = described("Fine")}; },
     "DocumentPrepare 4 Resolution=Fine"},
    {"MultipageFalse", []() -> Command { return DocumentSave{.resource_id = 4, .file_path = "p", .multipage = false}; },
     "DocumentSave 4 p Multipage=0"},
    {"DocumentTypeOnly",
     []() -> Command { return DocumentSave{.resource_id = 4, .file_path = "", .document_type = described("PDF")}; },
     "DocumentSave 4  DocumentType=PDF"},
    {"AutoGainFalse",
     []() -> Command { return AudioSend{.source_resource_id = 1, .sink_resource_id = 2, .auto_gain = false}; },
     "AudioSend 1 2 AutoGain=0"},
    {"AutoGainResolutionWithoutAutoGain",
     []() -> Command {
         return AudioSend{.source_resource_id = 1, .sink_resource_id = 2, .volume = -1, .auto_gain_resolution = 7};
     },
     "AudioSend 1 2 Volume=-1 AutoGainResolution=7"},
    {"SinkChannelZero",
     []() -> Command { return AudioSend{.source_resource_id = 1, .sink_resource_id = 1, .sink_channel = 0}; },
     "AudioSend 1 1 SinkChannel=0"},
    {"LevelNotificationGaps",
     []() -> Command {
         return AudioLevelNotificationSend{.resource_id = 3, .voice_dead_band = 0, .voice_timer = u16_max};
     },
     "AudioLevelNotificationSend 3 VoiceDeadBand=0 VoiceTimer=65535"},
};
INSTANTIATE_TEST_SUITE_P(Presence, RenderText, testing::ValuesIn(presence_rows), row_label);

// The protocol's variant order: position and keyword of each command.
constexpr std::array<std::string_view, 54> keywords_in_variant_order = {
    "ProtocolVersion",
    "GetVersion",
    "Login",
    "Logout",
    "Quit",
    "ResourceCreateFrontEnd",
    "ResourceCreatePlayer",
    "ResourceCreateRecorder",
    "ResourceCreateTransportChannel",
    "ResourceCreateRtpChannel",
    "ResourceCreateSoundDevice",
    "ResourceCreateFax",
    "ResourceCreateDocument",
    "ResourceDelete",
    "ResourceGetStatus",
    "CallMake",
    "CallAnswer",
    "CallClear",
    "CallTransferConsultation",
    "CallTransferBlind",
    "CallHold",
    "CallRetrieve",
    "CallSendDTMF",
    "CallStopActivity",
    "CallT38Relay",
    "CallsSetAlertingType",
    "CallsSetAccepting",
    "PlayFile",
    "PlayStream",
    "PlayTone",
    "PlayStop",
    "RecorderStartToFile",
    "RecorderStartToStream",
    "RecorderStop",
    "RtpChannelStartReceiving",
    "RtpChannelStartSending",
    "RtpChannelStop",
    "RtpChannelSendDTMF",
    "SoundDeviceStart",
    "SoundDeviceStop",
    "FaxReceive",
    "FaxSend",
    "FaxAbort",
    "DocumentAddFile",
    "DocumentPrepare",
    "DocumentSave",
    "DocumentClear",
    "AudioSend",
    "AudioCancel",
    "AudioLevelNotificationSend",
    "AudioLevelNotificationCancel",
    "InBandSignalingDetectionEnable",
    "InBandSignalingDetectionDisable",
    "GetRtpStatistics",
};

using RecordsInVariantOrder =
    std::tuple<ProtocolVersion, GetVersion, Login, Logout, Quit, ResourceCreateFrontEnd, ResourceCreatePlayer,
               ResourceCreateRecorder, ResourceCreateTransportChannel, ResourceCreateRtpChannel,
               ResourceCreateSoundDevice, ResourceCreateFax, ResourceCreateDocument, ResourceDelete, ResourceGetStatus,
               CallMake, CallAnswer, CallClear, CallTransferConsultation, CallTransferBlind, CallHold, CallRetrieve,
               CallSendDTMF, CallStopActivity, CallT38Relay, CallsSetAlertingType, CallsSetAccepting, PlayFile,
               PlayStream, PlayTone, PlayStop, RecorderStartToFile, RecorderStartToStream, RecorderStop,
               RtpChannelStartReceiving, RtpChannelStartSending, RtpChannelStop, RtpChannelSendDTMF, SoundDeviceStart,
               SoundDeviceStop, FaxReceive, FaxSend, FaxAbort, DocumentAddFile, DocumentPrepare, DocumentSave,
               DocumentClear, AudioSend, AudioCancel, AudioLevelNotificationSend, AudioLevelNotificationCancel,
               InBandSignalingDetectionEnable, InBandSignalingDetectionDisable, GetRtpStatistics>;

TEST(VariantOrder, HasFiftyFourVariants) {
    EXPECT_EQ(std::variant_size_v<Command>, keywords_in_variant_order.size());
    EXPECT_EQ(command_count, keywords_in_variant_order.size());
}

template <std::size_t N>
[[gnu::noinline]] void check_variant_position() {
    SCOPED_TRACE("variant " + std::to_string(N) + " " + std::string(keywords_in_variant_order[N]));
    using Expected = std::tuple_element_t<N, RecordsInVariantOrder>;
    EXPECT_TRUE((std::is_same_v<std::variant_alternative_t<N, Command>, Expected>));

    Command record{Expected{}};
    EXPECT_EQ(record.index(), N);

    // The keyword is the first word of the line made from the variant at N.
    std::string line = command_to_text(Command{std::in_place_index<N>});
    EXPECT_EQ(std::string_view(line).substr(0, line.find(' ')), keywords_in_variant_order[N]);
}

TEST(VariantOrder, EachPositionHoldsItsRecordAndKeyword) {
    []<std::size_t... I>(std::index_sequence<I...>) { (check_variant_position<I>(), ...); }
    (std::make_index_sequence<std::tuple_size_v<RecordsInVariantOrder>>{});
}

}  // namespace
}  // namespace halvex::commands
