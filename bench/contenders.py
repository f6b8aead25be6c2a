"""The Python side of every measurement: the timed loops, and the child processes.

run.py imports the loops for the render measurement and starts this file as
a child process for the others:

    contenders.py send WHO PORT              for each count N on stdin: N sends, prints the ns taken
    contenders.py reader WHO PORT            prints server lines until stdin closes
    contenders.py memory PORT COUNT WARMUP   prints RSS growth in KiB, as JSON

WHO is "halvex_rs" or "python", with "-call_make" or "-raw" for sends.
"""

import gc
import json
import os
import select
import sys
import time

import halvex_rs

import pure_python

Command = halvex_rs.commands.Command
HalvexClient = halvex_rs.client.HalvexClient

# The two commands that are built, the text they must give, and who builds them.
TEXTS = {
    "call_make": "CallMake 7 1234 TimeOut=30000 Privacy=0 Screen=1",
    "long": "RecorderStartToFile 5 greeting.wav SampleRate=8000 FileOffset=1024"
            " MaxDuration=60000 MaxSilence=5000 VoiceTrigger=1 PauseIfEmpty=0",
}
CALL_MAKE_TEXT = TEXTS["call_make"]
CONSTRUCTORS = {
    ("halvex_rs", "call_make"): Command.call_make,
    ("halvex_rs", "long"): Command.recorder_start_to_file,
    ("python", "call_make"): pure_python.CallMake,
    ("python", "long"): pure_python.RecorderStartToFile,
}


def timed(loop, *args):
    """Nanoseconds that `loop(*args)` took, with the cyclic collector off (as timeit does)."""
    gc.disable()
    try:
        start = time.perf_counter_ns()
        loop(*args)
        return time.perf_counter_ns() - start
    finally:
        gc.enable()


# The measured statements.  Each contender's callable is bound to the same
# local name, so both sides run exactly the same statement.

def render_call_make(call_make, n):
    for _ in range(n):
        str(call_make(7, "1234", None, None, None, None, None))


def render_long(recorder_start_to_file, n):
    for _ in range(n):
        str(recorder_start_to_file(5, "greeting.wav", None, 8000, None, 1024, 60000, 5000, True, False))


def send_call_make(call_make, n):
    for _ in range(n):
        call_make(7, "1234", None, None, None, None, None)


def send_raw(send_raw_command, n):
    line = CALL_MAKE_TEXT
    for _ in range(n):
        send_raw_command(line)


def connect(who, port):
    if who == "halvex_rs":
        client = HalvexClient("127.0.0.1", port, None, None, None)
        client.connect()
    else:
        client = pure_python.Client("127.0.0.1", port)
    return client


def send_main(who, port):
    """Connect, then for each count read from stdin send that many lines and print the ns taken."""
    library, method = who.split("-")
    client = connect(library, port)
    send = client.call_make if method == "call_make" else client.send_raw_command
    loop = send_call_make if method == "call_make" else send_raw
    # run.py asks for one batch at a time and waits for its answer.
    while select.select([sys.stdin], [], [], 600)[0]:
        request = sys.stdin.readline()
        if not request:
            break
        print(timed(loop, send, int(request)), flush=True)


def reader_main(who, port):
    client = connect(who, port)  # halvex_rs starts its reader thread in connect()
    if who == "python":
        client.start_reader()
    select.select([sys.stdin], [], [], 600)  # run until run.py closes our stdin


def resident_kib():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGESIZE") // 1024


def memory_main(port, count, warmup):
    """RSS growth over COUNT sends (client.call_make) through one client, then over
    COUNT constructions of each command with str(), each after WARMUP of the same."""
    client = connect("halvex_rs", port)
    call_make, long = CONSTRUCTORS["halvex_rs", "call_make"], CONSTRUCTORS["halvex_rs", "long"]

    send_call_make(client.call_make, warmup)
    before = resident_kib()
    send_call_make(client.call_make, count)
    sends = resident_kib() - before

    render_call_make(call_make, warmup)
    render_long(long, warmup)
    before = resident_kib()
    render_call_make(call_make, count)
    render_long(long, count)
    constructions = resident_kib() - before

    print(json.dumps({"sends": sends, "constructions": constructions}), flush=True)


if __name__ == "__main__":
    what, args = sys.argv[1], sys.argv[2:]
    if what == "send":
        send_main(args[0], int(args[1]))
    elif what == "reader":
        reader_main(args[0], int(args[1]))
    elif what == "memory":
        memory_main(int(args[0]), int(args[1]), int(args[2]))
    else:
        sys.exit(f"unknown measurement {what!r}")
