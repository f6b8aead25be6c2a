"""Variant classes (`Command.CallClear`, ...) and payload classes: taking a
command apart, matching it by class and rebuilding it."""

import gc
import inspect
import weakref

import pytest

from command_table import COMMANDS, Command, Wire
from halvex_rs import commands


def build(cmd):
    return getattr(Command, cmd.ctor)(*cmd.full_args())


@pytest.fixture
def call_clear():
    return Command.call_clear(5, "busy")


# --------------------------------------------------------------------------
# Every variant


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_variant_class(cmd):
    cls = getattr(Command, cmd.variant)
    assert cls.__name__ == cls.__qualname__ == f"Command_{cmd.variant}"
    assert cls.__module__ == "builtins"
    assert cls.__mro__ == (cls, Command, object)
    assert cls.__match_args__ == ("_0",)
    assert str(inspect.signature(cls)) == "(_0)"
    assert type(build(cmd)) is cls
    for name in (cls.__name__, cmd.variant):
        assert not hasattr(commands, name)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_payload_class(cmd):
    c = build(cmd)
    payload = c._0
    cls = type(payload)
    assert cls.__name__ == cls.__qualname__ == cmd.variant
    assert cls.__module__ == "builtins"
    assert cls.__mro__ == (cls, object)
    assert not isinstance(payload, Command)
    # Every read is a new object of the same class.
    assert c._0 is not payload and type(c._0) is cls
    assert type(c[0]) is cls and c[0] is not c[0]
    assert len(c) == 1
    assert [type(p) for p in c] == [cls]
    # Opaque: no field is visible.
    for name in cmd.names:
        assert not hasattr(payload, name)
    with pytest.raises(TypeError) as info:
        cls()
    assert str(info.value) == f"No constructor defined for {cmd.variant}"
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_rebuild_from_payload(cmd):
    c = build(cmd)
    cls = type(c)
    for rebuilt in (cls(c._0), cls(_0=c[0]), cls(next(iter(c)))):
        assert type(rebuilt) is cls and rebuilt is not c
        assert str(rebuilt) == str(c) == cmd.full_text


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_wrong_payload(cmd):
    """A variant class takes only its own payload class."""
    cls = getattr(Command, cmd.variant)
    other = COMMANDS[(COMMANDS.index(cmd) + 1) % len(COMMANDS)]
    c = build(cmd)
    cases = [
        (build(other)._0, other.variant),
        (c, f"Command_{cmd.variant}"),
        (None, "NoneType"),
        (cmd.full_text, "str"),
    ]
    for value, type_name in cases:
        with pytest.raises(TypeError) as info:
            cls(value)
        assert str(info.value) == (
            f"argument '_0': '{type_name}' object cannot be converted to '{cmd.variant}'"
        )


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_match_by_class(cmd):
    c = build(cmd)
    cls = getattr(Command, cmd.variant)
    other = getattr(Command, COMMANDS[COMMANDS.index(cmd) - 1].variant)
    match c:
        case other(p):
            pytest.fail(f"matched {other.__name__}")
        case cls(p):
            assert type(p).__name__ == cmd.variant
            assert str(cls(p)) == cmd.full_text
        case _:
            pytest.fail("no class pattern matched")
    match c:
        case Command():
            pass
        case _:
            pytest.fail("Command() did not match")


@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_read_only(cmd):
    c = build(cmd)
    payload = c._0
    for target, name in [(c, "_0"), (c, "extra"), (payload, "extra")]:
        with pytest.raises(AttributeError):
            setattr(target, name, 1)
    with pytest.raises(AttributeError):
        del c._0
    for obj in (c, payload):
        assert not hasattr(obj, "__dict__")
        with pytest.raises(TypeError):
            weakref.ref(obj)
    assert str(c) == cmd.full_text


# --------------------------------------------------------------------------
# One command taken apart


@pytest.mark.parametrize(
    "index, error, message",
    [
        (1, IndexError, "tuple index out of range"),
        (True, IndexError, "tuple index out of range"),
        (2**63, IndexError, "tuple index out of range"),
        (2**64 - 1, IndexError, "tuple index out of range"),
        (-1, OverflowError, None),
        (-(2**64), OverflowError, None),
        (2**64, OverflowError, None),
        ("0", TypeError, "argument 'idx': 'str' object cannot be interpreted as an integer"),
        (0.0, TypeError, "argument 'idx': 'float' object cannot be interpreted as an integer"),
        (slice(0, 1), TypeError, "argument 'idx': 'slice' object cannot be interpreted as an integer"),
    ],
    ids=repr,
)
def test_index_errors(call_clear, index, error, message):
    with pytest.raises(error) as info:
        call_clear[index]
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
    else:
        assert not str(info.value).startswith("argument")


def test_index_zero_and_integer_likes(call_clear):
    class Zero:
        def __index__(self):
            return 0

    for index in (0, False, Zero()):
        assert str(Command.CallClear(call_clear[index])) == "CallClear 5 Reason=busy"


def test_iteration(call_clear):
    it = iter(call_clear)
    (payload,) = it
    assert type(payload).__name__ == "CallClear"
    with pytest.raises(StopIteration):
        next(it)
    assert len(list(call_clear)) == 1


def test_match_patterns(call_clear):
    def kind(c):
        match c:
            case Command.CallHold(p):
                return "hold", p
            case Command.CallClear(p):
                return "clear", p
            case Command.Logout():
                return "logout", None
            case Command():
                return "other", None
        return "none", None

    label, payload = kind(call_clear)
    assert label == "clear" and type(payload).__name__ == "CallClear"
    assert str(Command.CallClear(payload)) == "CallClear 5 Reason=busy"
    assert kind(Command.call_hold(1))[0] == "hold"
    assert kind(Command.logout()) == ("logout", None)
    assert kind(Command.quit()) == ("other", None)
    assert kind(call_clear._0) == ("none", None)
    assert kind("CallClear 5 Reason=busy") == ("none", None)


def test_login_rejects_a_logout_payload():
    payload = Command.logout()._0
    with pytest.raises(TypeError) as info:
        Command.Login(payload)
    assert str(info.value) == "argument '_0': 'Logout' object cannot be converted to 'Login'"
    assert str(Command.Logout(payload)) == "Logout"


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), ("ab", {}), ((), {"x": 1}), ((1,), {"_0": 1})],
    ids=["none", "two", "unknown-keyword", "duplicate"],
)
def test_variant_constructor_argument_count(call_clear, args, kwargs):
    args = tuple(call_clear._0 for _ in args)
    kwargs = {k: call_clear._0 for k in kwargs}
    with pytest.raises(TypeError, match=r"^Command_CallClear\(\) "):
        Command.CallClear(*args, **kwargs)


def test_payload_and_command_are_independent():
    c = Command.call_make(1, "sip:" + "9" * 50, None, "caller " * 10, None, None, None)
    text = str(c)
    payload = c._0
    del c
    gc.collect()
    first = Command.CallMake(payload)
    second = Command.CallMake(payload)
    del payload
    gc.collect()
    assert str(first) == str(second) == text
    again = Command.CallMake(first._0)
    del first
    gc.collect()
    assert str(again) == text


def test_rebuilt_commands_are_sent(server):
    wire = Wire(server)
    c = Command.call_clear(5, "busy")
    assert wire.client.send_command(Command.CallClear(c._0)) == 0
    with pytest.raises(TypeError, match="^argument 'command': "):
        wire.client.send_command(c._0)
    wire.expect("CallClear 5 Reason=busy COMMANDTAG=0\n")
    wire.assert_nothing_sent(1)

