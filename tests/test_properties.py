"""Property-based tests over the 54 commands, with values drawn from each
parameter's kind.

Valid values: every surface writes the same text, and that text is the one
a small model of the command line gives (keyword, then each present value in
parameter order, bare or as Key=value, the keys read off the rows of
command_table).  Invalid values: the call raises the error of the first bad
argument and nothing is built or sent.
"""

import operator
import re

import numpy
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from command_table import (
    CLASS_KINDS,
    COMMANDS,
    INT_RANGES,
    LINE_BREAK,
    OUT_OF_RANGE,
    PASSWORD,
    USERNAME,
    Command,
    HalvexClient,
    Index,
    Member,
    Wire,
)
from conftest import LoopbackServer

SETTINGS = settings(
    max_examples=40,
    deadline=None,
    derandomize=True,
    database=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)

ENUM_MEMBERS = {"Channels": ("Mono", "Stereo"), "ECM": ("No", "ECM64", "ECM128", "ECM256")}

# What a method or constructor writes in place of None.
DEFAULTS = {
    "login": {"major": 2, "minor": 3},
    "call_make": {"timeout": 30000, "privacy": 0, "screen": 1},
    "call_transfer_blind": {"use_h450": 1},
    "call_send_dtmf": {"duration": 300, "delay": 200, "pause_duration": 2000},
}


# --------------------------------------------------------------------------
# The model of a command's text


def written(value):
    """How one present value appears in a command text."""
    if isinstance(value, (bool, numpy.bool_)):
        return "1" if value else "0"
    if isinstance(value, str):
        return value
    if type(value).__name__ in ENUM_MEMBERS:
        return str(int(value))
    return str(operator.index(value))


def _keys(cmd):
    """For each parameter, the key its value is written with ("" for a bare
    value), read off the table row; None where the row has no value."""
    text, position, keys = cmd.full_text, len(cmd.variant), []
    for param, value in zip(cmd.params, cmd.full_args()):
        if value is None:
            keys.append(None)
            continue
        # The pieces follow one another in parameter order.
        piece = re.compile(rf" (?:(\w+)=)?{re.escape(written(value))}(?= |$)")
        m = piece.match(text, position)
        assert m, (cmd.variant, param.name)
        keys.append(m.group(1) or "")
        position = m.end()
    assert position == len(text), cmd.variant
    return keys


KEYS = {cmd.variant: _keys(cmd) for cmd in COMMANDS}


def model_text(cmd, args):
    defaults = DEFAULTS.get(cmd.ctor, {})
    out = [cmd.full_text.split(" ", 1)[0]]
    for param, key, value in zip(cmd.params, KEYS[cmd.variant], args):
        if value is None:
            value = defaults.get(param.name)
        if value is not None:
            assert key is not None, (cmd.variant, param.name)
            out.append(f"{key}={written(value)}" if key else written(value))
    return " ".join(out)


for _cmd in COMMANDS:  # the model reproduces the rows it was read from
    assert model_text(_cmd, _cmd.full_args()) == _cmd.full_text, _cmd.variant
    assert model_text(_cmd, _cmd.bare_args()) == _cmd.bare_text, _cmd.variant


# --------------------------------------------------------------------------
# Strategies

CHARS = st.characters(exclude_categories=("Cs",))
TEXT = st.text(st.characters(exclude_categories=("Cs",), exclude_characters="\r\n"), max_size=30)
LINE_BREAKS = st.tuples(TEXT, st.sampled_from(["\n", "\r", "\r\n"]), TEXT).map("".join)
SURROGATE = st.tuples(
    TEXT, st.characters(min_codepoint=0xD800, max_codepoint=0xDFFF), TEXT
).map("".join)


def valid(param):
    kind = param.kind
    if param.is_int:
        low, high = INT_RANGES[kind]
        numbers = st.integers(low, high)
        edges = st.sampled_from([low, high, 0 if low < 0 else low + 1, high - 1])
        values = st.one_of(numbers, edges, numbers.map(Index))
    elif kind == "str":
        values = TEXT
    elif kind == "bool":
        values = st.sampled_from([True, False, numpy.True_, numpy.False_])
    elif kind in ENUM_MEMBERS:
        values = st.sampled_from([Member(kind, name) for name in ENUM_MEMBERS[kind]]).map(
            Member.resolve)
    else:
        # No instance of a constant class can be had from Python.
        assert param.optional
        return st.none()
    return st.one_of(st.none(), values) if param.optional else values


class Opaque:
    """Of no type that any parameter accepts."""


WRONG_TYPES = st.one_of(
    st.floats(allow_nan=False), st.binary(max_size=4), st.lists(st.integers(), max_size=2),
    st.builds(Opaque), st.builds(dict), st.complex_numbers(allow_nan=False),
)


def invalid(param):
    """(error, value) pairs that `param` must refuse."""
    kind = param.kind
    wrong = [WRONG_TYPES]
    if not param.optional:
        wrong.append(st.none())
    if param.is_int:
        low, high = INT_RANGES[kind]
        outside = st.one_of(st.integers(max_value=low - 1), st.integers(min_value=high + 1))
        return st.one_of(
            st.tuples(st.just(OverflowError), st.one_of(outside, outside.map(Index))),
            st.tuples(st.just(TypeError), st.one_of(*wrong, TEXT)),
        )
    if kind == "str":
        return st.one_of(
            st.tuples(st.just(ValueError), LINE_BREAKS),
            st.tuples(st.just(UnicodeEncodeError), SURROGATE),
            st.tuples(st.just(TypeError), st.one_of(*wrong, st.integers(), st.booleans())),
        )
    if kind == "bool":
        return st.tuples(st.just(TypeError), st.one_of(*wrong, st.integers(), TEXT))
    others = [Member(k, ENUM_MEMBERS[k][0]) for k in ENUM_MEMBERS if k != kind]
    return st.tuples(
        st.just(TypeError),
        st.one_of(*wrong, st.integers(), TEXT, st.booleans(),
                  st.sampled_from(others).map(Member.resolve)),
    )


def check_error(raised, param, error, value):
    """`raised` is the error that `value` for `param` calls for."""
    assert type(raised) is error, (param.name, value, raised)
    message = str(raised)
    if error is ValueError:
        assert message == LINE_BREAK.format(param.name)
    elif error is TypeError:
        assert message.startswith(f"argument '{param.name}': "), message
        if param.kind in CLASS_KINDS:
            assert message == (f"argument '{param.name}': '{type(value).__name__}' object "
                               f"cannot be converted to '{param.kind}'")
    elif error is OverflowError:
        number = operator.index(value)
        if -(2**63) <= number < 2**63:
            assert message == OUT_OF_RANGE
    else:
        assert not message.startswith("argument"), message


@st.composite
def call_args(draw, params, args):
    """The arguments split into a positional part and keywords in any order."""
    split = draw(st.integers(0, len(params)))
    names = [p.name for p in params[split:]]
    order = draw(st.permutations(names))
    by_name = dict(zip([p.name for p in params], args))
    return tuple(args[:split]), {name: by_name[name] for name in order}


# --------------------------------------------------------------------------
# Checking what the server received.  Every example is checked on its own
# line (found by its tag), so that one failing example does not spoil the
# ones hypothesis tries after it.


@pytest.fixture
def wire(server):
    """A connected client on which every line is one text without line
    break: the line with tag n is the n-th line received."""
    return Wire(server)


def line_with_tag(wire, tag):
    data = wire.peer.wait_lines(tag + 1)
    return data.split(b"\n")[tag] + b"\n"


def nothing_sent(wire, tag):
    """No line since tag `tag`, and the counter still reads `tag`."""
    assert wire.client.command_tag == tag
    assert wire.client.send_raw_command("probe") == tag
    assert line_with_tag(wire, tag) == f"probe COMMANDTAG={tag}\n".encode()


@pytest.fixture(scope="module")
def shared_server():
    s = LoopbackServer()
    yield s
    s.stop()


def connected(server, username=USERNAME, password=PASSWORD):
    """A new client on a connection of its own, and the server's side of it."""
    client = HalvexClient("127.0.0.1", server.port, None, username, password)
    index = server.accepted
    client.connect()
    return client, server.peer(index)


# --------------------------------------------------------------------------
# Valid arguments


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_valid_arguments_give_one_text_everywhere(wire, cmd):
    ctor = getattr(Command, cmd.ctor)
    variant = getattr(Command, cmd.variant)
    client = wire.client

    @SETTINGS
    @given(st.data())
    def check(data):
        args = tuple(data.draw(st.tuples(*map(valid, cmd.params))))
        positional, keywords = data.draw(call_args(cmd.params, args))
        built = ctor(*positional, **keywords)
        text = str(built)
        assert text == model_text(cmd, args)
        assert type(built) is variant
        # Rebuilt from its payload, through _0 and through indexing.
        assert str(variant(built._0)) == text
        assert str(variant(_0=built[0])) == text
        tag = client.command_tag
        if cmd.method != "login":
            assert getattr(client, cmd.method)(*positional, **keywords) is None
            assert line_with_tag(wire, tag) == f"{text} COMMANDTAG={tag}\n".encode()
            tag += 1
        assert client.send_command(built) == tag
        assert line_with_tag(wire, tag) == f"{text} COMMANDTAG={tag}\n".encode()
        assert client.command_tag == tag + 1

    check()


@SETTINGS
@given(username=TEXT, password=TEXT)
def test_login_sends_the_credentials_of_the_client(shared_server, username, password):
    client, peer = connected(shared_server, username, password)
    assert client.login() is None
    expected = str(Command.login(username, password, None, None, None))
    assert expected == f"Login {username} {password} 2 3"
    assert peer.wait_lines(1) == f"{expected} COMMANDTAG=0\n".encode()
    client.disconnect()
    peer.close()


@SETTINGS
@given(message=st.text(CHARS, max_size=60))
def test_send_raw_command_sends_any_text_unchanged(shared_server, message):
    client, peer = connected(shared_server)
    assert client.send_raw_command(message) == 0
    assert client.send_raw_command(message) == 1
    expected = f"{message} COMMANDTAG=0\n{message} COMMANDTAG=1\n".encode()
    assert peer.wait_lines(expected.count(b"\n")) == expected
    client.disconnect()
    peer.close()


# --------------------------------------------------------------------------
# Invalid arguments


@st.composite
def some_invalid(draw, params):
    """Arguments of which at least one is invalid; the first invalid one's
    parameter, expected error and value."""
    bad = draw(st.sets(st.integers(0, len(params) - 1), min_size=1))
    args, first = [], None
    for i, param in enumerate(params):
        if i in bad:
            error, value = draw(invalid(param))
            if first is None:
                first = (param, error, value)
        else:
            value = draw(valid(param))
        args.append(value)
    return tuple(args), first


@pytest.mark.parametrize("cmd", [c for c in COMMANDS if c.params], ids=str)
def test_invalid_arguments_build_and_send_nothing(wire, cmd):
    ctor = getattr(Command, cmd.ctor)
    client = wire.client

    @SETTINGS
    @given(st.data())
    def check(data):
        args, (param, error, value) = data.draw(some_invalid(cmd.params))
        positional, keywords = data.draw(call_args(cmd.params, args))
        with pytest.raises(BaseException) as info:
            ctor(*positional, **keywords)
        check_error(info.value, param, error, value)
        if cmd.method != "login":
            tag = client.command_tag
            with pytest.raises(BaseException) as info:
                getattr(client, cmd.method)(*positional, **keywords)
            check_error(info.value, param, error, value)
            nothing_sent(wire, tag)

    check()


@SETTINGS
@given(st.data())
def test_invalid_credentials_are_refused(data):
    position = data.draw(st.sampled_from([3, 4]))
    error, value = data.draw(st.one_of(
        st.tuples(st.just(ValueError), LINE_BREAKS),
        st.tuples(st.just(UnicodeEncodeError), SURROGATE),
    ))
    args = ["127.0.0.1", None, None, USERNAME, PASSWORD]
    args[position] = value
    with pytest.raises(BaseException) as info:
        HalvexClient(*args)
    assert type(info.value) is error
    if error is ValueError:
        assert str(info.value) == LINE_BREAK.format(["username", "password"][position - 3])


@SETTINGS
@given(message=SURROGATE)
def test_send_raw_command_refuses_lone_surrogates(shared_server, message):
    client, peer = connected(shared_server)
    with pytest.raises(UnicodeEncodeError):
        client.send_raw_command(message)
    assert client.command_tag == 0
    assert client.send_raw_command("probe") == 0
    assert peer.wait_lines(1) == b"probe COMMANDTAG=0\n"
    client.disconnect()
    peer.close()
