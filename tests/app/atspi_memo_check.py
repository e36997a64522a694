#!/usr/bin/env python3
"""Reads the memos of the running program through AT-SPI, as a screen reader does.

The program (a copy in a folder of its own, 5 bytes a line) listens to the simulator, which
sends what this script writes to its --script input. Memo1 must read exactly as the telegrams
are shown: newest on top, then, after "Nejnovější na konci" is pressed through AT-SPI too,
newest last; a damaged block as "Vadne CRC dat". The same text must follow from the memo's
change events alone. Usage: atspi_memo_check.py QTR290 QTR290_SIM WORK_DIR
"""
import os
import shutil
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

READ_REQUEST = bytes.fromhex("A6 00 F0 0A 03 5D 01 57 01 00 A7")
WRITE_REQUEST = bytes.fromhex("A6 00 F0 9A 06 CA 02 57 01 00 12 34 87 D9")
DAMAGED_WRITE = WRITE_REQUEST[:-1] + b"\xDA"  # the block checksum one off
BYTES_PER_LINE = 5


def shown(telegram):
    """The memo lines of a telegram: "XX " per byte, a line break after every fifth."""
    text = "".join(
        "%02X " % byte + ("\n" if (i + 1) % BYTES_PER_LINE == 0 else "")
        for i, byte in enumerate(telegram)
    )
    return text.split("\n")


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def pump(seconds):
    """Lets the AT-SPI events in for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.iteration(False):
            pass
        time.sleep(0.02)


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    for i in range(node.get_child_count()):
        yield from walk(node.get_child_at_index(i), depth + 1)


def find(application, description=None, name=None):
    for node in walk(application):
        try:
            if description is not None and node.get_description() == description:
                return node
            if name is not None and node.get_name() == name:
                return node
        except GLib.Error:
            continue
    return None


def memo_text(memo):
    count = Atspi.Text.get_character_count(memo)
    return Atspi.Text.get_text(memo, 0, count)


def wait_for(memo, expected, what):
    end = time.monotonic() + 20
    text = None
    while time.monotonic() < end:
        pump(0.1)
        text = memo_text(memo)
        if text == expected:
            return
    fail("%s: Memo1 reads %r, expected %r" % (what, text, expected))


def start(program, work):
    """The program, started again when the X server turned its first connection away, as a
    busy machine now and then makes it do; any other early end is the program's own."""
    for attempt in range(3):
        log_path = os.path.join(work, "program-%d.log" % attempt)
        with open(log_path, "wb") as log:
            utility = subprocess.Popen([program], stderr=log)
        time.sleep(2)
        if utility.poll() is None:
            return utility
        with open(log_path, encoding="utf-8", errors="replace") as log:
            output = log.read()
        if "could not connect to display" not in output:
            fail("the program ended with status %d:\n%s" % (utility.returncode, output))
    fail("the program could not connect to the X server three times:\n" + output)


def main():
    program, sim, work = sys.argv[1:4]
    simulator = subprocess.Popen(
        [sim, "--script", "--poll-interval", "0", "--quiet"],
        stdin=subprocess.PIPE,
        stdout=subprocess.PIPE,
        text=True,
    )
    device = simulator.stdout.readline().strip()
    if not device:
        fail("the simulator gave no device")
    run = os.path.join(work, "run")
    os.makedirs(run)
    shutil.copy2(program, run)
    with open(os.path.join(run, "nastaveni.ini"), "wb") as settings:
        settings.write(
            b"[Seriovy port]\r\nPort=1\r\n\r\n[Program]\r\nPocet bytu na radku=%d\r\n"
            b"\r\n[Porty]\r\nCOM1=%s\r\n" % (BYTES_PER_LINE, device.encode())
        )
    utility = None
    try:
        utility = start(os.path.join(run, os.path.basename(program)), work)
        check(simulator, utility)
    finally:
        if utility is not None:
            utility.terminate()
            utility.wait(timeout=10)
        simulator.stdin.write("quit\n")
        simulator.stdin.close()
        simulator.wait(timeout=10)
    print("Memo1 read through AT-SPI as shown, in both orders; its events agree")


def check(simulator, utility):
    desktop = Atspi.get_desktop(0)
    application = None
    end = time.monotonic() + 30
    while application is None and time.monotonic() < end:
        pump(0.2)
        for i in range(desktop.get_child_count()):
            candidate = desktop.get_child_at_index(i)
            if candidate is not None and candidate.get_process_id() == utility.pid:
                application = candidate
        if utility.poll() is not None:
            fail("the program ended with status %d" % utility.returncode)
    if application is None:
        fail("the program did not appear on the accessibility bus")
    memos = {}
    end = time.monotonic() + 20
    while len(memos) < 3 and time.monotonic() < end:
        pump(0.2)
        memos = {n: find(application, description=n) for n in ("Memo1", "Memo2", "Memo3")}
        memos = {n: m for n, m in memos.items() if m is not None}
    if len(memos) < 3:
        fail("found only %s" % sorted(memos))
    memo1 = memos["Memo1"]
    if memo1.get_role() != Atspi.Role.TEXT:
        fail("Memo1's role is %s" % memo1.get_role_name())
    states = memo1.get_state_set()
    if not states.contains(Atspi.StateType.MULTI_LINE) or states.contains(
        Atspi.StateType.EDITABLE
    ):
        fail("Memo1 is not a read-only multi-line text")
    for name in ("Memo1", "Memo2", "Memo3"):
        if memo_text(memos[name]) != "":
            fail("%s is not empty at start: %r" % (name, memo_text(memos[name])))

    # What a reader knows by following the change events alone.
    followed = {"text": ""}

    def changed(event):
        if event.source is None or event.source.get_description() != "Memo1":
            return
        offset, text = event.detail1, event.any_data
        if event.type.endswith(":insert"):
            followed["text"] = followed["text"][:offset] + text + followed["text"][offset:]
        elif event.type.endswith(":delete"):
            followed["text"] = followed["text"][:offset] + followed["text"][offset + len(text):]

    listener = Atspi.EventListener.new(changed)
    listener.register("object:text-changed:insert")
    listener.register("object:text-changed:delete")
    pump(0.5)

    def send(telegram):
        simulator.stdin.write(telegram.hex(" ").upper() + "\n")
        simulator.stdin.flush()

    # Newest on top, as at a first start.
    lines = []
    for telegram, entry in (
        (READ_REQUEST, shown(READ_REQUEST)),
        (DAMAGED_WRITE, ["Vadne CRC dat"]),
        (WRITE_REQUEST, shown(WRITE_REQUEST)),
    ):
        send(telegram)
        lines = entry + lines
        wait_for(memo1, "\n".join(lines), "newest on top")

    newest_last = find(application, name="Nejnovější na konci")
    if newest_last is None:
        fail("no radio button \"Nejnovější na konci\"")
    Atspi.Action.do_action(newest_last, 0)
    pump(0.5)
    send(READ_REQUEST)
    lines = lines + shown(READ_REQUEST)
    wait_for(memo1, "\n".join(lines), "newest last")

    pump(1.0)
    if followed["text"] != memo_text(memo1):
        fail("the events tell %r, Memo1 reads %r" % (followed["text"], memo_text(memo1)))
    if memo_text(memos["Memo2"]) != "" or memo_text(memos["Memo3"]) != "":
        fail("Memo2 or Memo3 is not empty")


if __name__ == "__main__":
    main()
