"""send_raw_command: the line on the wire, command tags and send failures."""

import errno
import os
import re

import pytest

from halvex_rs import client as _client

HalvexClient = _client.HalvexClient

NO_CONNECTION = "No active connection to send message"


@pytest.fixture
def connected(server):
    """A client connected to `server`, and the server's side of it."""
    c = HalvexClient("127.0.0.1", server.port, None, None, None)
    c.connect()
    return c, server.peer(0)


@pytest.mark.parametrize(
    "texts, wire",
    [
        (["hello", "world", "x"], b"hello COMMANDTAG=0\nworld COMMANDTAG=1\nx COMMANDTAG=2\n"),
        ([""], b" COMMANDTAG=0\n"),
        (["a\nb"], b"a\nb COMMANDTAG=0\n"),
        (["a\r\nb\n"], b"a\r\nb\n COMMANDTAG=0\n"),
        (["  padded\t"], b"  padded\t COMMANDTAG=0\n"),
        (["a\x00b"], b"a\x00b COMMANDTAG=0\n"),
        (["h\u00e9 \u20ac \U0001F600"], "h\u00e9 \u20ac \U0001F600 COMMANDTAG=0\n".encode()),
        (["CallMake 7 1234 COMMANDTAG=99"], b"CallMake 7 1234 COMMANDTAG=99 COMMANDTAG=0\n"),
        (["same", "same"], b"same COMMANDTAG=0\nsame COMMANDTAG=1\n"),
    ],
    ids=["three", "empty", "line-feed", "crlf", "white-space", "nul", "non-ascii", "tag-in-text", "repeat"],
)
def test_bytes_on_the_wire(connected, texts, wire):
    c, peer = connected
    tags = [c.send_raw_command(text) for text in texts]
    assert tags == list(range(len(texts)))
    assert all(type(tag) is int for tag in tags)
    assert c.command_tag == len(texts)
    assert peer.wait_lines(wire.count(b"\n")) == wire


def test_keyword_argument(connected):
    c, peer = connected
    assert c.send_raw_command(message="kw") == 0
    assert peer.wait_lines(1) == b"kw COMMANDTAG=0\n"


@pytest.mark.parametrize(
    "args, kwargs, error, message",
    [
        ((b"bytes",), {}, TypeError, "argument 'message': "),
        ((bytearray(b"x"),), {}, TypeError, "argument 'message': "),
        ((1,), {}, TypeError, "argument 'message': "),
        ((None,), {}, TypeError, "argument 'message': "),
        ((["x"],), {}, TypeError, "argument 'message': "),
        ((), {}, TypeError, None),
        (("a", "b"), {}, TypeError, None),
        ((), {"text": "a"}, TypeError, None),
        (("a",), {"message": "a"}, TypeError, None),
        (("a\ud800",), {}, UnicodeEncodeError, None),
    ],
)
def test_rejected_arguments_send_nothing(connected, args, kwargs, error, message):
    c, peer = connected
    with pytest.raises(error) as info:
        c.send_raw_command(*args, **kwargs)
    if message is not None:
        assert str(info.value).startswith(message)
        assert len(str(info.value)) > len(message)
    assert c.command_tag == 0
    assert c.send_raw_command("next") == 0
    assert peer.wait_lines(1) == b"next COMMANDTAG=0\n"


def test_type_checked_before_connection():
    c = HalvexClient("127.0.0.1", None, None, None, None)
    with pytest.raises(TypeError, match="^argument 'message': "):
        c.send_raw_command(1)


def test_not_connected():
    c = HalvexClient("127.0.0.1", None, None, None, None)
    for _ in range(2):
        with pytest.raises(RuntimeError) as info:
            c.send_raw_command("x")
        assert type(info.value) is RuntimeError
        assert str(info.value) == NO_CONNECTION
    assert c.command_tag == 0


def test_after_disconnect(connected):
    c, peer = connected
    assert c.send_raw_command("a") == 0
    c.disconnect()
    with pytest.raises(RuntimeError) as info:
        c.send_raw_command("b")
    assert str(info.value) == NO_CONNECTION
    assert c.command_tag == 1
    assert peer.wait_lines(1) == b"a COMMANDTAG=0\n"


def test_tags_continue_across_connections(server):
    c = HalvexClient("127.0.0.1", server.port, None, None, None)
    c.connect()
    assert [c.send_raw_command("a"), c.send_raw_command("b")] == [0, 1]
    c.disconnect()
    assert c.command_tag == 2
    c.connect()
    assert c.command_tag == 2
    assert c.send_raw_command("c") == 2
    c.connect()
    assert c.send_raw_command("d") == 3
    assert server.peer(0).wait_lines(2) == b"a COMMANDTAG=0\nb COMMANDTAG=1\n"
    assert server.peer(1).wait_lines(1) == b"c COMMANDTAG=2\n"
    assert server.peer(2).wait_lines(1) == b"d COMMANDTAG=3\n"


def test_two_clients_count_independently(server):
    a = HalvexClient("127.0.0.1", server.port, None, None, None)
    b = HalvexClient("127.0.0.1", server.port, None, None, None)
    a.connect()
    peer_a = server.peer(0)
    b.connect()
    peer_b = server.peer(1)
    assert [a.send_raw_command("a"), a.send_raw_command("a"), b.send_raw_command("b")] == [0, 1, 0]
    assert peer_a.wait_lines(2) == b"a COMMANDTAG=0\na COMMANDTAG=1\n"
    assert peer_b.wait_lines(1) == b"b COMMANDTAG=0\n"


# --------------------------------------------------------------------------
# Failures after the server dropped the connection, with SIGPIPE at its
# default action in the child, so that a broken-pipe signal would kill it.

_SEND_UNTIL_FAILURE = """
import signal
signal.signal(signal.SIGPIPE, signal.SIG_DFL)
attempts = []
deadline = time.monotonic() + 15
for i in range(1000):
    before = c.command_tag
    try:
        tag = c.send_raw_command('probe')
    except BaseException as e:
        attempts.append([before, type(e).__name__, str(e), c.command_tag])
        if sum(a[1] != 'int' for a in attempts) == 3:
            break
    else:
        attempts.append([before, 'int', tag, c.command_tag])
    if time.monotonic() > deadline:
        break
    time.sleep(0.01)
emit(attempts)
"""


@pytest.mark.parametrize("end", ["reset", "close"])
def test_send_after_server_dropped_connection(child, server, end):
    ch = child(server.port)
    ch.run("c = HalvexClient('127.0.0.1', port, None, None, None)\nc.connect()")
    peer = server.peer(0)
    ch.run("emit(c.send_raw_command('first'))")
    assert peer.wait_lines(1) == b"first COMMANDTAG=0\n"
    getattr(peer, end)()
    ch.run(_SEND_UNTIL_FAILURE, timeout=60)
    (attempts,) = ch.results()[1:]
    failures = [a for a in attempts if a[1] != "int"]
    assert len(failures) == 3, attempts
    # Successes (bytes taken by the OS before the reset arrived) advance the
    # tag; failures leave it where it was.
    tag = 1
    for before, kind, value, after in attempts:
        assert before == tag
        if kind == "int":
            assert value == tag
            tag += 1
        else:
            assert kind == "OSError", (kind, value)
            m = re.fullmatch(r"Failed to send message: (.+) \(os error (\d+)\)", value)
            assert m, value
            code = int(m.group(2))
            assert code in (errno.EPIPE, errno.ECONNRESET), value
            assert m.group(1) == os.strerror(code)
        assert after == tag
    # The client keeps its (broken) connection: disconnect succeeds once.
    ch.run("emit(c.disconnect())")
    # A new connection carries on with the tag that failed.
    ch.run("c.connect()\nemit(c.send_raw_command('again'))")
    assert server.peer(1).wait_lines(1) == f"again COMMANDTAG={tag}\n".encode()
    assert ch.results()[2:] == [None, tag]
    ch.finish()
    assert ch.returncode == 0, ch.stderr


# --------------------------------------------------------------------------
# Volume and resource use

_BULK = """
import signal
signal.signal(signal.SIGALRM, lambda *a: None)
signal.setitimer(signal.ITIMER_REAL, 0.002, 0.002)
c = HalvexClient('127.0.0.1', port, None, None, None)
c.connect()
bad = []
for i in range(100_000):
    tag = c.send_raw_command('line %d ' % i + 'p' * (i % 37))
    if tag != i:
        bad.append([i, tag])
        break
big = c.send_raw_command('B' * 8_000_000)
signal.setitimer(signal.ITIMER_REAL, 0, 0)
emit([bad, big, c.command_tag])
"""


def test_100000_lines_through_one_connection(child, server):
    count = 100_000
    ch = child(server.port)
    ch.run(_BULK, timeout=300)
    assert ch.results() == [[[], count, count + 1]]
    expected = b"".join(
        b"line %d %s COMMANDTAG=%d\n" % (i, b"p" * (i % 37), i) for i in range(count)
    ) + b"B" * 8_000_000 + b" COMMANDTAG=%d\n" % count
    data = server.peer(0).wait_lines(count + 1, timeout=120)
    assert len(data) == len(expected)
    assert data == expected
    # The reader saw nothing to print and did not stop (signals included).
    assert ch.finish() == []
    assert ch.returncode == 0, ch.stderr


_CYCLES = """
import time
def counts():
    return [len(os.listdir('/proc/self/fd')), len(os.listdir('/proc/self/task'))]
c = HalvexClient('127.0.0.1', port, None, None, None)
base = counts()
for _ in range(200):
    c.connect()
    c.disconnect()
deadline = time.monotonic() + 30
for _ in range(3000):
    if counts() == base or time.monotonic() > deadline:
        break
    time.sleep(0.01)
emit([base, counts(), c.command_tag])
"""


def test_connect_disconnect_cycles_leave_nothing_behind(child, make_server):
    server = make_server(on_accept="close")
    ch = child(server.port)
    ch.run(_CYCLES, timeout=120)
    ((base, after, tag),) = ch.results()
    assert after == base
    assert tag == 0
    ch.wait_for("Connection closed.", count=200)
    lines = ch.finish()
    assert lines == ["Connection closed."] * 200
    assert ch.returncode == 0, ch.stderr
