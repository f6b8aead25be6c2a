"""The reader thread: what a client prints for the bytes the server sends.

The reader writes to descriptor 1 from its own thread, so the client runs in a
child interpreter (conftest.Child) and the test reads the child's output.
"""

import time

import pytest

from conftest import Child, LoopbackServer

CLOSED = "Connection closed."
CONNECT = "c = HalvexClient('127.0.0.1', port, None, None, None)\nc.connect()"

# Characters with the Unicode White_Space property.
WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000"
)


def expected_line(raw):
    """What the reader prints for the raw bytes of one line."""
    return "Received: " + raw.decode("utf-8", "replace").strip(WHITE_SPACE)


def printed_lines(chunks, end="close", pause=0.0):
    """Connect a client in a child, send `chunks`, end the connection with
    `end` ("close" or "reset") and return every line the child printed."""
    with LoopbackServer() as server:
        child = Child(server.port)
        try:
            child.run(CONNECT)
            peer = server.peer(0)
            for chunk in chunks:
                peer.send(chunk)
                if pause:
                    time.sleep(pause)  # let the chunk arrive on its own
            getattr(peer, end)()
            child.wait_for(CLOSED)
            lines = child.finish()
            assert child.returncode == 0, child.stderr
            assert child.stderr == b""
            return lines
        finally:
            child.kill()


def table_output(raw_lines):
    """Send every raw line (a line feed appended), then "end" and close."""
    data = b"".join(raw + b"\n" for raw in raw_lines) + b"end\n"
    lines = printed_lines([data])
    assert lines[-2:] == ["Received: end", CLOSED]
    assert len(lines) == len(raw_lines) + 2
    return lines


# --------------------------------------------------------------------------


def test_lines_trimmed_last_line_without_line_feed_and_close():
    assert printed_lines([b"OK\r\n", b"  \r\n", b"last"]) == [
        "Received: OK",
        "Received: ",
        "Received: last",
        CLOSED,
    ]


def test_exact_bytes_written():
    with LoopbackServer() as server:
        child = Child(server.port)
        try:
            child.run(CONNECT)
            server.peer(0).send(b"OK\r\n  \r\nlast")
            server.peer(0).close()
            child.wait_for(CLOSED)
            child.finish()
        finally:
            child.kill()
    assert child.printed() == b"Received: OK\nReceived: \nReceived: last\nConnection closed.\n"


def test_reset_by_server_ends_reader(child, server):
    ch = child(server.port)
    ch.run(CONNECT)
    peer = server.peer(0)
    peer.send(b"before reset\n")
    ch.wait_for("Received: before reset")
    peer.reset()
    ch.wait_for(CLOSED)
    assert ch.finish() == ["Received: before reset", CLOSED]
    assert ch.stderr == b""


def test_close_without_any_data():
    assert printed_lines([]) == [CLOSED]


# --------------------------------------------------------------------------
# White space

WHITE_SPACE_CASES = (
    [(ch.encode() + b"x" + ch.encode(), "Received: x") for ch in WHITE_SPACE if ch != "\n"]
    + [
        (b"", "Received: "),
        (b"\r", "Received: "),
        (b"\r\r", "Received: "),
        (WHITE_SPACE.replace("\n", "").encode(), "Received: "),
        (b"  a \t b  ", "Received: a \t b"),
        ("a\u3000\u00a0b".encode(), "Received: a\u3000\u00a0b"),
        (b"a\rb", "Received: a\rb"),
        # Not White_Space: kept.
        ("\u200bx\u200b".encode(), "Received: \u200bx\u200b"),
        ("\ufeffx\ufeff".encode(), "Received: \ufeffx\ufeff"),
        ("\u180ex\u180e".encode(), "Received: \u180ex\u180e"),
        ("\u00adx\u00ad".encode(), "Received: \u00adx\u00ad"),
        (b"\x1cx\x1f", "Received: \x1cx\x1f"),
        (b"\x1dx\x1e", "Received: \x1dx\x1e"),
        (b"\x00x\x00", "Received: \x00x\x00"),
        (b"\x7fx", "Received: \x7fx"),
    ]
)


@pytest.fixture(scope="module")
def white_space_output():
    return table_output([raw for raw, _ in WHITE_SPACE_CASES])


@pytest.mark.parametrize(
    "index, raw, expected",
    [(i, raw, exp) for i, (raw, exp) in enumerate(WHITE_SPACE_CASES)],
    ids=[repr(raw) for raw, _ in WHITE_SPACE_CASES],
)
def test_white_space_trimming(white_space_output, index, raw, expected):
    assert white_space_output[index] == expected


# --------------------------------------------------------------------------
# Bytes that are not UTF-8: replaced, and reading goes on

INVALID_UTF8_CASES = [
    b"\xff",
    b"a\xffb",
    b"\xfe\xff",
    b"\x80",
    b"\xbf\x80x",
    b"\xc0\x80",
    b"\xc1\xbf",
    b"\xc3(",
    b"\xc3",
    b"\xe0\x80\x80",
    b"\xe0\xa0",
    b"\xe2\x82",
    b"a\xe2\x82\xacb\xe2\x82",
    b"\xed\xa0\x80",
    b"\xed\xbf\xbf",
    b"\xf0\x90\x80",
    b"\xf0\x80\x80\x80",
    b"\xf4\x90\x80\x80",
    b"\xf5\x80\x80\x80",
    b"\xf8\x88\x80\x80\x80",
    b"\xa0x\xa0",
    b"\x85x\x85",
    b"\xff \r",
    b"  \xff  ",
    b"\xe3\x80 x",
    b"ok \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80 \xff end",
    # Valid edge code points, for contrast.
    b"\xed\x9f\xbf",
    b"\xee\x80\x80",
    b"\xf4\x8f\xbf\xbf",
    b"\xf0\x90\x80\x80",
]


@pytest.fixture(scope="module")
def invalid_utf8_output():
    return table_output(INVALID_UTF8_CASES)


@pytest.mark.parametrize(
    "index, raw", list(enumerate(INVALID_UTF8_CASES)), ids=[repr(r) for r in INVALID_UTF8_CASES]
)
def test_invalid_utf8_replaced(invalid_utf8_output, index, raw):
    assert invalid_utf8_output[index] == expected_line(raw)


def test_invalid_utf8_does_not_end_reader(invalid_utf8_output):
    assert invalid_utf8_output[-2:] == ["Received: end", CLOSED]
    assert invalid_utf8_output.count(CLOSED) == 1


def test_truncated_sequence_at_end_of_stream():
    assert printed_lines([b"ok\n", b"tail\xe2\x82"]) == [
        "Received: ok",
        "Received: tail\ufffd",
        CLOSED,
    ]


# --------------------------------------------------------------------------
# Buffering: long lines, lines split over segments, many lines

LONG_LINES = [
    b"x" * 8190,
    b"x" * 8191,
    b"x" * 8192,
    b"x" * 8193,
    b"y" * 8191 + b"\r",
    b"z" * 16384,
    b"w" * 100_000,
    b"a" + "\u00e9".encode() * 5000,
    b"a" + "\u20ac".encode() * 4000,
    b"ab" + "\u20ac".encode() * 4000,
    b"a" + "\U0001F600".encode() * 3000,
    b"ab" + "\U0001F600".encode() * 3000,
    b" " * 9000 + b"middle" + "\u3000".encode() * 3000,
    b"q" * 8190 + b"\xff" + b"q" * 10,
]


@pytest.fixture(scope="module")
def long_line_output():
    return table_output(LONG_LINES)


@pytest.mark.parametrize(
    "index, raw",
    list(enumerate(LONG_LINES)),
    ids=[f"{len(r)}-bytes-{r[:2]!r}" for r in LONG_LINES],
)
def test_long_line(long_line_output, index, raw):
    assert long_line_output[index] == expected_line(raw)


def test_line_split_across_segments():
    chunks = [
        b"hel",
        b"lo \xc3",
        b"\xa9t\xc3",
        b"\xa9\r",
        b"\n",
        b"\xe3\x80",
        b"\x80mid\xe3",
        b"\x80\x80\n",
        b"second",
        b" line\n",
        b"\xf0\x9f",
        b"\x98",
        b"\x80",
    ]
    assert printed_lines(chunks, pause=0.05) == [
        "Received: hello \u00e9t\u00e9",
        "Received: mid",
        "Received: second line",
        "Received: \U0001F600",
        CLOSED,
    ]


def test_many_lines_in_order():
    lines = [f"line {i} " + "." * (i % 50 + 1) for i in range(5000)]
    data = "".join(line + "\n" for line in lines).encode()
    assert printed_lines([data]) == ["Received: " + line for line in lines] + [CLOSED]


def test_two_readers_never_mix_within_a_line(child, server):
    ch = child(server.port)
    ch.run(CONNECT + "\nc.connect()")
    first, second = server.peer(0), server.peer(1)
    count = 2000
    a = [f"A{i} " + "a" * 150 for i in range(count)]
    b = [f"B{i} " + "b" * 150 for i in range(count)]
    first.send("".join(x + "\n" for x in a).encode())
    second.send("".join(x + "\n" for x in b).encode())
    first.close()
    second.close()
    ch.wait_for(CLOSED, count=2)
    out = ch.finish()
    assert [x for x in out if x.startswith("Received: A")] == ["Received: " + x for x in a]
    assert [x for x in out if x.startswith("Received: B")] == ["Received: " + x for x in b]
    assert len(out) == 2 * count + 2


# --------------------------------------------------------------------------
# Reader life: independent of the client object


@pytest.mark.parametrize("action", ["c.disconnect()", "del c\nimport gc\ngc.collect()"])
def test_lines_still_printed_after_client_lets_go(child, server, action):
    ch = child(server.port)
    ch.run(CONNECT)
    peer = server.peer(0)
    peer.send(b"before\n")
    ch.wait_for("Received: before")
    ch.run(action)
    peer.send(b"after\n")
    ch.wait_for("Received: after")
    # The reader still holds the socket: the server has seen no close.
    assert not peer.saw_eof
    peer.close()
    ch.wait_for(CLOSED)
    assert ch.finish() == ["Received: before", "Received: after", CLOSED]


def test_two_connects_give_two_readers(child, server):
    ch = child(server.port)
    ch.run(CONNECT + "\nc.connect()")
    first, second = server.peer(0), server.peer(1)
    first.send(b"one\n")
    ch.wait_for("Received: one")
    second.send(b"two\n")
    ch.wait_for("Received: two")
    first.close()
    ch.wait_for(CLOSED)
    second.send(b"three\n")
    ch.wait_for("Received: three")
    ch.run("emit(c.send_raw_command('x'))")
    assert second.wait_lines(1) == b"x COMMANDTAG=0\n"
    second.close()
    ch.wait_for(CLOSED, count=2)
    assert ch.finish() == [
        "Received: one",
        "Received: two",
        CLOSED,
        "Received: three",
        CLOSED,
    ]
    assert ch.results() == [0]


def test_reader_ends_when_stdout_cannot_be_written(child, server):
    ch = child(server.port)
    ch.run(CONNECT + "\nc.disconnect()\nos.dup2(os.open('/dev/full', os.O_WRONLY), 1)")
    peer = server.peer(0)
    peer.send(b"lost\n")
    # The reader gives up and lets go of its socket: the server sees it close.
    peer.wait_eof()
    ch.run("emit('alive')")
    ch.finish()
    assert ch.results() == ["alive"]
    assert ch.returncode == 0
    assert ch.stderr != b""
