"""MKD, RMD, RNFR and RNTO end to end: the directory log and the bot told
of new and removed release directories, the site's pre_dir_check script,
and renames that need their rights and never replace anything; through
ftplib, curl and lftp."""

import ftplib
import os
import struct
import time

import pytest

from conftest import WAIT_SECONDS, install_script, lftp, login, run_client, set_passwd_field

RECORD = struct.Struct("<HHiHHHHI255sxII")
assert RECORD.size == 284

ALICE_UID = ALICE_GID = 100  # the first account marlod-site adds


def dirlog(site):
    """The directory log's records as dicts, oldest first."""
    path = site.data / "logs" / "dirlog"
    data = path.read_bytes() if path.exists() else b""
    assert len(data) % RECORD.size == 0, len(data)
    records = []
    for offset in range(0, len(data), RECORD.size):
        status, _, when, uid, gid, files, _, size, name, _, _ = RECORD.unpack_from(data, offset)
        records.append({"status": status, "time": when, "uid": uid, "gid": gid, "files": files,
                        "bytes": size, "path": name.rstrip(b"\0").decode("latin-1")})
    return records


def bot_calls(site):
    """One list of arguments per run of the bot script."""
    path = site.root / "tmp" / "bot.log"
    if not path.exists():
        return []
    return [line.split("\x1f")[1:] for line in path.read_text().splitlines()]


@pytest.fixture
def dirs(site):
    """alice lives in /site, which she may write; the bot records its
    arguments, separated by a character no test name contains."""
    site.add_user("alice")
    set_passwd_field(site, "alice", 5, "/site")
    home = site.root / "site"
    home.mkdir()
    os.chmod(home, 0o777)
    os.chmod(site.root / "tmp", 0o1777)
    bot = install_script(site, "bot.sh", "for a in \"$@\"; do printf '\\037%s' \"$a\"; done >> /tmp/bot.log\n"
                                         "echo >> /tmp/bot.log\n")
    site.set("botscript_path", bot)
    return site


def test_mkd_records_logs_and_announces_the_directory(dirs):
    dirs.start("-l")
    client = login(dirs, "alice")
    assert client.sendcmd("MKD rel") == '257 "/rel" created.'
    client.quit()

    [record] = dirlog(dirs)
    assert abs(record.pop("time") - time.time()) < WAIT_SECONDS * 3
    assert record == {"status": 0, "uid": ALICE_UID, "gid": ALICE_GID, "files": 0, "bytes": 0,
                      "path": "/site/rel"}
    made = os.stat(dirs.root / "site" / "rel")
    assert (made.st_uid, made.st_gid) == (ALICE_UID, ALICE_GID)
    assert 'NEWDIR: "/site/rel" "alice"' in dirs.log("marlod.log")
    assert dirs.log("dupelog").rstrip().endswith(" rel")
    assert bot_calls(dirs) == [["NEWDIR", "/site/rel"]]
    logged = os.stat(dirs.data / "logs" / "dirlog")
    assert (logged.st_uid, logged.st_mode & 0o777) == (0, 0o644)


def test_a_hostile_name_reaches_the_bot_as_one_argument(dirs):
    name = "x'; touch P; '$(touch Q)`touch R`\"q\""
    client = login(dirs.start(), "alice")
    assert client.sendcmd(f"MKD {name}") == '257 "/{}" created.'.format(name.replace('"', '""'))
    assert client.sendcmd("NOOP").startswith("200")
    client.quit()
    assert bot_calls(dirs) == [["NEWDIR", f"/site/{name}"]]
    assert os.listdir(dirs.root / "site") == [name]
    for place in (dirs.root, dirs.root / "tmp", dirs.root / "bin"):
        assert not {"P", "Q", "R"} & set(os.listdir(place)), place


def test_rmd_marks_the_record_deleted_and_announces_it(dirs):
    dirs.start("-l")
    client = login(dirs, "alice")
    client.mkd("rel")
    assert client.sendcmd("RMD rel") == "250 RMD command successful."
    client.quit()
    assert not (dirs.root / "site" / "rel").exists()
    assert [r["status"] for r in dirlog(dirs)] == [3]
    assert bot_calls(dirs) == [["NEWDIR", "/site/rel"], ["DELDIR", "/site/rel"]]
    assert 'DELDIR: "/site/rel" "alice"' in dirs.log("marlod.log")


@pytest.mark.parametrize("target", ["out/empty", "private/empty"])
def test_rmd_stays_inside_home_and_out_of_private_paths(dirs, target):
    """Both directories are alice's own and deleteown allows her everything;
    only where they lie forbids it."""
    for place in (dirs.root / "elsewhere", dirs.root / "site" / "private"):
        (place / "empty").mkdir(parents=True)
        os.chmod(place, 0o777)
        os.chown(place / "empty", ALICE_UID, ALICE_GID)
    os.symlink("/elsewhere", dirs.root / "site" / "out")  # as the chrooted daemon sees it
    dirs.append("privpath /site/private !*")
    client = login(dirs.start(), "alice")
    with pytest.raises(ftplib.error_perm) as refused:
        client.rmd(target)
    client.quit()
    assert str(refused.value) == f"550 {target}: permission denied."
    assert (dirs.root / "elsewhere" / "empty").exists()
    assert (dirs.root / "site" / "private" / "empty").exists()


@pytest.fixture
def files(dirs):
    """alice's own a/f and a/h; b beside a."""
    for directory in ("a", "b"):
        (dirs.root / "site" / directory).mkdir()
        os.chown(dirs.root / "site" / directory, ALICE_UID, ALICE_GID)
    for name in ("f", "h"):
        path = dirs.root / "site" / "a" / name
        path.write_text(name)
        os.chown(path, ALICE_UID, ALICE_GID)
    return dirs.start()


@pytest.mark.parametrize("target, reply, moved", [
    ("a/g", "250 RNTO command successful.", True),
    ("b/f", "550 Not allowed to move a/f", False),   # alice lacks filemove
    ("a/h", "550 a/h already exists.", False),
])
def test_rnto(files, target, reply, moved):
    client = login(files, "alice")
    assert client.sendcmd("RNFR a/f").startswith("350 ")
    try:
        answer = client.sendcmd(f"RNTO {target}")
    except ftplib.error_perm as refused:
        answer = str(refused)
    client.quit()
    assert answer == reply
    site_dir = files.root / "site"
    assert (site_dir / "a" / "f").exists() != moved
    assert (site_dir / "a" / "h").read_text() == "h"


def test_rnto_moves_the_dirlog_record(dirs):
    client = login(dirs.start(), "alice")
    client.mkd("old")
    client.rename("old", "new")
    client.quit()
    assert [r["path"] for r in dirlog(dirs)] == ["/site/new"]


@pytest.mark.parametrize("body, lines, made", [
    ('echo "#0 fine"\nexit 0\n', ["257-  fine", '257 "/d" created.'], True),
    ("exit 2\n", ["550 Directory refused by the site check."], False),
    ('echo "#0 x"\necho y\nexit 2\n', ["550-  x", "550- y", "550 Directory refused by the site check."],
     False),
    ("echo no\nexit 5\n", ["550- no", "550 Directory refused: no"], False),
])
def test_pre_dir_check(dirs, body, lines, made):
    dirs.set("pre_dir_check", install_script(dirs, "predir.sh", body))
    client = login(dirs.start(), "alice")
    try:
        reply = client.sendcmd("MKD d")
    except ftplib.error_perm as refused:
        reply = str(refused)
    assert client.sendcmd("NOOP").startswith("200")
    client.quit()
    assert reply.splitlines() == lines
    assert (dirs.root / "site" / "d").exists() == made


def test_mkd_through_curl_quote(dirs):
    dirs.start()
    result = run_client("curl", "-sS", "-v", "--max-time", str(WAIT_SECONDS), "-u", "alice:secret",
                        "-Q", "MKD curled", "-I", f"ftp://{dirs.host}:{dirs.port}/")
    assert b'< 257 "/curled" created.' in result.stderr, result.stderr
    assert [r["path"] for r in dirlog(dirs)] == ["/site/curled"]


def test_rename_through_lftp(files):
    result = lftp(files, "alice", "secret", "mv a/f a/g")
    assert result.returncode == 0, result.stderr
    assert (files.root / "site" / "a" / "g").read_text() == "f"
