#!/usr/bin/python3
"""The soak: many concurrent sessions, one account each, for a fixed time,
mixing logins, listings, downloads, uploads, SITE commands and abrupt
disconnects (some in the middle of a transfer); then the checks.

Every worker keeps a ledger of what it did. Afterwards, per account:
- every upload the client completed is on disk with its full size, and every
  download it completed has its transfer-log line with the full size;
- the userfile's upload statistics and credits equal what the files the
  account uploaded earn (their size on disk is what the server received,
  cut uploads included), at the account's ratio;
- the download statistics and the credits spent equal the transfer-log
  lines of the account; a download cut by a closed control connection is
  accounted by the end of the session without a log line, so for those the
  unexplained remainder must be the same in credits and in KiB, and at most
  the size of the files whose downloads were cut that way.
Also: no errors outside the deliberate disconnects, the online table empty
afterwards, and per daemon process no growth of the lowest descriptor
count between the middle and the last third of its life (sampled from
/proc every 2 s; the anonymous resident size likewise, over the sessions
that stay for the whole run: they first do one of each operation, so the
buffers a session makes once are there before the middle third).

Usage: soak.py --port P --site DIR --launcher PID --ipc-key HEX --users N
               --slots N [--sessions N] [--seconds S] [--report FILE]
The site (made by run.sh) has accounts soak0000.. with password "soakpw",
each with its own directory /soak/NAME and the shared files /soak/shared/*.
"""

import argparse
import ftplib
import io
import json
import os
import random
import socket
import struct
import sys
import threading
import time
from collections import Counter

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import site_books  # noqa: E402

PASSWORD = "soakpw"
RATIO = 3
SHARED_SIZES = (2048, 65536, 1 << 20)
TIMEOUT = 60
# A session's memory follows the size of what it reads (a WHO of 600
# sessions, the listing of a growing directory), so one session may step
# up once; what a session keeps for good shows in most of them.
ANON_GROWTH_MAX_KIB = 256
ANON_GROWTH_MEAN_KIB = 32


def account_name(i):
    return "soak%04d" % i


def shared_files():
    return ["/soak/shared/blob%d.bin" % i for i in range(len(SHARED_SIZES))]


def payload(size, seed):
    block = bytes(((i * 131) + seed) & 0xFF for i in range(4096))
    return (block * (size // 4096 + 1))[:size]


class Ledger:
    def __init__(self):
        self.uploads = []        # paths the client sent STOR for (complete or cut)
        self.complete_up = []    # (path, size)
        self.complete_down = []  # (path, size)
        self.cut_down = []       # (path, size of the file)
        self.counts = Counter()
        self.errors = []


def abrupt_close(client, reset):
    """Drops the control connection without QUIT; with `reset` as a TCP
    reset instead of an orderly close."""
    sock = client.sock
    if sock is None:
        return
    if reset:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    try:
        if client.file:
            client.file.close()
    except OSError:
        pass
    sock.close()
    client.sock = client.file = None


class Worker:
    def __init__(self, index, args, deadline, run_id, long_lived):
        self.name = account_name(index)
        self.args = args
        self.deadline = deadline
        self.run_id = run_id
        self.long_lived = long_lived
        self.rng = random.Random(index * 7919 + run_id)
        self.ledger = Ledger()
        self.serial = 0
        self.my_files = []  # (path, size) of completed uploads, for downloads
        self.sampler = None

    # --- one session

    def connect(self):
        client = ftplib.FTP(timeout=TIMEOUT)
        client.connect("127.0.0.1", self.args.port)
        return client

    def run(self):
        while time.monotonic() < self.deadline:
            try:
                self.session()
            except Exception as failure:  # an error outside a deliberate disconnect
                self.ledger.errors.append("%s: %s: %s" % (self.name, type(failure).__name__, failure))
                time.sleep(0.5)

    def session(self):
        rng = self.rng
        if self.long_lived:
            self.sampler.session_started(self.name)
        client = self.connect()
        self.ledger.counts["sessions"] += 1
        if rng.random() < 0.03:  # gone after USER, before PASS
            client.sendcmd("USER " + self.name)
            abrupt_close(client, rng.random() < 0.5)
            self.ledger.counts["cut_before_login"] += 1
            return
        client.login(self.name, PASSWORD)
        self.ledger.counts["logins"] += 1
        client.cwd("/soak/" + self.name)
        operations = 10 ** 9 if self.long_lived else rng.randint(3, 30)
        if self.long_lived:
            self.warm_up(client)
            self.sampler.warmed_up(self.name)
        for _ in range(operations):
            if time.monotonic() >= self.deadline:
                break
            time.sleep(rng.uniform(0.05, 0.6))
            roll = rng.random()
            if self.long_lived and roll < 0.04:
                roll += 0.04  # a session that stays is never cut
            if roll < 0.02:
                abrupt_close(client, rng.random() < 0.5)
                self.ledger.counts["cut_idle"] += 1
                return
            if roll < 0.03:
                self.cut_upload(client)
                return
            if roll < 0.04:
                self.cut_download(client)
                return
            if roll < 0.28:
                self.upload(client)
            elif roll < 0.50:
                self.download(client)
            elif roll < 0.70:
                self.listing(client)
            else:
                self.site_command(client)
        client.quit()
        client.close()
        self.ledger.counts["quits"] += 1

    # --- operations

    def warm_up(self, client):
        self.upload(client)
        self.download(client)
        lines = []
        client.retrlines("LIST", lines.append)
        client.nlst()
        for command in ("SITE STAT", "SITE WHO", "SITE ALUP", "SITE USER " + self.name):
            self.site_reply(client, command)

    def new_upload_name(self):
        self.serial += 1
        return "%s-%d-%05d.bin" % (self.name, self.run_id, self.serial)

    def upload(self, client):
        name = self.new_upload_name()
        size = self.rng.choice((100, 1500, 20000, 150000, 700000))
        path = "/soak/%s/%s" % (self.name, name)
        self.ledger.uploads.append(path)
        client.storbinary("STOR " + name, io.BytesIO(payload(size, self.serial)))
        self.ledger.complete_up.append((path, size))
        self.my_files.append((path, size))
        self.ledger.counts["uploads"] += 1

    def download_target(self):
        if self.my_files and self.rng.random() < 0.5:
            return self.rng.choice(self.my_files)
        i = self.rng.randrange(len(SHARED_SIZES))
        return shared_files()[i], SHARED_SIZES[i]

    def download(self, client):
        path, size = self.download_target()
        got = [0]

        def count(chunk):
            got[0] += len(chunk)
        client.retrbinary("RETR " + path, count)
        if got[0] != size:
            raise AssertionError("RETR %s gave %d bytes of %d" % (path, got[0], size))
        self.ledger.complete_down.append((path, size))
        self.ledger.counts["downloads"] += 1

    def listing(self, client):
        if self.rng.random() < 0.5:
            lines = []
            client.retrlines("LIST", lines.append)
        else:
            try:
                client.nlst()
            except ftplib.error_perm as refusal:  # the answer in an empty folder
                if not str(refusal).startswith("550 No files found"):
                    raise
        client.pwd()
        self.ledger.counts["listings"] += 1

    def site_command(self, client):
        command = self.rng.choice(("SITE STAT", "SITE TAGLINE soak tag %d" % self.serial,
                                   "SITE TIME", "SITE HELP", "SITE ALUP", "SITE USER " + self.name,
                                   "SITE WHO", "STAT", "NOOP"))
        if command == "SITE WHO" and self.rng.random() < 0.8:
            command = "SITE IDLE"  # the full WHO of hundreds of sessions stays rare
        client.voidcmd(command) if not command.startswith("SITE") else self.site_reply(client, command)
        self.ledger.counts["site"] += 1

    def site_reply(self, client, command):
        reply = client.sendcmd(command)
        if not reply[:1] == "2":
            raise AssertionError("%s: %s" % (command, reply))

    def drop_mid_transfer(self, client, data):
        """Half the time the data connection goes first (the server ends the
        transfer as a short one), else the control connection (the server
        ends the session in the middle of the transfer)."""
        if self.rng.random() < 0.5:
            data.close()
            time.sleep(0.2)
            abrupt_close(client, False)
        else:
            abrupt_close(client, self.rng.random() < 0.5)
            data.close()

    def cut_upload(self, client):
        """Sends part of a file and drops the data and control connections;
        sometimes the control connection first."""
        name = self.new_upload_name()
        path = "/soak/%s/%s" % (self.name, name)
        self.ledger.uploads.append(path)
        client.voidcmd("TYPE I")
        data = client.transfercmd("STOR " + name)
        data.sendall(payload(self.rng.choice((3000, 60000, 400000)), 1))
        self.drop_mid_transfer(client, data)
        self.ledger.counts["cut_uploads"] += 1

    def cut_download(self, client):
        i = 2  # the 1 MiB file, so that the transfer is still going
        path, size = shared_files()[i], SHARED_SIZES[i]
        client.voidcmd("TYPE I")
        data = client.transfercmd("RETR " + path)
        data.recv(self.rng.choice((1000, 30000)))
        data.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.drop_mid_transfer(client, data)
        self.ledger.cut_down.append((path, size))
        self.ledger.counts["cut_downloads"] += 1


# --- the checks ---------------------------------------------------------

def check_account(name, ledger, before, after, xferlog, root):
    """The problems found in one account's books (a list of texts)."""
    problems = []
    mine = [e for e in xferlog if e[0] == name]
    logged_down = Counter((e[2], e[3]) for e in mine if e[1] == "o")
    for path, size in ledger.complete_down:
        if logged_down[(path, size)] <= 0:
            problems.append("download %s (%d) has no log line" % (path, size))
        logged_down[(path, size)] -= 1

    # Uploads: what is on disk is what the server received and accepted.
    up_files = up_kib = up_credits = 0
    on_disk = {}
    for path in ledger.uploads:
        try:
            size = os.stat(root + path).st_size
        except FileNotFoundError:
            continue
        on_disk[path] = size
        up_files += 1
        up_kib += size // 1024
        up_credits += size * RATIO // 1024
    for path, size in ledger.complete_up:
        if on_disk.get(path) != size:
            problems.append("upload %s: %s bytes on disk of %d" % (path, on_disk.get(path), size))

    down_files = down_kib = 0
    for e in mine:
        if e[1] == "o" and e[3] > 1023:
            down_files += 1
            down_kib += e[3] // 1024

    delta = {key: tuple(a - b for a, b in zip(after[key], before[key])) for key in site_books.STAT_KEYS}
    credits_delta = after["CREDITS"] - before["CREDITS"]
    for key in ("ALLUP", "WKUP", "DAYUP", "MONTHUP"):
        if delta[key][:2] != (up_files, up_kib):
            problems.append("%s grew by %s, uploads on disk make (%d, %d)"
                            % (key, delta[key][:2], up_files, up_kib))
    unlogged_cut = [size for path, size in ledger.cut_down]
    extra_files = delta["ALLDN"][0] - down_files
    extra_kib = delta["ALLDN"][1] - down_kib
    extra_cost = up_credits - down_kib - credits_delta
    if extra_kib != extra_cost:
        problems.append("credits moved by %d, uploads earn %d, logged downloads cost %d, "
                        "unlogged download KiB %d" % (credits_delta, up_credits, down_kib, extra_kib))
    if not (0 <= extra_files <= len(unlogged_cut)) or not (0 <= extra_kib <= sum(s // 1024 for s in unlogged_cut)):
        problems.append("download statistics %s beyond the log (%d files, %d KiB) and the cut downloads %s"
                        % (delta["ALLDN"][:2], down_files, down_kib, unlogged_cut))
    for key in ("WKDN", "DAYDN", "MONTHDN"):
        if delta[key][:2] != delta["ALLDN"][:2]:
            problems.append("%s grew by %s, ALLDN by %s" % (key, delta[key][:2], delta["ALLDN"][:2]))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--site", required=True, help="the site's work directory (root/ and marlod.conf)")
    parser.add_argument("--launcher", type=int, required=True)
    parser.add_argument("--ipc-key", required=True)
    parser.add_argument("--users", type=int, default=500)
    parser.add_argument("--sessions", type=int, default=500, help="concurrent workers")
    parser.add_argument("--slots", type=int, required=True, help="online table size")
    parser.add_argument("--seconds", type=float, default=300)
    parser.add_argument("--long-lived", type=float, default=0.05,
                        help="share of workers that keep one session for the whole run")
    parser.add_argument("--report", default=None)
    args = parser.parse_args()

    root = os.path.join(args.site, "root")
    users_dir = os.path.join(root, "ftp-data", "users")
    names = [account_name(i) for i in range(args.users)]
    before = {name: site_books.read_books(os.path.join(users_dir, name)) for name in names}

    run_id = int(time.time()) % 100000
    started = time.monotonic()
    deadline = started + args.seconds
    workers = [Worker(i, args, deadline, run_id, i < args.sessions * args.long_lived)
               for i in range(args.sessions)]
    sampler = site_books.ProcessSampler(args.launcher, int(args.ipc_key, 16), args.slots)
    for worker in workers:
        worker.sampler = sampler
    stop_sampling = threading.Event()

    def sample_loop():
        while not stop_sampling.wait(2.0):
            if time.monotonic() >= deadline:
                sampler.close()
            sampler.sample()
    sampling = threading.Thread(target=sample_loop, daemon=True)
    sampling.start()
    threads = [threading.Thread(target=w.run, daemon=True) for w in workers]
    for i, thread in enumerate(threads):
        thread.start()
        if i % 50 == 49:
            time.sleep(0.2)  # ramp up instead of 500 connects in one go
    for thread in threads:
        thread.join(args.seconds + 4 * TIMEOUT)
    load_seconds = time.monotonic() - started
    stuck = sum(1 for t in threads if t.is_alive())

    # Sessions that were dropped end on their own; wait for the processes.
    # One fresh session stays while the table is read (the last process to
    # leave removes the segment): its slot must be the only one taken.
    settle = time.monotonic() + 30
    while site_books.children_of(args.launcher) and time.monotonic() < settle:
        sampler.sample()
        time.sleep(0.5)
    stop_sampling.set()
    left_processes = site_books.children_of(args.launcher)
    watcher = ftplib.FTP(timeout=TIMEOUT)
    watcher.connect("127.0.0.1", args.port)
    watcher.login(names[-1], PASSWORD)
    watcher_pids = site_books.children_of(args.launcher)
    online = site_books.online_slots(int(args.ipc_key, 16), args.slots)
    watcher.quit()
    online = [slot for slot in online or [] if slot[1] not in watcher_pids] if online else online

    xferlog = site_books.read_xferlog(os.path.join(root, "ftp-data", "logs", "xferlog"))
    problems = []
    for i, worker in enumerate(workers):
        name = account_name(i)
        after = site_books.read_books(os.path.join(users_dir, name))
        problems += ["%s: %s" % (name, p) for p in check_account(name, worker.ledger, before[name], after, xferlog, root)]
    for name in names[len(workers):]:
        if site_books.read_books(os.path.join(users_dir, name)) != before[name]:
            problems.append("%s: books changed without sessions" % name)

    counts = Counter()
    errors = []
    for worker in workers:
        counts.update(worker.ledger.counts)
        errors += worker.ledger.errors
    moved_up = sum(size for w in workers for _, size in w.ledger.complete_up)
    moved_down = sum(size for w in workers for _, size in w.ledger.complete_down)
    report = {
        "sessions": args.sessions, "accounts": args.users, "seconds": args.seconds,
        "load_seconds": round(load_seconds, 1), "counts": dict(counts),
        "complete_upload_mib": round(moved_up / 1048576, 1),
        "complete_download_mib": round(moved_down / 1048576, 1),
        "xferlog_lines": len(xferlog),
        "errors": len(errors), "error_samples": errors[:20],
        "workers_stuck": stuck,
        "processes_left": left_processes,
        "online_slots_taken": online,
        "book_problems": len(problems), "book_problem_samples": problems[:30],
        "processes": sampler.summary(),
    }
    text = json.dumps(report, indent=1)
    print(text)
    if args.report:
        with open(args.report, "w") as f:
            f.write(text + "\n")
    ok = (not errors and not stuck and not left_processes and online == [] and not problems
          and report["processes"]["fd_floor_growth_max"] <= 0
          and report["processes"]["anon_floor_growth_kib_max"] <= ANON_GROWTH_MAX_KIB
          and report["processes"]["anon_floor_growth_kib_mean"] <= ANON_GROWTH_MEAN_KIB
          and len(watcher_pids) == 1)
    print("soak: %s" % ("PASS" if ok else "FAIL"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
