#!/usr/bin/env python3
"""The dissector on packets that no framer would cut: random, truncated and odd ones.

Usage: wireshark_robust.py DISSECTOR WORK_DIR [SEED]
       wireshark_robust.py --lines SEED   (telegrams for the simulator's script, one per line)

Writes a pcapng file of packets (empty, a lone sync byte, headers with right checksums and
short blocks, blocks up to 257 bytes, 0xFF leads, random bytes), each under several packet
flags, decodes it with tshark and the dissector, and checks: no Lua error, no dissector bug
and no malformed packet anywhere; one QTR290 tree per packet; and every intact telegram
(both checksums right, no damage flag) unflagged, unless it is a write request whose CRC8
is wrong, which is flagged as exactly that.
"""
import os
import random
import struct
import subprocess
import sys

INBOUND, OUTBOUND = 1, 2
CRC_ERROR, TOO_SHORT, NO_START = 1 << 24, 1 << 26, 1 << 29


def checksum(data):
    return -sum(data) % 256


def crc8(data):
    crc = 0
    for d in data:
        for _ in range(8):
            mix = (crc ^ d) & 1
            crc >>= 1
            if mix:
                crc ^= 0x8C
            d >>= 1
    return crc


def telegram(sync, to, frm, third, block_body):
    """A telegram with right checksums; `third` is Device (long) or kind and length (short)."""
    if sync == 0xA6:
        header = bytes([sync, to, frm, third, len(block_body) - 1])
    else:
        header = bytes([sync, to, frm, third])
    header += bytes([checksum(header)])
    return header + block_body + bytes([checksum(block_body)])


def write_request(rng, device, data, crc_right=True):
    body = bytes([len(data)]) + bytes(rng.randrange(256) for _ in range(3)) + data
    crc = crc8(body) if crc_right else crc8(body) ^ 0x5A
    return telegram(0xA6, rng.randrange(256), rng.randrange(256), device, body + bytes([crc]))


def random_telegram(rng, sync, function):
    """Right checksums, a random block; function: Device bits 0-2 or the short kind."""
    to, frm = rng.randrange(256), rng.randrange(256)
    if sync == 0xA6:
        device = rng.randrange(256) & 0xF8 | function
        size = rng.choice([1, 2, 4, 5, 6, rng.randrange(1, 257)])
        if device & 0x0F == 0x0A and device & 0x80 and size >= 5 and rng.random() < 0.5:
            return write_request(rng, device, bytes(rng.randrange(256) for _ in range(size - 5)))
        return telegram(sync, to, frm, device, bytes(rng.randrange(256) for _ in range(size)))
    size = rng.randrange(1, 33)
    return telegram(sync, to, frm, function << 5 | (size - 1), bytes(rng.randrange(256) for _ in range(size)))


def packets(rng):
    """(bytes, intact, wrong_crc8) in a fixed order for the seed."""
    out = [(b"", False, False)]
    for lone in ([0xA6], [0xA5], [0xFF], [0xFF, 0xA6], [0xFF, 0xA5], [0xFF, 0xFF], [0x00]):
        out.append((bytes(lone), False, False))
    whole = []
    for sync in (0xA6, 0xA5):
        for function in range(8):
            whole.append(random_telegram(rng, sync, function))
    whole.append(write_request(rng, 0x9A, b"\x12\x34"))
    whole.append(write_request(rng, 0x8A, b""))
    whole.append(telegram(0xA6, 0x00, 0xF0, 0x1A, bytes([0x01, 0x57, 0x01, 0x00])))
    whole.append(telegram(0xA6, 0x00, 0xF0, 0x8A, bytes(rng.randrange(256) for _ in range(256))))
    # Layouts a request could have but does not: no CRC8 is looked for, whatever the byte
    # where a write request would carry it holds.
    answer = bytes([0x01, 0x57, 0x01, 0x00, 0x46])
    whole.append(telegram(0xA6, 0xF0, 0x00, 0x1B, answer + bytes([crc8(answer) ^ 0xFF])))
    whole.append(telegram(0xA6, 0x00, 0xF0, 0x9A, bytes([0x07, 1, 2, 3, 4])))
    whole.append(telegram(0xA6, 0x00, 0xF0, 0x1A, bytes([0x01, 0x57, 0x01])))
    for t in whole:
        out.append((t, True, False))
        # Cut at every length that leaves a header, and a few that do not.
        for cut in sorted({1, 2, 4, 5, 6, 7, len(t) - 1, rng.randrange(1, len(t))}):
            if cut < len(t):
                out.append((t[:cut], False, False))
        out.append((b"\xff" + t, True, False))
        out.append((b"\xff\xff" + t, False, False))
        out.append((t + bytes(rng.randrange(256) for _ in range(rng.randrange(1, 9))), True, False))
    out.append((write_request(rng, 0x9A, b"\x12\x34", crc_right=False), True, True))
    for _ in range(200):
        size = rng.choice([1, 2, 5, 6, 7, 11, rng.randrange(1, 300)])
        data = bytearray(rng.randrange(256) for _ in range(size))
        if rng.random() < 0.6:
            data[0] = rng.choice([0xA6, 0xA5, 0xFF])
        if size > 1 and data[0] == 0xFF and rng.random() < 0.5:
            data[1] = rng.choice([0xA6, 0xA5])
        out.append((bytes(data), False, False))
    return out


FLAG_SETS = [None, INBOUND, OUTBOUND, INBOUND | CRC_ERROR, INBOUND | NO_START,
             INBOUND | TOO_SHORT, OUTBOUND | CRC_ERROR | NO_START | TOO_SHORT]


def write_pcapng(path, items):
    def block(kind, body):
        body += b"\0" * (-len(body) % 4)
        return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)
    with open(path, "wb") as out:
        out.write(block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1)))
        out.write(block(1, struct.pack("<HHI", 147, 0, 0)))
        for n, (data, flags) in enumerate(items):
            epb = struct.pack("<IIIII", 0, 0, n, len(data), len(data)) + data + b"\0" * (-len(data) % 4)
            if flags is not None:
                epb += struct.pack("<HHI", 2, 4, flags) + struct.pack("<I", 0)
            out.write(block(6, epb))


def main(dissector, work, seed=7):
    rng = random.Random(int(seed))
    items, expect = [], []
    for data, intact, wrong_crc8 in packets(rng):
        for flags in FLAG_SETS:
            items.append((data, flags))
            # Under a damage or skip flag the same bytes are the framer's rejects.
            plain = flags is None or flags in (INBOUND, OUTBOUND)
            expect.append((intact and plain, wrong_crc8))
    path = os.path.join(work, "robust.pcapng")
    write_pcapng(path, items)
    tshark = ["tshark", "-X", "lua_script:" + dissector, "-r", path]
    verbose = subprocess.run(tshark + ["-V"], capture_output=True, text=True)
    fields = subprocess.run(tshark + ["-T", "fields", "-E", "separator=/t", "-e", "frame.number",
                                      "-e", "qtr290.bad_checksum", "-e", "_ws.col.Info"],
                            capture_output=True, text=True)
    failures = []
    for run in (verbose, fields):
        if run.returncode != 0:
            failures.append("tshark exited with %d: %s" % (run.returncode, run.stderr.strip()[:300]))
    text = verbose.stdout + verbose.stderr + fields.stdout + fields.stderr
    for needle in ("Lua Error", "Dissector bug", "Malformed Packet", "Lua: Error"):
        lines = [line.strip() for line in text.splitlines() if needle in line]
        if lines:
            failures.append("%d line(s) with %r, the first: %s" % (len(lines), needle, lines[0]))
    trees = verbose.stdout.count("QTR290 bus telegram")
    if trees != len(items):
        failures.append("%d QTR290 trees for %d packets" % (trees, len(items)))
    rows = [line.split("\t") for line in fields.stdout.splitlines()]
    if len(rows) != len(items):
        failures.append("%d rows of fields for %d packets" % (len(rows), len(items)))
    intact = 0
    for row, (data, flags), (whole, wrong_crc8) in zip(rows, items, expect):
        if not whole or len(row) < 3:
            continue
        intact += 1
        named, info = row[1], row[2]
        wanted = "CRC8" if wrong_crc8 else ""
        if named != wanted or ("[wrong" in info) != wrong_crc8:
            failures.append("frame %s (%s, flags %s): flagged %r, Info %r" %
                            (row[0], data.hex(), flags, named, info))
    print("wireshark_robust: %d packets (%d intact telegrams among them), %d QTR290 trees"
          % (len(items), intact, trees))
    for message in failures[:30]:
        print("FAIL: " + message)
    return 1 if failures or intact == 0 else 0


def script_lines(seed):
    """Intact telegrams of every function (Device bits 0-2) and short kind, random blocks."""
    rng = random.Random(int(seed))
    for sync in (0xA6, 0xA5):
        for function in range(8):
            for _ in range(2):
                print(random_telegram(rng, sync, function).hex(" ").upper())
    print(write_request(rng, 0x9A, bytes(rng.randrange(256) for _ in range(20))).hex(" ").upper())


if __name__ == "__main__":
    if sys.argv[1] == "--lines":
        script_lines(sys.argv[2])
        sys.exit(0)
    sys.exit(main(*sys.argv[1:]))
