"""The 54 command methods of HalvexClient: lines on the wire, send failures,
argument handling and re-entrant arguments."""

import errno
import inspect
import os
import re
import time

import pytest

from command_table import (
    COMMANDS,
    NO_CONNECTION,
    PASSWORD,
    USERNAME,
    Command,
    HalvexClient,
    Wire,
    accepted_cases,
    all_rejected_cases,
    replace_number,
    with_value,
)


@pytest.fixture
def wire(server):
    return Wire(server)


def call(client, cmd, args=(), kwargs=None):
    return getattr(client, cmd.method)(*args, **(kwargs or {}))


# --------------------------------------------------------------------------
# Lines on the wire


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_line_on_the_wire(wire, cmd):
    c = wire.client
    names = [p.name for p in cmd.method_params]
    assert call(c, cmd, cmd.method_full_args()) is None
    assert c.command_tag == 1
    assert call(c, cmd, (), dict(zip(names, cmd.method_full_args()))) is None
    assert call(c, cmd, cmd.method_bare_args()) is None
    # The same command as a value: the method's line is its text plus the tag.
    built = getattr(Command, cmd.ctor)(*cmd.full_args())
    assert c.send_command(built) == 3
    assert c.command_tag == 4
    full = cmd.method_full_text
    wire.expect(
        f"{full} COMMANDTAG=0\n{full} COMMANDTAG=1\n"
        f"{cmd.bare_text} COMMANDTAG=2\n{cmd.full_text} COMMANDTAG=3\n"
    )


@pytest.mark.parametrize(
    "username, password, line",
    [
        (None, None, r"Login user1 [a-z]{3} 2 3"),
        ("", "", re.escape("Login   2 3")),
        ("j\u00fcrgen", "p w=", re.escape("Login j\u00fcrgen p w= 2 3")),
    ],
    ids=["defaults", "empty", "spaces"],
)
def test_login_sends_stored_credentials(server, username, password, line):
    c = HalvexClient("127.0.0.1", server.port, None, username, password)
    c.connect()
    assert c.login() is None
    data = server.peer(0).wait_lines(1).decode()
    assert re.fullmatch(line + r" COMMANDTAG=0\n", data), data
    if username is not None:
        assert data == str(Command.login(username, password, None, None, None)) + " COMMANDTAG=0\n"


@pytest.mark.parametrize(
    "method, args, text",
    [
        ("call_make", (7, "1234", None, None, None, None, None),
         "CallMake 7 1234 TimeOut=30000 Privacy=0 Screen=1"),
        ("call_make", (7, "1234", 500, "100", None, 1, 0),
         "CallMake 7 1234 TimeOut=500 CallerNumber=100 Privacy=1 Screen=0"),
        ("call_make", (7, "1234", 0, None, None, 0, 0),
         "CallMake 7 1234 TimeOut=0 Privacy=0 Screen=0"),
        ("call_transfer_blind", (4, "2000", None), "CallTransferBlind 4 2000 UseH450=1"),
        ("call_transfer_blind", (4, "2000", 0), "CallTransferBlind 4 2000 UseH450=0"),
        ("call_send_dtmf", (3, "12#", None, None, None),
         "CallSendDTMF 3 12# Duration=300 Delay=200 PauseDuration=2000"),
        ("call_send_dtmf", (3, "12#", 0, 0, None),
         "CallSendDTMF 3 12# Duration=0 Delay=0 PauseDuration=2000"),
        ("rtp_channel_send_dtmf", (3, "12#", None, None, None), "RtpChannelSendDTMF 3 12#"),
        ("rtp_channel_send_dtmf", (3, "12#", 0, None, None), "RtpChannelSendDTMF 3 12# Duration=0"),
        ("play_file", (1, "a.wav", None, None, None, None, None), "PlayFile 1 a.wav"),
        ("resource_create_frontend", (None, None, None, False),
         "ResourceCreateFrontEnd Accepting=0"),
    ],
)
def test_defaults_on_the_wire(wire, method, args, text):
    """Only the call-control defaults are filled in; a present zero stays."""
    assert getattr(wire.client, method)(*args) is None
    wire.expect(f"{text} COMMANDTAG=0\n")


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_method_signature(cmd):
    names = [p.name for p in cmd.method_params]
    method = getattr(HalvexClient, cmd.method)
    assert method.__doc__ is None
    assert method.__text_signature__ == "(" + ", ".join(["$self"] + names) + ")"
    bound = getattr(HalvexClient("127.0.0.1", None, None, None, None), cmd.method)
    parameters = inspect.signature(bound).parameters
    assert list(parameters) == names
    for parameter in parameters.values():
        assert parameter.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
        assert parameter.default is inspect.Parameter.empty


# --------------------------------------------------------------------------
# Send failures: the fatal-error group and the group that raises the error


NOT_CONNECTED = re.escape(
    "TransmissionError { type: <class 'RuntimeError'>, value: RuntimeError("
    f"'{NO_CONNECTION}'), traceback: None }}"
)
WRITE_FAILED = (
    r"TransmissionError \{ type: <class 'OSError'>, value: OSError\("
    r"'(Failed to send message: (.+) \(os error (\d+)\))'\), traceback: None \}"
)


def check_send_failure(client, cmd, capfd, description):
    """Call `cmd`'s method on a client whose send fails; return the error text."""
    capfd.readouterr()
    try:
        call(client, cmd, cmd.method_full_args())
    except Exception as e:
        assert cmd.failure is None, f"{cmd.method}: {e!r} was raised instead of the fatal error"
        error = e
    except BaseException as e:
        assert cmd.failure is not None, f"{cmd.method}: {e!r} instead of the send error"
        cls = type(e)
        assert (cls.__name__, cls.__module__, cls.__bases__) == (
            "FatalError", "builtins", (BaseException,))
        m = re.fullmatch(re.escape(cmd.failure) + ": " + description, str(e))
        assert m, str(e)
        assert e.args == (str(e),)
        assert str(e) in capfd.readouterr().err
        return m.group(1) if m.groups() else NO_CONNECTION
    else:
        pytest.fail(f"{cmd.method} returned although sending failed")
    if description is NOT_CONNECTED:
        assert type(error) is RuntimeError and str(error) == NO_CONNECTION
    else:
        assert isinstance(error, OSError)
        assert re.fullmatch(r"Failed to send message: .+", str(error)), str(error)
    return str(error)


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_send_failure_without_connection(server, capfd, cmd):
    c = HalvexClient("127.0.0.1", server.port, None, USERNAME, PASSWORD)
    for _ in range(2):
        check_send_failure(c, cmd, capfd, NOT_CONNECTED)
        assert c.command_tag == 0
    c.connect()
    c.disconnect()
    check_send_failure(c, cmd, capfd, NOT_CONNECTED)
    assert c.command_tag == 0
    # The client is still usable.
    c.connect()
    assert call(c, cmd, cmd.method_full_args()) is None
    assert server.peer(1).wait_lines(1) == f"{cmd.method_full_text} COMMANDTAG=0\n".encode()


def break_connection(client, limit=1000, seconds=15.0):
    """Send probes until the reset connection makes a send fail."""
    deadline = time.monotonic() + seconds
    for _ in range(limit):
        try:
            client.send_raw_command("probe")
        except OSError:
            return
        if time.monotonic() > deadline:
            break
        time.sleep(0.01)
    raise AssertionError("sending never failed after the server reset the connection")


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_send_failure_after_server_reset(server, capfd, cmd):
    c = HalvexClient("127.0.0.1", server.port, None, USERNAME, PASSWORD)
    c.connect()
    server.peer(0).reset()
    break_connection(c)
    tag = c.command_tag
    text = check_send_failure(c, cmd, capfd, WRITE_FAILED)
    m = re.fullmatch(r"Failed to send message: (.+) \(os error (\d+)\)", text)
    assert m, text
    assert int(m.group(2)) in (errno.EPIPE, errno.ECONNRESET)
    assert m.group(1) == os.strerror(int(m.group(2)))
    assert c.command_tag == tag
    # A new connection carries on with the tag that failed.
    c.connect()
    assert call(c, cmd, cmd.method_full_args()) is None
    line = f"{cmd.method_full_text} COMMANDTAG={tag}\n"
    assert server.peer(1).wait_lines(1) == line.encode()
    assert c.command_tag == tag + 1


# --------------------------------------------------------------------------
# Arguments


def _rejected():
    for cmd in COMMANDS:
        for case in all_rejected_cases(cmd.method, cmd.method_params, cmd.method_full):
            yield pytest.param(cmd, case, id=f"{cmd.method}-{case.id}")


@pytest.mark.parametrize("cmd, case", list(_rejected()))
def test_rejected_arguments_send_nothing(wire, cmd, case):
    args, kwargs = case.call_args()
    with pytest.raises(BaseException) as info:
        call(wire.client, cmd, args, kwargs)
    assert type(info.value) is case.error, repr(info.value)
    assert re.fullmatch(case.message, str(info.value), re.S), str(info.value)
    wire.assert_nothing_sent(0)


def _accepted():
    for cmd in COMMANDS:
        for case in accepted_cases(cmd.method_params, cmd.method_full, cmd.full_text):
            yield pytest.param(cmd, case, id=f"{cmd.method}-{case.id}")


@pytest.mark.parametrize("cmd, case", list(_accepted()))
def test_accepted_arguments_on_the_wire(wire, cmd, case):
    assert call(wire.client, cmd, case.call_args()) is None
    wire.expect(f"{case.expected()} COMMANDTAG=0\n")


@pytest.mark.parametrize("cmd", [c for c in COMMANDS if len(c.method_params) > 1], ids=str)
def test_first_bad_argument_is_reported(wire, cmd):
    full = cmd.method_full_args()
    for first, param in enumerate(cmd.method_params):
        bad = ["\r" if p.kind == "str" else object() for p in cmd.method_params[first:]]
        error = ValueError if param.kind == "str" else TypeError
        with pytest.raises(error, match=f"^argument '{param.name}': "):
            call(wire.client, cmd, full[:first] + tuple(bad))
    wire.assert_nothing_sent(0)


# --------------------------------------------------------------------------
# Arguments that use the client while it is being used


class Reentrant:
    """An integer index that reads the client's tag or sends through it."""

    def __init__(self, client, action, swallow=False):
        self.client, self.action, self.swallow = client, action, swallow
        self.errors = []

    def __index__(self):
        try:
            if self.action == "read":
                return self.client.command_tag
            self.client.send_raw_command("inner")
        except RuntimeError as e:
            if not self.swallow:
                raise
            self.errors.append(e)
        return 1


def _first_int(cmd):
    return next(i for i, p in enumerate(cmd.method_params) if p.is_int)


@pytest.mark.parametrize(
    "action, message",
    [("read", "Already mutably borrowed"), ("send", "Already borrowed")],
)
@pytest.mark.parametrize(
    "cmd", [c for c in COMMANDS if any(p.is_int for p in c.method_params)], ids=str
)
def test_reentrant_argument(wire, cmd, action, message):
    c = wire.client
    position = _first_int(cmd)
    full = cmd.method_full_args()
    with pytest.raises(RuntimeError) as info:
        call(c, cmd, with_value(full, position, Reentrant(c, action)))
    assert type(info.value) is RuntimeError and str(info.value) == message
    wire.assert_nothing_sent(0)
    # When the index swallows the conflict, the call itself goes through.
    index = Reentrant(c, action, swallow=True)
    assert call(c, cmd, with_value(full, position, index)) is None
    assert [str(e) for e in index.errors] == [message]
    text = replace_number(cmd.full_text, full[position], 1)
    wire.expect(f"{text} COMMANDTAG=1\n")
    assert c.command_tag == 2
