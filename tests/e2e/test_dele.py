"""DELE end to end: an accepted upload taken off the books again (dirlog
totals, the uploader's statistics by period and credits, its dupe record),
files that earned nothing, and paths the user may not delete; through
ftplib and curl."""

import ftplib
import os
import struct
import time

import pytest

from conftest import WAIT_SECONDS, content, login, run_client, set_passwd_field, set_userfile_line
from conftest import userfile_words

DIRLOG = struct.Struct("<HHiHHHHI255sxII")
DUPE = struct.Struct("<256si24s4x")
ALICE_UID = ALICE_GID = 100  # the first account marlod-site adds
TEN_MIB = 10 << 20
PERIODS = ["ALLUP", "WKUP", "MONTHUP", "DAYUP"]


def write_dirlog(site, path, files, size):
    record = DIRLOG.pack(0, 0, int(time.time()), ALICE_UID, ALICE_GID, files, 0, size,
                         path.encode(), 0, 0)
    (site.data / "logs" / "dirlog").write_bytes(record)


def dirlog_totals(site):
    fields = DIRLOG.unpack((site.data / "logs" / "dirlog").read_bytes())
    return fields[5], fields[7]


def dupe_records(site):
    data = (site.data / "logs" / "dupefile").read_bytes()
    return [(name.rstrip(b"\0").decode(), stamp) for name, stamp, _ in DUPE.iter_unpack(data)]


def books(site):
    """alice's credits and upload figures (files, KiB, seconds) by period."""
    figures = {period: [int(w) for w in userfile_words(site, "alice", period)[:3]] for period in PERIODS}
    figures["CREDITS"] = int(userfile_words(site, "alice", "CREDITS")[0])
    return figures


@pytest.fixture
def release(site):
    """alice lives in /site; /site/Rel holds her upload "[x]ten.bin" of
    10 MiB, counted in the dirlog, her statistics (3 files in every period)
    and the dupe file, which also holds a name its pattern would match."""
    site.add_user("alice")
    set_passwd_field(site, "alice", 5, "/site")
    rel = site.root / "site" / "Rel"
    rel.mkdir(parents=True)
    os.chown(rel, ALICE_UID, ALICE_GID)
    upload = rel / "[x]ten.bin"
    upload.write_bytes(content(TEN_MIB))
    os.chown(upload, ALICE_UID, ALICE_GID)
    os.chmod(upload, 0o644)
    write_dirlog(site, "/site/Rel", 3, 3 * TEN_MIB)
    now = int(time.time())
    (site.data / "logs" / "dupefile").write_bytes(
        DUPE.pack(b"[x]ten.bin", now, b"alice") + DUPE.pack(b"xten.bin", now, b"alice"))
    site.set("dupe_check", "7")
    for period in PERIODS:
        set_userfile_line(site, "alice", period, "3 30720 30")
    set_userfile_line(site, "alice", "CREDITS", "40000")
    return site


def test_dele_takes_an_accepted_upload_off_the_books(release):
    client = login(release.start(), "alice")
    reply = client.delete("Rel/[x]ten.bin")
    assert reply == "250 Deleted: 31,457,280 bytes of credits taken from alice."
    assert not (release.root / "site" / "Rel" / "[x]ten.bin").exists()
    assert client.voidcmd("NOOP").startswith("200")
    after = books(release)
    assert after["CREDITS"] == 40000 - 30720
    for period in PERIODS:
        assert after[period] == [2, 20480, 20], period
    assert dirlog_totals(release) == (2, 2 * TEN_MIB)
    # Only the literal name is freed, not what it matches as a pattern.
    assert dupe_records(release)[0][1] == 0
    assert dupe_records(release)[1][1] != 0


def test_a_file_of_last_year_leaves_the_current_periods_alone(release):
    upload = release.root / "site" / "Rel" / "[x]ten.bin"
    stamp = time.time() - 400 * 86400
    os.utime(upload, (stamp, stamp))
    client = login(release.start(), "alice")
    assert client.delete("Rel/[x]ten.bin").startswith("250 Deleted: 31,457,280 ")
    after = books(release)
    assert after["ALLUP"] == [2, 20480, 20]
    for period in ["WKUP", "MONTHUP", "DAYUP"]:
        assert after[period] == [3, 30720, 30], period
    assert after["CREDITS"] == 40000 - 30720


def test_a_file_never_accepted_is_deleted_without_touching_the_books(release):
    upload = release.root / "site" / "Rel" / "[x]ten.bin"
    os.chmod(upload, 0o755)
    before = books(release)
    release.start()
    result = run_client("curl", "-sS", "--max-time", str(WAIT_SECONDS), "-u", "alice:secret",
                        "-Q", "DELE Rel/[x]ten.bin", f"ftp://{release.host}:{release.port}/")
    assert result.returncode == 0, result.stderr
    assert not upload.exists()
    assert books(release) == before
    assert dirlog_totals(release) == (3, 3 * TEN_MIB)


def test_dele_through_a_link_out_of_home_is_refused(release):
    outside = release.root / "elsewhere"
    outside.mkdir()
    victim = outside / "file.bin"
    victim.write_bytes(b"x" * 2048)
    os.chown(victim, ALICE_UID, ALICE_GID)
    os.chmod(victim, 0o644)
    os.symlink("/elsewhere", release.root / "site" / "out")
    client = login(release.start(), "alice")
    with pytest.raises(ftplib.error_perm) as refused:
        client.delete("out/file.bin")
    assert str(refused.value) == "550 /elsewhere/file.bin: permission denied."
    assert victim.exists()
    assert client.voidcmd("NOOP").startswith("200")
