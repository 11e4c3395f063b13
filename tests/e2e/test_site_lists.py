"""WHO, SWHO, KICK, KILL, the top lists, TRAFFIC, STATS, USER, USERS, the
bare READD list and the directory totals end to end, over userfiles the
tests write and slots planted straight into the online table."""

import ctypes
import os
import re
import struct
import subprocess
import time

import pytest

from conftest import WAIT_SECONDS, content, login, raw_login, set_userfile_line

# --- the online table, written the way other programs of the site could ---

ENTRY = struct.Struct("<64s24s256s256s256sIiiiIi")
SLOTS = 25  # max_users 20 5 in the sample configuration
_libc = ctypes.CDLL(None, use_errno=True)
_libc.shmget.argtypes = [ctypes.c_int, ctypes.c_size_t, ctypes.c_int]
_libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
_libc.shmat.restype = ctypes.c_void_p
_libc.shmdt.argtypes = [ctypes.c_void_p]


class OnlineTable:
    def __init__(self, site):
        shmid = _libc.shmget(site.ipc_key, 0, 0)
        assert shmid >= 0, "no online table"
        self.address = _libc.shmat(shmid, None, 0)
        assert self.address != ctypes.c_void_p(-1).value

    def close(self):
        _libc.shmdt(self.address)

    def slots(self):
        data = ctypes.string_at(self.address, SLOTS * ENTRY.size)
        return [ENTRY.unpack_from(data, i * ENTRY.size) for i in range(SLOTS)]

    def pids_of(self, name):
        return [slot[10] for slot in self.slots()
                if slot[10] and slot[1].split(b"\0")[0] == name.encode()]

    def plant(self, index, pid, name, status="NOOP", directory="/", idle=0, online=60):
        now = time.time()
        record = ENTRY.pack(b"planted", name.encode(), status.encode(), b"x@planted.example",
                            directory.encode(), 100, int(now) - online, int(now) - idle, 0, 0, pid)
        ctypes.memmove(self.address + index * ENTRY.size, record, ENTRY.size)


@pytest.fixture
def sleeper():
    """A live process whose pid planted slots can name."""
    process = subprocess.Popen(["sleep", "60"])
    yield process.pid
    process.kill()
    process.wait()


def reply_lines(client, command):
    """Every line of the reply; 4xx and 5xx answers too."""
    client.putcmd(command)
    return client.getmultiline().splitlines()


# --- userfiles as the tests want them --------------------------------------

PERIODS = ["ALLUP", "ALLDN", "WKUP", "WKDN", "DAYUP", "DAYDN", "MONTHUP", "MONTHDN"]


def write_user(site, name, flags="3", groups=(), stats=None, nukes=None, credits=(0, 0),
               ratios=(3, -1), extra=""):
    """A userfile of two sections; stats maps (PERIOD, section) to
    (files, KiB, seconds), nukes maps a section to (times, MB)."""
    stats = stats or {}
    nukes = nukes or {}
    lines = [f"USER {name}", "GENERAL 0,0 -1 0 0", "LOGINS 3 0 -1 -1", "TIMEFRAME 0 0",
             f"FLAGS {flags}", f"TAGLINE tag of {name}", "DIR /",
             "CREDITS " + "".join(f"{c} " for c in credits),
             "RATIO " + "".join(f"{r} " for r in ratios)]
    for period in PERIODS:
        lines.append(period + " " + "".join("%d %d %d " % stats.get((period, s), (0, 0, 0))
                                            for s in range(2)))
    lines.append("NUKE " + "".join("0 %d %d " % nukes.get(s, (0, 0)) for s in range(2)))
    lines += [f"GROUP {group}" for group in groups]
    (site.data / "users" / name).write_text("\n".join(lines) + "\n" + extra)


def two_sections(site):
    site.append("stat_section MP3 /site/mp3/* yes")


def use_template(site, name, text):
    (site.data / "text" / name).write_text(text)


# --- WHO and SWHO -------------------------------------------------------------

def test_who_lists_transfers_idle_sessions_and_hides_as_configured(site, sleeper):
    (site.root / "etc" / "group").write_text("staff::300:\n")
    site.add_user("admin", flags="1")
    site.add_user("plain")
    site.add_user("ghost")
    site.add_user("mole")
    site.add_user("dl")
    set_userfile_line(site, "dl", "GENERAL", "0,0 -1 102400 0")
    site.append("hideuser -ghost")
    site.append("hideinwho /site/staff/* *")
    (site.root / "site" / "staff" / "inner").mkdir(parents=True)
    (site.root / "site" / "big.bin").write_bytes(content(4 << 20))
    site.start()

    admin, plain, ghost, mole = (login(site, n) for n in ("admin", "plain", "ghost", "mole"))
    mole.cwd("/site/staff/inner")
    downloader = login(site, "dl")
    downloader.voidcmd("TYPE I")
    data = downloader.transfercmd("RETR /site/big.bin")
    assert len(data.recv(4096)) > 0

    table = OnlineTable(site)
    try:
        # Planted sessions idle for 5 and 6 seconds, read within the second.
        if time.time() % 1 > 0.7:
            time.sleep(0.35)
        table.plant(23, sleeper, "sleepy", status="SITE   IDLE   300", idle=6)
        table.plant(24, sleeper, "fresh", status="LIST   -la   /site/some/where", idle=5)
        seen_by_admin = reply_lines(admin, "SITE WHO")
    finally:
        table.close()
    text = "\n".join(seen_by_admin)
    assert "IDLE for 0m 6s" in text
    fresh = next(line for line in seen_by_admin if "fresh" in line)
    assert "| LIST -la /sit " in fresh  # its first 17 characters, blanks collapsed
    rate = re.search(r"DL: big\.bin      at (\d+\.\d)K/s", text)
    assert rate, text
    assert f"Down: {rate.group(1)}K/s" in text
    assert "ghost" in text and "mole" not in text

    seen_by_plain = "\n".join(reply_lines(plain, "SITE WHO"))
    assert "admin" in seen_by_plain and "ghost" not in seen_by_plain and "mole" not in seen_by_plain
    assert "mole" in "\n".join(reply_lines(mole, "SITE WHO"))
    # SWHO is the siteops': its body shows every session's host.
    assert "x@planted.example" in "\n".join(reply_lines(admin, "SITE SWHO"))
    assert reply_lines(plain, "SITE SWHO")[-1].startswith("200 ")
    assert "x@planted.example" not in "\n".join(reply_lines(plain, "SITE SWHO"))
    data.close()


# --- KICK and KILL --------------------------------------------------------------

def test_kick_ends_every_session_of_the_user_and_protects_siteops(site):
    site.set("master", "admin")
    site.add_user("admin", flags="1")
    site.add_user("op2", flags="1")
    site.add_user("alice")
    site.add_user("kicker", flags="D")
    site.start()
    first, second = raw_login(site, "alice"), raw_login(site, "alice")
    table = OnlineTable(site)
    pids = sorted(table.pids_of("alice"))
    table.close()
    assert len(pids) == 2

    admin = login(site, "admin")
    assert reply_lines(admin, "SITE KICK alice") == ["200 Kicked 2 sessions."]
    for raw in (first, second):
        raw.sock.settimeout(2)
        assert raw.closed()
    lines = site.log("sysop.log").splitlines()
    killed = sorted(int(m.group(1)) for m in
                    (re.search(r"'admin' killed PID (\d+) \(alice\)\.$", line) for line in lines) if m)
    assert killed == pids

    kicker = login(site, "kicker")
    assert reply_lines(kicker, "SITE KICK op2") == ["200 Only the master may kick a siteop."]
    assert reply_lines(kicker, "SITE KICK nosuch") == ["200 The userfile of nosuch cannot be loaded."]
    assert reply_lines(kicker, "SITE KICK alice") == ["200 No session of that user found."]


@pytest.mark.parametrize("word, shown", [("99999", "99999"), ("-1", "-1"), ("0", "0"), ("7x", "7"),
                                         ("4294967297", "4294967297")])
def test_kill_of_no_session_answers_288(open_site, word, shown):
    open_site.add_user("admin", flags="1")
    admin = login(open_site, "admin")
    assert reply_lines(admin, f"SITE KILL {word}") == ["200- ", f"200 No process {shown} is online."]


def test_kill_spares_the_super_server_and_siteops_but_ends_a_session(site, sleeper):
    site.add_user("admin", flags="1")
    site.add_user("killer", flags="E")
    site.add_user("victim")
    site.start()
    admin = login(site, "admin")
    killer = login(site, "killer")
    victim = raw_login(site, "victim")
    table = OnlineTable(site)
    try:
        table.plant(24, site.launcher.pid, "planted")
        assert reply_lines(killer, f"SITE KILL {site.launcher.pid}")[-1] == \
            f"200 No process {site.launcher.pid} is online."
        assert site.launcher.poll() is None
        admin_pid, = table.pids_of("admin")
        assert reply_lines(killer, f"SITE KILL {admin_pid}") == ["200 Only the master may kick a siteop."]
        victim_pid, = table.pids_of("victim")
        assert reply_lines(killer, f"SITE KILL {victim_pid}") == [f"200 Process {victim_pid} of victim killed."]
        assert table.pids_of("victim") == []
    finally:
        table.close()
    victim.sock.settimeout(2)
    assert victim.closed()
    assert admin.sendcmd("NOOP").startswith("200")


# --- the top lists -----------------------------------------------------------

def ranked_site(site):
    """u1 to u5 with section 0 uploads of 3, 1, 0, 1 GiB and 5 GiB, u3 with
    section 1 uploads, groups staff and other; templates that show the raw
    fields; placeholders that must never count."""
    two_sections(site)
    (site.root / "etc" / "group").write_text("other:Others:400:\nstaff:Staff:300:\n")
    up = lambda kib, files=10, secs=100: {("ALLUP", 0): (files, kib, secs)}
    write_user(site, "u1", groups=["staff"], stats=up(3145728), nukes={0: (1, 50)})
    write_user(site, "u2", groups=["other"], stats=up(1048576), nukes={0: (4, 400)})
    write_user(site, "u3", groups=["staff"], stats={("ALLUP", 1): (7, 2048, 4)})
    write_user(site, "u4", groups=["staff"], stats=up(1048576))
    write_user(site, "u5", groups=["other"], stats=up(5242880, 1234, 10240), nukes={0: (2, 20)})
    site.add_user("admin", flags="1", group="staff")
    site.add_user("plain", group="staff")
    # A template, a lock file, a writer's temporary copy and a placeholder.
    write_user(site, "default.user", groups=["staff"], stats=up(9999999))
    (site.data / "users" / "u1.lock").write_text("1")
    write_user(site, "u1.4321", groups=["staff"], stats=up(3145728))
    write_user(site, "holder", groups=["staff"], stats=up(8888888))
    os.chown(site.data / "users" / "holder", 99, 99)
    for name in ("alup", "nuketop"):
        use_template(site, name + ".body", "%[%s]c|%[%s]Gu|%[%s]Gg|%[%s]Gf|%[%s]Gb|%[%s]Gs\n")
        use_template(site, name + ".head", "HEAD %[%s]b\n")
        use_template(site, "MP3" + name + ".head", "MP3 HEAD\n")
    use_template(site, "gpal.body", "%[%s]Gg|%[%s]Gm|%[%s]Gf|%[%s]Gb|%[%s]Gt\n")
    for name in ("gpal.head", "gpal.foot", "gpwk.head", "gpwk.foot"):
        use_template(site, name, "")
    return site


def rows(client, command):
    return [line[5:] for line in reply_lines(client, command) if "|" in line]


def test_top_lists_rank_users_and_groups(site):
    ranked_site(site).start()
    equal = [name for name in os.listdir(site.data / "users") if name in ("u2", "u4")]
    tied = {"u2": "other", "u4": "staff"}
    expected = ["1|u5|other|1,234|5,120|512", "2|u1|staff|10|3,072|31457"] + \
        [f"{i}|{name}|{tied[name]}|10|1,024|10486" for i, name in enumerate(equal, 3)]
    plain = login(site, "plain")
    assert reply_lines(plain, "SITE ALUP")[0] == "200- HEAD DEFAULT"
    assert rows(plain, "SITE ALUP") == expected
    assert rows(plain, "SITE ALUP 2") == expected[:2]
    assert rows(plain, "SITE ALUP =other") == expected  # no -grpstats: unfiltered
    for command in ("SITE ALUP 5 1", "SITE ALUP 5 mp3"):
        lines = reply_lines(plain, command)
        assert lines[0] == "200- MP3 HEAD"
        assert rows(plain, command) == ["1|u3|staff|7|2|512"]
    admin = login(site, "admin")
    assert rows(admin, "SITE ALUP =other") == ["1|u5|other|1,234|5,120|512", "2|u2|other|10|1,024|10486"]
    assert rows(plain, "SITE NUKETOP") == ["1|u2|other||4|400", "2|u5|other||2|20", "3|u1|staff||1|50"]
    # Members count the real users: u1, u3, u4, admin and plain.
    assert rows(plain, "SITE GPAL") == ["other|2|1,244|6,144|Others", "staff|5|20|4,096|Staff"]
    assert rows(plain, "SITE GPAL 1") == ["other|2|1,244|6,144|Others"]
    assert reply_lines(plain, "SITE GPWK")[-1] == "200 Command done."
    assert rows(plain, "SITE GPWK") == []


def test_top_list_directives_show_the_same_rows(site):
    ranked_site(site)
    use_template(site, "tops.msg", "%ALLUP 2\nbetween\n%WHO\n")
    site.append("welcome_msg /ftp-data/text/tops.msg *")
    site.start()
    client = site.ftp()
    welcome = client.login("plain", "secret").splitlines()
    assert "230- 1|u5|other|1,234|5,120|512" in welcome
    assert "230- between" in welcome
    assert any("plain" in line for line in welcome[welcome.index("230- between"):])


# --- TRAFFIC and STATS ---------------------------------------------------------

def traffic_lines(client):
    return [line for line in reply_lines(client, "SITE TRAFFIC") if "K/s" in line]


def test_traffic_adds_up_every_section(site):
    two_sections(site)
    site.add_user("admin", flags="1")
    site.start()
    admin = login(site, "admin")
    assert all(line.endswith("|      0 |       0 |    0 K/s  |") for line in traffic_lines(admin))
    figures = {}
    for n, name in enumerate(("t1", "t2", "t3")):
        stats = {}
        for p, period in enumerate(PERIODS):
            for section in range(2):
                stats[(period, section)] = (n + p + section, (n + 1) * 3000 * (p + 1) + section * 1024,
                                            (n + 2) * (p + 3) * (section + 1))
        write_user(site, name, stats=stats)
        for key, value in stats.items():
            total = figures.setdefault(key[0], [0, 0, 0])
            total[0] += value[0]
            total[1] += value[1] // 1024
            total[2] += value[2]
    shown = traffic_lines(admin)
    labels = ["Total Uploads  ", "Total Downloads", "Month Uploads  ", "Month Downloads",
              "Week Uploads   ", "Week Downloads ", "Day Uploads    ", "Day Downloads  "]
    order = ["ALLUP", "ALLDN", "MONTHUP", "MONTHDN", "WKUP", "WKDN", "DAYUP", "DAYDN"]
    for line, label, period in zip(shown, labels, order):
        files, mb, secs = figures[period]
        assert line == "200- | %s | %6d |%8.f |%5.f K/s  |" % (label, files, mb, mb * 1024 / secs)


def test_stats_shows_the_user_section_by_section(site):
    two_sections(site)
    use_template(site, "user.stats", "%[%s]Iu %[%.1f]IG %[%.1f]Ic %[%s]Iu\n")
    use_template(site, "MP3user.stats", "MP3 %[%s]Iu %[%.1f]IG %[%.1f]Ic\n")
    site.add_user("admin", flags="1")
    write_user(site, "u5", stats={("ALLUP", 0): (1, 2048, 1), ("ALLUP", 1): (1, 512, 1)},
               credits=(1024, 3072))
    site.start()
    admin = login(site, "admin")
    assert reply_lines(admin, "SITE STATS u5") == ["200- u5 2.0 1.0 u5", "200- MP3 u5 0.5 3.0",
                                                   "200 Command done."]
    assert reply_lines(admin, "SITE STATS nosuch") == ["200 User nosuch does not exist."]
    assert reply_lines(admin, "SITE STATS")[0] == "200- admin 0.0 15.0 admin"


# --- USER, USERS and the bare READD list -------------------------------------------

NAMES = ["admin", "gad", "usern1", "usern2", "joe", "kim", "lee", "max", "ned", "oli", "pat",
         "quin", "ray"]


@pytest.fixture
def thirteen(site):
    """Thirteen users, and two deleted ones; not started."""
    (site.root / "etc" / "group").write_text("staff::300:\nother::400:\n")
    for name in NAMES:
        site.add_user(name, flags={"admin": "1", "gad": "2", "joe": "3J"}.get(name, "3"),
                      group="staff" if name in ("gad", "kim", "lee") else None)
    set_userfile_line(site, "joe", "ALLUP", "3 2097152 10 0 0 0 ")
    set_userfile_line(site, "joe", "ALLDN", "4 1048576 10 0 0 0 ")
    set_userfile_line(site, "kim", "RATIO", "0 ")
    set_userfile_line(site, "kim", "ALLUP", "5 512 1 0 0 0 ")
    site.add_user("gone1", flags="36", group="staff")
    site.add_user("gone2", flags="36", group="other")
    return site


def test_user_lists_every_name_six_to_a_line(thirteen):
    admin = login(thirteen.start(), "admin")
    lines = reply_lines(admin, "SITE USER")
    assert lines[0] == "200- Users of MDS:"
    grid = lines[2:5]
    assert [len(line) for line in grid] == [5 + 72, 5 + 72, 5 + 77]
    listed = [name for line in grid for name in line[5:].split()]
    assert sorted(listed) == sorted(NAMES)
    assert lines[-1] == "200 13 users listed."


@pytest.mark.parametrize("option, listed", [
    ("=staff", ["gad", "kim", "lee"]),
    ("j", ["joe"]),
    ("usern*", ["usern1", "usern2"]),
    ("deleted", ["gone1", "gone2"]),
    ("leech", ["kim"]),
])
def test_users_lists_what_the_option_selects(thirteen, option, listed):
    admin = login(thirteen.start(), "admin")
    lines = reply_lines(admin, f"SITE USERS {option}")
    assert lines[0] == "200- Users of this site:"
    assert sorted(line[5:].split()[0] for line in lines[1:-3]) == listed
    assert lines[-1] == f"200 {len(listed)} users listed."


def test_users_table_lines_and_totals(thirteen):
    admin = login(thirteen.start(), "admin")
    lines = reply_lines(admin, "SITE USERS")
    row = "200- %-15s %-9.9s  UL:%7.7s      DL:%7.7s      Credit: %5.0fMB"
    assert row % ("joe", "", " 2048MB", " 1024MB", 15) in lines
    assert row % ("kim", "staff", "    0MB", "0MB", 15) in lines
    assert lines[-3:] == ["200- Total: 2048.5 MB up, 1024.0 MB down, 8 files up, 4 files down.",
                          "200- 1 siteops, 1 gadmins, 1 leeches, 2 deleted.",
                          "200 13 users listed."]
    assert reply_lines(admin, "SITE USERS =nosuch") == ["200 There is no group named nosuch."]
    assert reply_lines(admin, "SITE USERS bogus") == [
        "200- Users of this site:", "200 Unknown option. Send SITE USERS HELP for the list."]


def test_bare_readd_lists_the_deleted_users_an_admin_may_restore(thirteen):
    thirteen.set("-readd", "1 2")
    thirteen.start()
    admin = login(thirteen, "admin")
    lines = reply_lines(admin, "SITE READD")
    grid = [line for line in lines if "gone" in line]
    # Padded to 77 characters with its colour codes, which colour-off drops.
    assert len(grid) == 1 and grid[0].split() == ["200-", "gone1", "gone2"] and len(grid[0]) == 5 + 73
    gad = login(thirteen, "gad")
    assert [line.split() for line in reply_lines(gad, "SITE READD") if "gone" in line] == [["200-", "gone1"]]


def test_user_shows_the_user_texts_each_viewer_may_see(thirteen):
    set_userfile_line(thirteen, "joe", "USER", "joe is fine")
    use_template(thirteen, "user.txt", "TXT %[%s]Iu %?1:siteop:plain:?\n")
    use_template(thirteen, "user.comment", "COMMENT %[%s]I$\n")
    use_template(thirteen, "user.extra", "EXTRA %[%s]I0\n")
    thirteen.start()
    admin = login(thirteen, "admin")
    assert reply_lines(admin, "SITE USER joe") == [
        "200- COMMENT joe is fine", "200- TXT joe plain", "200- EXTRA *@*", "200 Command done."]
    assert reply_lines(admin, "SITE USER nosuch") == ["200 There is no user named nosuch."]
    joe = login(thirteen, "joe")
    assert reply_lines(joe, "SITE USER admin") == ["200- TXT admin siteop", "200 Command done."]
    assert reply_lines(joe, "SITE USER joe") == ["200- TXT joe plain", "200- EXTRA *@*", "200 Command done."]
    # A group admin learns nothing private about users outside his group.
    thirteen.set("-usercomment", "1 2")
    thirteen.set("-userextra", "1 2")
    gad = login(thirteen, "gad")
    assert reply_lines(gad, "SITE USER joe") == ["200- TXT joe plain", "200 Command done."]
    assert reply_lines(gad, "SITE USER kim")[0].startswith("200- COMMENT ")


def test_a_logout_inside_a_shown_user_text_saves_the_own_record(thirteen):
    use_template(thirteen, "user.txt", "TXT %[%s]Iu%LOGOUT\n")
    set_userfile_line(thirteen, "joe", "TAGLINE", "joe's own")
    thirteen.start("-l")
    before = (thirteen.data / "users" / "joe").read_text()
    raw = raw_login(thirteen, "kim")
    assert raw.command("SITE USER joe") == ["200- TXT joe", "200 Goodbye."]
    assert raw.closed()
    # Logout wrote kim's record and logged kim's group and tagline.
    assert (thirteen.data / "users" / "joe").read_text() == before
    assert "RATIO 0 " in (thirteen.data / "users" / "kim").read_text()
    assert '"kim" "staff" "No TagLine Set"' in thirteen.log("marlod.log")


# --- directory totals after CWD ---------------------------------------------------

def test_cwd_shows_the_biggest_uploaders_of_the_directory(site):
    for name in ("big", "mid", "small"):
        site.add_user(name)
    site.set("show_totals", "2 /site/*/")
    use_template(site, "show_totals.head", "TOTAL %[%s]ZB in %[%s]ZF\n")
    use_template(site, "show_totals.body", "OWNER %[%s]Zu %[%s]Zb %[%s]Zf %[%.4f]Zp\n")
    use_template(site, "show_totals.foot", "LISTED %[%.4f]ZP\n")
    uid = {line.split(":")[0]: int(line.split(":")[2])
           for line in (site.root / "etc" / "passwd").read_text().splitlines()}
    release = site.root / "site" / "rel"
    release.mkdir(parents=True)
    for name, mib in (("small", 1), ("mid", 2), ("big", 3)):
        path = release / f"{name}.bin"
        path.write_bytes(b"\0" * (mib << 20))
        os.chown(path, uid[name], 100)
    (release / "big.nfo").write_bytes(b"x" * 5000)  # ignore_type
    os.chown(release / "big.nfo", uid["big"], 100)
    sparse = site.root / "site" / "huge"
    sparse.mkdir()
    with open(sparse / "image.iso", "wb") as image:
        image.truncate(5 << 30)
    os.chown(sparse / "image.iso", uid["mid"], 100)
    site.start()
    client = login(site, "small")
    lines = client.sendcmd("CWD /site/rel").splitlines()
    assert lines[:4] == ["250- TOTAL 6,291,456 in 3", "250- OWNER big 3,145,728 1 50.0000",
                         "250- OWNER mid 2,097,152 1 33.3333", "250- LISTED 83.3333"]
    assert client.sendcmd("CWD /site/huge").splitlines()[0] == "250- TOTAL 5,368,709,120 in 1"
