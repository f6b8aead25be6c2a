"""Faults around a client: signals during sends, connections reset in the
middle of a line, a standard output that is closed or whose pipe has no
reader, and the details line printed while the reader prints.

Every client runs in a child interpreter (conftest.Child): the faults are
applied to that process, and its standard output is what the test reads.
"""

import array
import errno
import fcntl
import os
import socket
import struct
import termios
import threading
import time

import pytest

from conftest import WAIT

CLOSED = "Connection closed."
CONNECT = "c = HalvexClient('127.0.0.1', port, None, None, None)\nc.connect()"
MIB = 1 << 20


def wait_until(predicate, what, timeout=WAIT):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(0.01)


def send_error(code):
    """The text of a send failure with system error `code`."""
    return f"Failed to send message: {os.strerror(code)} (os error {code})"


# --------------------------------------------------------------------------
# Signals arriving while large lines are sent

# Each sender sends line `i` (i counting from 0) and returns the text it must
# carry before the tag suffix.  The bulk of every line is 1 MiB.
SENDERS = {
    "group-A-method": (
        "lambda i, body: c.call_make(7, '%04d' % i + body, None, None, None, None, None)",
        lambda i, body: f"CallMake 7 {i:04d}{body} TimeOut=30000 Privacy=0 Screen=1",
    ),
    "group-B-method": (
        "lambda i, body: c.play_file(1, '%04d' % i + body, None, None, None, None, None)",
        lambda i, body: f"PlayFile 1 {i:04d}{body}",
    ),
    "send_command": (
        "lambda i, body: c.send_command(Command.call_clear(3, '%04d' % i + body))",
        lambda i, body: f"CallClear 3 Reason={i:04d}{body}",
    ),
}

_SIGNAL_STORM = """
import signal
from halvex_rs import commands; Command = commands.Command
hits = [0]
def on_alarm(signum, frame):
    hits[0] += 1
signal.signal(signal.SIGALRM, on_alarm)
send = {sender}
body = 'b' * {size}
errors = []
signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)
try:
    for i in range({lines}):
        try:
            send(i, body)
        except BaseException as e:
            errors.append(repr(e)[:300])
            break
finally:
    signal.setitimer(signal.ITIMER_REAL, 0, 0)
emit([errors, c.command_tag, hits[0]])
"""


@pytest.mark.parametrize("sender", list(SENDERS))
def test_signals_during_large_sends(child, server, sender):
    code, text = SENDERS[sender]
    lines, body = 24, "b" * MIB
    ch = child(server.port)
    ch.run(CONNECT)
    peer = server.peer(0)
    ch.run(_SIGNAL_STORM.format(sender=code, size=MIB, lines=lines), timeout=120)
    ((errors, tag, hits),) = ch.results()
    assert errors == []
    assert tag == lines
    # The timer fired while the lines went out (the handler runs between sends).
    assert hits > 0
    expected = b"".join(
        f"{text(i, body)} COMMANDTAG={i}\n".encode() for i in range(lines)
    )
    data = peer.wait_lines(lines, timeout=60)
    assert len(data) == len(expected)
    assert data == expected
    # The reader was not disturbed either.
    peer.send(b"still reading\n")
    ch.wait_for("Received: still reading")
    assert CLOSED not in ch.lines()
    ch.finish()
    assert ch.returncode == 0, ch.stderr


def test_signals_while_the_reader_waits(child, server):
    """SIGALRM can reach no thread but the reader: where the reader lets it
    in, it interrupts the reader's reads, and every line still comes whole."""
    ch = child(server.port)
    # The reader thread is started unblocked; then the main thread blocks
    # SIGALRM, so that the reader is the only thread that can take it.
    ch.run(
        CONNECT + "\n"
        "import signal\n"
        "signal.signal(signal.SIGALRM, lambda *a: None)\n"
        "signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGALRM})\n"
        "signal.setitimer(signal.ITIMER_REAL, 0.0005, 0.0005)\n"
    )
    peer = server.peer(0)
    lines = [f"line {i} " + "r" * (i % 300 + 1) for i in range(300)]
    for i, line in enumerate(lines):
        # Pieces sent apart, so that the reader waits in the middle of a line.
        data = (line + "\n").encode()
        peer.send(data[: len(data) // 2])
        time.sleep(0.001)
        peer.send(data[len(data) // 2 :])
        if i % 50 == 49:
            ch.wait_for("Received: " + line)
    ch.wait_for("Received: " + lines[-1])
    ch.run("signal.setitimer(signal.ITIMER_REAL, 0, 0)\nemit(c.send_raw_command('alive'))")
    assert peer.wait_lines(1) == b"alive COMMANDTAG=0\n"
    peer.close()
    ch.wait_for(CLOSED)
    assert ch.finish() == ["Received: " + line for line in lines] + [CLOSED]
    assert ch.stderr == b""


# --------------------------------------------------------------------------
# The server resets the connection in the middle of a line


class StalledServer:
    """Accepts connections and reads only what the test asks for."""

    def __init__(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # A small receive buffer (inherited by accepted sockets) keeps the
        # data in flight far below the size of the lines sent.
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(8)
        self.listener.settimeout(WAIT)
        self.port = self.listener.getsockname()[1]

    def accept(self):
        conn, _ = self.listener.accept()
        conn.settimeout(WAIT)
        return conn

    @staticmethod
    def read(conn, count):
        data = bytearray()
        while len(data) < count:
            chunk = conn.recv(min(count - len(data), 1 << 16))
            if not chunk:
                break
            data += chunk
        return bytes(data)

    @staticmethod
    def read_line(conn):
        data = bytearray()
        while not data.endswith(b"\n"):
            chunk = conn.recv(1)
            if not chunk:
                break
            data += chunk
        return bytes(data)

    @staticmethod
    def reset(conn):
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        conn.close()

    def close(self):
        self.listener.close()


@pytest.fixture
def stalled():
    s = StalledServer()
    yield s
    s.close()


LINE = 16 * MIB
# (call in the child, the text of its line, failure text of the fatal error)
MID_LINE = {
    "send_raw_command": ("c.send_raw_command('r' * LINE)", "r" * LINE, None),
    "group-A-method": ("c.call_clear(9, 'a' * LINE)", "CallClear 9 Reason=" + "a" * LINE,
                       "call_clear failed"),
    "group-B-method": ("c.play_file(2, 'p' * LINE, None, None, None, None, None)",
                       "PlayFile 2 " + "p" * LINE, None),
    "send_command": ("c.send_command(Command.document_add_file(4, 'd' * LINE, None))",
                     "DocumentAddFile 4 " + "d" * LINE, None),
}

_SEND_INTO_RESET = """
import signal
signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # a broken-pipe signal would kill us
before = c.command_tag
try:
    {call}
except BaseException as e:
    emit([before, type(e).__name__, isinstance(e, Exception), str(e), c.command_tag])
else:
    emit([before, 'returned', True, '', c.command_tag])
"""


@pytest.mark.parametrize("surface", list(MID_LINE))
def test_server_resets_while_a_line_is_sent(child, stalled, surface):
    call, text, failure = MID_LINE[surface]
    ch = child(stalled.port)
    ch.run(CONNECT + f"\nfrom halvex_rs import commands; Command = commands.Command\nLINE = {LINE}\n"
           "c.send_raw_command('first')")
    conn = stalled.accept()
    assert stalled.read_line(conn) == b"first COMMANDTAG=0\n"
    # The child blocks in the send (it holds its interpreter lock), so it is
    # driven from a thread while the server reads a part of the line.
    sending = threading.Thread(
        target=ch.run, args=(_SEND_INTO_RESET.format(call=call), 60))
    sending.start()
    prefix = stalled.read(conn, MIB)
    stalled.reset(conn)
    sending.join(60)
    assert not sending.is_alive()
    assert prefix == text.encode()[:MIB]

    ((before, kind, is_exception, message, after),) = ch.results()
    assert (before, after) == (1, 1)  # the failed line took no tag
    codes = (errno.ECONNRESET, errno.EPIPE)
    if failure is None:
        assert (kind, is_exception) == ("OSError", True), message
        assert message in [send_error(code) for code in codes]
    else:
        assert (kind, is_exception) == ("FatalError", False), message
        assert message.startswith(failure + ": ")
        assert any(send_error(code) in message for code in codes), message
    # The reader saw the reset too.
    ch.wait_for(CLOSED)
    # The client connects again and goes on with the tag that failed.
    ch.run("c.connect()\nemit(c.send_raw_command('again'))")
    conn = stalled.accept()
    assert stalled.read_line(conn) == b"again COMMANDTAG=1\n"
    conn.close()
    ch.wait_for(CLOSED, count=2)
    assert ch.results()[1:] == [1]
    assert ch.finish() == [CLOSED, CLOSED]
    assert ch.returncode == 0, ch.stderr


def test_server_resets_in_the_middle_of_a_line_it_sends(child, server):
    ch = child(server.port)
    ch.run(CONNECT)
    peer = server.peer(0)
    peer.send(b"complete one\ncomplete two\n")
    ch.wait_for("Received: complete two")
    peer.send("half a line \u20ac".encode()[:-1])
    peer.reset()
    ch.wait_for(CLOSED)
    # The process and the client go on.
    ch.run("c.connect()\nemit(c.send_raw_command('after reset'))")
    second = server.peer(1)
    second.send(b"fresh\n")
    ch.wait_for("Received: fresh")
    second.close()
    ch.wait_for(CLOSED, count=2)
    assert ch.finish() == [
        "Received: complete one", "Received: complete two", CLOSED, "Received: fresh", CLOSED,
    ]
    assert ch.results() == [0]
    assert second.data() == b"after reset COMMANDTAG=0\n"


# --------------------------------------------------------------------------
# Standard output closed, or a pipe whose reading end has gone


_FIND_SOCKET = """
import array, fcntl, termios
sock = next(int(fd) for fd in os.listdir('/proc/self/fd')
            if os.readlink('/proc/self/fd/' + fd).startswith('socket:'))
def unread():
    n = array.array('i', [0])
    fcntl.ioctl(sock, termios.FIONREAD, n)
    return n[0]
"""

_WAIT_UNREAD = """
deadline = time.monotonic() + 20
while unread():
    if time.monotonic() > deadline:
        raise AssertionError('the reader stopped reading')
    time.sleep(0.01)
"""


def unsent(sock):
    n = array.array("i", [0])
    fcntl.ioctl(sock.fileno(), termios.TIOCOUTQ, n)
    return n[0]


def test_closed_stdout_drops_lines_and_reading_goes_on(child, server):
    ch = child(server.port)
    ch.run(CONNECT + "\n" + _FIND_SOCKET)
    peer = server.peer(0)
    peer.send(b"before\n")
    ch.wait_for("Received: before")
    # Nothing in the child opens a file while descriptor 1 is closed (a new
    # file would take its number).
    ch.run("os.close(1)")
    dropped = [f"dropped {i} " + "d" * 90 for i in range(20_000)]
    # Then a fence larger than the reader's buffer: once the socket holds
    # no unread byte, every dropped line has been handled by the reader.
    fence = [f"fence {i} " + "f" * 90 for i in range(10_000)]
    peer.send("".join(line + "\n" for line in dropped + fence).encode())
    wait_until(lambda: unsent(peer.sock) == 0, "the server's data to be delivered")
    ch.run(_WAIT_UNREAD, timeout=30)
    # The client and the process keep working.
    ch.run("emit(c.send_raw_command('while closed'))")
    assert peer.wait_lines(1) == b"while closed COMMANDTAG=0\n"
    ch.run("emit('alive')")
    # Descriptor 1 back: the same reader prints again.
    ch.run("os.dup2(_marks, 1)")
    peer.send(b"after\n")
    ch.wait_for("Received: after")
    peer.close()
    ch.wait_for(CLOSED)
    lines = ch.finish()
    assert ch.results() == [0, "alive"]
    assert lines[0] == "Received: before"
    assert lines[-2:] == ["Received: after", CLOSED]
    # No dropped line shows up late; fence lines still in the reader's hands
    # when descriptor 1 came back may be printed, whole and once.
    middle = lines[1:-2]
    fenced = {"Received: " + line for line in fence}
    assert all(line in fenced for line in middle), [x for x in middle if x not in fenced][:3]
    assert len(set(middle)) == len(middle)
    assert ch.stderr == b""
    assert ch.returncode == 0


def test_stdout_pipe_without_reader_ends_the_reader(child, server):
    ch = child(server.port)
    ch.run(CONNECT)
    peer = server.peer(0)
    peer.send(b"before\n")
    ch.wait_for("Received: before")
    ch.run("r, w = os.pipe()\nos.dup2(w, 1)\nos.close(w)\nos.close(r)")
    peer.send(b"lost\n")
    wait_until(lambda: ch.stderr != b"", "the reader's report on standard error")
    # The client and the process keep working.
    ch.run("emit(c.send_raw_command('still sending'))")
    assert peer.wait_lines(1) == b"still sending COMMANDTAG=0\n"
    ch.run(
        "try:\n"
        "    c.print_details()\n"
        "except Exception as e:\n"
        "    emit(['exception', repr(e)])\n"
        "except BaseException as e:\n"
        "    emit([type(e).__name__, str(e) != ''])\n"
        "else:\n"
        "    emit('printed')"
    )
    # The reader has let go of its socket: once the client lets go of its
    # own, the server sees the connection close.
    ch.run("c.disconnect()")
    peer.wait_eof()
    # With descriptor 1 writable again, a new connection's reader prints.
    ch.run("os.dup2(_marks, 1)\nc.connect()")
    second = server.peer(1)
    second.send(b"new reader\n")
    ch.wait_for("Received: new reader")
    second.close()
    ch.wait_for(CLOSED)
    assert ch.finish() == ["Received: before", "Received: new reader", CLOSED]
    assert ch.results() == [0, ["FatalError", True]]
    assert ch.returncode == 0


# --------------------------------------------------------------------------
# print_details while the reader prints


def test_print_details_and_reader_lines_never_mix(child, server):
    # Both kinds of line are longer than a pipe writes in one piece.
    username, password = "u" * 6000, "pw"
    details = (
        f"HalvexClient(server: 127.0.0.1, control_port: {server.port}, "
        f"transport_channel_port: 1235, username: {username}, password: {password})"
    )
    ch = child(server.port)
    ch.run(f"c = HalvexClient('127.0.0.1', port, None, {username!r}, {password!r})\n"
           "c.connect()")
    peer = server.peer(0)
    sent = [f"L{i:04d} " + "x" * 6000 for i in range(800)]
    feeding = threading.Thread(
        target=peer.send, args=("".join(line + "\n" for line in sent).encode(),))
    feeding.start()
    ch.run("for _ in range(800):\n    c.print_details()", timeout=120)
    feeding.join(WAIT)
    assert not feeding.is_alive()
    ch.wait_for("Received: " + sent[-1], timeout=60)
    peer.close()
    ch.wait_for(CLOSED)
    lines = ch.finish()
    assert lines[-1] == CLOSED
    received = [line for line in lines[:-1] if line != details]
    assert received == ["Received: " + line for line in sent]
    assert lines.count(details) == 800
    assert ch.returncode == 0, ch.stderr
