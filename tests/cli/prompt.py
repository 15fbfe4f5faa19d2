#!/usr/bin/env python3
"""The rire-host prompt on a real pseudo-terminal: Tab completion, Ctrl-C on
a half-typed line, the history written line by line, help, a typo's hint,
and the state directory a run without --state names.

usage: prompt.py RIRE_HOST [LAUNCHER]"""
import fcntl
import os
import pty
import select
import subprocess
import sys
import tempfile
import termios
import time


class Terminal:
    def __init__(self, argv, env, cwd):
        self.master, slave = pty.openpty()
        self.proc = subprocess.Popen(argv, stdin=slave, stdout=slave, stderr=slave, env=env, cwd=cwd,
                                     start_new_session=True,
                                     preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(slave)
        self.seen = b""

    def wait_for(self, text, timeout=60):
        """Reads until `text` has arrived since the last wait; fails otherwise."""
        want = text.encode()
        deadline = time.time() + timeout
        while want not in self.seen:
            left = deadline - time.time()
            ready, _, _ = select.select([self.master], [], [], max(left, 0))
            if not ready:
                sys.exit(f"FAIL: no {text!r} in {self.seen.decode(errors='replace')!r}")
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                chunk = b""
            if not chunk:
                sys.exit(f"FAIL: output ended without {text!r}: {self.seen!r}")
            self.seen += chunk
        _, _, self.seen = self.seen.partition(want)

    def read_to_end(self, timeout=60):
        """Reads until the process closes the terminal: it restores the
        terminal's modes at its end, which waits until its output is read."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if select.select([self.master], [], [], 1)[0]:
                try:
                    if not os.read(self.master, 4096):
                        return
                except OSError:
                    return

    def type(self, keys):
        # The line editor prints its prompt before it switches the terminal
        # to its own modes; keys typed in between are echoed and lost, so a
        # typist's pause comes first.
        time.sleep(0.05)
        os.write(self.master, keys.encode())


def main():
    host = os.path.abspath(sys.argv[1])
    launcher = [sys.argv[2]] if len(sys.argv) > 2 and sys.argv[2] else []
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home, TERM="vt100")
        history = os.path.join(home, ".rire_host_history")
        # Without --state, the run says which state directory it uses.
        term = Terminal(launcher + [host], env, home)
        term.wait_for("rire-host: state rire-state: created")
        term.wait_for("rire# ")

        # Tab completes a verb and its argument keys with their '=': the
        # line typed with Tab runs as the whole line would.
        term.type("link-upd\tre\t7 ty\t1 old-d\t300 new-d\t400\r")
        term.wait_for("result 1 (held)")
        term.wait_for("rire# ")
        # Ctrl-C drops the half-typed line (the request is not answered);
        # the process goes on. Under qemu-i386 a SIGINT taken by a process
        # with a second thread makes its exit abort (the emulator's fault,
        # not the prompt's), so there ctrl-U drops the line instead.
        term.type("hw-done id=7")
        term.wait_for("id=7")  # echoed: the line editor is reading
        if launcher:
            term.type("\x15\r")
        else:
            term.type("\x03")
        term.wait_for("rire# ")
        if term.proc.poll() is not None:
            sys.exit("FAIL: ctrl-C ended the process")
        # Tab completes a subcommand.
        term.type("dump qu\t\r")
        term.wait_for("req_id 7 type 1, 1 held")
        term.wait_for("rire# ")
        # Each line entered is in the history file at once; the dropped one is not.
        with open(history) as f:
            lines = f.read().replace("\\040", " ")  # libedit's escape of a blank
        if "dump queue" not in lines or "hw-done" in lines:
            sys.exit(f"FAIL: history after ctrl-C holds {lines!r}")
        # Tab completes the word a key takes.
        term.type("dump pss db=pe\t\r")
        term.wait_for("pending_di (20): 0 records")
        term.wait_for("rire# ")
        # Tab completes a fault name, after help too.
        term.type("help fault index.re\t\r")
        term.wait_for("fault index.realloc.error [after=u32]")
        term.wait_for("rire# ")

        # help is an index grouped by purpose; help VERB the detail.
        term.type("help\r")
        term.wait_for("hardware updates and oiflists:")
        term.wait_for("rire# ")
        term.type("help swap\r")
        term.wait_for("message id the request carries now")
        term.wait_for("rire# ")
        # A slip is answered with the nearest verb, and the prompt goes on.
        term.type("hw-dnoe id=1\r")
        term.wait_for("did you mean 'hw-done'?")
        term.wait_for("rire# ")

        term.type("\x04")
        term.read_to_end()
        status = term.proc.wait(timeout=60)
        if status != 0:
            sys.exit(f"FAIL: ctrl-D ended with status {status}")
    print("prompt: ok")


main()
