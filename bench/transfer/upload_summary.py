#!/usr/bin/python3
"""Reads the raw output of upload.sh and prints its tables: each server's
256 MiB curl upload and 50 uploads of 1 MiB with marlod's ratio to the best
peer, then the time per 1 MiB upload of each marlod set-up."""

import re
import statistics
import sys

PEERS = ["vsftpd", "pure-ftpd", "proftpd"]
# The marlod rows of the main table: the pass before the peers and the one
# after them, which shows how much the machine drifted during the sitting.
MARLOD_PASSES = ["marlod", "marlod-end"]
MARLOD_SETUPS = [
    ("marlod", "CRC, dupe file, dirlog record for the directory"),
    ("marlod+check", "the same and a post_check that exits 0"),
    ("marlod+check+db", "the same with a dirlog of {dirlog} records and a dupe file of {dupes}"),
]
MIB = 1048576


def parse(text):
    big, small, dele, sizes = {}, {}, {}, {}
    for name, dirlog, dupes in re.findall(r"^\[(\S+)\] dirlog: (\d+) records.*dupefile: (\d+) entries", text, re.M):
        sizes[name] = {"dirlog": "{:,}".format(int(dirlog)), "dupes": "{:,}".format(int(dupes))}
    for name, value in re.findall(r"^\[(\S+)\] curl_stor .*?median_bytes_per_s=(\d+)", text, re.M):
        big[name] = int(value) / 1e6
    current = None
    for line in text.splitlines():
        tagged = re.match(r"^\[(\S+)\] (.*)$", line)
        if not tagged:
            continue
        name, rest = tagged.groups()
        if rest.startswith("stor size=%d " % MIB):
            current = name
            continue
        if current != name:
            continue
        mbs = re.match(r"\s+MB/s: median ([\d.]+)", rest)
        if mbs:
            small.setdefault(name, []).append(float(mbs.group(1)))
        ms = re.match(r"\s+DELE ms median ([\d.]+)", rest)
        if ms:
            dele.setdefault(name, []).append(float(ms.group(1)))
    # Several sessions per server: the median of their medians.
    sessions = dict(small)
    small = {name: statistics.median(values) for name, values in small.items()}
    dele = {name: statistics.median(values) for name, values in dele.items()}
    return big, small, dele, sizes, sessions


def cell(table, name, fmt="%.1f"):
    return fmt % table[name] if name in table else "-"


def upload_ms(mbs):
    """Milliseconds per 1 MiB upload, from STOR to the 226 reply."""
    return MIB / (mbs * 1e6) * 1e3


def main(path):
    text = open(path, errors="replace").read()
    big, small, dele, sizes, sessions = parse(text)
    servers = [n for n in MARLOD_PASSES + PEERS if n in big or n in small]
    print("%-10s %18s %15s %13s %9s" % ("server", "256MiB curl MB/s", "1MiB x50 MB/s", "ms/1MiB STOR", "DELE ms"))
    for name in servers:
        print("%-10s %18s %15s %13s %9s" % (
            name, cell(big, name), cell(small, name),
            "%.2f" % upload_ms(small[name]) if name in small else "-", cell(dele, name, "%.2f")))
    for name in servers:
        if len(sessions.get(name, [])) > 1:
            print("1 MiB x50 by session, %s: %s MB/s" % (name, " / ".join("%.1f" % v for v in sessions[name])))
    peers = [n for n in servers if n in PEERS]
    for label, table, goal in (("256 MiB curl", big, 1.0), ("1 MiB x 50", small, 0.9)):
        present = [n for n in peers if n in table]
        if not present:
            continue
        best = max(present, key=lambda n: table[n])
        for marlod in [n for n in MARLOD_PASSES if n in table]:
            ratio = table[marlod] / table[best]
            print("%s / best peer (%s, %s): %.2f  (goal >= %.1f: %s)" % (
                marlod, label, best, ratio, goal, "met" if ratio >= goal else "NOT met"))
    loads = re.findall(r"^\[(\S+)\] load average: ([\d.]+)", text, re.M)
    if loads:
        print("load average (1 min) at the start of each: " + ", ".join("%s %s" % pair for pair in loads))

    present = [(n, what) for n, what in MARLOD_SETUPS if n in small]
    if present:
        print()
        print("%-16s %13s %13s %10s %9s  %s" % ("marlod set-up", "1MiB x50 MB/s", "ms/1MiB STOR", "added ms", "DELE ms",
                                              "what each upload does"))
        base = upload_ms(small["marlod"]) if "marlod" in small else None
        for name, what in present:
            ms = upload_ms(small[name])
            added = "%+.2f" % (ms - base) if base is not None and name != "marlod" else "-"
            what = what.format(**sizes.get(name, {"dirlog": "?", "dupes": "?"}))
            print("%-16s %13.1f %13.2f %10s %9s  %s" % (name, small[name], ms, added, cell(dele, name, "%.2f"), what))


if __name__ == "__main__":
    main(sys.argv[1])
