"""The 54 protocol commands as test data, shared by the command test modules.

Each row names the client method and the `Command` constructor of one command,
its parameters with their kinds, one row of argument values in which every
optional parameter is present and every value is distinctive, the text that
row must produce, the text produced when every optional parameter is `None`,
and what a client method does when sending fails (its failure text for the
fatal-error group, `None` for the methods that raise the send error itself).

Besides the table this module derives, from the parameter kinds, the values
every parameter must reject and the equivalent values it must accept.
"""

import functools
import gc
import operator
import re
from dataclasses import dataclass

from halvex_rs import client as _client
from halvex_rs import commands

Command = commands.Command
HalvexClient = _client.HalvexClient

# Credentials of the clients in the tests: `login()` sends these.
USERNAME = "alice"
PASSWORD = "s3cret"

PANIC = "TODO: panic message"
NO_CONNECTION = "No active connection to send message"
OUT_OF_RANGE = "out of range integral type conversion attempted"
LINE_BREAK = "argument '{}': line breaks are not allowed in command values"

INT_RANGES = {
    "u8": (0, 2**8 - 1),
    "u16": (0, 2**16 - 1),
    "u32": (0, 2**32 - 1),
    "i16": (-(2**15), 2**15 - 1),
    "i64": (-(2**63), 2**63 - 1),
}
ENUM_KINDS = ("Channels", "ECM")
CONSTANT_KINDS = ("AudioFormatType", "PayloadType", "ToneType", "ConstantWithDescription")
CLASS_KINDS = ENUM_KINDS + CONSTANT_KINDS


# --------------------------------------------------------------------------
# The parameter-kind classes are in no module: make the library create them
# by handing it a wrong value, then find the type object.

_TRIGGERS = {
    "Channels": lambda v: Command.play_file(1, "a", None, None, v, None, None),
    "ECM": lambda v: Command.fax_send(1, 2, 3, None, v, None, None),
    "AudioFormatType": lambda v: Command.play_stream(1, 2, v, None, None),
    "PayloadType": lambda v: Command.rtp_channel_start_receiving(
        1, None, None, None, v, None, None, None, None
    ),
    "ToneType": lambda v: Command.play_tone(1, None, None, v, None, None),
    "ConstantWithDescription": lambda v: Command.document_prepare(1, v, None),
}


@functools.cache
def kind_class(name):
    """The class of a class-kind parameter (`Channels`, `ECM`, ...)."""
    try:
        _TRIGGERS[name](2)
    except TypeError:
        pass
    found = [o for o in gc.get_objects() if isinstance(o, type) and o.__name__ == name]
    assert len(found) == 1, f"{name}: {found}"
    return found[0]


class Member:
    """A member of `Channels` or `ECM`, looked up when a test needs it."""

    def __init__(self, kind, name):
        self.kind, self.name = kind, name

    def __repr__(self):
        return f"{self.kind}.{self.name}"

    def resolve(self):
        return getattr(kind_class(self.kind), self.name)


def resolve(values):
    return tuple(v.resolve() if isinstance(v, Member) else v for v in values)


# --------------------------------------------------------------------------
# The table


@dataclass(frozen=True)
class Param:
    name: str
    kind: str
    optional: bool

    @property
    def is_int(self):
        return self.kind in INT_RANGES


def _params(signature):
    out = []
    for item in signature.split():
        name, kind = item.split(":")
        out.append(Param(name, kind.rstrip("?"), kind.endswith("?")))
    return tuple(out)


@dataclass(frozen=True)
class Cmd:
    variant: str
    method: str
    ctor: str
    params: tuple
    full: tuple
    full_text: str
    bare_text: str
    failure: str  # None: the send error reaches the caller unchanged

    def __str__(self):
        return self.variant

    @property
    def names(self):
        return [p.name for p in self.params]

    def full_args(self):
        return resolve(self.full)

    def bare_args(self):
        return tuple(None if p.optional else v for p, v in zip(self.params, self.full_args()))

    # The client's `login` takes no arguments: it sends the stored
    # credentials with the default versions, i.e. the all-None row.
    @property
    def method_params(self):
        return () if self.method == "login" else self.params

    @property
    def method_full(self):
        return () if self.method == "login" else self.full

    def method_full_args(self):
        return resolve(self.method_full)

    def method_bare_args(self):
        return () if self.method == "login" else self.bare_args()

    @property
    def method_full_text(self):
        return self.bare_text if self.method == "login" else self.full_text


def _cmd(variant, method, ctor, signature, full, full_text, bare_text=None, failure=None):
    return Cmd(variant, method, ctor, _params(signature), tuple(full), full_text,
               full_text if bare_text is None else bare_text, failure)


def _call(name):
    return f"{name} failed"


COMMANDS = [
    # Session and resource commands.
    _cmd("ProtocolVersion", "get_protocol_version", "protocol_version", "", (),
         "ProtocolVersion", failure=PANIC),
    _cmd("GetVersion", "get_version", "get_version", "", (), "GetVersion", failure=PANIC),
    _cmd("Login", "login", "login",
         "username:str password:str major:u8? minor:u8? revision:u8?",
         (USERNAME, PASSWORD, 7, 8, 9),
         f"Login {USERNAME} {PASSWORD} 7 8 9",
         f"Login {USERNAME} {PASSWORD} 2 3", failure=PANIC),
    _cmd("Logout", "logout", "logout", "", (), "Logout", failure=PANIC),
    _cmd("Quit", "quit", "quit", "", (), "Quit", failure=PANIC),
    _cmd("ResourceCreateFrontEnd", "resource_create_frontend", "resource_create_frontend",
         "reg_incoming_ani:str? reg_incoming_dnis:str? reg_incoming_rdn:str? accepting:bool?",
         ("ani-100", "dnis-200", "rdn-300", False),
         "ResourceCreateFrontEnd RegIncomingANI=ani-100 RegIncomingDNIS=dnis-200"
         " RegIncomingRDN=rdn-300 Accepting=0",
         "ResourceCreateFrontEnd", failure=PANIC),
    _cmd("ResourceCreatePlayer", "resource_create_player", "resource_create_player", "", (),
         "ResourceCreatePlayer", failure=PANIC),
    _cmd("ResourceCreateRecorder", "resource_create_recorder", "resource_create_recorder",
         "", (), "ResourceCreateRecorder", failure=PANIC),
    _cmd("ResourceCreateTransportChannel", "resource_create_transport_channel",
         "resource_create_transport_channel", "transport_type:str", ("udp",),
         "ResourceCreateTransportChannel udp", failure=PANIC),
    _cmd("ResourceCreateRtpChannel", "resource_create_rtp_channel",
         "resource_create_rtp_channel", "in_band_dtmf_enabled:bool?", (True,),
         "ResourceCreateRtpChannel InBandDTMFEnabled=1",
         "ResourceCreateRtpChannel", failure=PANIC),
    _cmd("ResourceCreateSoundDevice", "resource_create_sound_device",
         "resource_create_sound_device", "direction:str device:str? buffers:u8?",
         ("input", "card0", 255),
         "ResourceCreateSoundDevice Direction=input Device=card0 Buffers=255",
         "ResourceCreateSoundDevice Direction=input", failure=PANIC),
    _cmd("ResourceCreateFax", "resource_create_fax", "resource_create_fax", "", (),
         "ResourceCreateFax", failure=PANIC),
    _cmd("ResourceCreateDocument", "resource_create_document", "resource_create_document",
         "", (), "ResourceCreateDocument", failure=PANIC),
    _cmd("ResourceDelete", "resource_delete", "resource_delete", "resource_id:u32",
         (4294967295,), "ResourceDelete 4294967295", failure=PANIC),
    _cmd("ResourceGetStatus", "resource_get_status", "resource_get_status",
         "resource_id:u32", (0,), "ResourceGetStatus 0", failure=PANIC),
    # Call control.
    _cmd("CallMake", "call_make", "call_make",
         "resource_id:u32 address:str timeout:u32? caller_number:str? caller_name:str?"
         " privacy:u8? screen:u8?",
         (12, "sip:301", 45, "n200", "Zo\u00eb", 2, 3),
         "CallMake 12 sip:301 TimeOut=45 CallerNumber=n200 CallerName=Zo\u00eb Privacy=2 Screen=3",
         "CallMake 12 sip:301 TimeOut=30000 Privacy=0 Screen=1", failure=_call("call_make")),
    _cmd("CallAnswer", "call_answer", "call_answer", "resource_id:u32", (16,),
         "CallAnswer 16", failure=_call("call_answer")),
    _cmd("CallClear", "call_clear", "call_clear", "resource_id:u32 reason:str?",
         (5, "busy"), "CallClear 5 Reason=busy", "CallClear 5", failure=_call("call_clear")),
    _cmd("CallTransferConsultation", "call_transfer_consultation",
         "call_transfer_consultation", "resource_id1:u32 resource_id2:u32", (9, 3),
         "CallTransferConsultation 9 3", failure=_call("call_transfer_consultation")),
    _cmd("CallTransferBlind", "call_transfer_blind", "call_transfer_blind",
         "resource_id:u32 address:str use_h450:u8?", (4, "sip:2000", 0),
         "CallTransferBlind 4 sip:2000 UseH450=0",
         "CallTransferBlind 4 sip:2000 UseH450=1", failure=_call("call_transfer_blind")),
    _cmd("CallHold", "call_hold", "call_hold", "resource_id:u32", (20,), "CallHold 20",
         failure=_call("call_hold")),
    _cmd("CallRetrieve", "call_retrieve", "call_retrieve", "resource_id:u32", (21,),
         "CallRetrieve 21", failure=_call("call_retrieve")),
    _cmd("CallSendDTMF", "call_send_dtmf", "call_send_dtmf",
         "resource_id:u32 dtmf_string:str duration:u32? delay:u32? pause_duration:u32?",
         (3, "12#*", 100, 50, 4294967295),
         "CallSendDTMF 3 12#* Duration=100 Delay=50 PauseDuration=4294967295",
         "CallSendDTMF 3 12#* Duration=300 Delay=200 PauseDuration=2000",
         failure=_call("call_send_dtmf")),
    _cmd("CallStopActivity", "call_stop_activity", "call_stop_activity", "resource_id:u32",
         (23,), "CallStopActivity 23", failure=_call("call_stop_activity")),
    _cmd("CallT38Relay", "call_t38_relay", "call_t38_relay",
         "resource_id1:u32 resource_id2:u32", (24, 1), "CallT38Relay 24 1",
         failure=_call("call_t38_relay")),
    _cmd("CallsSetAlertingType", "calls_set_alerting_type", "calls_set_alerting_type",
         "resource_id:u32 alerting_type:str", (25, "ring-2"),
         "CallsSetAlertingType 25 ring-2", failure=_call("calls_set_alerting_type")),
    _cmd("CallsSetAccepting", "calls_set_accepting", "calls_set_accepting",
         "resource_id:u32 accepting:bool", (26, False), "CallsSetAccepting 26 0",
         failure=_call("calls_set_accepting")),
    # Players, recorders, RTP channels, sound devices.
    _cmd("PlayFile", "play_file", "play_file",
         "resource_id:u32 file_name:str audio_type:AudioFormatType? sample_rate:u16?"
         " channels:Channels? index:u32? skip_bytes:i64?",
         (27, "hello.wav", None, 8000, Member("Channels", "Stereo"), 3, -(2**63)),
         "PlayFile 27 hello.wav SampleRate=8000 Channels=2 Index=3"
         " SkipBytes=-9223372036854775808",
         "PlayFile 27 hello.wav"),
    _cmd("PlayStream", "play_stream", "play_stream",
         "player_id:u32 transport_channel_id:u32 audio_type:AudioFormatType?"
         " sample_rate:u16? buffer_optimum_size:u32?",
         (28, 29, None, 65535, 4096),
         "PlayStream 28 29 SampleRate=65535 BufferOptimumSize=4096", "PlayStream 28 29"),
    _cmd("PlayTone", "play_tone", "play_tone",
         "resource_id:u32 frequency:u16? frequency2:u16? tone:ToneType? volume:u8?"
         " duration:u16?",
         (30, 440, 350, None, 7, 1000),
         "PlayTone 30 Frequency=440 Frequency2=350 Volume=7 Duration=1000", "PlayTone 30"),
    _cmd("PlayStop", "play_stop", "play_stop", "resource_id:u32", (31,), "PlayStop 31"),
    _cmd("RecorderStartToFile", "recorder_start_to_file", "recorder_start_to_file",
         "resource_id:u32 file_name:str audio_type:AudioFormatType? sample_rate:u16?"
         " channels:Channels? file_offset:i64? max_duration:u32? max_silence:u32?"
         " voice_trigger:bool? pause_if_empty:bool?",
         (5, "msg.wav", None, 8000, Member("Channels", "Mono"), 2**63 - 1, 60, 4, True, False),
         "RecorderStartToFile 5 msg.wav SampleRate=8000 Channels=1"
         " FileOffset=9223372036854775807 MaxDuration=60 MaxSilence=4 VoiceTrigger=1"
         " PauseIfEmpty=0",
         "RecorderStartToFile 5 msg.wav"),
    _cmd("RecorderStartToStream", "recorder_start_to_stream", "recorder_start_to_stream",
         "recorder_id:u32 transport_channel_id:u32 audio_type:AudioFormatType?"
         " sample_rate:u16? max_duration:u32? max_silence:u32? voice_trigger:bool?"
         " pause_if_empty:bool?",
         (32, 33, None, 16000, 120, 10, False, True),
         "RecorderStartToStream 32 33 SampleRate=16000 MaxDuration=120 MaxSilence=10"
         " VoiceTrigger=0 PauseIfEmpty=1",
         "RecorderStartToStream 32 33"),
    _cmd("RecorderStop", "recorder_stop", "recorder_stop", "resource_id:u32", (34,),
         "RecorderStop 34"),
    _cmd("RtpChannelStartReceiving", "rtp_channel_start_receiving",
         "rtp_channel_start_receiving",
         "resource_id:u32 sender_control_address:str? receiver_data_address:str?"
         " receiver_control_address:str? payload_type:PayloadType?"
         " rfc2833_payload_type:u8? rtp_session_id:u8? jitter_buffer_length_min:u16?"
         " jitter_buffer_length_max:u16?",
         (35, "10.0.0.1:5001", "10.0.0.2:5000", "10.0.0.2:5003", None, 101, 0, 20, 200),
         "RtpChannelStartReceiving 35 SenderControlAddress=10.0.0.1:5001"
         " ReceiverDataAddress=10.0.0.2:5000 ReceiverControlAddress=10.0.0.2:5003"
         " RFC2833PayloadType=101 RtpSessionId=0 JitterBufferLengthMin=20"
         " JitterBufferLengthMax=200",
         "RtpChannelStartReceiving 35"),
    _cmd("RtpChannelStartSending", "rtp_channel_start_sending", "rtp_channel_start_sending",
         "resource_id:u32 receiver_data_address:str receiver_control_address:str?"
         " sender_data_address:str? sender_control_address:str? payload_type:PayloadType?"
         " rfc2833_payload_type:u8? rtp_session_id:u8?",
         (36, "10.0.0.3:6000", "10.0.0.3:6001", "10.0.0.4:6000", "10.0.0.4:6001", None, 96, 2),
         "RtpChannelStartSending 36 10.0.0.3:6000 ReceiverControlAddress=10.0.0.3:6001"
         " SenderDataAddress=10.0.0.4:6000 SenderControlAddress=10.0.0.4:6001"
         " RFC2833PayloadType=96 RtpSessionId=2",
         "RtpChannelStartSending 36 10.0.0.3:6000"),
    _cmd("RtpChannelStop", "rtp_channel_stop", "rtp_channel_stop", "resource_id:u32", (37,),
         "RtpChannelStop 37"),
    _cmd("RtpChannelSendDTMF", "rtp_channel_send_dtmf", "rtp_channel_send_dtmf",
         "resource_id:u32 dtmf_string:str duration:u32? delay:u32? pause_duration:u32?",
         (38, "*9", 80, 40, 500),
         "RtpChannelSendDTMF 38 *9 Duration=80 Delay=40 PauseDuration=500",
         "RtpChannelSendDTMF 38 *9"),
    _cmd("SoundDeviceStart", "sound_device_start", "sound_device_start", "resource_id:u32",
         (39,), "SoundDeviceStart 39"),
    _cmd("SoundDeviceStop", "sound_device_stop", "sound_device_stop", "resource_id:u32",
         (40,), "SoundDeviceStop 40"),
    # Fax, documents, audio routing, level notification, detection, statistics.
    _cmd("FaxReceive", "fax_receive", "fax_receive",
         "fax_resource_id:u32 frontend_resource_id:u32 document_resource_id:u32"
         " fax_mode:ConstantWithDescription? use_ecm:ECM? csi:str?",
         (41, 42, 43, None, Member("ECM", "No"), "+49 30 1234"),
         "FaxReceive 41 42 43 UseECM=0 CSI=+49 30 1234", "FaxReceive 41 42 43"),
    _cmd("FaxSend", "fax_send", "fax_send",
         "fax_resource_id:u32 frontend_resource_id:u32 document_resource_id:u32"
         " speed:ConstantWithDescription? use_ecm:ECM? header:str? tsi:str?",
         (44, 45, 46, None, Member("ECM", "ECM128"), "Sales Dept", "tsi-100"),
         "FaxSend 44 45 46 UseECM=128 Header=Sales Dept TSI=tsi-100", "FaxSend 44 45 46"),
    _cmd("FaxAbort", "fax_abort", "fax_abort", "resource_id:u32", (47,), "FaxAbort 47"),
    _cmd("DocumentAddFile", "document_add_file", "document_add_file",
         "resource_id:u32 file_path:str transformation:ConstantWithDescription?",
         (48, "/tmp/page.tif", None), "DocumentAddFile 48 /tmp/page.tif"),
    _cmd("DocumentPrepare", "document_prepare", "document_prepare",
         "resource_id:u32 paper_size:ConstantWithDescription?"
         " resolution:ConstantWithDescription?",
         (49, None, None), "DocumentPrepare 49"),
    _cmd("DocumentSave", "document_save", "document_save",
         "resource_id:u32 file_path:str multipage:bool? document_type:ConstantWithDescription?",
         (50, "out.tif", False, None), "DocumentSave 50 out.tif Multipage=0",
         "DocumentSave 50 out.tif"),
    _cmd("DocumentClear", "document_clear", "document_clear", "resource_id:u32", (51,),
         "DocumentClear 51"),
    _cmd("AudioSend", "audio_send", "audio_send",
         "source_resource_id:u32 sink_resource_id:u32 source_channel:u8? sink_channel:u8?"
         " volume:i16? auto_gain:bool? auto_gain_resolution:u16? auto_gain_rise_time:u16?"
         " auto_gain_fall_time:u16? auto_gain_kill_time:u16?",
         (52, 53, 7, 8, -32768, True, 10, 20, 30, 40),
         "AudioSend 52 53 SourceChannel=7 SinkChannel=8 Volume=-32768 AutoGain=1"
         " AutoGainResolution=10 AutoGainRiseTime=20 AutoGainFallTime=30"
         " AutoGainKillTime=40",
         "AudioSend 52 53"),
    _cmd("AudioCancel", "audio_cancel", "audio_cancel",
         "source_resource_id:u32 sink_resource_id:u32", (54, 55), "AudioCancel 54 55"),
    _cmd("AudioLevelNotificationSend", "audio_level_notification_send",
         "audio_level_notification_send",
         "resource_id:u32 resolution:u16? voice_dead_band:u16? silence_dead_band:u16?"
         " adaptive_period:u16? voice_timer:u16? silence_timer:u16?",
         (56, 1, 2, 3, 4, 5, 6),
         "AudioLevelNotificationSend 56 Resolution=1 VoiceDeadBand=2 SilenceDeadBand=3"
         " AdaptivePeriod=4 VoiceTimer=5 SilenceTimer=6",
         "AudioLevelNotificationSend 56"),
    _cmd("AudioLevelNotificationCancel", "audio_level_notification_cancel",
         "audio_level_notification_cancel", "resource_id:u32", (57,),
         "AudioLevelNotificationCancel 57"),
    _cmd("InBandSignalingDetectionEnable", "in_band_signaling_detection_enable",
         "in_band_signaling_detection_enable", "resource_id:u32", (58,),
         "InBandSignalingDetectionEnable 58"),
    _cmd("InBandSignalingDetectionDisable", "in_band_signaling_detection_disable",
         "in_band_signaling_detection_disable", "resource_id:u32", (59,),
         "InBandSignalingDetectionDisable 59"),
    _cmd("GetRtpStatistics", "get_rtp_statistics", "get_rtp_statistics", "resource_id:u32",
         (60,), "GetRtpStatistics 60"),
]

BY_VARIANT = {c.variant: c for c in COMMANDS}


def with_value(args, position, value):
    args = list(args)
    args[position] = value
    return tuple(args)


def replace_once(text, old, new):
    """`text` with its single occurrence of `old` replaced by `new`."""
    assert text.count(old) == 1, (text, old)
    return text.replace(old, new)


def replace_number(text, old, new):
    """`text` with the one value written as the number `old` replaced by `new`."""
    pattern = rf"(?<=[ =]){re.escape(str(old))}(?= |$)"
    assert len(re.findall(pattern, text)) == 1, (text, old)
    return re.sub(pattern, str(new), text)


# --------------------------------------------------------------------------
# Argument errors: argument counts and names, then rejected values.


@dataclass(frozen=True)
class Rejected:
    """A call whose arguments must be refused before anything is built."""

    id: str
    args: tuple  # a Member anywhere is resolved by `call_args`
    kwargs: dict
    error: type
    message: str  # a regular expression for the whole message

    def call_args(self):
        return resolve(self.args), {k: resolve((v,))[0] for k, v in self.kwargs.items()}


def _plural(n, word):
    return f"{n} {word}" if n == 1 else f"{n} {word}s"


def argument_count_cases(name, params, full):
    """Missing, surplus, unknown and duplicate arguments of function `name`."""
    names = [p.name for p in params]
    fn = re.escape(name)
    if not params:
        yield Rejected("one-argument", (1,), {}, TypeError,
                       rf"(\w+\.)?{fn}\(\) takes no arguments \(1 given\)")
        yield Rejected("keyword", (), {"x": 1}, TypeError,
                       rf"(\w+\.)?{fn}\(\) takes no keyword arguments")
        return
    yield Rejected("none", (), {}, TypeError,
                   rf"{fn}\(\) missing {_plural(len(names), 'required argument')}: "
                   + "".join(f"(?=.*'{n}')" for n in names) + ".*")
    yield Rejected("missing-last", full[:-1], {}, TypeError,
                   rf"{fn}\(\) missing 1 required argument: '{names[-1]}'")
    yield Rejected("surplus", full + (None,), {}, TypeError,
                   rf"{fn}\(\) takes {_plural(len(names), 'positional argument')}"
                   rf" but {len(names) + 1} were given")
    yield Rejected("unknown-keyword", full, {"x": None}, TypeError,
                   rf"{fn}\(\) got an unexpected keyword argument 'x'")
    yield Rejected("duplicate", full, {names[0]: full[0]}, TypeError,
                   rf"{fn}\(\) got multiple values for argument '{names[0]}'")
    kwargs = dict(zip(names, full))
    kwargs["x"] = None
    yield Rejected("keywords-and-unknown", (), kwargs, TypeError,
                   rf"{fn}\(\) got an unexpected keyword argument 'x'")


def _index_message(value):
    try:
        operator.index(value)
    except TypeError as e:
        return str(e)
    raise AssertionError(f"{value!r} is an integer")


def _interpreter_overflow(value):
    """The interpreter's own message for `value` beyond 64 bits."""
    try:
        value.to_bytes(8, "little", signed=True)
    except OverflowError as e:
        return re.escape(str(e))
    raise AssertionError(value)


class Truthy:
    """Has a truth value, but is not a bool."""

    def __bool__(self):
        return True

    def __repr__(self):
        return "Truthy()"


def rejected_values(param):
    """(id, value, error, message regex) for values `param` must refuse."""
    name, kind = param.name, param.kind
    prefix = re.escape(f"argument '{name}': ")
    wrong = [("str", "7"), ("bytes", b"x"), ("float", 7.0)]
    if not param.optional:
        wrong.append(("None", None))
    if param.is_int:
        low, high = INT_RANGES[kind]
        # Beyond the signed 64-bit range the interpreter's own message.
        values = {high + 1: "max+1", low - 1: "min-1", 2**63: "2**63", -(2**64): "-2**64",
                  2**100: "2**100"}
        for value, case in values.items():
            fits = -(2**63) <= value < 2**63
            yield (case, value, OverflowError,
                   re.escape(OUT_OF_RANGE) if fits else _interpreter_overflow(value))
        for case, value in wrong:
            yield case, value, TypeError, prefix + re.escape(_index_message(value))
    elif kind == "str":
        for case, value in wrong + [("int", 7)]:
            if case != "str":
                yield case, value, TypeError, prefix + ".+"
        yield "surrogate", "a\ud800b", UnicodeEncodeError, "(?!argument).*"
        for case, value in [("lf", "a\nb"), ("cr", "a\rb"), ("crlf", "ab\r\n"),
                            ("lf-only", "\n"), ("cr-first", "\rab")]:
            yield case, value, ValueError, re.escape(LINE_BREAK.format(name))
    elif kind == "bool":
        for case, value in wrong + [("int-1", 1), ("int-0", 0), ("truthy", Truthy())]:
            yield case, value, TypeError, prefix + ".+"
    else:
        assert kind in CLASS_KINDS, kind
        others = [("int", 2, "int"), ("str", "Mono", "str"), ("bool", True, "bool"),
                  ("float", 1.0, "float")]
        if not param.optional:
            others.append(("None", None, "NoneType"))
        for other in ENUM_KINDS:
            if other != kind:
                member = Member(other, "Mono" if other == "Channels" else "ECM64")
                others.append((other, member, other))
        for case, value, type_name in others:
            yield (case, value, TypeError,
                   prefix + re.escape(f"'{type_name}' object cannot be converted to '{kind}'"))


def rejected_cases(params, full):
    """Every rejected value of every parameter, the others as in `full`."""
    for position, param in enumerate(params):
        for case, value, error, message in rejected_values(param):
            yield Rejected(f"{param.name}-{case}", with_value(full, position, value), {},
                           error, message)


def all_rejected_cases(name, params, full):
    yield from argument_count_cases(name, params, full)
    yield from rejected_cases(params, full)


# --------------------------------------------------------------------------
# Accepted values that must give a known text.


class Index:
    """Not an int, but has an integer index."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value

    def __repr__(self):
        return f"Index({self.value})"


@dataclass(frozen=True)
class Accepted:
    """A call with one value changed; its text is `text` with that value edited."""

    id: str
    args: tuple  # a Member anywhere is resolved by `call_args`
    text: str
    old: object = None  # None: the text stays as it is
    new: object = None

    def call_args(self):
        return resolve(self.args)

    def expected(self):
        if self.old is None:
            return self.text
        if isinstance(self.old, str):
            return replace_once(self.text, self.old, self.new)
        return replace_number(self.text, self.old, self.new)


def accepted_cases(params, full, text):
    """Values equivalent to, or beside, those of `full` (whose text is `text`)."""
    import numpy

    for position, param in enumerate(params):
        value = full[position]
        if value is None or isinstance(value, Member):
            continue

        def case(label, new, old=None, written=None):
            return Accepted(f"{param.name}-{label}", with_value(full, position, new), text,
                            old, written)

        if param.is_int:
            low, high = INT_RANGES[param.kind]
            yield case("index", Index(value))
            yield case("min", low, value, low)
            yield case("max", high, value, high)
            yield case("True", True, value, 1)
            yield case("False", False, value, 0)
        elif param.kind == "bool":
            yield case("numpy", numpy.bool_(value))
        elif param.kind == "str":
            for label, new in [("spaces-equals", " a b=c\td "), ("empty", ""),
                               ("equals-only", "="), ("non-ascii", "\u00e9\u20ac\U0001f600")]:
                yield case(label, new, value, new)


# --------------------------------------------------------------------------
# A connected client and what its server received


class Wire:
    """A client with USERNAME and PASSWORD connected to a loopback server."""

    def __init__(self, server):
        self.client = HalvexClient("127.0.0.1", server.port, None, USERNAME, PASSWORD)
        self.client.connect()
        self.peer = server.peer(0)
        self.seen = b""

    def expect(self, text):
        """The server received `text` next, and nothing else."""
        data = self.peer.wait_lines(self.seen.count(b"\n") + text.count("\n"))
        assert data[len(self.seen):] == text.encode()
        self.seen = data

    def assert_nothing_sent(self, tag):
        """No line left since the last check, and the counter still reads `tag`."""
        assert self.client.command_tag == tag
        assert self.client.send_raw_command("probe") == tag
        self.expect(f"probe COMMANDTAG={tag}\n")
