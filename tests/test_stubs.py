"""The shipped type stubs agree with the runtime and serve type checkers."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent

# `client` and `commands` are attributes of the package, not importable
# modules; the checker imports by name, so it is shown them first.
STUBTEST = """
import sys
import halvex_rs
sys.modules["halvex_rs.client"] = halvex_rs.client
sys.modules["halvex_rs.commands"] = halvex_rs.commands
from mypy.stubtest import main
sys.argv = ["stubtest", "halvex_rs", "--allowlist", sys.argv[1]]
sys.exit(main())
"""

MISTAKES = """
import halvex_rs
Command = halvex_rs.commands.Command
client = halvex_rs.client.HalvexClient("127.0.0.1", None, None, None, None)
Command.call_make(1, "x")
client.play_stop("a")
client.calls_set_accepting(1, 1.5)
Command.CallClear(Command.call_hold(1)._0)
"""


def run(*command: str, cwd: Path = ROOT) -> subprocess.CompletedProcess[str]:
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True, timeout=300)


def test_stubs_match_the_runtime():
    result = run(sys.executable, "-c", STUBTEST, str(ROOT / "tests" / "stubtest_allowlist.txt"))
    assert result.returncode == 0, result.stdout + result.stderr


def checkers():
    yield pytest.param([sys.executable, "-m", "mypy", "--strict"], id="mypy")
    pyright = shutil.which("pyright")
    yield pytest.param([pyright] if pyright else [], id="pyright",
                       marks=pytest.mark.skipif(pyright is None, reason="pyright is not installed"))


@pytest.mark.parametrize("checker", checkers())
def test_quickstart_type_checks(checker):
    result = run(*checker, "examples/quickstart.py")
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("checker", checkers())
def test_checkers_see_the_signatures(checker, tmp_path):
    source = tmp_path / "mistakes.py"
    source.write_text(MISTAKES)
    result = run(*checker, str(source), cwd=tmp_path)
    report = result.stdout
    assert result.returncode != 0
    for line in (5, 6, 7, 8):
        assert f"mistakes.py:{line}:" in report, report
