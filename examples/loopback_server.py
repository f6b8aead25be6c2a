"""A tiny stand-in server for trying the client without a real one.

It accepts connections on loopback and answers every line that carries a
command tag with one line that repeats the tag:

    CallMake 7 1234 TimeOut=30000 Privacy=0 Screen=1 COMMANDTAG=3
    -> OK CallMake COMMANDTAG=3

After answering "Quit" it closes the connection.  Standard library only.
"""

from __future__ import annotations

import socket
import threading


def answer(line: str) -> str | None:
    """The reply to one received line, or None for a line without a tag."""
    words = line.split()
    tag = next((w for w in reversed(words) if w.startswith("COMMANDTAG=")), None)
    if tag is None:
        return None
    return f"OK {words[0]} {tag}\r\n"


class LoopbackServer:
    """Serves on 127.0.0.1 in background threads until `close()`."""

    def __init__(self, port: int = 0) -> None:
        self._listener = socket.create_server(("127.0.0.1", port))
        self.port = self._listener.getsockname()[1]
        self.closed_connections = threading.Semaphore(0)
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self) -> None:
        while True:
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection: socket.socket) -> None:
        with connection, connection.makefile("r", encoding="utf-8", errors="replace", newline="\n") as lines:
            for line in lines:
                reply = answer(line)
                if reply is not None:
                    connection.sendall(reply.encode())
                if line.startswith("Quit "):
                    break
        self.closed_connections.release()

    def close(self) -> None:
        self._listener.close()


if __name__ == "__main__":
    import sys

    server = LoopbackServer(int(sys.argv[1]) if len(sys.argv) > 1 else 1234)
    print(f"listening on 127.0.0.1:{server.port}", flush=True)
    threading.Event().wait()
