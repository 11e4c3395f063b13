#!/usr/bin/python3
"""Reads the raw output of run.sh and prints one table: each server's 1 GiB
curl download, 1 MiB downloads (the median of its sessions), LIST of 10,000
files and mixed workload,
with marlod's ratio to the best peer and to the loopback limit."""

import re
import statistics
import sys


def main(path):
    text = open(path, errors="replace").read()
    big, small, listing, mixed = {}, {}, {}, {}
    for name, value in re.findall(r"^\[(\S+)\] curl_retr big\.bin .*?median_bytes_per_s=(\d+)", text, re.M):
        big[name] = int(value) / 1e6
    current = None
    for line in text.splitlines():
        tagged = re.match(r"^\[(\S+)\] (.*)$", line)
        if not tagged:
            continue
        name, rest = tagged.groups()
        if rest.startswith("retr file=small.bin"):
            current = ("small", name)
        elif rest.startswith("list dir=many"):
            current = ("list", name)
        elif rest.startswith("mixed clients="):
            current = ("mixed", name)
        elif current and current[1] == name:
            mbs = re.match(r"\s+MB/s: median ([\d.]+)", rest)
            ms = re.match(r"\s+ms: median ([\d.]+)", rest)
            ops = re.match(r"\s+ops/s: ([\d.]+)", rest)
            if current[0] == "small" and mbs:
                small.setdefault(name, []).append(float(mbs.group(1)))
            if current[0] == "list" and ms:
                listing[name] = float(ms.group(1))
            if current[0] == "mixed" and ops:
                mixed[name] = float(ops.group(1))
    sessions = dict(small)
    small = {name: statistics.median(values) for name, values in small.items()}
    loopback = [float(v) for v in re.findall(
        r"loopback mode=sendfile reader=curl.*\n\s+MB/s: median ([\d.]+)", text)]
    servers = [n for n in ["marlod", "vsftpd", "pure-ftpd", "proftpd"] if n in big or n in small]
    print("%-10s %14s %14s %14s %14s" % ("server", "1GiB curl MB/s", "1MiB x50 MB/s", "LIST 10k ms",
                                         "mixed ops/s"))
    for name in servers:
        print("%-10s %14s %14s %14s %14s" % (
            name, *("%.1f" % table[name] if name in table else "-" for table in (big, small, listing, mixed))))
    if loopback:
        print("loopback limit (sendfile, curl reader): %s MB/s" % " / ".join("%.1f" % v for v in loopback))
    for name in servers:
        if len(sessions.get(name, [])) > 1:
            print("1 MiB x50 by session, %s: %s MB/s" % (name, " / ".join("%.1f" % v for v in sessions[name])))
    peers = [n for n in servers if n != "marlod"]
    if "marlod" in big and peers:
        best = max(big.get(n, 0) for n in peers)
        print("marlod / best peer (1 GiB): %.2f" % (big["marlod"] / best if best else 0))
        if loopback:
            print("marlod / loopback limit (1 GiB): %.2f" % (big["marlod"] / max(loopback)))
    for label, table in (("1 MiB x50", small), ("mixed", mixed)):
        if "marlod" in table and peers:
            best = max(table.get(n, 0) for n in peers)
            print("marlod / best peer (%s): %.2f" % (label, table["marlod"] / best if best else 0))
    if "marlod" in listing and peers:
        best = min(listing.get(n, float("inf")) for n in peers)
        print("marlod LIST / best peer LIST (lower is better): %.2f" % (listing["marlod"] / best))


if __name__ == "__main__":
    main(sys.argv[1])
