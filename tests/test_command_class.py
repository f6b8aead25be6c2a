"""`Command` values: the 54 constructors, their text and arguments, the class
itself, and `HalvexClient.send_command`."""

import inspect
import re
import weakref

import pytest

from command_table import (
    COMMANDS,
    NO_CONNECTION,
    Member,
    Wire,
    accepted_cases,
    all_rejected_cases,
    resolve,
)
from halvex_rs import client as _client
from halvex_rs import commands

HalvexClient = _client.HalvexClient
Command = commands.Command


def construct(cmd, args=(), kwargs=None):
    return getattr(Command, cmd.ctor)(*args, **(kwargs or {}))


# --------------------------------------------------------------------------
# The text of every command


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_constructor_text(cmd):
    full = construct(cmd, cmd.full_args())
    assert type(full) is getattr(Command, cmd.variant)
    assert str(full) == cmd.full_text
    assert str(construct(cmd, cmd.bare_args())) == cmd.bare_text
    by_keyword = construct(cmd, (), dict(zip(cmd.names, cmd.full_args())))
    assert str(by_keyword) == cmd.full_text
    # A static method, so an instance reaches it too; every call is a new object.
    again = getattr(full, cmd.ctor)(*cmd.full_args())
    assert type(again) is type(full) and again is not full
    assert str(again) == cmd.full_text


@pytest.mark.parametrize(
    "ctor, args, text",
    [
        ("call_make", (7, "1234", None, None, None, None, None),
         "CallMake 7 1234 TimeOut=30000 Privacy=0 Screen=1"),
        ("call_make", (7, "1234", 500, "100", None, 1, 0),
         "CallMake 7 1234 TimeOut=500 CallerNumber=100 Privacy=1 Screen=0"),
        ("call_make", (7, "1234", 0, None, "Bob", None, 0),
         "CallMake 7 1234 TimeOut=0 CallerName=Bob Privacy=0 Screen=0"),
        ("call_transfer_blind", (5, "200", None), "CallTransferBlind 5 200 UseH450=1"),
        ("call_transfer_blind", (5, "200", 255), "CallTransferBlind 5 200 UseH450=255"),
        ("call_send_dtmf", (3, "12#", 0, None, 0),
         "CallSendDTMF 3 12# Duration=0 Delay=200 PauseDuration=0"),
        ("rtp_channel_send_dtmf", (3, "12#", None, None, None), "RtpChannelSendDTMF 3 12#"),
        ("rtp_channel_send_dtmf", (3, "12#", None, 0, None), "RtpChannelSendDTMF 3 12# Delay=0"),
        ("login", ("u", "p", None, None, None), "Login u p 2 3"),
        ("login", ("u", "p", 0, 0, 0), "Login u p 0 0 0"),
        ("login", ("u", "p", None, 9, 1), "Login u p 2 9 1"),
        ("login", ("", "", None, None, None), "Login   2 3"),
        ("resource_create_frontend", ("", None, None, True),
         "ResourceCreateFrontEnd RegIncomingANI= Accepting=1"),
        ("resource_create_transport_channel", ("",), "ResourceCreateTransportChannel "),
        ("call_clear", (5, ""), "CallClear 5 Reason="),
        ("play_tone", (1, None, 0, None, None, 0), "PlayTone 1 Frequency2=0 Duration=0"),
        ("fax_send", (3, 1, 2, None, None, None, "100"), "FaxSend 3 1 2 TSI=100"),
        ("audio_send", (1, 2, None, None, -5, None, 7, None, None, None),
         "AudioSend 1 2 Volume=-5 AutoGainResolution=7"),
    ],
)
def test_defaults_and_present_zeros(ctor, args, text):
    """Defaults fill only absent values; a present zero or empty text is written."""
    assert str(getattr(Command, ctor)(*args)) == text


@pytest.mark.parametrize(
    "member, ctor, args, text",
    [
        (Member("Channels", "Mono"), "play_file", (1, "a", None, None, "@", None, None),
         "PlayFile 1 a Channels=1"),
        (Member("Channels", "Stereo"), "recorder_start_to_file",
         (1, "a", None, None, "@", None, None, None, None, None),
         "RecorderStartToFile 1 a Channels=2"),
        (Member("ECM", "No"), "fax_send", (3, 1, 2, None, "@", None, None),
         "FaxSend 3 1 2 UseECM=0"),
        (Member("ECM", "ECM64"), "fax_receive", (3, 1, 2, None, "@", None),
         "FaxReceive 3 1 2 UseECM=64"),
        (Member("ECM", "ECM128"), "fax_send", (3, 1, 2, None, "@", None, None),
         "FaxSend 3 1 2 UseECM=128"),
        (Member("ECM", "ECM256"), "fax_send", (3, 1, 2, None, "@", "Sales", "100"),
         "FaxSend 3 1 2 UseECM=256 Header=Sales TSI=100"),
    ],
    ids=lambda v: repr(v) if isinstance(v, Member) else None,
)
def test_enumeration_members_are_written_as_numbers(member, ctor, args, text):
    args = tuple(member if a == "@" else a for a in args)
    assert str(getattr(Command, ctor)(*resolve(args))) == text


# --------------------------------------------------------------------------
# Arguments


def _rejected():
    for cmd in COMMANDS:
        for case in all_rejected_cases(cmd.ctor, cmd.params, cmd.full):
            yield pytest.param(cmd, case, id=f"{cmd.variant}-{case.id}")


@pytest.mark.parametrize("cmd, case", list(_rejected()))
def test_rejected_arguments(cmd, case):
    args, kwargs = case.call_args()
    with pytest.raises(BaseException) as info:
        construct(cmd, args, kwargs)
    assert type(info.value) is case.error, repr(info.value)
    assert re.fullmatch(case.message, str(info.value), re.S), str(info.value)


def _accepted():
    for cmd in COMMANDS:
        for case in accepted_cases(cmd.params, cmd.full, cmd.full_text):
            yield pytest.param(cmd, case, id=f"{cmd.variant}-{case.id}")


@pytest.mark.parametrize("cmd, case", list(_accepted()))
def test_accepted_arguments(cmd, case):
    assert str(construct(cmd, case.call_args())) == case.expected()


@pytest.mark.parametrize("cmd", [c for c in COMMANDS if len(c.params) > 1], ids=str)
def test_first_bad_argument_is_reported(cmd):
    """Arguments are converted in order; the first refusal ends the call."""
    full = cmd.full_args()
    for first in range(len(cmd.params)):
        bad = ["\n" if p.kind == "str" else object() for p in cmd.params[first:]]
        error = ValueError if cmd.params[first].kind == "str" else TypeError
        with pytest.raises(error, match=f"^argument '{cmd.params[first].name}': "):
            construct(cmd, full[:first] + tuple(bad))


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_constructor_signature(cmd):
    ctor = getattr(Command, cmd.ctor)
    assert ctor.__name__ == cmd.ctor
    assert ctor.__doc__ is None
    assert ctor.__text_signature__ == f"({', '.join(cmd.names)})"
    parameters = inspect.signature(ctor).parameters
    assert list(parameters) == cmd.names
    for parameter in parameters.values():
        assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert parameter.default is inspect.Parameter.empty


# --------------------------------------------------------------------------
# The class


def test_class_names_and_module():
    assert commands.Command is Command
    assert (Command.__name__, Command.__qualname__, Command.__module__) == (
        "Command", "Command", "builtins")
    assert Command.__bases__ == (object,)


def test_constructors_and_variant_attributes_in_variant_order():
    own = vars(Command)
    ctors = [name for name, value in own.items() if isinstance(value, staticmethod)]
    assert ctors == [c.ctor for c in COMMANDS]
    classes = [name for name, value in own.items() if isinstance(value, type)]
    assert classes == [c.variant for c in COMMANDS]
    assert not {"__repr__", "__eq__", "__hash__", "__init__", "__lt__"} & set(own)


@pytest.mark.parametrize(
    "args, kwargs", [((), {}), ((1,), {}), ((), {"x": 1})], ids=["bare", "arg", "kwarg"]
)
def test_command_has_no_constructor(args, kwargs):
    with pytest.raises(TypeError) as info:
        Command(*args, **kwargs)
    assert str(info.value) == "No constructor defined for Command"


def test_python_subclass_cannot_create_instances():
    class Script(Command):
        pass

    class Deeper(Script):
        pass

    assert issubclass(Deeper, Command)
    for cls in (Script, Deeper):
        with pytest.raises(TypeError) as info:
            cls()
        assert str(info.value) == f"No constructor defined for {cls.__name__}"
    # The variant attributes and constructors are inherited.
    assert Script.CallClear is Command.CallClear
    assert str(Script.call_hold(1)) == "CallHold 1"


def test_identity_semantics():
    a, b = Command.call_clear(5, "busy"), Command.call_clear(5, "busy")
    assert str(a) == str(b)
    assert a != b and a == a
    assert len({a, b}) == 2
    assert repr(a) == object.__repr__(a)
    assert a.CallClear is Command.CallClear
    assert not hasattr(a, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(a)
    with pytest.raises(AttributeError):
        a.extra = 1


# --------------------------------------------------------------------------
# send_command


@pytest.fixture
def wire(server):
    return Wire(server)


def test_send_command_returns_consecutive_tags(wire):
    c = wire.client
    command = Command.call_clear(5, "busy")
    assert c.send_raw_command("raw") == 0
    tags = [c.send_command(command), c.send_command(command=command)]
    assert tags == [1, 2]
    assert all(type(t) is int for t in tags)
    assert str(command) == "CallClear 5 Reason=busy"
    assert c.command_tag == 3
    wire.expect(
        "raw COMMANDTAG=0\nCallClear 5 Reason=busy COMMANDTAG=1\n"
        "CallClear 5 Reason=busy COMMANDTAG=2\n"
    )


PAYLOAD = object()  # stands for the payload object of a CallHold command


@pytest.mark.parametrize(
    "value, type_name",
    [
        ("CallHold 1", "str"),
        (b"CallHold 1", "bytes"),
        (None, "NoneType"),
        (1, "int"),
        (Command, "type"),
        (Command.CallHold, "type"),
        (PAYLOAD, "CallHold"),
    ],
    ids=["str", "bytes", "None", "int", "Command-class", "variant-class", "payload"],
)
def test_send_command_rejects_non_commands(wire, value, type_name):
    if value is PAYLOAD:
        value = Command.call_hold(1)._0
    for call in (lambda: wire.client.send_command(value),
                 lambda: wire.client.send_command(command=value)):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value).startswith("argument 'command': ")
        assert f"'{type_name}'" in str(info.value)
    wire.assert_nothing_sent(0)


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), ((Command.logout(), Command.quit()), {}), ((), {"cmd": Command.logout()}),
     ((Command.logout(),), {"command": Command.logout()})],
    ids=["none", "two", "unknown-keyword", "duplicate"],
)
def test_send_command_argument_count(wire, args, kwargs):
    with pytest.raises(TypeError, match=r"^send_command\(\) "):
        wire.client.send_command(*args, **kwargs)
    wire.assert_nothing_sent(0)


def test_send_command_without_connection(server):
    c = HalvexClient("127.0.0.1", server.port, None, None, None)
    command = Command.call_hold(1)
    with pytest.raises(RuntimeError) as info:
        c.send_command(command)
    assert type(info.value) is RuntimeError and str(info.value) == NO_CONNECTION
    # The argument is checked before the connection.
    with pytest.raises(TypeError, match="^argument 'command': "):
        c.send_command("CallHold 1")
    assert c.command_tag == 0
    c.connect()
    c.disconnect()
    with pytest.raises(RuntimeError, match=f"^{NO_CONNECTION}$"):
        c.send_command(command)
    assert c.command_tag == 0
    c.connect()
    assert c.send_command(command) == 0
    assert server.peer(1).wait_lines(1) == b"CallHold 1 COMMANDTAG=0\n"


def test_send_command_signature():
    method = HalvexClient.send_command
    assert method.__doc__ is None
    assert method.__text_signature__ == "($self, command)"
    bound = HalvexClient("127.0.0.1", None, None, None, None).send_command
    assert str(inspect.signature(bound)) == "(command)"
