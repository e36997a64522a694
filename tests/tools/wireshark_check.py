#!/usr/bin/env python3
"""Checks qtr290-pcap's output against the bus simulator's log, telegram by telegram.

Usage: wireshark_check.py SIM_LOG CAPTURE_FILE PCAPNG FIELDS_TSV FILTER_COUNT SUMMARY
       wireshark_check.py --write-transmitted PCAPNG   (a transmitted telegram, for the lead byte)

The simulator logs every telegram and noise burst it put on the line; the capture file
holds what a listener received from some moment on. Checked: the packets hold exactly the
capture's bytes, in order, and those are the tail of what the simulator sent; every logged
telegram inside the capture has a packet of its own at its place, intact ones unflagged with
the dissector's fields equal to an independent decoding of the logged bytes, damaged ones
flagged and their wrong checksum named; noise lies in skipped packets; the display filter
count and the converter's summary agree with the log.
"""
import struct
import sys

# The same directory: the CRC8 of a write request and the pcapng writer.
from wireshark_robust import OUTBOUND, crc8, write_pcapng

FLAG_CRC_ERROR = 1 << 24
FLAG_TOO_SHORT = 1 << 26
FLAG_NO_START = 1 << 29
FIELDS = ["frame.number", "frame.packet_flags", "qtr290.sync", "qtr290.to", "qtr290.from",
          "qtr290.device", "qtr290.kind", "qtr290.length", "qtr290.hdr_checksum",
          "qtr290.rw", "qtr290.area", "qtr290.count", "qtr290.address", "qtr290.data",
          "qtr290.crc8", "qtr290.block_checksum", "qtr290.poll", "qtr290.lead",
          "qtr290.bad_checksum", "qtr290.damaged", "_ws.col.Info"]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def read_log(path):
    items = []
    for line in open(path, encoding="ascii"):
        words = line.split()
        if len(words) < 3 or words[1] != "TX":
            continue
        kind = words[2]
        data = bytes(int(w, 16) for w in words[3:] if "=" not in w)
        fault = next((w.split("=")[1] for w in words if w.startswith("fault=")), None)
        items.append((kind, data, fault))
    return items


def read_capture(path):
    stream = bytearray()
    for raw in open(path, "rb").read().split(b"\r\n"):
        line = raw.decode("ascii")
        if not line or line.endswith(">Cteni dat"):
            continue
        stream += bytes(int(w, 16) for w in line[22:].split())
    return bytes(stream)


def read_pcapng(path):
    """(flags, bytes) of every Enhanced Packet Block; checks the interface's link type."""
    data = open(path, "rb").read()
    packets, at = [], 0
    while at < len(data):
        kind, length = struct.unpack_from("<II", data, at)
        if kind == 1:
            check(struct.unpack_from("<H", data, at + 8)[0] == 147, "link type is not USER0 (147)")
        if kind == 6:
            caplen = struct.unpack_from("<I", data, at + 20)[0]
            payload = data[at + 28:at + 28 + caplen]
            opt, flags = at + 28 + (caplen + 3) // 4 * 4, 0
            while opt < at + length - 4:
                code, size = struct.unpack_from("<HH", data, opt)
                if code == 0:
                    break
                if code == 2:
                    flags = struct.unpack_from("<I", data, opt + 4)[0]
                opt += 4 + (size + 3) // 4 * 4
            packets.append((flags, payload))
        at += length
    return packets


def hexv(value):
    return "0x%02x" % value


def request_layout(device, L, count):
    """"read" or "write" where the block is laid out as a request, else None."""
    if device & 0x0F != 0x0A:
        return None
    if device & 0x80 == 0:
        return "read" if L == 3 else None
    return "write" if L == count + 4 else None


def expected_fields(t):
    """The dissector's fields of an intact telegram, decoded here from the bytes alone."""
    long_ = t[0] == 0xA6
    h = 6 if long_ else 5
    L = t[4] if long_ else t[3] & 0x1F
    block = t[h:h + L + 2]
    poll = (t[3] & 0x07) == 0 if long_ else (t[3] >> 5) == 4
    f = {"qtr290.sync": hexv(t[0]), "qtr290.to": hexv(t[1]), "qtr290.from": hexv(t[2]),
         "qtr290.length": str(L), "qtr290.hdr_checksum": hexv(t[h - 1]),
         "qtr290.block_checksum": hexv(block[-1]), "qtr290.poll": "1" if poll else "0",
         "qtr290.lead": "0", "qtr290.bad_checksum": "", "qtr290.damaged": "",
         "qtr290.device": hexv(t[3]) if long_ else "",
         "qtr290.kind": "" if long_ else str(t[3] >> 5),
         "qtr290.rw": "", "qtr290.area": "", "qtr290.count": "", "qtr290.address": "",
         "qtr290.crc8": "", "qtr290.data": ""}
    if long_ and not poll:
        f["qtr290.rw"] = str(t[3] >> 7)
        f["qtr290.area"] = hexv(t[3] & 0x70)
    layout = request_layout(t[3], L, block[0]) if long_ and not poll else None
    if layout:
        count = block[0]
        f["qtr290.count"] = str(count)
        f["qtr290.address"] = "0x%06x" % int.from_bytes(block[1:4], "little")
        data = block[4:-1]
        if layout == "write":
            f["qtr290.crc8"] = hexv(block[-2])
            data = block[4:-2]
            if crc8(block[:-2]) != block[-2]:
                f["qtr290.bad_checksum"] = "CRC8"
        f["qtr290.data"] = data.hex()
    else:
        f["qtr290.data"] = block[:-1].hex()
    return f


def main(log_path, capture_path, pcap_path, fields_path, filter_count_path, summary_path):
    items = read_log(log_path)
    capture = read_capture(capture_path)
    packets = read_pcapng(pcap_path)
    rows = [dict(zip(FIELDS, line.rstrip("\n").split("\t")))
            for line in open(fields_path, encoding="utf-8")]
    sent = b"".join(data for _, data, _ in items)

    check(len(rows) == len(packets), "tshark shows %d packets, the file has %d" % (len(rows), len(packets)))
    check(b"".join(p for _, p in packets) == capture, "the packets' bytes are not the capture's bytes")
    check(len(capture) > 0 and sent.endswith(capture), "the capture is not the tail of what was sent")
    check(len(capture) * 2 > len(sent), "the capture holds less than half of what was sent")

    # Packet start offsets within the capture.
    starts, at = {}, 0
    for index, (_, payload) in enumerate(packets):
        starts[at] = index
        at += len(payload)
    offset = len(sent) - len(capture)

    def packet_at(position):
        """The packet that holds the capture byte at `position`."""
        best = max(s for s in starts if s <= position)
        return starts[best]

    position = 0
    intact = damaged = polls_from_f0 = noise = 0
    for kind, data, fault in items:
        start, position = position - offset, position + len(data)
        if start < 0:
            continue  # sent before the listener opened the port
        if kind == "noise":
            for i in range(len(data)):
                flags = packets[packet_at(start + i)][0]
                check(flags & FLAG_NO_START, "noise byte %d not in a skipped packet" % (start + i))
            noise += len(data)
            continue
        if not check(start in starts, "%s telegram %s has no packet of its own" % (kind, data.hex())):
            continue
        index = starts[start]
        flags, payload = packets[index]
        row = rows[index] if index < len(rows) else {}
        if fault:
            damaged += 1
            check(flags & FLAG_CRC_ERROR, "damaged telegram %s not flagged" % data.hex())
            check(data.startswith(payload), "damaged packet %s is not the start of %s" % (payload.hex(), data.hex()))
            check(row.get("qtr290.damaged") == "1", "qtr290.damaged missing on frame %d" % (index + 1))
            if payload == data:
                check(fault in row.get("qtr290.bad_checksum", ""),
                      "frame %d: %s damage not named (%r)" % (index + 1, fault, row.get("qtr290.bad_checksum")))
            continue
        intact += 1
        check(flags & 0xFFFF0000 == 0 and flags & 3 == 1, "intact telegram flagged 0x%08x" % flags)
        check(payload == data, "packet %s instead of %s" % (payload.hex(), data.hex()))
        for name, value in expected_fields(data).items():
            check(row.get(name, "") == value,
                  "frame %d (%s) %s: %r, expected %r" % (index + 1, data.hex(), name, row.get(name), value))
        arrow = "%02X→%02X" % (data[2], data[1])
        check(row.get("_ws.col.Info", "").endswith(arrow),
              "frame %d: Info %r does not end with sender→addressee %s" % (index + 1, row.get("_ws.col.Info"), arrow))
        if data[2] == 0xF0 and expected_fields(data)["qtr290.poll"] == "1":
            polls_from_f0 += 1

    filtered = int(open(filter_count_path).read().split()[0])
    check(polls_from_f0 > 0 and filtered == polls_from_f0,
          "filter selected %d polls from 0xF0, the log has %d" % (filtered, polls_from_f0))
    check(damaged > 0 and noise > 0, "the run injected no damage or no noise")

    summary = dict(line.split(": ", 1) for line in open(summary_path).read().splitlines() if ": " in line)
    unflagged = sum(1 for flags, _ in packets if flags & 0xFFFF0000 == 0)
    crc_flagged = sum(1 for flags, _ in packets if flags & FLAG_CRC_ERROR)
    check(summary.get("telegrams") == str(unflagged), "summary telegrams %s, packets %d" % (summary.get("telegrams"), unflagged))
    check(summary.get("damaged", "").split()[0] == str(crc_flagged), "summary damaged differs from the packets")

    print("sent %d bytes, captured %d; telegrams checked: %d intact, %d damaged; noise bytes %d; "
          "polls from F0: %d" % (len(sent), len(capture), intact, damaged, noise, polls_from_f0))
    for message in failures[:40]:
        print("FAIL: " + message)
    return 1 if failures else 0


def write_transmitted(path):
    """A pcapng file with one telegram as the utility transmits it: outbound, 0xFF first."""
    write_pcapng(path, [(bytes.fromhex("FF A6 00 F0 1A 03 4D 01 57 01 00 A7"), OUTBOUND)])


if __name__ == "__main__":
    if sys.argv[1] == "--write-transmitted":
        write_transmitted(sys.argv[2])
        sys.exit(0)
    sys.exit(main(*sys.argv[1:]))
