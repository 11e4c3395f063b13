"""What the soak and the kill test read back from a site after the load:
the books of every account (credits and statistics from its userfile), the
transfer log, the online table in shared memory, and the descriptors and
memory of the daemon's processes from /proc. Standard library only."""

import ctypes
import os
import struct

# --- userfiles -----------------------------------------------------------

STAT_KEYS = ("ALLUP", "ALLDN", "WKUP", "WKDN", "DAYUP", "DAYDN", "MONTHUP", "MONTHDN")


def read_books(path):
    """Section 0 of a userfile: {'CREDITS': int, 'ALLUP': (files, kib, secs), ...}.
    Raises ValueError when a line the daemon always writes is missing or
    does not hold numbers."""
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    words = {}
    for line in text.splitlines():
        parts = line.split("#", 1)[0].split()
        if parts:
            words.setdefault(parts[0], parts[1:])
    books = {}
    if "CREDITS" not in words or not words["CREDITS"]:
        raise ValueError("%s: no CREDITS line" % path)
    books["CREDITS"] = int(words["CREDITS"][0])
    for key in STAT_KEYS:
        values = words.get(key)
        if not values or len(values) < 3:
            raise ValueError("%s: no %s line" % (path, key))
        books[key] = tuple(int(v) for v in values[:3])
    return books


def set_userfile_line(path, keyword, value):
    with open(path) as f:
        lines = [line for line in f.read().splitlines()
                 if not (line.split() and line.split()[0] == keyword)]
    lines.append("%s %s" % (keyword, value))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


# --- the transfer log ----------------------------------------------------

def read_xferlog(path):
    """[(login, direction, path, bytes, seconds)] in file order. A line of
    the wrong shape raises ValueError: the log is appended with one write,
    so a torn line is a fault."""
    entries = []
    if not os.path.exists(path):
        return entries
    with open(path, "rb") as f:
        for number, raw in enumerate(f.read().decode("latin-1").splitlines(), 1):
            fields = raw.split()
            # ctime text (5 words), seconds, host, bytes, path, type, _, dir, r,
            # login, group, ident known, ident
            if len(fields) != 17 or fields[10] != "_" or fields[12] != "r":
                raise ValueError("xferlog line %d torn: %r" % (number, raw))
            entries.append((fields[13], fields[11], fields[8], int(fields[7]), int(fields[5])))
    return entries


# --- the online table ----------------------------------------------------

ONLINE_ENTRY = struct.Struct("<64s24s256s256s256sIiiiIi")
_libc = ctypes.CDLL(None, use_errno=True)
_libc.shmget.argtypes = [ctypes.c_int, ctypes.c_size_t, ctypes.c_int]
_libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_libc.shmat.restype = ctypes.c_void_p
_libc.shmdt.argtypes = [ctypes.c_void_p]


def online_slots(ipc_key, slots):
    """[(user, pid, status)] of the occupied slots (pid non-zero); None
    when the segment does not exist."""
    shmid = _libc.shmget(ipc_key, 0, 0)
    if shmid < 0:
        return None
    address = _libc.shmat(shmid, None, 0o10000)  # SHM_RDONLY
    if address == ctypes.c_void_p(-1).value:
        return None
    try:
        data = ctypes.string_at(address, slots * ONLINE_ENTRY.size)
    finally:
        _libc.shmdt(address)
    taken = []
    for i in range(slots):
        entry = ONLINE_ENTRY.unpack_from(data, i * ONLINE_ENTRY.size)
        if entry[10]:
            taken.append((entry[1].split(b"\0")[0].decode("latin-1"), entry[10],
                          entry[2].split(b"\0")[0].decode("latin-1")))
    return taken


# --- processes -----------------------------------------------------------

def children_of(parent):
    """Pids of the live (not zombie) children of `parent`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[0] != "Z" and int(fields[1]) == parent:
            found.append(int(entry))
    return found


def fds_and_rss(pid):
    """(open descriptors, anonymous resident KiB, what the descriptors are)
    of a process, or None once it is gone. Anonymous memory (heap, stack,
    buffers) is what a leak grows; pages of the program itself count in
    the resident size the first time a code path runs, and are not kept
    state."""
    try:
        names = os.listdir("/proc/%d/fd" % pid)
        targets = []
        for name in names:
            try:
                targets.append("%s:%s" % (name, os.readlink("/proc/%d/fd/%s" % (pid, name))))
            except OSError:
                pass
        with open("/proc/%d/status" % pid) as f:
            rss = next(int(line.split()[1]) for line in f if line.startswith("RssAnon:"))
        return len(names), rss, " ".join(sorted(targets))
    except (OSError, StopIteration):
        return None


class ProcessSampler:
    """Samples every child of the launcher: per pid every (descriptors,
    anonymous resident KiB) seen, in order."""

    # A session whose last command opened or moved data may be holding its
    # data connection (or passive listener) and file, and one building a
    # top list reads the users directory: such samples say nothing about
    # what it keeps.
    BUSY_COMMANDS = ("PASV", "EPSV", "RETR", "STOR", "APPE", "STOU", "LIST", "NLST", "MLSD",
                     "SITE ALUP")

    def __init__(self, launcher_pid, ipc_key=None, slots=0):
        self.launcher_pid = launcher_pid
        self.ipc_key, self.slots = ipc_key, slots
        self.seen = {}  # pid -> [(fds, rss), ...]
        self.warm = {}  # user -> whether the user's current session has warmed up
        self.warm_seen = {}  # pid -> [(fds, rss), ...] taken once its session had warmed up
        self.launcher = []
        self.most_processes = 0
        self.closed = False

    def session_started(self, user):
        self.warm[user] = False

    def warmed_up(self, user):
        """The user's session has done one of each operation: the buffers
        a session makes once are there."""
        self.warm[user] = True

    def close(self):
        """From here on the clients quit all at once: what sessions hold
        while they log out under that rush is not growth."""
        self.closed = True

    def sample(self):
        if self.closed:
            return
        self.launcher.append(fds_and_rss(self.launcher_pid))
        busy, warm = set(), set()
        if self.ipc_key is not None:
            for user, pid, status in online_slots(self.ipc_key, self.slots) or []:
                if status.upper().startswith(self.BUSY_COMMANDS):
                    busy.add(pid)
                if self.warm.get(user):
                    warm.add(pid)
        children = children_of(self.launcher_pid)
        self.most_processes = max(self.most_processes, len(children))
        for pid in children:
            if pid in busy:
                continue
            now = fds_and_rss(pid)
            if now is not None:
                self.seen.setdefault(pid, []).append(now)
                if pid in warm:
                    self.warm_seen.setdefault(pid, []).append(now)

    def summary(self, min_samples=10):
        """Over the processes sampled at least `min_samples` times: growth
        of the lowest descriptor count and resident size from the middle
        third of the samples (past the login and the logs a session opens
        once) to the last third. The lowest values leave out what a
        transfer holds only while it runs (its file, its sockets, the
        mapped file it sends), so growth there is what the session keeps.
        Samples of a session whose last command moved data are not taken.
        Memory is judged over the samples taken after a session warmed up:
        a session's first upload maps its receive buffer, and without the
        warm-up that may happen at any point of its life."""
        long_lived = [s for s in self.seen.values() if len(s) >= min_samples]
        warmed = [s for s in self.warm_seen.values() if len(s) >= min_samples]

        def floor_growth(field, processes=long_lived):
            third = [len(s) // 3 for s in processes]
            return [min(v[field] for v in s[-t:]) - min(v[field] for v in s[t:-t])
                    for s, t in zip(processes, third)]

        def fd_growth_sample():
            """What the descriptors were at the raised floor of the process
            whose descriptor floor grew most, beside the earlier floor."""
            growth = floor_growth(0)
            if not growth or max(growth) <= 0:
                return None
            s = long_lived[growth.index(max(growth))]
            t = len(s) // 3
            return [min(s[t:-t])[2], min(s[-t:])[2]]
        def anon_growth_sample():
            """The anonymous resident KiB, sample by sample, of the warmed-up
            process whose floor grew most."""
            growth = floor_growth(1, warmed)
            if not growth or max(growth) <= 0:
                return None
            return [v[1] for v in warmed[growth.index(max(growth))]]
        launcher = [s for s in self.launcher if s]
        return {
            "processes_sampled": len(self.seen),
            "most_processes_at_once": self.most_processes,
            "long_lived": len(long_lived),
            "max_samples": max((len(s) for s in self.seen.values()), default=0),
            "fd_max": max((v[0] for s in self.seen.values() for v in s), default=0),
            "fd_floor_growth_max": max(floor_growth(0), default=0),
            "fd_floor_growth_sample": fd_growth_sample(),
            "warmed_up": len(warmed),
            "anon_floor_growth_kib_max": max(floor_growth(1, warmed), default=0),
            "anon_floor_growth_kib_mean": round(sum(floor_growth(1, warmed)) / len(warmed), 1) if warmed else 0,
            "anon_growth_sample": anon_growth_sample(),
            "anon_max_kib": max((v[1] for s in self.seen.values() for v in s), default=0),
            "launcher_fds_first_last": (launcher[0][0], launcher[-1][0]) if launcher else None,
            "launcher_anon_kib_first_last": (launcher[0][1], launcher[-1][1]) if launcher else None,
        }
