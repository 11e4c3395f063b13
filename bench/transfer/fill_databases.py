#!/usr/bin/python3
"""fill_databases.py DATA_DIR --dir PATH --uid N --gid N [--dirlog N] [--dupes N]

Writes a site's directory log and dupe file as a busy site would have them,
so that the upload benchmark sees the cost every upload pays for them:

- logs/dirlog: N records (default 1), the last one for PATH (the upload
  directory, so each upload adds to its totals), the others for filler
  release directories elsewhere;
- logs/dupefile: N entries (default 0) of filler names uploaded within the
  last five days, so all of them still count for `dupe_check 7`.

The records are laid out as the daemon reads them (little-endian, no
header): a dirlog record is 284 bytes, a dupe file entry 288. The files are
rewritten in place, so they keep the owner and mode the site tool gave them.
"""

import argparse
import os
import struct
import time

DIRLOG = struct.Struct("<HHiHHHHI255sxII")  # status, pad, time, uid, gid, files, pad, bytes, path, pad, next, prev
DUPEFILE = struct.Struct("<256si24s4x")  # name, time, uploader
assert DIRLOG.size == 284 and DUPEFILE.size == 288


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("data_dir", help="the site's data path as seen from outside the root")
    parser.add_argument("--dir", required=True, help="the upload directory (path inside the root)")
    parser.add_argument("--uid", type=int, required=True)
    parser.add_argument("--gid", type=int, required=True)
    parser.add_argument("--dirlog", type=int, default=1, help="dirlog records in all (at least 1)")
    parser.add_argument("--dupes", type=int, default=0, help="dupe file entries")
    a = parser.parse_args()

    now = int(time.time())
    records = max(a.dirlog, 1)
    with open(os.path.join(a.data_dir, "logs/dirlog"), "r+b") as f:
        f.truncate(0)
        chunk = []
        for i in range(records - 1):
            path = b"/site/archive/Filler.Release.%06d-BENCH" % i
            chunk.append(DIRLOG.pack(0, 0, now - 86400 * 30 + i, a.uid, a.gid, 12, 0, 12 * 15000000, path, 0, 0))
            if len(chunk) == 4096:
                f.write(b"".join(chunk))
                chunk = []
        chunk.append(DIRLOG.pack(0, 0, now, a.uid, a.gid, 0, 0, 0, a.dir.encode(), 0, 0))
        f.write(b"".join(chunk))

    window = 5 * 86400
    with open(os.path.join(a.data_dir, "logs/dupefile"), "r+b") as f:
        f.truncate(0)
        chunk = []
        for i in range(a.dupes):
            name = b"filler.release.%06d.r%02d" % (i // 100, i % 100)
            chunk.append(DUPEFILE.pack(name, now - window + (i * window) // max(a.dupes, 1), b"filler"))
            if len(chunk) == 4096:
                f.write(b"".join(chunk))
                chunk = []
        f.write(b"".join(chunk))

    print("dirlog: %d records (the last for %s); dupefile: %d entries" % (records, a.dir, a.dupes))


if __name__ == "__main__":
    main()
