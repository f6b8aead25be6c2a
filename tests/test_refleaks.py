"""Reference and memory leaks: every call, repeated, leaves nothing behind.

Each case calls one operation 10,000 times (successfully, or with one kind of
argument or sending error) in a quiet child interpreter and compares, before
and after the loop:

- sys.getrefcount of every argument object, the client and the classes
  involved (a reference kept per call shows as growth of 10,000);
- the number of objects tracked by the collector, after gc.collect();
- the interpreter's allocated memory blocks (sys.getallocatedblocks), which
  counts every object, tracked or not (commands, payloads and texts are not
  tracked by the collector);
- the bytes in use in the C heap of the main thread (glibc's mallinfo2),
  where the native command records and their texts live.

A per-call leak grows any of these by thousands; the slack below only absorbs
one-off caches of the interpreter.
"""

import os
import socket

import pytest

from command_table import COMMANDS
from conftest import Child, LoopbackServer

CALLS = 10_000
SLACK = {"objects": 8, "blocks": 64, "heap": 64 * 1024}

HARNESS = r'''
import ctypes, gc, os, sys
sys.path.insert(0, TESTS_DIR)
import command_table as T

Command = T.Command
CALLS, WARM = CALLS_, 100
SLACK = SLACK_


class _Mallinfo2(ctypes.Structure):
    _fields_ = [(n, ctypes.c_size_t) for n in (
        "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
        "uordblks", "fordblks", "keepcost")]


try:
    _mallinfo2 = ctypes.CDLL(None).mallinfo2
    _mallinfo2.restype = _Mallinfo2

    def heap_in_use():
        return _mallinfo2().uordblks
except AttributeError:
    def heap_in_use():
        return 0


def census():
    gc.collect()
    return {"objects": len(gc.get_objects()), "blocks": sys.getallocatedblocks(),
            "heap": heap_in_use()}


class Quiet:
    """Sends what the library writes to descriptor `fd` to /dev/null."""

    def __init__(self, fd):
        self.fd = fd

    def __enter__(self):
        self.saved = os.dup(self.fd)
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, self.fd)
        os.close(null)

    def __exit__(self, *exc):
        os.dup2(self.saved, self.fd)
        os.close(self.saved)


class Wrong:
    """A value of no type that any parameter accepts."""


SINGLETONS = {id(None), id(True), id(False), id(NotImplemented), id(Ellipsis)}


def shared(value):
    """Objects the whole interpreter references: their counts say nothing."""
    return id(value) in SINGLETONS or (type(value) is int and -5 <= value <= 256)


def watchable(values):
    seen, out = set(), []
    for v in values:
        if not shared(v) and id(v) not in seen:
            seen.add(id(v))
            out.append(v)
    return out


def raising(call, error):
    def run():
        try:
            call()
        except error:
            return
        raise AssertionError("no %s was raised" % error.__name__)
    return run


def one_round(fn, watched):
    refs = [sys.getrefcount(o) for o in watched]
    before = census()
    for _ in range(CALLS):
        fn()
    after = census()
    refs_after = [sys.getrefcount(o) for o in watched]
    grown = {k: after[k] - before[k] for k in before}
    grown["refs"] = [[repr(o)[:80], a, b] for o, a, b in zip(watched, refs, refs_after)
                     if a != b]
    return grown


def measure(case, fn, watched, quiet=()):
    """The growth over CALLS calls of `fn`.  A one-off cache of the
    interpreter can show once; a leak shows again in a second round."""
    watched = watchable(watched)
    guards = [Quiet(fd) for fd in quiet]
    for g in guards:
        g.__enter__()
    try:
        for _ in range(WARM):
            fn()
        for _ in range(2):
            grown = one_round(fn, watched)
            if not grown["refs"] and all(grown[k] <= SLACK[k] for k in SLACK):
                break
    finally:
        for g in reversed(guards):
            g.__exit__()
    grown["case"] = case
    return grown


def last_index(params, pred):
    for i in range(len(params) - 1, -1, -1):
        if pred(params[i]):
            return i
    return None


def new_str(text):
    """A text object of its own (not a shared constant)."""
    return "".join([text[:1], text[1:]])


def argument_cases(fn, params, full):
    """(case, call, extra objects to watch) for one function's parameters."""
    full = tuple(full)
    yield "ok", lambda: fn(*full), []
    yield "surplus", raising(lambda: fn(*full, None), TypeError), []
    yield "unknown-keyword", raising(lambda: fn(*full, unknown=1), TypeError), []
    if not params:
        return
    names = [p.name for p in params]
    keywords = dict(zip(names, full))
    yield "ok-keywords", lambda: fn(**keywords), []
    bare = tuple(None if p.optional else v for p, v in zip(params, full))
    yield "ok-none", lambda: fn(*bare), []
    yield "missing", raising(lambda: fn(*full[:-1]), TypeError), []
    yield ("duplicate", raising(lambda: fn(*full, **{names[0]: full[0]}), TypeError), [])
    wrong = Wrong()
    bad = T.with_value(full, len(full) - 1, wrong)
    yield "wrong-type", raising(lambda: fn(*bad), TypeError), [wrong]
    i = last_index(params, lambda p: p.is_int)
    if i is not None:
        low, high = T.INT_RANGES[params[i].kind]
        above = high + 1 if params[i].kind != "i64" else low - 1
        for case, value in [("out-of-range", above), ("beyond-64-bits", 2**64 + 12345)]:
            bad_int = T.with_value(full, i, value)
            yield case, raising(lambda a=bad_int: fn(*a), OverflowError), [value]
    i = last_index(params, lambda p: p.kind == "str")
    if i is not None:
        for case, text, error in [("line-break", "a\nb", ValueError),
                                  ("carriage-return", "\rz", ValueError),
                                  ("surrogate", "a\ud800", UnicodeEncodeError)]:
            value = new_str(text)
            bad_text = T.with_value(full, i, value)
            yield case, raising(lambda a=bad_text: fn(*a), error), [value]


def fatal_error_class():
    try:
        HalvexClient("127.0.0.1", None, None, None, None).call_hold(1)
    except Exception:
        raise
    except BaseException as e:
        return type(e)
    raise AssertionError("call_hold without a connection returned")


Fatal = None


def constructor_cases(cmd):
    ctor = getattr(Command, cmd.ctor)
    full = cmd.full_args()
    variant = getattr(Command, cmd.variant)
    for case, call, extra in argument_cases(ctor, cmd.params, full):
        yield case, call, [*full, *extra, variant]
    built = ctor(*full)
    yield "str", lambda: str(built), [built, variant]


def method_cases(cmd):
    global Fatal
    Fatal = Fatal or fatal_error_class()
    full = cmd.method_full_args()
    for case, call, extra in argument_cases(getattr(wire, cmd.method), cmd.method_params, full):
        yield case, call, [*full, *extra, wire]
    for name, client, error, inner, quiet in [
        ("not-connected", idle, Fatal if cmd.failure else RuntimeError, RuntimeError, (2,)),
        ("send-error", broken, Fatal if cmd.failure else OSError, OSError, (2,)),
    ]:
        method = getattr(client, cmd.method)
        yield (name, raising(lambda m=method: m(*full), error), [*full, client, error, inner],
               quiet)
    built = getattr(Command, cmd.ctor)(*cmd.full_args())
    yield "send_command", lambda: wire.send_command(built), [built, wire]
    yield ("send_command-not-connected", raising(lambda: idle.send_command(built), RuntimeError),
           [built, idle])
    yield ("send_command-send-error", raising(lambda: broken.send_command(built), OSError),
           [built, broken])


def variant_cases(cmd):
    variant = getattr(Command, cmd.variant)
    built = getattr(Command, cmd.ctor)(*cmd.full_args())
    payload = built._0
    kind = type(payload)
    other = T.COMMANDS[(T.COMMANDS.index(cmd) + 1) % len(T.COMMANDS)]
    foreign = getattr(Command, other.ctor)(*other.full_args())._0
    watched = [built, payload, variant, kind]

    class Space:
        pass

    space = Space()
    space.V = variant

    def match():
        match built:
            case space.V(p):
                return p
        raise AssertionError("no match")

    key, huge = new_str("0"), 2**64 + 7
    yield from [
        ("_0", lambda: built._0, watched),
        ("index-0", lambda: built[0], watched),
        ("rebuild", lambda: variant(payload), watched),
        ("rebuild-keyword", lambda: variant(_0=payload), watched),
        ("str", lambda: str(variant(payload)), watched),
        ("len", lambda: len(built), watched),
        ("iterate", lambda: list(built), watched),
        ("match", match, watched),
        ("wrong-payload", raising(lambda: variant(foreign), TypeError), watched + [foreign]),
        ("command-as-payload", raising(lambda: variant(built), TypeError), watched),
        ("no-argument", raising(lambda: variant(), TypeError), watched),
        ("two-arguments", raising(lambda: variant(payload, payload), TypeError), watched),
        ("unknown-keyword", raising(lambda: variant(x=payload), TypeError), watched),
        ("index-1", raising(lambda: built[1], IndexError), watched),
        ("index-negative", raising(lambda: built[-1], OverflowError), watched),
        ("index-huge", raising(lambda: built[huge], OverflowError), watched + [huge]),
        ("index-str", raising(lambda: built[key], TypeError), watched + [key]),
        ("payload-class", raising(lambda: kind(), TypeError), watched),
        ("send_command-payload", raising(lambda: wire.send_command(payload), TypeError),
         watched + [wire]),
    ]


def client_cases():
    addr, addr6, user, password = (new_str(t) for t in ("127.0.0.1", "::1", "alice", "pw"))
    port, bad_port, huge = 40000 + len(user), 65536 + len(user), 2**64 + 3
    lf, surrogate, host = new_str("a\nb"), new_str("a\udc80"), new_str("localhost")
    watch = [addr, addr6, user, password, port, bad_port, huge, lf, surrogate, host]
    message, not_text = new_str("raw text"), 12345 + len(user)
    cases = [
        ("constructor", lambda: HalvexClient(addr, port, port, user, password), []),
        ("constructor-defaults", lambda: HalvexClient(addr, None, None, None, None), []),
        ("constructor-ipv6", lambda: HalvexClient(addr6, port, None, user, None), []),
        ("constructor-keywords", lambda: HalvexClient(
            server=addr, control_port=port, transport_channel_port=None, username=user,
            password=password), []),
        ("invalid-address", raising(lambda: HalvexClient(host, None, None, None, None),
                                    ValueError), []),
        ("port-out-of-range", raising(lambda: HalvexClient(addr, bad_port, None, None, None),
                                      OverflowError), []),
        ("port-beyond-64-bits", raising(lambda: HalvexClient(addr, None, huge, None, None),
                                        OverflowError), []),
        ("port-wrong-type", raising(lambda: HalvexClient(addr, user, None, None, None),
                                    TypeError), []),
        ("server-wrong-type", raising(lambda: HalvexClient(port, None, None, None, None),
                                      TypeError), []),
        ("username-line-break", raising(lambda: HalvexClient(addr, None, None, lf, password),
                                        ValueError), []),
        ("password-surrogate", raising(lambda: HalvexClient(addr, None, None, user, surrogate),
                                       UnicodeEncodeError), []),
        ("constructor-missing", raising(lambda: HalvexClient(addr), TypeError), []),
        ("connect-refused", raising(refused.connect, OSError), [refused]),
        # Against a server that closes every connection at once; the readers
        # print "Connection closed." to /dev/null.
        ("connect-disconnect", lambda: (cycling.connect(), cycling.disconnect()), [cycling],
         (1,)),
        ("disconnect-not-connected", raising(idle.disconnect, RuntimeError), [idle]),
        ("command_tag", lambda: wire.command_tag, [wire]),
        ("print_details", wire.print_details, [wire], (1,)),
        ("send_raw_command", lambda: wire.send_raw_command(message), [wire, message]),
        ("send_raw_command-keyword", lambda: wire.send_raw_command(message=message),
         [wire, message]),
        ("send_raw_command-wrong-type",
         raising(lambda: wire.send_raw_command(not_text), TypeError), [wire, not_text]),
        ("send_raw_command-surrogate",
         raising(lambda: wire.send_raw_command(surrogate), UnicodeEncodeError), [wire]),
        ("send_raw_command-missing", raising(wire.send_raw_command, TypeError), [wire]),
        ("send_raw_command-not-connected",
         raising(lambda: idle.send_raw_command(message), RuntimeError), [idle, message]),
        ("send_raw_command-send-error",
         raising(lambda: broken.send_raw_command(message), OSError), [broken, message]),
        ("send_command-wrong-type",
         raising(lambda: wire.send_command(message), TypeError), [wire, message]),
        ("Command", raising(Command, TypeError), [Command]),
    ]
    for case, call, extra, *quiet in cases:
        yield case, call, watch + extra, *quiet


SURFACES = {"constructor": constructor_cases, "method": method_cases,
            "variant": variant_cases}


def leaks(surface, variant=None):
    cases = client_cases() if surface == "client" else SURFACES[surface](T.BY_VARIANT[variant])
    return [measure(case, call, watched, *quiet) for case, call, watched, *quiet in cases]


wire = HalvexClient("127.0.0.1", port, None, T.USERNAME, T.PASSWORD)
wire.connect()
broken = HalvexClient("127.0.0.1", port, None, T.USERNAME, T.PASSWORD)
broken.connect()
idle = HalvexClient("127.0.0.1", port, None, T.USERNAME, T.PASSWORD)
refused = HalvexClient("127.0.0.1", REFUSED_PORT, None, None, None)
cycling = HalvexClient("127.0.0.1", CLOSING_PORT, None, None, None)
'''

BREAK = """
import time
deadline = time.monotonic() + 15
for _ in range(1000):
    try:
        broken.send_raw_command('probe')
    except OSError:
        break
    if time.monotonic() > deadline:
        raise AssertionError('sending never failed after the reset')
    time.sleep(0.01)
else:
    raise AssertionError('sending never failed after the reset')
"""


@pytest.fixture(scope="module")
def harness():
    """A child interpreter with the harness loaded and its clients: `wire`
    (connected), `broken` (its connection reset by the server), `idle`
    (never connected), `refused` (aimed at a port that refuses) and `cycling`
    (aimed at a server that closes every connection)."""
    refused = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    refused.bind(("127.0.0.1", 0))
    server = LoopbackServer()
    closing = LoopbackServer(on_accept="close")
    ch = Child(server.port)
    try:
        code = (
            HARNESS.replace("TESTS_DIR", repr(os.path.dirname(__file__)))
            .replace("CALLS_", str(CALLS))
            .replace("SLACK_", repr(SLACK))
            .replace("REFUSED_PORT", str(refused.getsockname()[1]))
            .replace("CLOSING_PORT", str(closing.port))
        )
        ch.run(code)
        server.peer(0)
        server.peer(1).reset()
        ch.run(BREAK, timeout=30)
        yield ch
    finally:
        ch.kill()
        server.stop()
        closing.stop()
        refused.close()


def check(harness, surface, variant=None):
    before = len(harness.results())
    harness.run(f"emit(leaks({surface!r}, {variant!r}))", timeout=600)
    (report,) = harness.results()[before:]
    assert report, "no case ran"
    leaked = [
        r for r in report
        if r["refs"] or any(r[k] > limit for k, limit in SLACK.items())
    ]
    assert not leaked, leaked


@pytest.mark.parametrize("surface", ["constructor", "method", "variant"])
@pytest.mark.parametrize("cmd", COMMANDS, ids=str)
def test_command_calls_leak_nothing(harness, cmd, surface):
    check(harness, surface, cmd.variant)


def test_client_calls_leak_nothing(harness):
    check(harness, "client")
