"""Uploads end to end: STOR, APPE and STOU through curl, lftp and ftplib;
what an accepted upload earns (dirlog, statistics, credits, xferlog), the
CRC the upload checker sees, its verdicts, resumes, refusals, ASCII mode,
a session that ends mid-upload, and the upload speed limit."""

import ftplib
import io
import os
import socket
import struct
import time
import zlib

import pytest

from conftest import WAIT_SECONDS, content, install_script, lftp, login, run_client
from conftest import set_userfile_line, userfile_words

DIRLOG = struct.Struct("<HHiHHHHI255sxII")
DUPE = struct.Struct("<256si24s4x")
ALICE_UID = 100  # the first account marlod-site adds


@pytest.fixture
def up(site):
    """alice (ratio 3, 1000 credits) may upload into /site/Rel, a dirlog
    record; the checker logs its arguments to /tmp/post.log and exits with
    the number in /tmp/status (0 when missing)."""
    site.add_user("alice")
    set_userfile_line(site, "alice", "CREDITS", "1000")
    rel = site.root / "site" / "Rel"
    rel.mkdir(parents=True)
    os.chown(rel, ALICE_UID, ALICE_UID)
    (site.data / "logs" / "dirlog").write_bytes(
        DIRLOG.pack(0, 0, int(time.time()), ALICE_UID, ALICE_UID, 0, 0, 0, b"/site/Rel", 0, 0))
    (site.data / "logs" / "dupefile").write_bytes(b"")
    (site.root / "tmp").chmod(0o1777)
    checker = install_script(site, "check", 'echo "$1 $2 $3" >> /tmp/post.log\n'
                             'echo "checked $1"\n'
                             '[ -f /tmp/status ] && read status < /tmp/status && exit "$status"\n'
                             'exit 0\n')
    site.set("post_check", checker)
    site.set("dupe_check", "7")
    return site


def checker_calls(site):
    log = site.root / "tmp" / "post.log"
    return log.read_text().splitlines() if log.exists() else []


def checker_status(site, status):
    (site.root / "tmp" / "status").write_text(f"{status}\n")


def books(site):
    allup = [int(w) for w in userfile_words(site, "alice", "ALLUP")[:2]]
    return int(userfile_words(site, "alice", "CREDITS")[0]), allup


def dirlog_totals(site):
    fields = DIRLOG.unpack((site.data / "logs" / "dirlog").read_bytes())
    return fields[5], fields[7]


def dupe_names(site):
    data = (site.data / "logs" / "dupefile").read_bytes()
    return [name.rstrip(b"\0").decode() for name, stamp, _ in DUPE.iter_unpack(data) if stamp]


def curl(site, *args):
    return run_client("curl", "-sS", "--max-time", str(WAIT_SECONDS), "-u", "alice:secret", *args)


def url(site, path):
    return f"ftp://{site.host}:{site.port}{path}"


def stor(client, name, data, command="STOR"):
    return client.storbinary(f"{command} {name}", io.BytesIO(data))


def test_curl_upload_is_booked_everywhere(up, tmp_path):
    up.start("-i")
    source = tmp_path / "ten.bin"
    source.write_bytes(content(10240))
    done = curl(up, "-T", str(source), url(up, "/site/Rel/ten.bin"))
    assert done.returncode == 0, done.stderr
    stored = up.root / "site" / "Rel" / "ten.bin"
    assert stored.read_bytes() == source.read_bytes()
    assert stored.stat().st_mode & 0o7777 == 0o644 and stored.stat().st_uid == ALICE_UID
    assert books(up) == (1030, [1, 10])
    assert dirlog_totals(up) == (1, 10240)
    assert dupe_names(up) == ["ten.bin"]
    line = up.log("xferlog").split()
    assert line[7:14] == ["10240", "/site/Rel/ten.bin", "b", "_", "i", "r", "alice"]
    assert checker_calls(up) == ["ten.bin /site/Rel %08X" % zlib.crc32(source.read_bytes())]


@pytest.mark.parametrize("ratio, creditcheck, credits, expected", [
    ("0", None, "1000", 1000),                         # leech: earns nothing
    ("3", "/site/Rel/* 0", "1000", 1000),              # multiplier 0
    ("3", "/site/Rel/* 1000000", "2147483000", 2147483647),  # saturates
])
def test_credits_by_ratio_and_creditcheck(up, ratio, creditcheck, credits, expected):
    set_userfile_line(up, "alice", "RATIO", ratio)
    set_userfile_line(up, "alice", "CREDITS", credits)
    if creditcheck:
        up.set("creditcheck", creditcheck + " *")
    client = login(up.start(), "alice")
    assert stor(client, "site/Rel/big.bin", content(10 << 20)).startswith("226")
    assert books(up) == (expected, [1, 10240])


def test_checker_sees_the_crc_of_binary_uploads_only(up):
    client = login(up.start(), "alice")
    data = os.urandom(16 << 20)
    assert stor(client, "site/Rel/abc", b"abc").startswith("226")
    assert stor(client, "site/Rel/random", data).startswith("226")
    client.voidcmd("TYPE A")
    assert client.storlines("STOR site/Rel/text", io.BytesIO(b"x\r\n")).startswith("226")
    assert [call.split()[2] for call in checker_calls(up)] == [
        "352441C2", "%08X" % zlib.crc32(data), "00000000"]


def test_ascii_upload_stores_lf_and_counts_bare_linefeeds(up):
    client = login(up.start(), "alice")
    client.voidcmd("TYPE A")
    conn = client.transfercmd("STOR site/Rel/mixed.txt")
    conn.sendall(b"one\r\ntwo\nthree\r\n")
    conn.close()
    reply = client.getmultiline()
    assert reply.startswith("226-")
    assert "1 bare linefeeds" in reply and "checked mixed.txt" in reply
    assert "\n230" not in reply
    assert (up.root / "site" / "Rel" / "mixed.txt").read_bytes() == b"one\ntwo\nthree\n"


def test_rejected_upload_is_removed_after_its_penalty(up):
    client = login(up.start(), "alice")
    checker_status(up, 15)
    started = time.monotonic()
    with pytest.raises(ftplib.error_perm) as refused:
        stor(client, "site/Rel/bad.bin", content(5000))
    assert str(refused.value).startswith("553"), refused.value
    assert time.monotonic() - started >= 5, refused.value
    assert not (up.root / "site" / "Rel" / "bad.bin").exists()
    assert dupe_names(up) == [] and books(up) == (1000, [0, 0])

    checker_status(up, 9)
    started = time.monotonic()
    with pytest.raises(ftplib.error_perm):
        stor(client, "site/Rel/bad.bin", content(5000))
    assert time.monotonic() - started < 4


def test_checker_that_cannot_run_leaves_the_file_untested(up):
    (up.root / "bin" / "check").chmod(0o644)
    client = login(up.start(), "alice")
    reply = stor(client, "site/Rel/untested.bin", content(5000))
    assert reply.startswith("226")
    stored = up.root / "site" / "Rel" / "untested.bin"
    assert stored.stat().st_mode & 0o7777 == 0o644
    assert books(up) == (1000, [0, 0])
    assert "zipscript could not be executed" in up.log("error.log")


def test_refusals(up):
    up.set("overwrite", "/nowhere/* *")
    up.set("resume", "/site/Rel/* *")
    up.config = "upload /site/Closed/* !*\n" + up.config
    (up.root / "site" / "Closed").mkdir()
    (up.root / "site" / "Rel" / "taken.bin").write_bytes(b"xy")
    os.chmod(up.root / "site" / "Rel" / "taken.bin", 0o644)
    (up.root / "site" / "Rel" / "growing.bin").write_bytes(b"x")
    os.chmod(up.root / "site" / "Rel" / "growing.bin", 0o755)
    client = login(up.start(), "alice")
    for command, code in [
        ("STOR ftp-data/x", "550"),          # private path: no such directory
        ("STOR site/Closed/x", "553"),      # upload rule
        ("STOR site/Rel/taken.bin", "553"),  # no overwrite right
        ("STOR site/Rel/growing.bin", "553"),  # still being received
        ("APPE site/Rel/growing.bin", "553"),  # resume needs mode 0644
    ]:
        with pytest.raises(ftplib.error_perm) as refused:
            client.storbinary(command, io.BytesIO(b"data"))
        assert str(refused.value).startswith(code), command
    with pytest.raises(ftplib.error_perm) as refused:
        client.storbinary("STOR site/Rel/taken.bin", io.BytesIO(b"data"), rest=1)
    assert str(refused.value).startswith("554")
    assert (up.root / "site" / "Rel" / "taken.bin").read_bytes() == b"xy"
    assert client.voidcmd("NOOP").startswith("200")


@pytest.mark.parametrize("setup, refusal", [
    (lambda site: site.set("sim_xfers", "-1 0"), "553 Too many uploads"),
    (lambda site: set_userfile_line(site, "alice", "LOGINS", "2 0 -1 0"), "553 You already run"),
    (lambda site: site.set("free_space", "999999999"), "553 Not enough free"),
    (lambda site: site.set("resume", "/nowhere/* *"), "553 You may not resume"),
])
def test_limits_space_and_resume_right(up, setup, refusal):
    kept = up.root / "site" / "Rel" / "kept.bin"
    kept.write_bytes(b"kept")
    os.chmod(kept, 0o644)
    setup(up)
    client = login(up.start(), "alice")
    with pytest.raises(ftplib.error_perm) as refused:
        stor(client, "site/Rel/kept.bin", b"more", command="APPE")
    assert str(refused.value).startswith(refusal)
    assert kept.read_bytes() == b"kept"


def test_file_moved_before_acceptance_earns_nothing(up):
    client = login(up.start(), "alice")
    conn = client.transfercmd("STOR site/Rel/moved.bin")
    conn.sendall(content(100 * 1024))
    time.sleep(0.3)
    os.rename(up.root / "site" / "Rel" / "moved.bin", up.root / "site" / "Rel" / "elsewhere.bin")
    conn.sendall(content(100 * 1024))
    conn.close()
    assert client.voidresp().startswith("226")
    assert books(up) == (1000, [0, 0]) and dirlog_totals(up) == (0, 0)
    assert (up.root / "site" / "Rel" / "elsewhere.bin").stat().st_size == 200 * 1024


def test_stou_and_dir_names(up):
    up.set("dir_names", "0 upper")
    (up.root / "site" / "Rel" / "x").write_bytes(b"1")
    (up.root / "site" / "Rel" / "x.1").write_bytes(b"2")
    (up.root / "site" / "FOO").mkdir()
    os.chown(up.root / "site" / "FOO", ALICE_UID, ALICE_UID)
    client = login(up.start(), "alice")
    conn, size = client.ntransfercmd("STOU site/Rel/x")
    conn.close()
    assert client.voidresp().startswith("226")
    assert (up.root / "site" / "Rel" / "x.2").exists()
    assert stor(client, "site/Foo/y", b"yy").startswith("226")
    assert (up.root / "site" / "FOO" / "y").read_bytes() == b"yy"


def test_resume_with_curl_and_lftp_books_only_the_new_half(up, tmp_path):
    source = tmp_path / "whole.bin"
    source.write_bytes(content(2 << 20, seed=7))
    for number, client in enumerate(["curl", "lftp"]):
        half = up.root / "site" / "Rel" / f"half{number}.bin"
        half.write_bytes(source.read_bytes()[:1 << 20])
        os.chown(half, ALICE_UID, ALICE_UID)
        os.chmod(half, 0o644)
    up.start()
    done = curl(up, "-C", "-", "-T", str(source), url(up, "/site/Rel/half0.bin"))
    assert done.returncode == 0, done.stderr
    done = lftp(up, "alice", "secret", f"put -c -O site/Rel {source} -o half1.bin")
    assert done.returncode == 0, done.stderr
    for number in range(2):
        assert (up.root / "site" / "Rel" / f"half{number}.bin").read_bytes() == source.read_bytes()
    assert books(up) == (1000 + 2 * 3 * 1024, [0, 2048])
    assert dirlog_totals(up) == (0, 2 << 20)
    assert [call.split()[2] for call in checker_calls(up)] == ["%08X" % zlib.crc32(source.read_bytes())] * 2


@pytest.mark.parametrize("status, kept", [(0, True), (1, False)])
def test_session_ending_mid_upload_is_post_processed_once(up, status, kept):
    checker_status(up, status)
    client = login(up.start("-i"), "alice")
    conn = client.transfercmd("STOR site/Rel/cut.bin")
    conn.sendall(content(300 * 1024))
    time.sleep(0.5)
    client.sock.shutdown(socket.SHUT_RDWR)  # the control connection goes first
    time.sleep(0.5)
    conn.close()
    deadline = time.monotonic() + WAIT_SECONDS
    while not checker_calls(up) and time.monotonic() < deadline:
        time.sleep(0.1)
    time.sleep(0.5)
    assert len(checker_calls(up)) == 1
    assert (up.root / "site" / "Rel" / "cut.bin").exists() == kept
    if kept:
        assert books(up) == (1000 + 3 * 300, [1, 300])
    else:
        assert books(up) == (1000, [0, 0])
    assert "cut.bin" in up.log("xferlog")


def test_upload_speed_limit(up):
    set_userfile_line(up, "alice", "GENERAL", "0,0 -1 0 1000000")
    client = login(up.start(), "alice")
    started = time.monotonic()
    assert stor(client, "site/Rel/slow.bin", content(3_000_000)).startswith("226")
    assert 2.5 <= time.monotonic() - started <= 4.5


def test_checker_verdict_stands_when_the_client_leaves_during_the_check(up):
    install_script(up, "check", 'echo "$1" >> /tmp/post.log\n/bin/busybox sleep 2\nexit 0\n')
    client = login(up.start(), "alice")
    conn = client.transfercmd("STOR site/Rel/late.bin")
    conn.sendall(content(50 * 1024))
    conn.close()
    deadline = time.monotonic() + WAIT_SECONDS
    while not checker_calls(up) and time.monotonic() < deadline:
        time.sleep(0.05)
    client.sock.shutdown(socket.SHUT_RDWR)  # gone while the checker runs
    stored = up.root / "site" / "Rel" / "late.bin"
    while stored.stat().st_mode & 0o7777 != 0o644 and time.monotonic() < deadline:
        time.sleep(0.1)
    assert stored.stat().st_mode & 0o7777 == 0o644
    deadline = time.monotonic() + WAIT_SECONDS
    while books(up) != (1000 + 3 * 50, [1, 50]) and time.monotonic() < deadline:
        time.sleep(0.1)
    assert books(up) == (1000 + 3 * 50, [1, 50])
