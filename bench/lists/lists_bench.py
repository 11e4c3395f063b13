"""Times SITE ALUP, GPAL, TRAFFIC and USERS against `cat` over the same
userfiles; see run.sh. Needs root (the daemon changes its root)."""

import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

RUNS = 5
COUNTS = (1000, 10000)
COMMANDS = ("SITE ALUP", "SITE GPAL", "SITE TRAFFIC", "SITE USERS")
PERIODS = ["ALLUP", "ALLDN", "WKUP", "WKDN", "DAYUP", "DAYDN", "MONTHUP", "MONTHDN"]
GROUPS = 40


def site_tool(prefix, *args):
    subprocess.run([str(prefix / "bin" / "marlod-site"), *map(str, args)], check=True,
                   capture_output=True)


def userfile(index):
    rng = random.Random(index)
    lines = [f"USER u{index}", "GENERAL 0,0 -1 0 0", "LOGINS 2 0 -1 -1", "TIMEFRAME 0 0",
             "FLAGS 3", f"TAGLINE tagline of user {index}", "DIR /",
             "CREDITS " + "".join(f"{rng.randrange(1 << 24)} " for _ in range(10)),
             "RATIO 3 " + "-1 " * 9]
    for period in PERIODS:
        lines.append(period + " " + "".join(
            f"{rng.randrange(5000)} {rng.randrange(1 << 26)} {rng.randrange(1 << 20)} " for _ in range(10)))
    lines.append("NUKE " + "0 0 0 " * 10)
    lines += ["TIME 10 0 0 0", "SLOTS -1 -1", f"GROUP g{index % GROUPS}", f"IP *@10.{index % 250}.*"]
    return "\n".join(lines) + "\n"


def generate(users, count):
    for path in users.iterdir():
        if path.name.startswith("u") and path.name[1:].isdigit():
            path.unlink()
    for index in range(count):
        (users / f"u{index}").write_text(userfile(index))


class Control:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.file = self.sock.makefile("rb")
        self.reply()

    def reply(self):
        while True:
            line = self.file.readline()
            if not line:
                raise EOFError("connection closed")
            if line[:3].isdigit() and line[3:4] == b" ":
                return line

    def timed(self, command):
        start = time.perf_counter()
        self.sock.sendall(command.encode() + b"\r\n")
        self.reply()
        return time.perf_counter() - start


def median_time(action):
    action()  # warms the cache
    return statistics.median(action() for _ in range(RUNS))


def time_cat(users):
    names = [str(p) for p in users.iterdir() if p.name.startswith("u") and p.name[1:].isdigit()]

    def run():
        start = time.perf_counter()
        subprocess.run(["cat", *names], stdout=subprocess.DEVNULL, check=True)
        return time.perf_counter() - start
    return median_time(run)


def main():
    prefix = Path(sys.argv[1]).resolve()
    work = Path(tempfile.mkdtemp(prefix="marlod-bench-lists."))
    root, config = work / "root", work / "marlod.conf"
    ipc_key = random.randint(0x10000000, 0x7FFFFFFF)
    site_tool(prefix, "create", root, "--config", config, "--ipc-key", "%x" % ipc_key,
              "--share", prefix / "share" / "marlod")
    with open(config, "a") as conf:
        for n in range(1, 10):
            conf.write(f"stat_section S{n} /site/s{n}/* yes\n")
    (root / "etc" / "group").write_text("".join(f"g{n}::{300 + n}:\n" for n in range(GROUPS)))
    site_tool(prefix, "adduser", config, "admin", "secret", "--ip", "*@*", "--flags", "1")
    users = root / "ftp-data" / "users"
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    launcher = subprocess.Popen(
        ["systemd-socket-activate", "--inetd", "-a", "-l", f"127.0.0.1:{port}",
         str(prefix / "sbin" / "marlod"), "-r", str(config), "-n", "0", "-I"],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)
    try:
        time.sleep(0.5)
        print(f"{'userfiles':>9} {'command':<14} {'marlod s':>9} {'cat s':>8} {'ratio':>6}")
        for count in COUNTS:
            generate(users, count)
            cat = time_cat(users)
            control = Control(port)
            for line in ("USER admin", "PASS secret"):
                control.timed(line)
            for command in COMMANDS:
                marlod = median_time(lambda: control.timed(command))
                print(f"{count:>9} {command:<14} {marlod:>9.4f} {cat:>8.4f} {marlod / cat:>6.2f}", flush=True)
            control.sock.close()
    finally:
        os.killpg(launcher.pid, 15)
        launcher.wait()
        subprocess.run(["ipcrm", "-M", "0x%08x" % ipc_key], capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
