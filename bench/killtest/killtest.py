#!/usr/bin/python3
"""The kill test: ROUNDS times, a few sessions upload, download, log in
and out, and run SITE commands that write userfiles, the directory log and
the dupe file (TAGLINE, GIVE, MKD/RMD, uploads), and one daemon process,
picked at random among the launcher's children, gets SIGKILL at a random
moment. After every round:
- every userfile holds every line the daemon writes, with numbers; once
  the accounts of the round have logged in again, the users folder holds
  nothing but userfiles, templates and lock files; every passwd and group
  line parses;
- the directory log and the dupe file hold whole records only;
- every account of the round logs in within 5 s (a lock left by the killed
  process is forced open after 4 s);
- per account, the credits moved exactly as the operations the clients saw
  complete say, plus at most the effect of the one operation that was cut:
  an upload earns nothing or what its file on disk earns, a download costs
  between nothing and the file's size, a GIVE moves the amount on both
  sides or on neither (one side only counts as a credit that appeared or
  vanished).

Usage: killtest.py --port P --site DIR --launcher PID --users N [--rounds N]
"""

import argparse
import ftplib
import io
import json
import os
import random
import signal
import sys
import threading
import time
from collections import Counter

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "soak"))
import site_books  # noqa: E402

PASSWORD = "soakpw"
RATIO = 3
UPLOAD = bytes(range(256)) * 4096 * 4  # 4 MiB
DOWNLOAD, DOWNLOAD_SIZE = "/soak/shared/blob2.bin", 1 << 20
GIVE_AMOUNT = 7
TIMEOUT = 20
DIRLOG_RECORD, DUPE_RECORD = 284, 288


def account_name(i):
    return "soak%04d" % i


class Session(threading.Thread):
    """One client doing one kind of operation over and over until told to
    stop. `done` lists the credit changes of completed operations as
    (account, change); `cut` describes the operation under way (so, once
    the connection broke, the one that was cut)."""

    def __init__(self, kind, name, other, round_number, stop):
        super().__init__(daemon=True)
        self.kind, self.name, self.other = kind, name, other
        self.round_number, self.stop = round_number, stop
        self.done = []
        self.cut = None
        self.uploads = []
        self.operations = 0
        self.broken = None

    def run(self):
        try:
            self.client = self.login()
            serial = 0
            while not self.stop.is_set():
                serial += 1
                self.finish_operation(self.start_operation(self.client, serial))
                self.operations += 1
            self.client.quit()
        except (OSError, EOFError, ftplib.Error) as failure:
            self.broken = "%s: %s" % (type(failure).__name__, failure)

    def login(self):
        client = ftplib.FTP(timeout=TIMEOUT)
        client.connect("127.0.0.1", ARGS.port)
        client.login(self.name, PASSWORD)
        return client

    def start_operation(self, client, serial):
        """Runs one operation; gives its description (for the books)."""
        if self.kind == "upload":
            name = "k%03d-%s-%d.bin" % (self.round_number, self.name, serial)
            path = "/soak/%s/%s" % (self.name, name)
            self.uploads.append(path)
            operation = ("upload", path)
            self.cut = operation
            client.storbinary("STOR " + path, io.BytesIO(UPLOAD))
            return operation
        if self.kind == "download":
            operation = ("download", DOWNLOAD)
            self.cut = operation
            got = [0]
            client.retrbinary("RETR " + DOWNLOAD, lambda chunk: got.__setitem__(0, got[0] + len(chunk)))
            if got[0] != DOWNLOAD_SIZE:
                raise EOFError("short download")
            return operation
        if self.kind == "login":
            operation = ("login",)
            self.cut = operation
            client.quit()
            self.client = self.login()
            return operation
        # SITE commands that write userfiles and the directory log.
        choice = serial % 3
        if choice == 0:
            operation = ("give", self.other)
            self.cut = operation
            reply = client.sendcmd("SITE GIVE %s %d" % (self.other, GIVE_AMOUNT))
            if not reply.startswith("200 Gave"):
                operation = ("refused", reply)
        elif choice == 1:
            operation = ("tagline",)
            self.cut = operation
            client.sendcmd("SITE TAGLINE kill round %d" % self.round_number)
        else:
            operation = ("mkd",)
            self.cut = operation
            directory = "/soak/%s/Rel.%d.%d" % (self.name, self.round_number, serial)
            client.mkd(directory)
            client.rmd(directory)
        return operation

    def finish_operation(self, operation):
        self.cut = None
        if operation[0] == "upload":
            self.done.append((self.name, len(UPLOAD) * RATIO // 1024))
        elif operation[0] == "download":
            self.done.append((self.name, -(DOWNLOAD_SIZE // 1024)))
        elif operation[0] == "give":
            self.done.append((self.name, -GIVE_AMOUNT))
            self.done.append((self.other, GIVE_AMOUNT))


def upload_earning(path):
    """What the server may have credited for a cut upload: nothing, or the
    received bytes (the file on disk) at the ratio."""
    try:
        size = os.stat(ARGS.site + "/root" + path).st_size
    except FileNotFoundError:
        return {0}
    return {0, size * RATIO // 1024}


def timed_login(name):
    started = time.monotonic()
    client = ftplib.FTP(timeout=TIMEOUT)
    client.connect("127.0.0.1", ARGS.port)
    client.login(name, PASSWORD)
    client.quit()
    return time.monotonic() - started


REPORTED_STRAYS = set()
# A process's own files (its lock seed, its spare userfiles) end in .lock too.
PROCESS_FILE_PREFIX = ".marlod-process-"


def check_files(users_dir, known):
    problems = []
    for entry in os.listdir(users_dir):
        path = os.path.join(users_dir, entry)
        if entry.endswith(".lock") or entry.startswith("default."):  # locks and templates
            continue
        if entry not in known:
            if entry not in REPORTED_STRAYS:  # once, not in every later round
                problems.append("stray file in the users folder: %s" % entry)
                REPORTED_STRAYS.add(entry)
            continue
        try:
            site_books.read_books(path)
        except ValueError as bad:
            problems.append(str(bad))
    etc = ARGS.site + "/root/etc"
    for line in open(etc + "/passwd", encoding="latin-1").read().splitlines():
        fields = line.split(":")
        if len(fields) != 7 or not fields[2].isdigit() or not fields[3].isdigit():
            problems.append("passwd line does not parse: %r" % line)
    for line in open(etc + "/group", encoding="latin-1").read().splitlines():
        fields = line.split(":")
        if len(fields) < 3 or not fields[2].isdigit():
            problems.append("group line does not parse: %r" % line)
    logs = ARGS.site + "/root/ftp-data/logs/"
    for name, size in (("dirlog", DIRLOG_RECORD), ("dupefile", DUPE_RECORD)):
        length = os.path.getsize(logs + name)
        if length % size:
            problems.append("%s holds a torn record: %d bytes" % (name, length))
    return problems


def wait_for_sessions_to_end(limit):
    deadline = time.monotonic() + limit
    while site_books.children_of(ARGS.launcher) and time.monotonic() < deadline:
        time.sleep(0.05)
    return site_books.children_of(ARGS.launcher)


def run_round(number, rng, users_dir, known, tally):
    names = rng.sample(known, 5)
    kinds = ["upload", "download", "login", "site"]
    rng.shuffle(kinds)
    before = {name: site_books.read_books(os.path.join(users_dir, name))["CREDITS"] for name in names}
    stop = threading.Event()
    sessions = [Session(kind, names[i], names[4], number, stop) for i, kind in enumerate(kinds)]
    for session in sessions:
        session.start()
    time.sleep(rng.uniform(0.05, 0.8))
    victims = site_books.children_of(ARGS.launcher)
    victim = rng.choice(victims) if victims else None
    if victim:
        try:
            os.kill(victim, signal.SIGKILL)
        except ProcessLookupError:
            victim = None
    time.sleep(0.1)
    stop.set()
    for session in sessions:
        session.join(3 * TIMEOUT)
    left = wait_for_sessions_to_end(10)
    problems = ["session processes still running: %s" % left] if left else []

    broken = [s for s in sessions if s.broken]
    tally["kills"] += bool(victim)
    for session in broken:
        tally["cut_" + (session.cut[0] if session.cut else "between_operations")] += 1
    if len(broken) > 1:
        problems.append("%d sessions broke for one kill: %s" % (len(broken), [s.broken for s in broken]))

    tally["locks_left"] += sum(1 for entry in os.listdir(users_dir)
                               if entry.endswith(".lock") and not entry.startswith(PROCESS_FILE_PREFIX))
    slowest = 0.0
    for name in names:
        try:
            slowest = max(slowest, timed_login(name))
        except (OSError, EOFError, ftplib.Error) as failure:
            problems.append("%s cannot log in: %s" % (name, failure))
    tally["slowest_login"] = max(tally["slowest_login"], slowest)
    if slowest > 1.0:  # what the killed session was doing when it left a lock behind
        tally["slow_login_after_cut_" + "_".join(s.cut[0] if s.cut else "none" for s in broken)] += 1
    if slowest > 5.0:
        problems.append("a login took %.1f s" % slowest)
    tally["logins_over_1s"] += slowest > 1.0
    # The books are read once the logins have forced open the killed
    # process's locks (which settles the userfiles it left unfinished) and
    # their sessions have saved the userfiles at logout.
    wait_for_sessions_to_end(10)

    # Credits: exact for completed operations; the cut one may count or not.
    expected = Counter()
    for session in sessions:
        for name, change in session.done:
            expected[name] += change
    allowed = {name: {0} for name in names}
    for session in broken:
        cut = session.cut
        if not cut:
            continue
        if cut[0] == "upload":
            allowed[session.name] = upload_earning(cut[1])
        elif cut[0] == "download":
            allowed[session.name] = set(range(-(DOWNLOAD_SIZE // 1024), 1))
        elif cut[0] == "give":
            allowed[session.name] = {0, -GIVE_AMOUNT}
            allowed[session.other] = {0, GIVE_AMOUNT}
    after = {}
    for name in names:
        try:
            after[name] = site_books.read_books(os.path.join(users_dir, name))["CREDITS"]
        except ValueError as bad:
            problems.append(str(bad))
            continue
        surplus = after[name] - before[name] - expected[name]
        if surplus not in allowed[name]:
            problems.append("%s: credits moved by %d, completed operations say %d, the cut one allows %s"
                            % (name, after[name] - before[name], expected[name],
                               sorted(allowed[name])[:1] + sorted(allowed[name])[-1:]))
    for session in broken:
        if session.cut and session.cut[0] == "give" and session.other in after and session.name in after:
            giver = after[session.name] - before[session.name] - expected[session.name]
            taker = after[session.other] - before[session.other] - expected[session.other]
            if giver + taker != 0:
                problems.append("cut GIVE %s -> %s moved %d and %d" % (session.name, session.other, giver, taker))

    problems += check_files(users_dir, set(known))
    for session in sessions:
        for path in session.uploads:  # keep the disk small; the books are checked already
            try:
                os.unlink(ARGS.site + "/root" + path)
            except FileNotFoundError:
                pass
    return problems


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--site", required=True)
    parser.add_argument("--launcher", type=int, required=True)
    parser.add_argument("--users", type=int, default=20)
    parser.add_argument("--rounds", type=int, default=200)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--report", default=None)
    ARGS = parser.parse_args()

    rng = random.Random(ARGS.seed)
    users_dir = ARGS.site + "/root/ftp-data/users"
    known = [account_name(i) for i in range(ARGS.users)]
    tally = Counter(slowest_login=0.0)
    failures = []
    started = time.monotonic()
    for number in range(ARGS.rounds):
        problems = run_round(number, rng, users_dir, known, tally)
        failures += ["round %d: %s" % (number, p) for p in problems]
        if problems:
            print("round %d: %s" % (number, problems), flush=True)
    report = {"rounds": ARGS.rounds, "seed": ARGS.seed, "seconds": round(time.monotonic() - started, 1),
              "tally": dict(tally), "failures": len(failures), "failure_samples": failures[:40]}
    text = json.dumps(report, indent=1)
    print(text)
    if ARGS.report:
        with open(ARGS.report, "w") as f:
            f.write(text + "\n")
    print("killtest: %s" % ("PASS" if not failures else "FAIL"))
    return 0 if not failures else 1


if __name__ == "__main__":
    sys.exit(main())
