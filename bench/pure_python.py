"""The rival: what a Python programmer would write without halvex_rs.

Idiomatic and reasonably fast: one class per command with `__slots__`, the
same defaults and the same text as halvex_rs, made with f-strings; a client
that sends each command as one tagged line with `socket.sendall`; and a
reader thread that prints every line the server sends.  Standard library only.
"""

import os
import socket
import threading


class CallMake:
    __slots__ = ("resource_id", "address", "timeout", "caller_number", "caller_name", "privacy", "screen")

    def __init__(self, resource_id, address, timeout, caller_number, caller_name, privacy, screen):
        self.resource_id = resource_id
        self.address = address
        self.timeout = 30000 if timeout is None else timeout
        self.caller_number = caller_number
        self.caller_name = caller_name
        self.privacy = 0 if privacy is None else privacy
        self.screen = 1 if screen is None else screen

    def __str__(self):
        number, name = self.caller_number, self.caller_name
        return (
            f"CallMake {self.resource_id} {self.address} TimeOut={self.timeout}"
            f"{'' if number is None else f' CallerNumber={number}'}"
            f"{'' if name is None else f' CallerName={name}'}"
            f" Privacy={self.privacy} Screen={self.screen}"
        )


class RecorderStartToFile:
    __slots__ = (
        "resource_id", "file_name", "audio_type", "sample_rate", "channels",
        "file_offset", "max_duration", "max_silence", "voice_trigger", "pause_if_empty",
    )

    def __init__(self, resource_id, file_name, audio_type, sample_rate, channels,
                 file_offset, max_duration, max_silence, voice_trigger, pause_if_empty):
        self.resource_id = resource_id
        self.file_name = file_name
        self.audio_type = audio_type
        self.sample_rate = sample_rate
        self.channels = channels
        self.file_offset = file_offset
        self.max_duration = max_duration
        self.max_silence = max_silence
        self.voice_trigger = voice_trigger
        self.pause_if_empty = pause_if_empty

    def __str__(self):
        audio_type, sample_rate, channels = self.audio_type, self.sample_rate, self.channels
        file_offset, max_duration, max_silence = self.file_offset, self.max_duration, self.max_silence
        voice_trigger, pause_if_empty = self.voice_trigger, self.pause_if_empty
        return (
            f"RecorderStartToFile {self.resource_id} {self.file_name}"
            f"{'' if audio_type is None else f' Type={audio_type}'}"
            f"{'' if sample_rate is None else f' SampleRate={sample_rate}'}"
            f"{'' if channels is None else f' Channels={channels}'}"
            f"{'' if file_offset is None else f' FileOffset={file_offset}'}"
            f"{'' if max_duration is None else f' MaxDuration={max_duration}'}"
            f"{'' if max_silence is None else f' MaxSilence={max_silence}'}"
            f"{'' if voice_trigger is None else f' VoiceTrigger={voice_trigger:d}'}"
            f"{'' if pause_if_empty is None else f' PauseIfEmpty={pause_if_empty:d}'}"
        )


class Client:
    """A connected client: tagged command lines out, printed lines in."""

    __slots__ = ("sock", "command_tag")

    def __init__(self, host, port):
        self.sock = socket.create_connection((host, port))
        self.command_tag = 0

    def start_reader(self):
        threading.Thread(target=print_lines, args=(self.sock.dup(),), daemon=True).start()

    def send_raw_command(self, text):
        tag = self.command_tag
        self.sock.sendall(f"{text} COMMANDTAG={tag}\n".encode())
        self.command_tag = tag + 1
        return tag

    def call_make(self, resource_id, address, timeout, caller_number, caller_name, privacy, screen):
        self.send_raw_command(str(CallMake(resource_id, address, timeout, caller_number, caller_name, privacy, screen)))


def print_lines(sock):
    """The reader thread: print every line the server sends, then say so."""
    with sock, sock.makefile("r", encoding="utf-8", errors="replace", newline="\n") as lines:
        for line in lines:
            os.write(1, f"Received: {line.strip()}\n".encode())
    os.write(1, b"Connection closed.\n")
