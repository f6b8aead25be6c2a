"""The module tree, sum_as_string and the shape of the built extension."""

import importlib
import inspect
import shutil
import subprocess
import sys

import pytest

import halvex_rs
from halvex_rs import client, commands

from command_table import Index
from conftest import run_python

U64_MAX = 2**64 - 1
HIDDEN_CLASSES = (
    "Channels",
    "ECM",
    "AudioFormatType",
    "PayloadType",
    "ToneType",
    "ConstantWithDescription",
)


def public_names(module):
    return [name for name in dir(module) if not name.startswith("__")]


# --------------------------------------------------------------------------
# Module tree
# --------------------------------------------------------------------------


@pytest.mark.parametrize(
    "module, name, doc, names",
    [
        (halvex_rs, "halvex_rs", "", ["sum_as_string", "client", "commands"]),
        (client, "client", None, ["HalvexClient", "sum_as_string"]),
        (commands, "commands", None, ["Command"]),
    ],
    ids=["top", "client", "commands"],
)
def test_module_tree(module, name, doc, names):
    assert module.__name__ == name
    assert module.__doc__ == doc
    assert module.__all__ == names
    assert sorted(public_names(module)) == sorted(names)


def test_submodules_are_attributes_only():
    assert halvex_rs.client is client
    assert halvex_rs.commands is commands
    loaded = list(sys.modules.values())
    assert all(m is not client and m is not commands for m in loaded)
    for name in ("halvex_rs.client", "halvex_rs.commands"):
        with pytest.raises(ModuleNotFoundError):
            importlib.import_module(name)


def test_from_import_in_fresh_interpreter():
    code = (
        "try:\n"
        "    import halvex_rs.client\n"
        "except ModuleNotFoundError:\n"
        "    print('import failed')\n"
        "from halvex_rs import client\n"
        "print(client.HalvexClient.__name__)\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    assert done.stdout == b"import failed\nHalvexClient\n"


@pytest.mark.parametrize("module", [halvex_rs, client, commands], ids=lambda m: m.__name__)
@pytest.mark.parametrize("name", HIDDEN_CLASSES)
def test_parameter_classes_not_reachable(module, name):
    assert not hasattr(module, name)


def test_reimport_gives_same_module_object():
    code = (
        "import sys, halvex_rs\n"
        "first = halvex_rs\n"
        "del sys.modules['halvex_rs']\n"
        "import halvex_rs\n"
        "print(halvex_rs is first, halvex_rs.client is first.client,\n"
        "      halvex_rs.__all__ == ['sum_as_string', 'client', 'commands'])\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    assert done.stdout == b"True True True\n"


def test_import_from_sub_interpreter_is_refused():
    pytest.importorskip("_xxsubinterpreters")
    inner = (
        "import os\n"
        "try:\n"
        "    import halvex_rs\n"
        "except ImportError as e:\n"
        "    os.write(1, b'ImportError ' + str(e).encode() + b'\\n')\n"
        "else:\n"
        "    os.write(1, b'imported\\n')\n"
    )
    code = (
        "import halvex_rs, _xxsubinterpreters as si\n"
        "interp = si.create()\n"
        f"si.run_string(interp, {inner!r})\n"
        "si.destroy(interp)\n"
        "import os; os.write(1, b'main still has ' + halvex_rs.__name__.encode() + b'\\n')\n"
    )
    done = run_python(code)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.decode().splitlines()
    assert len(lines) == 2
    assert lines[0].startswith("ImportError "), lines
    assert lines[0] != "ImportError "  # says why
    assert lines[1] == "main still has halvex_rs"


# --------------------------------------------------------------------------
# sum_as_string
# --------------------------------------------------------------------------

SUM_FUNCTIONS = [
    pytest.param(halvex_rs.sum_as_string, id="top"),
    pytest.param(client.sum_as_string, id="client"),
]


@pytest.mark.parametrize("fn", SUM_FUNCTIONS)
@pytest.mark.parametrize(
    "a, b, expected",
    [
        (2, 3, "5"),
        (0, 0, "0"),
        (U64_MAX, 1, "0"),
        (U64_MAX, 2, "1"),
        (U64_MAX, 0, "18446744073709551615"),
        (U64_MAX, U64_MAX, "18446744073709551614"),
        (2**63, 2**63, "0"),
        (2**63, 2**63 - 1, "18446744073709551615"),
        (2**32, 2**32, "8589934592"),
        (9, 1, "10"),
        (Index(40), Index(2), "42"),
        (True, False, "1"),
    ],
)
def test_sum_as_string(fn, a, b, expected):
    assert fn(a, b) == expected
    assert fn(b=b, a=a) == expected
    assert fn(a, b=b) == expected


@pytest.mark.parametrize("fn", SUM_FUNCTIONS)
@pytest.mark.parametrize(
    "a, b",
    [(-1, 0), (0, -1), (2**64, 0), (0, 2**64), (2**100, 0), (-(2**63) - 1, 0), (-1, "x")],
)
def test_sum_as_string_out_of_range(fn, a, b):
    with pytest.raises(OverflowError) as info:
        fn(a, b)
    assert type(info.value) is OverflowError
    assert not str(info.value).startswith("argument")


@pytest.mark.parametrize("fn", SUM_FUNCTIONS)
@pytest.mark.parametrize(
    "a, b, message",
    [
        ("1", 2, "argument 'a': 'str' object cannot be interpreted as an integer"),
        (1, "2", "argument 'b': 'str' object cannot be interpreted as an integer"),
        (1.0, 2, "argument 'a': 'float' object cannot be interpreted as an integer"),
        (None, 2, "argument 'a': 'NoneType' object cannot be interpreted as an integer"),
        ("x", -1, "argument 'a': 'str' object cannot be interpreted as an integer"),
    ],
)
def test_sum_as_string_wrong_type(fn, a, b, message):
    with pytest.raises(TypeError) as info:
        fn(a, b)
    assert str(info.value) == message


@pytest.mark.parametrize("fn", SUM_FUNCTIONS)
@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((), {}),
        ((1,), {}),
        ((1, 2, 3), {}),
        ((1,), {"a": 2}),
        ((1, 2), {"c": 3}),
        ((), {"a": 1, "c": 2}),
    ],
)
def test_sum_as_string_bad_arguments(fn, args, kwargs):
    with pytest.raises(TypeError):
        fn(*args, **kwargs)


@pytest.mark.parametrize(
    "fn, module", [(halvex_rs.sum_as_string, "halvex_rs"), (client.sum_as_string, "client")]
)
def test_sum_as_string_attributes(fn, module):
    assert fn.__module__ == module
    assert fn.__name__ == "sum_as_string"
    assert fn.__doc__ is None
    assert fn.__text_signature__ == "(a, b)"
    assert str(inspect.signature(fn)) == "(a, b)"


def test_two_distinct_sum_functions():
    assert halvex_rs.sum_as_string is not client.sum_as_string


# --------------------------------------------------------------------------
# The built extension
# --------------------------------------------------------------------------


def test_extension_is_abi3():
    assert halvex_rs.__file__.endswith(".abi3.so")


def test_only_init_function_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    out = subprocess.run(
        [nm, "-D", "--defined-only", halvex_rs.__file__],
        capture_output=True,
        text=True,
        timeout=60,
        check=True,
    ).stdout
    symbols = [line.split() for line in out.splitlines() if line.strip()]
    text_symbols = [fields[-1] for fields in symbols if fields[-2] == "T"]
    assert text_symbols == ["PyInit_halvex_rs"]
    # Nor any data or weak symbol (absolute version nodes aside).
    others = [f for f in symbols if f[-2] != "A" and f[-1] != "PyInit_halvex_rs"]
    assert others == []
