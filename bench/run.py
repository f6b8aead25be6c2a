#!/usr/bin/env python3
"""Side-by-side benchmark of halvex_rs against pure Python and against C.

    python3 bench/run.py [--quick] [--only render,send,reader,memory,import] [--rounds N]

render  str() of a newly built command: halvex_rs's `Command` constructors
        against the classes of pure_python.py (CallMake, and the long
        RecorderStartToFile with eight parameters present).
send    one tagged command line per call, into a draining C sink on
        loopback: `client.call_make` and `client.send_raw_command` against
        pure Python (`socket.sendall`) and against a C client that send()s
        the same line once per call (the floor).  Each contender keeps one
        connection and sends a batch per round; the sink checks every line.
reader  lines per second printed by the reader thread, standard output
        going to a file, for 1,000,000 lines of 42 bytes from a C blaster:
        against a pure-Python reader thread and a C program doing the same job.
memory  RSS growth over 1,000,000 sends through one client and over
        1,000,000 constructions of each command with str(), after a warm-up.
import  time of `import halvex_rs` in a fresh interpreter (timed by that
        interpreter around the statement, beside the whole run's wall time
        over that of `python3 -c pass`), and the same for `import socket`.

The contenders of a measurement take turns within each round, in an order
that rotates every round, so that a busy spell of the machine hits them alike.
A ratio is halvex_rs's cost over its rival's in the same round; the table
gives the median and min..max of the per-round ratios (for the reader, the
ratio of lines per second).  Every contender's output (text, bytes on the
wire, printed lines) is checked, and the table is printed only when every
check has passed.  The C helpers are
compiled with `cc -O2` into a temporary directory.
"""

import argparse
import contextlib
import json
import os
import platform
import select
import signal
import statistics
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import contenders
from contenders import CALL_MAKE_TEXT, CONSTRUCTORS, TEXTS

HERE = Path(__file__).resolve().parent

FULL = dict(render_rounds=101, render_n=20_000,
            send_rounds=101, send_n=5_000, send_warmup=20_000,
            reader_rounds=9, reader_lines=1_000_000,
            memory_runs=3, memory_n=1_000_000, memory_warmup=100_000,
            import_rounds=40)
QUICK = dict(render_rounds=15, render_n=10_000,
             send_rounds=15, send_n=2_000, send_warmup=5_000,
             reader_rounds=3, reader_lines=200_000,
             memory_runs=1, memory_n=200_000, memory_warmup=20_000,
             import_rounds=10)
MEASUREMENTS = ("render", "send", "reader", "memory", "import")
BULK_LINES = 2_000_000  # sent as fast as possible, to show what the sink can take


class Failure(Exception):
    """A contender's output was wrong, or a helper misbehaved."""


# ---------------------------------------------------------------------------
# Child processes
# ---------------------------------------------------------------------------

@contextlib.contextmanager
def started(args, **options):
    """A child process that is ended and reaped on the way out, even on failure."""
    proc = subprocess.Popen([str(a) for a in args], **options)
    try:
        yield proc
    finally:
        for stream in (proc.stdin, proc.stdout):
            if stream:
                stream.close()
        if proc.poll() is None:
            proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait(10)


def finish(proc, name):
    """Wait for a child that should end by itself, and check that it succeeded."""
    try:
        code = proc.wait(120)
    except subprocess.TimeoutExpired:
        raise Failure(f"{name} did not end") from None
    if code != 0:
        raise Failure(f"{name} failed with exit status {code}")


class Lines:
    """A child's standard output, line by line; every wait has a time-out."""

    def __init__(self, proc):
        self.fd, self.pending = proc.stdout.fileno(), b""

    def next(self, timeout=60):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.fd], [], [], left)[0]:
                raise Failure(f"a helper said nothing for {timeout} s")
            chunk = os.read(self.fd, 4096)
            if not chunk:
                raise Failure("a helper ended without answering")
            self.pending += chunk
        line, _, self.pending = self.pending.partition(b"\n")
        return line.decode()


def python_child(*args):
    return [sys.executable, HERE / "contenders.py", *args]


def build_tools(directory):
    """Compile the C helpers; returns {name: path}."""
    tools = {}
    for name in ("sink", "sender", "blaster", "reader"):
        tools[name] = Path(directory) / name
        subprocess.run(["cc", "-O2", "-Wall", "-o", tools[name], HERE / f"{name}.c"], check=True, timeout=120)
    return tools


@dataclass
class Received:
    bytes: int
    lines: int
    tagged: bool  # tags contiguous, same text before every tag, last line complete
    ns: int  # from the connection's start to its end, as the sink saw it
    first: str
    last: str


class Sink:
    """The draining sink (sink.c): drains every connection, reports each as it ends."""

    def __init__(self, stack, tools):
        self.proc = stack.enter_context(started([tools["sink"]], stdin=subprocess.PIPE, stdout=subprocess.PIPE))
        self.said = Lines(self.proc)
        self.port = int(self.said.next().split()[1])

    def received(self, timeout=120):
        """What the sink got over the connection that ended last."""
        return read_report(self.said, timeout)


def read_report(said, timeout):
    _, size, lines, tagged, ns = said.next(timeout).split()
    first, last = said.next().partition(" ")[2], said.next().partition(" ")[2]
    return Received(int(size), int(lines), tagged == "1", int(ns), first, last)


def check_wire(name, got, total):
    """The sink must have received lines 0 .. total-1 of CALL_MAKE_TEXT, tagged in order."""
    want = (total, True, f"{CALL_MAKE_TEXT} COMMANDTAG=0", f"{CALL_MAKE_TEXT} COMMANDTAG={total - 1}")
    seen = (got.lines, got.tagged, got.first, got.last)
    if seen != want:
        raise Failure(f"{name}: the sink received (lines, tagged, first, last) = {seen}, expected {want}")


# ---------------------------------------------------------------------------
# Results
# ---------------------------------------------------------------------------

ROWS = []
UNITS = {"ratio": "{:.3f}", "KiB": "{:.0f} KiB", "ms": "{:.2f} ms"}


def add_row(measure, comparison, values, unit, absolute="", limit=None, at_least=False):
    """One line of the table: median and min..max of `values`, beside a target."""
    fmt = UNITS[unit].format
    med = statistics.median(values)
    target = met = ""
    if limit is not None:
        target = f"{'>=' if at_least else '<='} {fmt(limit)}"
        met = "yes" if (med >= limit if at_least else med <= limit) else "NO"
    ROWS.append((measure, comparison, fmt(med), f"{fmt(min(values))}..{fmt(max(values))}", absolute, target, met))


def add_note(measure, comparison, absolute):
    ROWS.append((measure, comparison, "", "", absolute, "", ""))


def print_table():
    header = ("measure", "comparison", "median", "min..max", "absolute (medians)", "target", "met")
    widths = [max(len(row[i]) for row in [header, *ROWS]) for i in range(len(header))]
    for row in [header, *ROWS]:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


def turns(names, round_number):
    """The contenders' order in a round: rotated by one every round, so that
    each takes every place in turn and none runs twice in a row."""
    names = list(names)
    shift = round_number % len(names)
    return names[shift:] + names[:shift]


def per_round(ours, theirs):
    return [a / b for a, b in zip(ours, theirs)]


def progress(text):
    print(text, file=sys.stderr, flush=True)


# ---------------------------------------------------------------------------
# render
# ---------------------------------------------------------------------------

# Argument lists on which both sides must give the same text; the first is the timed one.
CASES = {
    "call_make": [(7, "1234", None, None, None, None, None), (12, "301", 45, "200", None, 0, 1),
                  (0, "", 0, "", "Ann Lee", 255, 0), (4294967295, "sip:x=y", 500, None, "B", None, 2)],
    "long": [(5, "greeting.wav", None, 8000, None, 1024, 60000, 5000, True, False),
             (5, "msg.wav", None, None, None, None, None, None, None, None),
             (0, "", None, 65535, None, -9223372036854775808, 0, 4294967295, False, True)],
}
LOOPS = {"call_make": contenders.render_call_make, "long": contenders.render_long}


def check_render():
    for (who, command), make in CONSTRUCTORS.items():
        text = str(make(*CASES[command][0]))
        if text != TEXTS[command]:
            raise Failure(f"render {command}: {who} gives {text!r}, expected {TEXTS[command]!r}")
    for command, cases in CASES.items():
        for args in cases:
            ours, theirs = (str(CONSTRUCTORS[who, command](*args)) for who in ("halvex_rs", "python"))
            if ours != theirs:
                raise Failure(f"render {command}{args}: halvex_rs gives {ours!r}, pure Python {theirs!r}")


def measure_render(cfg):
    check_render()
    n, rounds = cfg["render_n"], cfg["render_rounds"]
    for (who, command), make in CONSTRUCTORS.items():  # warm-up
        LOOPS[command](make, n // 10)
    ns = {run: [] for run in CONSTRUCTORS}
    for r in range(rounds):
        if r % 20 == 0:
            progress(f"render: round {r + 1}/{rounds}")
        for who, command in turns(CONSTRUCTORS, r):
            ns[who, command].append(contenders.timed(LOOPS[command], CONSTRUCTORS[who, command], n) / n)
    for command, label, limit in (("call_make", "call_make", 0.20), ("long", "recorder_start_to_file", 0.15)):
        ours, theirs = ns["halvex_rs", command], ns["python", command]
        add_row("render", f"{label}: halvex_rs / python", per_round(ours, theirs), "ratio",
                f"{statistics.median(ours):.0f} vs {statistics.median(theirs):.0f} ns", limit)


# ---------------------------------------------------------------------------
# send
# ---------------------------------------------------------------------------

def senders(tools):
    """Each sending contender's command line, given the sink's port."""
    return {
        "halvex_rs call_make": lambda port: python_child("send", "halvex_rs-call_make", port),
        "halvex_rs send_raw_command": lambda port: python_child("send", "halvex_rs-raw", port),
        "python call_make": lambda port: python_child("send", "python-call_make", port),
        "python sendall": lambda port: python_child("send", "python-raw", port),
        "C send()": lambda port: [tools["sender"], port, "each", CALL_MAKE_TEXT],
    }


class Sender:
    """A sending contender, connected to the sink once, sending batches on request."""

    def __init__(self, stack, command):
        self.proc = stack.enter_context(started(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE))
        self.said = Lines(self.proc)

    def send(self, count):
        """Nanoseconds per send, over `count` sends."""
        time.sleep(0.005)  # let the sink drain what the previous batch left in flight
        self.proc.stdin.write(b"%d\n" % count)
        self.proc.stdin.flush()
        return int(self.said.next(600)) / count

    def close(self, name):
        self.proc.stdin.close()
        finish(self.proc, name)


def measure_send(cfg, tools):
    count, warmup, rounds = cfg["send_n"], cfg["send_warmup"], cfg["send_rounds"]
    with contextlib.ExitStack() as stack:
        sink = Sink(stack, tools)
        runners = {name: Sender(stack, command(sink.port)) for name, command in senders(tools).items()}
        for sender in runners.values():
            sender.send(warmup)
        ns = {name: [] for name in runners}
        for r in range(rounds):
            if r % 20 == 0:
                progress(f"send: round {r + 1}/{rounds}")
            for name in turns(runners, r):
                ns[name].append(runners[name].send(count))
        # One connection each: every line of every batch must have arrived, in order.
        for name, sender in runners.items():
            sender.close(name)
            check_wire(name, sink.received(), warmup + rounds * count)

        # The sink's intake when data comes as fast as the machine can send it.
        bulk = Sender(stack, [tools["sender"], sink.port, "bulk", CALL_MAKE_TEXT])
        bulk.send(BULK_LINES)
        bulk.close("bulk sender")
        got = sink.received()
        check_wire("bulk sender", got, BULK_LINES)
        intake = got.lines / got.ns * 1e9

    med = {name: statistics.median(values) for name, values in ns.items()}
    for method, ours, limit in (("call_make", "halvex_rs call_make", 1.10),
                                ("send_raw_command", "halvex_rs send_raw_command", 1.08)):
        add_row("send", f"{method}: halvex_rs / C", per_round(ns[ours], ns["C send()"]), "ratio",
                f"{med[ours]:.0f} vs {med['C send()']:.0f} ns", limit)
    for ours, theirs in (("halvex_rs call_make", "python call_make"),
                         ("halvex_rs send_raw_command", "python sendall")):
        add_row("send", f"{ours.split()[1]}: halvex_rs / {theirs}", per_round(ns[ours], ns[theirs]), "ratio",
                f"{med[ours]:.0f} vs {med[theirs]:.0f} ns")
    fastest = 1e9 / min(med.values())
    add_note("send", "sink intake (bulk sends)",
             f"{intake / 1e6:.1f} M lines/s = {intake / fastest:.0f}x the fastest sender")


# ---------------------------------------------------------------------------
# reader
# ---------------------------------------------------------------------------

def printed(lines):
    """What a reader must print for `lines` lines of the blaster."""
    return b"".join(b"Received: NOTIFY CallState Id=%010d Ringing\n" % i for i in range(lines)) + b"Connection closed.\n"


def readers(tools):
    return {
        "halvex_rs": lambda port: python_child("reader", "halvex_rs", port),
        "python": lambda port: python_child("reader", "python", port),
        "C": lambda port: [tools["reader"], port],
    }


def check_printed(name, path, expected):
    data = path.read_bytes()
    if data == expected:
        return
    got, want = data.split(b"\n"), expected.split(b"\n")
    line = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
    raise Failure(f"{name} reader printed {len(data)} bytes, expected {len(expected)}; first difference at line "
                  f"{line + 1}: {got[line] if line < len(got) else b'(none)'!r}, expected "
                  f"{want[line] if line < len(want) else b'(none)'!r}")


def wait_until_written(out, size, reader):
    """Monotonic ns at which the file `out` has reached `size` bytes.  Gives up
    (and leaves it to the content check to tell what is missing) when the
    reader ends, prints nothing for 10 s, or takes 10 minutes."""
    deadline = time.monotonic() + 600
    seen, seen_at = -1, time.monotonic()
    while (written := os.fstat(out.fileno()).st_size) < size:
        now = time.monotonic()
        if written != seen:
            seen, seen_at = written, now
        if reader.poll() is not None or now - seen_at > 10 or now > deadline:
            break
        time.sleep(0.001)
    return time.monotonic_ns()


def read_once(name, command, tools, lines, expected, path):
    """Lines per second: from the blaster's accept() until the output file is complete."""
    with started([tools["blaster"], lines], stdout=subprocess.PIPE) as blaster:
        said = Lines(blaster)
        port = int(said.next().split()[1])
        with open(path, "wb") as out, started(command(port), stdin=subprocess.PIPE, stdout=out) as reader:
            start = int(said.next().split()[1])
            end = wait_until_written(out, len(expected), reader)
            reader.stdin.close()  # lets a Python reader child end
            finish(reader, f"{name} reader")
        said.next()  # "done"
        finish(blaster, "blaster")
    check_printed(name, path, expected)
    return lines / (end - start) * 1e9


def blaster_output(tools, lines):
    """Lines per second that the blaster sends into the sink, which only drains."""
    with started([tools["blaster"], lines], stdout=subprocess.PIPE) as blaster:
        said = Lines(blaster)
        port = int(said.next().split()[1])
        with started([tools["sink"], "connect", port], stdout=subprocess.PIPE) as sink:
            said.next()  # "start"
            sent_ns = int(said.next(600).split()[1])
            got = read_report(Lines(sink), 600)
            finish(sink, "sink")
        finish(blaster, "blaster")
    if got.lines != lines:
        raise Failure(f"the sink received {got.lines} lines from the blaster, expected {lines}")
    return lines / sent_ns * 1e9


def measure_reader(cfg, tools, workdir):
    lines = cfg["reader_lines"]
    expected = printed(lines)
    path = Path(workdir) / "printed.txt"
    runners = readers(tools)
    rate = {name: [] for name in runners}
    for r in range(cfg["reader_rounds"]):
        progress(f"reader: round {r + 1}/{cfg['reader_rounds']}")
        for name in turns(runners, r):
            rate[name].append(read_once(name, runners[name], tools, lines, expected, path))
            path.unlink()
    med = {name: statistics.median(values) for name, values in rate.items()}
    for theirs, limit in (("C", 0.95), ("python", None)):
        add_row("reader", f"lines/s: halvex_rs / {theirs}", per_round(rate["halvex_rs"], rate[theirs]), "ratio",
                f"{med['halvex_rs'] / 1e6:.3f} vs {med[theirs] / 1e6:.3f} M lines/s", limit, at_least=True)
    blaster = blaster_output(tools, lines)
    add_note("reader", "blaster output (into the sink)",
             f"{blaster / 1e6:.1f} M lines/s = {blaster / max(med.values()):.0f}x the fastest reader")


# ---------------------------------------------------------------------------
# memory
# ---------------------------------------------------------------------------

def measure_memory(cfg, tools):
    count, warmup = cfg["memory_n"], cfg["memory_warmup"]
    growth = {"sends": [], "constructions": []}
    with contextlib.ExitStack() as stack:
        sink = Sink(stack, tools)
        for run in range(cfg["memory_runs"]):
            progress(f"memory: run {run + 1}/{cfg['memory_runs']}")
            with started(python_child("memory", sink.port, count, warmup), stdout=subprocess.PIPE) as proc:
                result = json.loads(Lines(proc).next(600))  # KiB: {"sends": ..., "constructions": ...}
                finish(proc, "memory child")
            check_wire("memory child", sink.received(), warmup + count)
            for key in growth:
                growth[key].append(result[key])
    add_row("memory", f"RSS growth, {count:,} sends", growth["sends"], "KiB", "", 64)
    add_row("memory", f"RSS growth, {count:,} constructions + str() of each command", growth["constructions"],
            "KiB", "", 64)


# ---------------------------------------------------------------------------
# import
# ---------------------------------------------------------------------------

# Each child times its own import statement and prints the nanoseconds.
IMPORTS = {name: f"import time; t = time.perf_counter_ns(); {statement}; print(time.perf_counter_ns() - t)"
           for name, statement in (("bare", "pass"), ("socket", "import socket"), ("halvex_rs", "import halvex_rs"))}


def fresh_interpreter(code):
    """(whole run in ms, the import statement alone in ms) of a new interpreter running `code`."""
    start = time.perf_counter_ns()
    run = subprocess.run([sys.executable, "-c", code], check=True, timeout=60, capture_output=True)
    return (time.perf_counter_ns() - start) / 1e6, int(run.stdout) / 1e6


def measure_import(cfg):
    for code in IMPORTS.values():  # warm the file cache
        fresh_interpreter(code)
    whole, statement = {name: [] for name in IMPORTS}, {name: [] for name in IMPORTS}
    for r in range(cfg["import_rounds"]):
        if r % 10 == 0:
            progress(f"import: round {r + 1}/{cfg['import_rounds']}")
        for name in turns(IMPORTS, r):
            total, alone = fresh_interpreter(IMPORTS[name])
            whole[name].append(total)
            statement[name].append(alone)
    for module, limit in (("halvex_rs", 1.0), ("socket", None)):
        extra = statistics.median(a - b for a, b in zip(whole[module], whole["bare"]))
        add_row("import", f"import {module}, fresh interpreter", statement[module], "ms",
                f"whole run {extra:+.1f} ms over a bare interpreter", limit)


# ---------------------------------------------------------------------------

MODULE = Path(contenders.halvex_rs.__file__)


def module_state():
    """What tells one build of the installed module from another."""
    state = MODULE.stat()
    return state.st_size, state.st_mtime_ns


def machine():
    model = platform.processor() or "unknown CPU"
    with open("/proc/cpuinfo") as cpuinfo:
        model = next((line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name")), model)
    built = time.strftime("%Y-%m-%d %H:%M", time.localtime(MODULE.stat().st_mtime))
    return (f"{model}, {os.cpu_count()} cores, Linux {platform.release()}, Python {platform.python_version()}\n"
            f"halvex_rs: {MODULE} (built {built})")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--quick", action="store_true", help="fewer rounds and smaller counts")
    parser.add_argument("--only", default=",".join(MEASUREMENTS), help="comma-separated: " + ",".join(MEASUREMENTS))
    parser.add_argument("--rounds", type=int, help="rounds for render, send, reader and import")
    options = parser.parse_args()
    chosen = options.only.split(",")
    if unknown := set(chosen) - set(MEASUREMENTS):
        parser.error(f"unknown measurement(s): {', '.join(sorted(unknown))}")
    cfg = dict(QUICK if options.quick else FULL)
    if options.rounds:
        for key in ("render_rounds", "send_rounds", "reader_rounds", "import_rounds"):
            cfg[key] = options.rounds

    signal.signal(signal.SIGTERM, lambda *_: sys.exit("benchmark stopped"))  # still reap and clean up
    load, build = os.getloadavg()[0], module_state()
    try:
        with tempfile.TemporaryDirectory(prefix="halvex-bench-") as workdir:
            tools = build_tools(workdir)
            if "render" in chosen:
                measure_render(cfg)
            if "send" in chosen:
                measure_send(cfg, tools)
            if "reader" in chosen:
                measure_reader(cfg, tools, workdir)
            if "memory" in chosen:
                measure_memory(cfg, tools)
            if "import" in chosen:
                measure_import(cfg)
        if module_state() != build:
            raise Failure(f"{MODULE} changed during the run (reinstalled?); run again")
    except (Failure, subprocess.SubprocessError) as error:
        sys.exit(f"benchmark failed: {error}")
    print(machine())
    print(f"load average (1 min) {load:.2f} before, {os.getloadavg()[0]:.2f} after"
          f"{'; --quick' if options.quick else ''}")
    print()
    print_table()


if __name__ == "__main__":
    main()
