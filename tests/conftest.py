"""Shared fixtures: a loopback TCP server and child interpreters.

The client's reader thread writes to file descriptor 1 from its own thread, so
anything that checks printed lines runs the client in a child interpreter and
reads the child's standard output.  Every wait below has a time-out.
"""

import json
import os
import socket
import struct
import subprocess
import sys
import threading
import time

import pytest

WAIT = 20.0  # seconds; upper bound for any single wait on the network or a child
LIFETIME = 900.0  # seconds; a server thread gives up after this long in any case


# --------------------------------------------------------------------------
# Loopback server
# --------------------------------------------------------------------------


class Peer:
    """One accepted connection: records what the client sent, can answer."""

    def __init__(self, sock):
        self.sock = sock
        self._cond = threading.Condition()
        self._data = bytearray()
        self._newlines = 0
        self._eof = False  # the client's side closed (or the read failed)
        self._closing = False  # we closed or reset it ourselves
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # Closing wakes the receiving thread through shutdown(); the time-out
        # only bounds each receive and each send (sendall shares it).
        self.sock.settimeout(WAIT)
        self._thread = threading.Thread(target=self._receive, daemon=True)
        self._thread.start()

    def _receive(self):
        end = time.monotonic() + LIFETIME
        while time.monotonic() < end:
            with self._cond:
                if self._closing:
                    break
            try:
                chunk = self.sock.recv(1 << 16)
            except socket.timeout:
                continue
            except OSError:
                chunk = b""
            with self._cond:
                if not chunk:
                    self._eof = True
                    self._cond.notify_all()
                    break
                self._data += chunk
                self._newlines += chunk.count(b"\n")
                self._cond.notify_all()

    def _wait(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        with self._cond:
            while not predicate():
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError(
                        f"timed out after {timeout}s waiting for {what}; "
                        f"received so far: {bytes(self._data[-300:])!r}"
                    )
                self._cond.wait(remaining)

    def data(self):
        """Every byte received so far."""
        with self._cond:
            return bytes(self._data)

    def wait_lines(self, count, timeout=WAIT):
        """Wait until `count` line feeds have arrived; return all bytes so far."""
        self._wait(lambda: self._newlines >= count, timeout, f"{count} lines")
        return self.data()

    def wait_eof(self, timeout=WAIT):
        """Wait until the client's side of the connection is closed."""
        self._wait(lambda: self._eof, timeout, "the client to close")

    @property
    def saw_eof(self):
        with self._cond:
            return self._eof and not self._closing

    def send(self, data):
        self.sock.sendall(data)

    def _shut(self, linger_zero):
        with self._cond:
            if self._closing:
                return
            self._closing = True
        try:
            if linger_zero:
                self.sock.setsockopt(
                    socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0)
                )
                # Wakes our receiving thread without sending anything.
                self.sock.shutdown(socket.SHUT_RD)
            else:
                self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._thread.join(WAIT)
        self.sock.close()

    def close(self):
        """Orderly close (FIN)."""
        self._shut(linger_zero=False)

    def reset(self):
        """Abortive close: SO_LINGER with zero linger, then close (RST)."""
        self._shut(linger_zero=True)


class LoopbackServer:
    """A listening socket on a loopback address with an accepting thread.

    on_accept: "keep" records each connection as a Peer; "close" closes every
    connection as soon as it is accepted.
    """

    def __init__(self, host="127.0.0.1", on_accept="keep"):
        family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self.host = host
        self.on_accept = on_accept
        self._listener = socket.socket(family, socket.SOCK_STREAM)
        self._listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._listener.bind((host, 0))
        self._listener.listen(256)
        self._listener.settimeout(0.5)
        self.port = self._listener.getsockname()[1]
        self._cond = threading.Condition()
        self._peers = []
        self.accepted = 0
        self._stopping = False
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def _accept(self):
        end = time.monotonic() + LIFETIME
        while time.monotonic() < end:
            with self._cond:
                if self._stopping:
                    break
            try:
                sock, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                break
            with self._cond:
                self.accepted += 1
                if self.on_accept == "close":
                    sock.close()
                else:
                    self._peers.append(Peer(sock))
                self._cond.notify_all()

    def peer(self, index=0, timeout=WAIT):
        """The `index`-th accepted connection, waiting for it if need be."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while len(self._peers) <= index:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError(f"connection {index} was never accepted")
                self._cond.wait(remaining)
            return self._peers[index]

    def wait_accepted(self, count, timeout=WAIT):
        deadline = time.monotonic() + timeout
        with self._cond:
            while self.accepted < count:
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError(f"only {self.accepted} of {count} accepted")
                self._cond.wait(remaining)

    @property
    def peers(self):
        with self._cond:
            return list(self._peers)

    def stop_listening(self):
        """Stop accepting: later connection attempts are refused."""
        with self._cond:
            self._stopping = True
        try:
            self._listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._thread.join(WAIT)
        self._listener.close()

    def stop(self):
        self.stop_listening()
        for peer in self.peers:
            peer.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def ipv6_loopback_available():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


@pytest.fixture
def make_server():
    """Factory: make_server(host="127.0.0.1", on_accept="keep")."""
    servers = []

    def make(host="127.0.0.1", on_accept="keep"):
        if ":" in host and not ipv6_loopback_available():
            pytest.skip("IPv6 loopback is not available")
        server = LoopbackServer(host, on_accept)
        servers.append(server)
        return server

    yield make
    for server in servers:
        server.stop()


@pytest.fixture
def server(make_server):
    return make_server()


@pytest.fixture
def refused_port():
    """A loopback port that refuses connections: bound, never listening."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        yield s.getsockname()[1]


# --------------------------------------------------------------------------
# Child interpreters
# --------------------------------------------------------------------------


def run_python(code, *args, timeout=60, env=None):
    """Run `code` in a fresh interpreter; return the CompletedProcess (bytes)."""
    return subprocess.run(
        [sys.executable, "-c", code, *map(str, args)],
        stdin=subprocess.DEVNULL,
        capture_output=True,
        timeout=timeout,
        env=env,
    )


# The driver executes one JSON-encoded snippet per line of its standard input
# and acknowledges each with a marker line.  Markers and results go to a copy
# of the original descriptor 1, so a snippet may redirect descriptor 1.
_DRIVER = r"""
import json, os, sys, time
_marks = os.dup(1)
def _mark(text):
    os.write(_marks, ("@@" + text + "\n").encode())
def emit(value):
    _mark("result " + json.dumps(value))
from halvex_rs import client as _client
HalvexClient = _client.HalvexClient
port = int(sys.argv[1]) if len(sys.argv) > 1 else None
for _n, _line in enumerate(sys.stdin):
    try:
        exec(json.loads(_line))
    except BaseException as _e:
        _mark("error %d %s: %s" % (_n, type(_e).__name__, json.dumps(str(_e))))
    else:
        _mark("ok %d" % _n)
"""


class Child:
    """A child interpreter driven snippet by snippet (see _DRIVER).

    Names defined by one snippet stay visible to the next ones; `port` holds
    the port given at start, `emit(value)` reports a JSON value back.  The
    child's output is drained continuously, so it never blocks on a full pipe.
    """

    def __init__(self, port=None, env=None):
        args = [] if port is None else [str(port)]
        self.proc = subprocess.Popen(
            [sys.executable, "-c", _DRIVER, *args],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            env=env,
        )
        self._cond = threading.Condition()
        self._out = bytearray()
        self._err = bytearray()
        self._eof = False
        self._count = 0
        self.returncode = None
        self._drains = [
            threading.Thread(target=self._drain, args=(self.proc.stdout, self._out, True), daemon=True),
            threading.Thread(target=self._drain, args=(self.proc.stderr, self._err, False), daemon=True),
        ]
        for t in self._drains:
            t.start()

    def _drain(self, pipe, buf, is_stdout):
        fd = pipe.fileno()
        while True:
            try:
                chunk = os.read(fd, 1 << 16)
            except OSError:
                chunk = b""
            with self._cond:
                if not chunk:
                    if is_stdout:
                        self._eof = True
                    self._cond.notify_all()
                    return
                buf += chunk
                self._cond.notify_all()

    def _wait(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        with self._cond:
            while not predicate():
                remaining = deadline - time.monotonic()
                if self._eof or remaining <= 0:
                    raise AssertionError(
                        f"child: {what} did not come within {timeout}s; "
                        f"output so far: {self._text()[-2000:]!r}; "
                        f"stderr: {bytes(self._err[-2000:])!r}"
                    )
                self._cond.wait(remaining)

    def run(self, code, timeout=WAIT):
        """Execute `code` in the child; raise AssertionError if it raised."""
        n = self._count
        self._count += 1
        self.proc.stdin.write((json.dumps(code) + "\n").encode())
        self.proc.stdin.flush()
        ok, err = f"@@ok {n}", f"@@error {n} "
        done = lambda: any(
            line == ok or line.startswith(err) for line in self._raw_lines()
        )
        self._wait(done, timeout, f"the end of snippet {code!r}")
        for line in self._raw_lines():
            if line.startswith(err):
                raise AssertionError(f"child raised: {line[len(err):]}")

    def _text(self):
        return self._out.decode("utf-8", "surrogateescape")

    def _raw_lines(self):
        with self._cond:
            return self._text().split("\n")[:-1]

    def printed(self):
        """The bytes printed by the library (marker lines left out)."""
        with self._cond:
            lines = bytes(self._out).split(b"\n")[:-1]
        return b"".join(line + b"\n" for line in lines if not line.startswith(b"@@"))

    def lines(self):
        """Complete lines printed by the library (marker lines left out)."""
        return [line for line in self._raw_lines() if not line.startswith("@@")]

    def results(self):
        return [
            json.loads(line[len("@@result ") :])
            for line in self._raw_lines()
            if line.startswith("@@result ")
        ]

    def wait_for(self, line, count=1, timeout=WAIT):
        """Wait until `line` has been printed `count` times."""
        self._wait(lambda: self.lines().count(line) >= count, timeout, f"{count} x {line!r}")
        return self.lines()

    @property
    def stderr(self):
        with self._cond:
            return bytes(self._err)

    def finish(self, timeout=WAIT):
        """Close the child's input, wait for it to exit, return its lines."""
        if self.returncode is None:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
            try:
                self.returncode = self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.returncode = self.proc.wait(timeout)
            for t in self._drains:
                t.join(timeout)
            self.proc.stdout.close()
            self.proc.stderr.close()
        return self.lines()

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.finish()


@pytest.fixture
def child():
    """Factory: child(port=None) -> Child; killed at the end of the test."""
    children = []

    def make(port=None, env=None):
        c = Child(port, env)
        children.append(c)
        return c

    yield make
    for c in children:
        c.kill()
