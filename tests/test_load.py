"""Load: Python threads sending at once, Command objects shared between
threads, and many connect/disconnect cycles.

The sending runs in a child interpreter: a send that blocks holds the
interpreter lock, so a server thread in the same process could not drain it.
"""

import os
import re

import pytest

from command_table import COMMANDS

THREADS = 8
TESTS_DIR = os.path.dirname(__file__)
LINE_RE = re.compile(rb"(.*) COMMANDTAG=(\d+)")

# Every thread starts at a barrier and switches as often as the interpreter
# lets it.  Line `j` of thread `t` carries "t<t>-<j>" and a bulk whose size
# varies from a few bytes to 64 KiB, sent in turn through send_raw_command,
# a command method and send_command.
_SENDERS = """
import sys, threading
from halvex_rs import commands
Command = commands.Command
sys.setswitchinterval(1e-6)

def text(t, j):
    return 't%d-%d ' % (t, j) + chr(ord('a') + t) * ((j * 7919) % 65536)

def send(client, t, j):
    body = text(t, j)
    way = (t + j) % 3
    if way == 0:
        return client.send_raw_command(body)
    if way == 1:
        return client.calls_set_alerting_type(t, body)
    return client.send_command(Command.call_clear(t, body))

def run_threads(clients, per_thread):
    barrier = threading.Barrier(len(clients))
    tags = [[] for _ in clients]
    errors = []
    def work(t):
        try:
            barrier.wait(20)
            for j in range(per_thread):
                tags[t].append(send(clients[t], t, j))
        except BaseException as e:
            errors.append(repr(e)[:300])
    threads = [threading.Thread(target=work, args=(t,)) for t in range(len(clients))]
    for th in threads:
        th.start()
    for th in threads:
        th.join(120)
    return [tags, errors, [th.is_alive() for th in threads]]
"""


def expected_text(t, j):
    body = f"t{t}-{j} " + chr(ord("a") + t) * ((j * 7919) % 65536)
    way = (t + j) % 3
    if way == 0:
        return body
    if way == 1:
        return f"CallsSetAlertingType {t} {body}"
    return f"CallClear {t} Reason={body}"


def origin(text):
    """The thread that sent a line of expected_text."""
    m = re.match(r"(?:CallsSetAlertingType \d+ |CallClear \d+ Reason=)?t(\d+)-\d+ ", text)
    assert m, text[:200]
    return int(m.group(1))


def parse(data):
    """[(text, tag)] of every line; each must end with a tag suffix."""
    assert data.endswith(b"\n")
    out = []
    for line in data[:-1].split(b"\n"):
        m = LINE_RE.fullmatch(line)
        assert m, line[:200]
        out.append((m.group(1).decode(), int(m.group(2))))
    return out


def test_threads_share_one_client(child, server):
    per_thread = 150
    total = THREADS * per_thread
    ch = child(server.port)
    ch.run(_SENDERS)
    ch.run(
        "c = HalvexClient('127.0.0.1', port, None, None, None)\nc.connect()\n"
        f"emit(run_threads([c] * {THREADS}, {per_thread}) + [c.command_tag])",
        timeout=180,
    )
    ((tags, errors, alive, final),) = ch.results()
    assert errors == [] and not any(alive)
    assert final == total
    lines = parse(server.peer(0).wait_lines(total, timeout=60))
    assert len(lines) == total
    # Tags on the wire count up one by one: the lines went out whole, one
    # after the other, in the order of their tags.
    assert [tag for _, tag in lines] == list(range(total))
    for t in range(THREADS):
        # Each thread's lines are whole and in its own order; the tags it was
        # handed back are those its lines carried.
        mine = [(text, tag) for text, tag in lines if origin(text) == t]
        assert [text for text, _ in mine] == [expected_text(t, j) for j in range(per_thread)]
        assert tags[t] == [None if (t + j) % 3 == 1 else tag for j, (_, tag) in enumerate(mine)]


def test_threads_with_a_client_each(child, server):
    per_thread = 150
    ch = child(server.port)
    ch.run(_SENDERS)
    ch.run(
        "clients = [HalvexClient('127.0.0.1', port, None, None, None) for _ in range(%d)]\n"
        "for c in clients:\n"
        "    c.connect()\n"
        "emit(run_threads(clients, %d) + [[c.command_tag for c in clients]])"
        % (THREADS, per_thread),
        timeout=180,
    )
    ((tags, errors, alive, finals),) = ch.results()
    assert errors == [] and not any(alive)
    assert finals == [per_thread] * THREADS
    seen = set()
    for index in range(THREADS):
        lines = parse(server.peer(index).wait_lines(per_thread, timeout=60))
        # One connection carries one thread's lines only, tagged 0, 1, 2, ...
        t = origin(lines[0][0])
        seen.add(t)
        assert lines == [(expected_text(t, j), j) for j in range(per_thread)]
        assert tags[t] == [None if (t + j) % 3 == 1 else j for j in range(per_thread)]
    assert seen == set(range(THREADS))


# --------------------------------------------------------------------------
# Command objects shared between threads

_SHARED = """
import sys, threading
sys.path.insert(0, {tests_dir!r})
import command_table as T
sys.setswitchinterval(1e-6)
shared = [getattr(T.Command, cmd.ctor)(*cmd.full_args()) for cmd in T.COMMANDS]
c = HalvexClient('127.0.0.1', port, None, None, None)
c.connect()
barrier = threading.Barrier({threads})
texts = [[] for _ in range({threads})]
errors = []
def work(t):
    try:
        barrier.wait(20)
        for r in range({rounds}):
            for k, command in enumerate(shared):
                rebuilt = type(command)(command._0)
                texts[t].append([str(command), str(rebuilt), str(type(command)(command[0]))])
                c.send_command(command if (t + r + k) % 2 else rebuilt)
    except BaseException as e:
        errors.append(repr(e)[:300])
threads = [threading.Thread(target=work, args=(t,)) for t in range({threads})]
for th in threads:
    th.start()
for th in threads:
    th.join(120)
emit([texts, errors, [th.is_alive() for th in threads], c.command_tag,
      [str(command) for command in shared]])
"""


def test_commands_shared_between_threads(child, server):
    rounds = 20
    ch = child(server.port)
    ch.run(_SHARED.format(tests_dir=TESTS_DIR, threads=THREADS, rounds=rounds), timeout=180)
    ((texts, errors, alive, final, after),) = ch.results()
    assert errors == [] and not any(alive)
    expected = [cmd.full_text for cmd in COMMANDS]
    # Every thread read the same texts, and the objects did not change.
    for t in range(THREADS):
        assert texts[t] == [[e, e, e] for _ in range(rounds) for e in expected]
    assert after == expected
    total = THREADS * rounds * len(COMMANDS)
    assert final == total
    lines = parse(server.peer(0).wait_lines(total, timeout=60))
    assert [tag for _, tag in lines] == list(range(total))
    counts = {}
    for text, _ in lines:
        counts[text] = counts.get(text, 0) + 1
    assert counts == {e: THREADS * rounds for e in expected}


# --------------------------------------------------------------------------
# Connect/disconnect cycles against a server that closes every connection

_CYCLES = """
import gc, time
def counts():
    return [len(os.listdir('/proc/self/fd')), len(os.listdir('/proc/self/task'))]
def cycle_disconnect(c):
    c.connect()
    c.disconnect()
def cycle_reconnect(c):
    c.connect()
    c.connect()
    c.disconnect()
def cycle_drop(c):
    fresh = HalvexClient('127.0.0.1', port, None, None, None)
    fresh.connect()
    del fresh
c = HalvexClient('127.0.0.1', port, None, None, None)
cycle = cycle_{how}
cycle(c)  # the first connection makes whatever is made once
deadline = time.monotonic() + 30
while counts()[1] > 1 and time.monotonic() < deadline:
    time.sleep(0.01)
gc.collect()
base, blocks = counts(), sys.getallocatedblocks()
for _ in range({cycles}):
    cycle(c)
deadline = time.monotonic() + 60
while counts() != base and time.monotonic() < deadline:
    time.sleep(0.01)
gc.collect()
emit([base, counts(), sys.getallocatedblocks() - blocks, c.command_tag])
"""


@pytest.mark.parametrize("how, connections", [("disconnect", 1), ("reconnect", 2), ("drop", 1)])
def test_connect_disconnect_cycles(child, make_server, how, connections):
    cycles = 1000
    server = make_server(on_accept="close")
    ch = child(server.port)
    ch.run(_CYCLES.format(how=how, cycles=cycles), timeout=180)
    ((base, after, blocks, tag),) = ch.results()
    # Every reader has ended and every descriptor is closed.
    assert after == base
    assert base[1] == 1
    # Nothing is kept per cycle.
    assert blocks < 200
    assert tag == 0
    total = (cycles + 1) * connections
    ch.wait_for("Connection closed.", count=total, timeout=60)
    assert ch.finish() == ["Connection closed."] * total
    assert ch.returncode == 0, ch.stderr
    assert server.accepted == total
