"""A short session against the bundled loopback server.

Every line the server sends is printed by the client's reader thread as
"Received: ...", tagged like the command it answers.
"""

import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import halvex_rs  # noqa: E402
from loopback_server import LoopbackServer  # noqa: E402

HalvexClient = halvex_rs.client.HalvexClient
Command = halvex_rs.commands.Command


def main() -> None:
    server = LoopbackServer()
    client = HalvexClient("127.0.0.1", server.port, None, "alice", "secret")
    client.print_details()
    client.connect()

    # One method per protocol command; each line carries the next tag.
    client.login()
    client.resource_create_frontend(None, None, None, True)
    client.call_make(7, "1234", None, "200", None, None, None)
    client.call_send_dtmf(7, "12#", None, None, None)

    # Commands as values: read their text, match them, send them.
    play = Command.play_file(7, "welcome.wav", None, 8000, None, None, None)
    print(f"built: {play}", flush=True)
    match play:
        case Command.PlayFile():
            tag = client.send_command(play)
            print(f"sent PlayFile with tag {tag}", flush=True)

    client.call_clear(7, "normal")
    client.logout()
    client.quit()

    # The server closes after Quit; the reader then prints "Connection closed.".
    if not server.closed_connections.acquire(timeout=5):
        sys.exit("the loopback server did not finish in time")
    time.sleep(0.2)  # let the reader thread print its last lines before the process ends
    client.disconnect()
    server.close()
    print(f"next tag would be {client.command_tag}", flush=True)


if __name__ == "__main__":
    main()
