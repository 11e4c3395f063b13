"""SITE NEW, SEARCH and UPDATE end to end over a directory log written
record by record: which entries each argument form lists and how sizes
read, what SEARCH finds and how it marks nuked and empty directories, and
what UPDATE counts on disk, through ftplib and lftp."""

import os
import re
import struct
import time

import pytest

from conftest import lftp, login, uid_of

# status, pad, time, uid, gid, files, pad, bytes, path, pad, next, previous
RECORD = struct.Struct("<HHiHHHHI255sxII")
assert RECORD.size == 284
NEW, NUKED = 0, 1
AGE = 2 * 86400 + 3 * 3600 + 30  # shown as "2d  3h"
ESCAPES = re.compile(r"\x1b\[[0-9;]*m")


def record(path, status=NEW, files=0, size=0, stamp=None, uid=0, gid=0):
    stamp = int(time.time()) - AGE if stamp is None else stamp
    return RECORD.pack(status, 0, stamp, uid, gid, files, 0, size, path.encode(), 0, 0)


def records(site):
    data = (site.data / "logs" / "dirlog").read_bytes()
    assert len(data) % RECORD.size == 0
    return {fields[8].rstrip(b"\0").decode(): fields for fields in RECORD.iter_unpack(data)}


def body(reply):
    """The reply's lines without codes and colour sequences."""
    return [ESCAPES.sub("", re.sub(r"^\d{3}[- ]", "", line)).strip() for line in reply.splitlines()]


def new_rows(reply):
    """(number, name, files/size, uploader) of each new.body line."""
    rows = []
    for line in reply.splitlines():
        cells = [cell.strip() for cell in ESCAPES.sub("", line[4:]).split("|")]
        if len(cells) >= 6 and cells[1].isdigit():
            rows.append((int(cells[1]), cells[2], cells[3], cells[4]))
    return rows


@pytest.fixture
def dirlog_site(site):
    """alice (siteop) and five logged directories, oldest first: one in
    /archive, an empty one, a 2 000 000 000-byte one, a nuked one and a
    2 048 000-byte one; the newest of all lies in a private path."""
    site.add_user("alice", flags="1")
    alice = uid_of(site, "alice")
    for directory in ("site", "archive", "secret"):
        (site.root / directory).mkdir(exist_ok=True)
    now = int(time.time()) - AGE
    entries = [
        record("/archive/Alpha", files=5, size=10240000, stamp=now - 50, uid=alice),
        record("/site/Bravo", stamp=now - 40, uid=alice),
        record("/site/Charlie", files=12, size=2000000000, stamp=now - 30, uid=alice),
        record("/site/Delta", status=NUKED, files=2, size=4096, stamp=now - 20, uid=alice),
        record("/site/Echo", files=3, size=2048000, stamp=now - 10, uid=alice),
        record("/secret/Hidden", files=1, size=1, stamp=now, uid=alice),
    ]
    (site.data / "logs" / "dirlog").write_bytes(b"".join(entries))
    site.append("privpath /secret =nosuchgroup")
    return site.start()


@pytest.mark.parametrize("cwd, command, shown", [
    ("/", "SITE NEW 3", ["Echo", "Charlie", "Bravo"]),
    ("/", "SITE NEW", ["Echo", "Charlie", "Bravo", "Alpha"]),
    ("/", "SITE NEW 0", ["Echo", "Charlie", "Bravo", "Alpha"]),
    ("/site", "SITE NEW .", ["Echo", "Charlie", "Bravo"]),
    ("/site", "SITE NEW . 2", ["Echo", "Charlie"]),
    ("/archive", "SITE NEW .", ["Alpha"]),
])
def test_new_lists_the_newest_shown_entries(dirlog_site, cwd, command, shown):
    client = login(dirlog_site, "alice")
    client.cwd(cwd)
    reply = client.sendcmd(command)
    assert reply.splitlines()[-1] == "200 Command done."
    rows = new_rows(reply)
    assert [name for _, name, _, _ in rows] == shown, reply
    assert [number for number, _, _, _ in rows] == list(range(1, len(shown) + 1))


@pytest.mark.parametrize("directive, shown", [
    ("%NEW02 /site", ["Echo", "Charlie"]),
    ("%NEW", ["Echo", "Charlie", "Bravo", "Alpha"]),
])
def test_text_files_list_the_newest_entries_with_new(dirlog_site, directive, shown):
    (dirlog_site.data / "text" / "newest.msg").write_text(directive + "\n")
    dirlog_site.append("welcome_msg /ftp-data/text/newest.msg *")
    reply = login(dirlog_site, "alice").sendcmd("SITE WELCOME")
    assert [name for _, name, _, _ in new_rows(reply)] == shown, reply


def test_new_shows_sizes_uploader_and_age(dirlog_site):
    reply = login(dirlog_site, "alice").sendcmd("SITE NEW 3")
    rows = {name: files_size for _, name, files_size, _ in new_rows(reply)}
    assert rows == {"Echo": "3F   2.0M", "Charlie": "12F 1.863G", "Bravo": "=Empty="}
    # The exact columns: "%3dF%7.7s" and the eleven-character empty mark.
    text = ESCAPES.sub("", reply)
    for cell in ("  3F   2.0M", " 12F 1.863G", "   =Empty= "):
        assert f"| {cell} |" in text, text
    assert {uploader for _, _, _, uploader in new_rows(reply)} == {"alice"}
    assert " 2d  3h" in text


@pytest.mark.parametrize("words, found", [
    ("echo", ["/site/Echo (3F/2.0M/2d  3h)"]),
    ("SITE L", ["/site/Charlie (12F/1953.1M/2d  3h)", "/site/Delta *NUKED*"]),
    ("bravo", ["/site/Bravo =Empty="]),
    ("hidden", []),
    ("nothing here", []),
])
def test_search_reports_every_match(dirlog_site, words, found):
    lines = body(login(dirlog_site, "alice").sendcmd(f"SITE SEARCH {words}"))
    assert lines == [f"Searching for: {words}", *found, f"{len(found)} directories found."]


def test_search_through_lftp(dirlog_site):
    result = lftp(dirlog_site, "alice", "secret", "quote SITE SEARCH alpha")
    assert result.returncode == 0, result.stderr
    assert "/archive/Alpha (5F/10.0M/2d  3h)" in ESCAPES.sub("", result.stdout)
    assert "1 directories found." in result.stdout


def test_update_counts_the_files_on_disk(dirlog_site):
    site = dirlog_site
    upd = site.root / "site" / "upd"
    release = upd / "Rel.One"
    (release / "CD1").mkdir(parents=True)
    (release / "a.r00").write_bytes(b"a" * 1000)
    (release / "CD1" / "b.r01").write_bytes(b"b" * 2000)
    (release / "CD1" / "c.r02").write_bytes(b"")
    (release / ".message").write_bytes(b"m" * 500)
    (release / "CD1" / ".message").write_bytes(b"m" * 700)
    os.symlink("a.r00", release / "link.r00")
    os.symlink("/site/upd", release / "loop")
    (upd / "Rel.txt").write_bytes(b"not a directory")
    (upd / "Other").mkdir()
    os.utime(release, (1600000000, 1600000000))

    client = login(site, "alice")
    client.cwd("/site/upd")
    lines = body(client.sendcmd("SITE UPDATE rel*"))
    assert sorted(lines[:-1]) == sorted([
        "Added /site/upd/Rel.One.",
        "Skipped /site/upd/Rel.txt.",
        "Skipped Other: the name does not match.",
    ])
    assert lines[-1] == "Command done."

    after = records(site)
    status, _, stamp, uid, gid, files, _, size = after["/site/upd/Rel.One"][:8]
    assert (status, stamp, uid, gid, files, size) == (NEW, 1600000000, 0, 0, 3, 3000)
    # The old records survive, and the file is ordered by time again.
    assert len(after) == 7
    data = (site.data / "logs" / "dirlog").read_bytes()
    stamps = [fields[2] for fields in RECORD.iter_unpack(data)]
    assert stamps == sorted(stamps)
