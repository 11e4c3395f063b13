"""End-to-end harness: a fresh site per test, served by the real daemon.

Each test gets its own site (a temporary root made by `marlod-site create`,
its own random ipc_key and a free loopback port). The test may edit the
configuration and the daemon's options, then calls `site.start()`, which
runs `systemd-socket-activate --inetd -a` so that every connection gets its
own daemon process, exactly as under a real super-server. Teardown stops the
launcher and its children, removes the site's shared-memory segment and
fails the test when a sanitizer reported anything.

The installed programs are taken from $MARLOD_PREFIX (sbin/marlod,
bin/marlod-site, share/marlod), else from the repository's
build/check-prefix.
"""

import ctypes
import ftplib
import glob
import os
import random
import re
import shutil
import signal
import socket
import struct
import subprocess
import time
import uuid
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
PREFIX = Path(os.environ.get("MARLOD_PREFIX", REPO / "build" / "check-prefix"))
MARLOD = PREFIX / "sbin" / "marlod"
SITE_TOOL = PREFIX / "bin" / "marlod-site"
SHARE = PREFIX / "share" / "marlod"
BUSYBOX = Path("/bin/busybox")

# Generous upper bounds for things that normally take milliseconds; no test
# measures time.
WAIT_SECONDS = 20


def skip_without_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as probe:
            probe.bind(("::1", 0))
    except OSError as error:
        pytest.skip(f"no IPv6 loopback address ::1 here ({error})")


def free_port():
    """A free port below the system's ephemeral range whose neighbour below
    is free too: a site's active data connections leave from its port - 1,
    which must not be some client connection's port of the moment."""
    while True:
        port = random.randrange(20001, 32000)
        try:
            with socket.socket() as probe, socket.socket() as below:
                probe.bind(("127.0.0.1", port))
                below.bind(("127.0.0.1", port - 1))
            return port
        except OSError:
            continue


def run_site_tool(*args, check=True):
    result = subprocess.run([str(SITE_TOOL), *map(str, args)], capture_output=True, text=True)
    if check and result.returncode != 0:
        raise AssertionError(f"marlod-site {' '.join(map(str, args))} failed:\n{result.stderr}")
    return result


class RawControl:
    """A control connection at byte level, for what ftplib smooths over."""

    def __init__(self, host, port, source=None):
        self.sock = socket.create_connection((host, port), timeout=WAIT_SECONDS,
                                             source_address=(source, 0) if source else None)
        self.buffer = b""

    def send(self, data):
        self.sock.sendall(data if isinstance(data, bytes) else data.encode())

    def read_bytes(self, count):
        while len(self.buffer) < count:
            chunk = self.sock.recv(4096)
            if not chunk:
                break
            self.buffer += chunk
        data, self.buffer = self.buffer[:count], self.buffer[count:]
        return data

    def read_line(self):
        """One line with its CR LF, or b"" once the server closed."""
        while b"\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                line, self.buffer = self.buffer, b""
                return line
            self.buffer += chunk
        line, _, self.buffer = self.buffer.partition(b"\n")
        return line + b"\n"

    def read_reply(self):
        """The lines of one reply, up to its final "ddd " line, as text."""
        lines = []
        while True:
            line = self.read_line()
            if not line:
                raise EOFError("connection closed; so far: %r" % lines)
            text = line.decode("latin-1").rstrip("\r\n")
            lines.append(text)
            if re.match(r"^\d{3} ", text):
                return lines

    def command(self, line):
        self.send(line + "\r\n")
        return self.read_reply()

    def closed(self):
        """True when the server ends the connection without sending more."""
        try:
            return self.read_line() == b""
        except ConnectionResetError:
            return True

    def close(self):
        self.sock.close()


def install_script(site, name, body):
    """A shell script in the site's /bin (run with the site's static shell);
    returns its path inside the root."""
    path = site.root / "bin" / name
    path.write_text("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)
    return f"/bin/{name}"


def live_processes(wanted):
    """Pids of the processes that have not exited whose /proc stat fields
    (after the command name: state, ppid, pgrp, session, ...) `wanted`
    accepts."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z" and wanted(int(entry), fields):
            found.append(int(entry))
    return found


class Site:
    def __init__(self, workdir, create_options=()):
        self.workdir = Path(workdir)
        self.root = self.workdir / "root"
        self.config_path = self.workdir / "marlod.conf"
        self.ipc_key = random.randint(0x10000000, 0x7FFFFFFF)
        self.port = free_port()
        self.host = "127.0.0.1"
        # What the launcher listens on when not `host`: "[::]" takes IPv6
        # and, mapped, IPv4 clients too (listen_on_both_families).
        self.listen_host = None
        # -n 0: no reverse lookups; -I: no ident queries to the test machine.
        self.options = ["-n", "0", "-I"]
        self.launcher = None
        self.launcher_log = self.workdir / "launcher.log"
        run_site_tool("create", self.root, "--config", self.config_path,
                      "--ipc-key", "%x" % self.ipc_key, "--share", SHARE, *create_options)
        self._install_shell()
        self._prepare_sanitizer_reports()

    # --- the site on disk

    @property
    def data(self):
        return self.root / "ftp-data"

    def _install_shell(self):
        """Programs run after the change of root: a static shell for scripts."""
        target = self.root / "bin" / "busybox"
        shutil.copy2(BUSYBOX, target)
        os.symlink("busybox", self.root / "bin" / "sh")

    def _prepare_sanitizer_reports(self):
        # The daemon reopens standard error on /dev/null, so sanitizer reports
        # go to a file. The file is opened only when a report is written,
        # possibly after the change of root: the same absolute path must lead
        # to the same directory both inside and outside the root.
        # Links left by an interrupted run point nowhere once pytest has
        # pruned its old temporary directories. Another worker may be
        # removing the same link.
        for stale in glob.glob("/tmp/marlod-sanitizer-*"):
            if os.path.islink(stale) and not os.path.exists(stale):
                try:
                    os.unlink(stale)
                except FileNotFoundError:
                    pass
        name = "marlod-sanitizer-" + uuid.uuid4().hex[:12]
        self.sanitizer_dir = self.root / "tmp" / name
        self.sanitizer_dir.mkdir(parents=True)
        self.sanitizer_link = Path("/tmp") / name
        os.symlink(self.sanitizer_dir, self.sanitizer_link)
        self.sanitizer_path = f"/tmp/{name}/report"

    def sanitizer_reports(self):
        return {p: Path(p).read_text(errors="replace")
                for p in glob.glob(str(self.sanitizer_dir / "report*"))}

    # --- configuration

    @property
    def config(self):
        return self.config_path.read_text()

    @config.setter
    def config(self, text):
        self.config_path.write_text(text)

    def set(self, key, value):
        """Replaces every `key` line by one `key value` line (or appends it)."""
        kept = [line for line in self.config.splitlines()
                if not (line.split() and line.split()[0] == key)]
        kept.append(f"{key} {value}")
        self.config = "\n".join(kept) + "\n"

    def unset(self, key):
        self.config = "".join(line + "\n" for line in self.config.splitlines()
                              if not (line.split() and line.split()[0] == key))

    def append(self, line):
        self.config = self.config + line + "\n"

    # --- accounts

    def add_user(self, name, password="secret", flags=None, group=None, ip="*@*"):
        """An account through the site tool, allowed from `ip`; without
        `flags` the template's flags apply."""
        args = ["adduser", self.config_path, name, password, "--ip", ip]
        if flags is not None:
            args += ["--flags", flags]
        if group:
            args += ["--group", group]
        run_site_tool(*args)

    def allow_connections(self, mask="*@*"):
        """Start-up admits a client only if some userfile lists its
        ident@host; this writes one that does, without an account."""
        (self.data / "users" / "gatekeeper").write_text(f"USER gatekeeper\nIP {mask}\n")

    # --- logs

    def log(self, name):
        path = self.data / "logs" / name
        return path.read_text(errors="replace") if path.exists() else ""

    # --- the daemon

    def listen_on_both_families(self):
        """Listens on [::], as a dual-stack super-server does: IPv4 clients
        arrive as mapped addresses. Skips the test when loopback has no ::1."""
        skip_without_ipv6_loopback()
        self.listen_host = "[::]"
        return self

    def start(self, *extra_options):
        assert self.launcher is None, "site already started"
        # Tests run in parallel: a port found free may be taken before the
        # launcher binds it. Another port then does.
        for _ in range(5):
            if self._launch(extra_options):
                return self
            self.launcher = None
            self.port = free_port()
        raise AssertionError("launcher did not start:\n" + self.launcher_log.read_text())

    def _launch(self, extra_options):
        environment = [
            f"ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:log_path={self.sanitizer_path}",
            f"UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:log_path={self.sanitizer_path}",
        ]
        command = ["systemd-socket-activate", "--inetd", "-a", "-l", f"{self.listen_host or self.host}:{self.port}"]
        for variable in environment:
            command += ["-E", variable]
        command += [str(MARLOD), "-r", str(self.config_path), *self.options, *extra_options]
        log = open(self.launcher_log, "w")
        self.launcher = subprocess.Popen(command, stdout=log, stderr=log, stdin=subprocess.DEVNULL,
                                         start_new_session=True)
        log.close()
        # The launcher announces its socket once it listens; connecting to
        # find out would start a session.
        deadline = time.monotonic() + WAIT_SECONDS
        while "Listening on" not in self.launcher_log.read_text():
            if self.launcher.poll() is not None and "in use" in self.launcher_log.read_text():
                return False
            if self.launcher.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("launcher did not start:\n" + self.launcher_log.read_text())
            time.sleep(0.05)
        return True

    def ftp(self, timeout=WAIT_SECONDS, host=None):
        """A connected ftplib client that has read the greeting."""
        client = ftplib.FTP(timeout=timeout)
        client.connect(host or self.host, self.port)
        return client

    def raw(self, source=None, host=None):
        """A byte-level connection, optionally from a chosen local address."""
        return RawControl(host or self.host, self.port, source)

    def daemon_pids(self):
        """The daemon processes the launcher has started and not reaped."""
        result = subprocess.run(["pgrep", "-P", str(self.launcher.pid)],
                                capture_output=True, text=True)
        return [int(pid) for pid in result.stdout.split()]

    def _live_group_members(self, group):
        """Processes of the launcher's group that have not exited yet
        (exited ones may wait a while for whoever adopted them)."""
        return live_processes(lambda pid, fields: int(fields[2]) == group)

    def stop(self):
        if self.launcher is None:
            return
        group = self.launcher.pid
        for sig in (signal.SIGTERM, signal.SIGKILL):
            try:
                os.killpg(group, sig)
            except ProcessLookupError:
                break
            self.launcher.wait()
            deadline = time.monotonic() + WAIT_SECONDS / 2
            while self._live_group_members(group) and time.monotonic() < deadline:
                time.sleep(0.02)
            if not self._live_group_members(group):
                break
        self.launcher = None

    def remove_segment(self):
        subprocess.run(["ipcrm", "-M", "0x%08x" % self.ipc_key], capture_output=True)

    def cleanup(self):
        self.stop()
        self.remove_segment()
        if self.sanitizer_link.is_symlink():
            self.sanitizer_link.unlink()


# --- helpers the test files share ------------------------------------------


def stat_and_abort_a_stalled_download(client, connection):
    """The client stops reading a download, so the server's socket buffer
    fills; STAT and ABOR sent without urgent data must still be heard."""
    assert len(connection.recv(65536)) > 0
    time.sleep(0.5)
    client.sock.sendall(b"STAT\r\n")
    assert client.getresp().startswith("213 ")
    client.sock.sendall(b"ABOR\r\n")
    assert client.getmultiline().startswith("426 ")
    assert client.getmultiline().startswith("226 ")
    connection.close()
    assert client.voidcmd("NOOP").startswith("200")
    client.quit()

def content(size, seed=1):
    """Deterministic bytes that are not all alike."""
    block = bytes((i * 131 + seed) & 0xFF for i in range(65536))
    return (block * (size // len(block) + 1))[:size]


def greeting(site, source=None):
    """The reply a fresh connection gets first."""
    raw = site.raw(source)
    try:
        return raw.read_reply()
    finally:
        raw.close()


def refusal(site):
    """The one reply a refused connection gets, after which it is closed."""
    raw = site.raw()
    try:
        lines = raw.read_reply()
        assert raw.closed()
        return lines
    finally:
        raw.close()


def closed_without_reply(site, source=None):
    raw = site.raw(source)
    try:
        return raw.closed()
    finally:
        raw.close()


def login(site, name, password="secret"):
    """A logged-in ftplib client."""
    client = site.ftp()
    client.login(name, password)
    return client


def attempt_login(site, name, password="secret", host=None):
    """A raw connection that has sent USER and PASS, and the PASS reply."""
    raw = site.raw(host=host)
    raw.read_reply()
    raw.command(f"USER {name}")
    return raw, raw.command(f"PASS {password}")


def raw_login(site, name, password="secret", host=None):
    raw, reply = attempt_login(site, name, password, host)
    assert reply[-1].startswith("230"), reply
    return raw


def set_passwd_field(site, name, index, value):
    """Replaces field `index` of `name`'s line in the site's passwd file."""
    path = site.root / "etc" / "passwd"
    lines = []
    for line in path.read_text().splitlines():
        fields = line.split(":")
        if fields[0] == name:
            fields[index] = value
        lines.append(":".join(fields))
    path.write_text("\n".join(lines) + "\n")


def set_userfile_line(site, name, keyword, value):
    """Replaces (or adds) the `keyword` line of a userfile."""
    path = site.data / "users" / name
    lines = [line for line in path.read_text().splitlines()
             if not (line.split() and line.split()[0] == keyword)]
    lines.append(f"{keyword} {value}")
    path.write_text("\n".join(lines) + "\n")


def uid_of(site, name):
    """The numeric user id of `name` in the site's passwd file."""
    for line in (site.root / "etc" / "passwd").read_text().splitlines():
        fields = line.split(":")
        if fields[0] == name:
            return int(fields[2])
    raise AssertionError(f"{name} is not in the passwd file")


def userfile_words(site, name, keyword):
    for line in (site.data / "users" / name).read_text().splitlines():
        words = line.split()
        if words and words[0] == keyword:
            return words[1:]
    return None


def run_client(*command):
    """curl or lftp with the harness's bounds; the finished process."""
    return subprocess.run(list(command), capture_output=True, timeout=WAIT_SECONDS * 3)


def lftp(site, user, password, commands, host=None):
    host = host or site.host
    if ":" in host:
        host = f"[{host}]"
    script = (f"set net:max-retries 1; set net:timeout {WAIT_SECONDS}; "
              f"open -u {user},{password} ftp://{host}:{site.port}; {commands}")
    return subprocess.run(["lftp", "-c", script], capture_output=True, text=True,
                          timeout=WAIT_SECONDS * 3)


# --- fixtures ----------------------------------------------------------------

def served_site(workdir, create_options=()):
    """A fresh, not yet started site, cleaned up and checked for sanitizer
    reports after the test."""
    made = Site(workdir, create_options)
    try:
        yield made
    finally:
        made.cleanup()
    reports = made.sanitizer_reports()
    assert not reports, "sanitizer reports:\n" + "\n".join(reports.values())


@pytest.fixture
def site(tmp_path):
    """A fresh, not yet started site."""
    yield from served_site(tmp_path)


@pytest.fixture
def tls_site(tmp_path):
    """A fresh, not yet started site with a self-signed certificate."""
    yield from served_site(tmp_path, ["--tls"])


@pytest.fixture
def open_site(site):
    """A started site that admits every client (no accounts)."""
    site.allow_connections()
    return site.start()


# --- the online table as other programs of the site read it ---

ENTRY = struct.Struct("<64s24s256s256s256sIiiiIi")
assert ENTRY.size == 880
SHM_RDONLY = 0o10000

_libc = ctypes.CDLL(None, use_errno=True)
_libc.shmget.argtypes = [ctypes.c_int, ctypes.c_size_t, ctypes.c_int]
_libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_libc.shmat.restype = ctypes.c_void_p
_libc.shmdt.argtypes = [ctypes.c_void_p]


def text_field(raw):
    return raw.split(b"\0", 1)[0].decode("latin-1")


def online_table(site, slots):
    """The slots of the site's segment as dicts, or None without a segment."""
    shmid = _libc.shmget(site.ipc_key, 0, 0)
    if shmid < 0:
        return None
    address = _libc.shmat(shmid, None, SHM_RDONLY)
    assert address not in (None, ctypes.c_void_p(-1).value), os.strerror(ctypes.get_errno())
    try:
        data = ctypes.string_at(address, slots * ENTRY.size)
    finally:
        _libc.shmdt(address)
    entries = []
    for index in range(slots):
        (tagline, username, status, host, currentdir, groupid, login_time, tstart_sec,
         tstart_usec, bytes_xfer, procid) = ENTRY.unpack_from(data, index * ENTRY.size)
        entries.append({"tagline": text_field(tagline), "username": text_field(username),
                        "status": text_field(status), "status_raw": status, "host": text_field(host),
                        "currentdir": text_field(currentdir), "groupid": groupid,
                        "bytes_xfer": bytes_xfer, "procid": procid})
    return entries
