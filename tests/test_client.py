"""HalvexClient: construction, class shape, print_details, connect/disconnect."""

import errno
import inspect
import json
import os
import re
import threading
import weakref

import pytest

from halvex_rs import client as client_module

from command_table import Index
from conftest import WAIT, run_python

HalvexClient = client_module.HalvexClient

RANGE_MESSAGE = "out of range integral type conversion attempted"


INDEX_CLASS = inspect.getsource(Index)


def refused_message():
    return f"Failed to connect: {os.strerror(errno.ECONNREFUSED)} (os error {errno.ECONNREFUSED})"


def details(*args):
    """What print_details() prints, in a child, for a client built from `args`."""
    code = (
        INDEX_CLASS + "\n"
        "from halvex_rs import client\n"
        "HalvexClient = client.HalvexClient\n"
        f"result = HalvexClient(*{args!r}).print_details()\n"
        "assert result is None, result\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr.decode(errors="replace")
    assert done.stderr == b""
    return done.stdout.decode()


def details_line(server, control, transport, username, password):
    return (
        f"HalvexClient(server: {server}, control_port: {control}, "
        f"transport_channel_port: {transport}, username: {username}, "
        f"password: {password})\n"
    )


# --------------------------------------------------------------------------
# Constructor
# --------------------------------------------------------------------------


def test_defaults():
    out = details("127.0.0.1", None, None, None, None)
    pattern = re.escape(details_line("127.0.0.1", 1234, 1235, "user1", "@@")).replace(
        "@@", "[a-z]{3}"
    )
    assert re.fullmatch(pattern, out), out
    assert HalvexClient("127.0.0.1", None, None, None, None).command_tag == 0


def test_default_password_is_the_same_for_every_client():
    code = (
        "from halvex_rs import client\n"
        "HalvexClient = client.HalvexClient\n"
        "HalvexClient('127.0.0.1', None, None, None, None).print_details()\n"
        "HalvexClient('::1', 1, 2, 'x', None).print_details()\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    first, second = done.stdout.decode().splitlines()
    assert first.rsplit("password: ", 1)[1] == second.rsplit("password: ", 1)[1]


def test_arguments_by_keyword():
    code = (
        "from halvex_rs import client\n"
        "HalvexClient = client.HalvexClient\n"
        "HalvexClient(password='pw', username='bob', transport_channel_port=6000,"
        " control_port=5000, server='::1').print_details()\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode() == details_line("::1", 5000, 6000, "bob", "pw")


@pytest.mark.parametrize(
    "args, expected",
    [
        (("10.0.0.5", 4000, None, "alice", "secret"), ("10.0.0.5", 4000, 1235, "alice", "secret")),
        (("::1", 5000, 6000, "ab", "cd"), ("::1", 5000, 6000, "ab", "cd")),
        (("127.0.0.1", 0, 65535, "", ""), ("127.0.0.1", 0, 65535, "", "")),
        (("127.0.0.1", 65535, 0, "u", "p"), ("127.0.0.1", 65535, 0, "u", "p")),
        (("127.0.0.1", Index(80), Index(81), "u", "p"), ("127.0.0.1", 80, 81, "u", "p")),
        (("127.0.0.1", None, 7, "jörg €😀", "pä ss"), ("127.0.0.1", 1234, 7, "jörg €😀", "pä ss")),
        (("127.0.0.1", None, None, "a b\tc", "x=y "), ("127.0.0.1", 1234, 1235, "a b\tc", "x=y ")),
    ],
    ids=["mixed", "ipv6", "empty-strings", "port-edges", "index-objects", "non-ascii", "spaces"],
)
def test_fields_shown_by_print_details(args, expected):
    assert details(*args) == details_line(*expected)


@pytest.mark.parametrize(
    "text, shown",
    [
        ("10.0.0.5", "10.0.0.5"),
        ("0.0.0.0", "0.0.0.0"),
        ("255.255.255.255", "255.255.255.255"),
        ("::", "::"),
        ("::1", "::1"),
        ("0:0:0:0:0:0:0:1", "::1"),
        ("2001:DB8::1", "2001:db8::1"),
        ("2001:0db8:0000:0000:0000:0000:0000:0001", "2001:db8::1"),
        ("2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"),
        ("2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"),
        ("1:0:0:2:0:0:0:3", "1:0:0:2::3"),
        ("1:0:0:0:2:0:0:0", "1::2:0:0:0"),
        ("0:2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8"),
        ("1:2:3:4:5:6:7:0", "1:2:3:4:5:6:7:0"),
        ("1:0:0:0:0:0:0:0", "1::"),
        ("fe80::", "fe80::"),
        ("ABCD:EF01:2345:6789:ABCD:EF01:2345:6789", "abcd:ef01:2345:6789:abcd:ef01:2345:6789"),
        ("1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304"),
        ("::ffff:10.0.0.5", "::ffff:10.0.0.5"),
        ("::FFFF:a00:5", "::ffff:10.0.0.5"),
        ("0:0:0:0:0:ffff:0102:0304", "::ffff:1.2.3.4"),
        ("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"),
    ],
)
def test_address_text_form(text, shown):
    assert details(text, 4000, None, "alice", "pw") == details_line(shown, 4000, 1235, "alice", "pw")


@pytest.mark.parametrize(
    "text",
    [
        "localhost",
        " 127.0.0.1",
        "127.0.0.1 ",
        "\t127.0.0.1",
        "127.0.0.1\n",
        "127.0.0.1:1234",
        "[::1]",
        "127.000.0.1",
        "127.0.0.01",
        "256.0.0.1",
        "1.2.3",
        "1.2.3.4.5",
        "1.2.3.4.",
        "127.1",
        "0x7f.0.0.1",
        "+1.2.3.4",
        "1.2.3.4/8",
        "\u0661.0.0.1",
        "",
        " ",
        "::1%lo",
        "fe80::1%1",
        "::1/128",
        "12345::1",
        "1:2:3:4:5:6:7:8:9",
        "1:2:3:4:5:6:7::8",
        ":::",
        "1::2::3",
        "1::2:",
        ":1::",
        "::g",
        "::ffff:1.2.3",
        "::ffff:256.0.0.1",
        "::ffff:10.0.0.5:1",
        "127.0.0.1\x00junk",
        "127.0.0.1\x00",
        "::1\x00",
        "\x00127.0.0.1",
    ],
    ids=ascii,
)
def test_invalid_address(text):
    with pytest.raises(ValueError) as info:
        HalvexClient(text, None, None, None, None)
    assert type(info.value) is ValueError
    assert str(info.value) == "Invalid IP address: " + text


@pytest.mark.parametrize(
    "args, kwargs",
    [
        (("127.0.0.1",), {}),
        (("127.0.0.1", None, None, None), {}),
        (("127.0.0.1", None, None, None, None, None), {}),
        (("127.0.0.1", None, None, None), {"passwd": None}),
        (("127.0.0.1", None, None, None, None), {"server": "::1"}),
        ((), {"server": "127.0.0.1"}),
    ],
    ids=["address-only", "four", "six", "unknown-keyword", "duplicate", "keyword-only-one"],
)
def test_constructor_argument_count(args, kwargs):
    with pytest.raises(TypeError):
        HalvexClient(*args, **kwargs)


@pytest.mark.parametrize("position", [1, 2], ids=["control_port", "transport_channel_port"])
@pytest.mark.parametrize("value", [65536, -1, 2**31, 2**63 - 1, -(2**63)])
def test_port_out_of_range(position, value):
    args = ["127.0.0.1", None, None, None, None]
    args[position] = value
    with pytest.raises(OverflowError) as info:
        HalvexClient(*args)
    assert str(info.value) == RANGE_MESSAGE


@pytest.mark.parametrize("position", [1, 2], ids=["control_port", "transport_channel_port"])
@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 2**64, 2**200])
def test_port_beyond_64_bits(position, value):
    args = ["127.0.0.1", None, None, None, None]
    args[position] = value
    with pytest.raises(OverflowError) as info:
        HalvexClient(*args)
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize(
    "args, message",
    [
        ((1, None, None, None, None), "argument 'server': "),
        ((None, None, None, None, None), "argument 'server': "),
        ((b"127.0.0.1", None, None, None, None), "argument 'server': "),
        (
            ("127.0.0.1", "1234", None, None, None),
            "argument 'control_port': 'str' object cannot be interpreted as an integer",
        ),
        (
            ("127.0.0.1", 1234.0, None, None, None),
            "argument 'control_port': 'float' object cannot be interpreted as an integer",
        ),
        (
            ("127.0.0.1", None, "1235", None, None),
            "argument 'transport_channel_port': 'str' object cannot be interpreted as an integer",
        ),
        (("127.0.0.1", None, None, 1, None), "argument 'username': "),
        (("127.0.0.1", None, None, b"user", None), "argument 'username': "),
        (("127.0.0.1", None, None, None, 1), "argument 'password': "),
        (("127.0.0.1", None, None, None, ["pw"]), "argument 'password': "),
        # Conversion runs in parameter order, before the address is parsed.
        (("localhost", "x", None, None, None), "argument 'control_port': "),
        (("127.0.0.1", None, None, 1, 2), "argument 'username': "),
        ((1, "x", None, None, None), "argument 'server': "),
    ],
)
def test_wrong_argument_type(args, message):
    with pytest.raises(TypeError) as info:
        HalvexClient(*args)
    assert str(info.value).startswith(message), str(info.value)
    if message.endswith(": "):
        assert len(str(info.value)) > len(message)
    else:
        assert str(info.value) == message


def test_conversion_before_address_parsing():
    with pytest.raises(OverflowError):
        HalvexClient("localhost", 70000, None, None, None)


@pytest.mark.parametrize(
    "username, password, name",
    [
        ("a\nb", None, "username"),
        ("\n", "pw", "username"),
        ("user\r", None, "username"),
        ("x\r\ny", None, "username"),
        (None, "p\nw", "password"),
        ("user", "\r", "password"),
        ("a\nb", "c\rd", "username"),
    ],
)
def test_line_breaks_in_credentials(username, password, name):
    with pytest.raises(ValueError) as info:
        HalvexClient("127.0.0.1", None, None, username, password)
    assert str(info.value) == f"argument '{name}': line breaks are not allowed in command values"


@pytest.mark.parametrize("position", [3, 4], ids=["username", "password"])
def test_lone_surrogate_in_credentials(position):
    args = ["127.0.0.1", None, None, None, None]
    args[position] = "a\ud800b"
    with pytest.raises(UnicodeEncodeError):
        HalvexClient(*args)


# --------------------------------------------------------------------------
# The class
# --------------------------------------------------------------------------

COMMAND_METHODS = """
get_version get_protocol_version login logout quit resource_create_frontend
resource_create_player resource_create_recorder resource_create_transport_channel
resource_create_rtp_channel resource_create_sound_device resource_create_fax
resource_create_document resource_delete resource_get_status
call_make call_answer call_clear call_transfer_consultation call_transfer_blind
call_hold call_retrieve call_send_dtmf call_stop_activity call_t38_relay
calls_set_alerting_type calls_set_accepting
play_file play_stream play_tone play_stop recorder_start_to_file
recorder_start_to_stream recorder_stop rtp_channel_start_receiving
rtp_channel_start_sending rtp_channel_stop rtp_channel_send_dtmf
sound_device_start sound_device_stop
fax_receive fax_send fax_abort document_add_file document_prepare document_save
document_clear audio_send audio_cancel audio_level_notification_send
audio_level_notification_cancel in_band_signaling_detection_enable
in_band_signaling_detection_disable get_rtp_statistics
""".split()
METHOD_ORDER = (
    ["connect", "disconnect", "send_raw_command", "send_command"]
    + COMMAND_METHODS
    + ["print_details"]
)


def test_class_names():
    assert HalvexClient.__module__ == "builtins"
    assert HalvexClient.__name__ == "HalvexClient"
    assert HalvexClient.__qualname__ == "HalvexClient"
    assert client_module.HalvexClient is HalvexClient


def test_cannot_be_subclassed():
    with pytest.raises(TypeError):
        type("Sub", (HalvexClient,), {})


def test_no_instance_dict_or_weakref():
    c = HalvexClient("127.0.0.1", None, None, None, None)
    assert not hasattr(c, "__dict__")
    with pytest.raises(AttributeError):
        c.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(c)


def test_no_own_repr_comparison_or_hash():
    own = vars(HalvexClient)
    for name in ("__repr__", "__str__", "__eq__", "__ne__", "__lt__", "__hash__"):
        assert name not in own, name
    a = HalvexClient("127.0.0.1", None, None, None, None)
    b = HalvexClient("127.0.0.1", None, None, None, None)
    assert a != b and a == a
    assert hash(a) != hash(b)


def test_command_tag_is_read_only():
    c = HalvexClient("127.0.0.1", None, None, None, None)
    with pytest.raises(AttributeError):
        c.command_tag = 5
    with pytest.raises(AttributeError):
        del c.command_tag
    assert c.command_tag == 0
    assert type(c.command_tag) is int


def test_constructor_signature():
    expected = "(server, control_port, transport_channel_port, username, password)"
    assert HalvexClient.__text_signature__ == expected
    assert str(inspect.signature(HalvexClient)) == expected


@pytest.mark.parametrize(
    "name, text_signature, bound_signature",
    [
        ("connect", "($self)", "()"),
        ("disconnect", "($self)", "()"),
        ("send_raw_command", "($self, message)", "(message)"),
        ("print_details", "($self)", "()"),
    ],
)
def test_method_signature(name, text_signature, bound_signature):
    method = getattr(HalvexClient, name)
    assert method.__doc__ is None
    assert method.__text_signature__ == text_signature
    assert str(inspect.signature(method)) == text_signature.replace("$self", "self, /")
    bound = getattr(HalvexClient("127.0.0.1", None, None, None, None), name)
    assert str(inspect.signature(bound)) == bound_signature


def test_method_order():
    methods = [
        name
        for name, value in vars(HalvexClient).items()
        if not name.startswith("__") and callable(value)
    ]
    assert set(methods) <= set(METHOD_ORDER), set(methods) - set(METHOD_ORDER)
    assert {"connect", "disconnect", "send_raw_command", "print_details"} <= set(methods)
    assert methods == [name for name in METHOD_ORDER if name in methods]
    public = {name for name in vars(HalvexClient) if not name.startswith("__")}
    assert public == set(methods) | {"command_tag"}


@pytest.mark.parametrize("name", ["connect", "disconnect", "print_details"])
@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((), {"x": 1})])
def test_methods_without_parameters_reject_arguments(name, args, kwargs):
    c = HalvexClient("127.0.0.1", None, None, None, None)
    with pytest.raises(TypeError):
        getattr(c, name)(*args, **kwargs)


# --------------------------------------------------------------------------
# print_details and standard output
# --------------------------------------------------------------------------


def test_print_details_bypasses_sys_stdout():
    code = (
        "import io, sys\n"
        "from halvex_rs import client\n"
        "HalvexClient = client.HalvexClient\n"
        "sys.stdout = io.StringIO()\n"
        "HalvexClient('10.0.0.5', 4000, None, 'alice', 'pw').print_details()\n"
        "captured = sys.stdout.getvalue()\n"
        "sys.stdout = sys.__stdout__\n"
        "print('captured=' + repr(captured))\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    assert done.stdout.decode() == (
        details_line("10.0.0.5", 4000, 1235, "alice", "pw") + "captured=''\n"
    )


def test_print_details_to_closed_stdout_is_silent():
    code = (
        "import os, sys\n"
        "from halvex_rs import client\n"
        "HalvexClient = client.HalvexClient\n"
        "c = HalvexClient('10.0.0.5', 4000, None, 'alice', 'pw')\n"
        "os.close(1)\n"
        "r = c.print_details()\n"
        "os.write(2, b'returned ' + repr(r).encode())\n"
        "sys.stdout = None\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    assert done.stdout == b""
    assert done.stderr == b"returned None"


def test_print_details_write_failure_raises_fatal_error():
    code = (
        "import builtins, json, os, sys\n"
        "import halvex_rs\n"
        "from halvex_rs import client, commands\n"
        "from halvex_rs import client\n"
        "HalvexClient = client.HalvexClient\n"
        "c = HalvexClient('10.0.0.5', 4000, None, 'alice', 'pw')\n"
        "saved = os.dup(1)\n"
        "os.dup2(os.open('/dev/full', os.O_WRONLY), 1)\n"
        "try:\n"
        "    c.print_details()\n"
        "except Exception as e:\n"
        "    info = {'caught_as_exception': repr(e)}\n"
        "except BaseException as e:\n"
        "    cls = type(e)\n"
        "    info = {\n"
        "        'name': cls.__name__, 'module': cls.__module__,\n"
        "        'bases': [b.__name__ for b in cls.__bases__],\n"
        "        'args': [str(a) for a in e.args],\n"
        "        'exported': [m.__name__ for m in (halvex_rs, client, commands)\n"
        "                     if any(v is cls for v in vars(m).values())],\n"
        "        'in_builtins': any(v is cls for v in vars(builtins).values()),\n"
        "    }\n"
        "else:\n"
        "    info = {'raised': False}\n"
        "os.write(saved, json.dumps(info).encode())\n"
        "sys.stdout = None\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    info = json.loads(done.stdout)
    assert info == {
        "name": "FatalError",
        "module": "builtins",
        "bases": ["BaseException"],
        "args": info.get("args"),
        "exported": [],
        "in_builtins": False,
    }
    assert len(info["args"]) == 1 and info["args"][0]
    # The message is also reported on standard error.
    assert info["args"][0] in done.stderr.decode(errors="replace")


# --------------------------------------------------------------------------
# connect / disconnect
# --------------------------------------------------------------------------


def test_disconnect_without_connection():
    c = HalvexClient("127.0.0.1", None, None, None, None)
    with pytest.raises(RuntimeError) as info:
        c.disconnect()
    assert type(info.value) is RuntimeError
    assert str(info.value) == "No active connection to disconnect"
    assert c.command_tag == 0


@pytest.mark.parametrize("host", ["127.0.0.1", "::1"])
def test_connect_disconnect_lifecycle(make_server, host):
    server = make_server(host)
    c = HalvexClient(host, server.port, None, None, None)
    assert c.connect() is None
    peer = server.peer(0)
    assert c.send_raw_command("hello") == 0
    assert peer.wait_lines(1) == b"hello COMMANDTAG=0\n"
    assert c.disconnect() is None
    with pytest.raises(RuntimeError, match="^No active connection to disconnect$"):
        c.disconnect()
    assert c.command_tag == 1
    # And once more.
    assert c.connect() is None
    assert c.send_raw_command("again") == 1
    assert server.peer(1).wait_lines(1) == b"again COMMANDTAG=1\n"
    assert c.disconnect() is None


@pytest.mark.parametrize("host", ["127.0.0.1", "::1"])
def test_connect_refused(make_server, host):
    server = make_server(host)
    port = server.port
    server.stop_listening()
    c = HalvexClient(host, port, None, None, None)
    with pytest.raises(OSError) as info:
        c.connect()
    assert str(info.value) == refused_message()
    assert c.command_tag == 0
    with pytest.raises(RuntimeError, match="^No active connection to disconnect$"):
        c.disconnect()


def test_connect_refused_message_shape(refused_port):
    c = HalvexClient("127.0.0.1", refused_port, None, None, None)
    with pytest.raises(OSError) as info:
        c.connect()
    assert isinstance(info.value, OSError)
    assert re.fullmatch(r"Failed to connect: .+ \(os error \d+\)", str(info.value))
    assert str(info.value) == refused_message()


def test_failed_second_connect_keeps_first_connection(server):
    c = HalvexClient("127.0.0.1", server.port, None, None, None)
    c.connect()
    peer = server.peer(0)
    assert c.send_raw_command("one") == 0
    server.stop_listening()
    with pytest.raises(OSError) as info:
        c.connect()
    assert str(info.value) == refused_message()
    assert c.command_tag == 1
    assert c.send_raw_command("two") == 1
    assert peer.wait_lines(2) == b"one COMMANDTAG=0\ntwo COMMANDTAG=1\n"
    assert c.disconnect() is None


def test_second_connect_switches_connection(server):
    c = HalvexClient("127.0.0.1", server.port, None, None, None)
    c.connect()
    first = server.peer(0)
    c.send_raw_command("a")
    c.connect()
    second = server.peer(1)
    c.send_raw_command("b")
    assert second.wait_lines(1) == b"b COMMANDTAG=1\n"
    assert first.wait_lines(1) == b"a COMMANDTAG=0\n"
    assert c.disconnect() is None
    assert first.data() == b"a COMMANDTAG=0\n"


def test_sockets_are_close_on_exec(child, server):
    ch = child(server.port)
    ch.run("import fcntl\nbefore = set(os.listdir('/proc/self/fd'))")
    ch.run(
        "c = HalvexClient('127.0.0.1', port, None, None, None)\n"
        "c.connect()\n"
        "new = []\n"
        "for fd in set(os.listdir('/proc/self/fd')) - before:\n"
        "    try:\n"
        "        target = os.readlink('/proc/self/fd/' + fd)\n"
        "        flags = fcntl.fcntl(int(fd), fcntl.F_GETFD)\n"
        "    except OSError:\n"
        "        continue\n"
        "    if target.startswith('socket:'):\n"
        "        new.append(bool(flags & fcntl.FD_CLOEXEC))\n"
        "emit(new)"
    )
    server.peer(0)
    (flags,) = ch.results()
    assert flags and all(flags), flags


def test_usable_from_another_thread(server):
    c = HalvexClient("127.0.0.1", server.port, None, None, None)
    outcome = []

    def work():
        c.connect()
        outcome.append(c.send_raw_command("from a thread"))
        c.disconnect()

    t = threading.Thread(target=work)
    t.start()
    t.join(WAIT)
    assert not t.is_alive()
    assert outcome == [0]
    assert server.peer(0).wait_lines(1) == b"from a thread COMMANDTAG=0\n"
    assert c.command_tag == 1
