"""Downloads end to end: passive and active curl downloads, REST resume,
ASCII mode, an lftp mirror, ABOR during a large download, and what a
download costs and counts in the userfile and the transfer log."""

import ftplib
import os
import socket
import subprocess
import signal
import time

import pytest

from conftest import WAIT_SECONDS, content, lftp, run_client, set_userfile_line, userfile_words
from conftest import login as login_as
from conftest import stat_and_abort_a_stalled_download

PASSWORD = "secret"


def insert_before(site, anchor, line):
    """Puts a configuration line before the first line that is `anchor`."""
    lines = site.config.splitlines()
    lines.insert(lines.index(anchor), line)
    site.config = "\n".join(lines) + "\n"


@pytest.fixture
def files(site):
    """A started site with user bob and a /site directory of files."""
    site.add_user("bob", PASSWORD)
    tree = site.root / "site"
    tree.mkdir()
    (tree / "small.bin").write_bytes(content(200_000))
    (tree / "tiny.bin").write_bytes(content(1023, seed=2))
    (tree / "forty.bin").write_bytes(content(40, seed=3))
    (tree / "kib2.bin").write_bytes(content(2000, seed=4))
    (tree / "ten.bin").write_bytes(content(10 << 20, seed=5))
    (tree / "text.txt").write_bytes(b"".join(b"line %d of the text\n" % i for i in range(5000)))
    return site


def login(site):
    return login_as(site, "bob", PASSWORD)


def download(client, name):
    chunks = []
    reply = client.retrbinary(f"RETR {name}", chunks.append)
    return b"".join(chunks), reply


def curl(site, *args):
    return run_client("curl", "-sS", "--max-time", str(WAIT_SECONDS), "-u", f"bob:{PASSWORD}", *args)


def url(site, path):
    return f"ftp://{site.host}:{site.port}{path}"


def test_curl_downloads_in_passive_and_active_mode_and_resumes(files, tmp_path):
    files.start("-o")
    expected = (files.root / "site" / "small.bin").read_bytes()
    passive = curl(files, "--ftp-pasv", url(files, "/site/small.bin"))
    assert passive.returncode == 0, passive.stderr
    assert passive.stdout == expected
    active = curl(files, "--ftp-port", "127.0.0.1", url(files, "/site/small.bin"))
    assert active.returncode == 0, active.stderr
    assert active.stdout == expected
    # Both downloads are in the transfer log, as binary downloads by bob.
    lines = files.log("xferlog").splitlines()
    assert len(lines) == 2
    for line in lines:
        fields = line.split()
        assert fields[6:] == ["127.0.0.1", "200000", "/site/small.bin", "b", "_", "o", "r",
                              "bob", fields[14], "0", "*"]
    partial = tmp_path / "small.bin"
    partial.write_bytes(expected[:70_000])
    result = curl(files, "-C", "-", "-o", str(partial), url(files, "/site/small.bin"))
    assert result.returncode == 0, result.stderr
    assert partial.read_bytes() == expected


def test_ascii_download_sends_crlf_size_counts_it_and_restart_counts_the_crs(files):
    files.start()
    original = (files.root / "site" / "text.txt").read_bytes()
    (files.root / "site" / "short.txt").write_bytes(b"ab\ncd\nef\n")
    client = login(files)
    client.voidcmd("TYPE A")
    assert client.sendcmd("SIZE /site/text.txt") == "213 %d" % len(original.replace(b"\n", b"\r\n"))
    connection = client.transfercmd("RETR /site/text.txt")
    received = connection.makefile("rb").read()
    connection.close()
    assert client.voidresp().startswith("226")
    assert received == original.replace(b"\n", b"\r\n")
    # ftplib sends PASV, then REST 4 right before the RETR.
    connection = client.transfercmd("RETR /site/short.txt", rest=4)
    received = connection.makefile("rb").read()
    connection.close()
    client.voidresp()
    assert received == b"cd\r\nef\r\n"
    client.quit()


def test_rest_lives_for_the_next_command_only(files):
    files.start()
    (files.root / "site" / "short.txt").write_bytes(b"0123456789")
    client = login(files)
    assert client.sendcmd("REST 4").startswith("350")
    client.voidcmd("NOOP")
    data, _ = download(client, "/site/short.txt")
    assert data == b"0123456789", "the offset was gone after NOOP"
    client.quit()


def test_lftp_mirrors_a_small_tree(files, tmp_path):
    tree = files.root / "site" / "tree"
    (tree / "sub" / "deeper").mkdir(parents=True)
    wanted = {
        "a.bin": content(5000),
        "sub/b.bin": content(70_000, seed=9),
        "sub/deeper/c.txt": b"hello\n",
        "sub/empty.bin": b"",
    }
    for name, data in wanted.items():
        (tree / name).write_bytes(data)
    files.start()
    target = tmp_path / "mirror"
    result = lftp(files, "bob", PASSWORD, f"mirror /site/tree {target}")
    assert result.returncode == 0, result.stderr
    for name, data in wanted.items():
        assert (target / name).read_bytes() == data, name


def start_large_download(files, size, credits="10000000"):
    """A started binary download of a sparse file of `size` bytes."""
    with open(files.root / "site" / "big.bin", "wb") as out:
        out.truncate(size)
    set_userfile_line(files, "bob", "CREDITS", credits)
    files.start()
    client = login(files)
    client.voidcmd("TYPE I")
    return client, client.transfercmd("RETR /site/big.bin")


def test_stat_and_abort_during_a_large_download(files):
    client, connection = start_large_download(files, 512 << 20)
    assert len(connection.recv(65536)) > 0
    client.sock.sendall(b"STAT\r\n", socket.MSG_OOB)
    reply = client.getresp()
    assert reply.startswith("213 ")
    assert str(512 << 20) in reply
    assert len(connection.recv(65536)) > 0, "STAT left the transfer running"
    # ftplib sends ABOR as urgent data and reads one reply: the transfer's.
    assert client.abort().startswith("426 ")
    # Then the final reply to ABOR itself.
    assert client.voidresp().startswith("226 ")
    connection.close()
    assert client.voidcmd("NOOP").startswith("200")
    data, reply = download(client, "/site/small.bin")
    assert data == (files.root / "site" / "small.bin").read_bytes()
    assert reply.startswith("226")
    client.quit()


def test_plain_stat_and_abort_reach_a_download_the_client_stopped_reading(files):
    # The client stops reading data, so the server's socket buffer fills;
    # commands sent without urgent data must still be heard and answered.
    client, connection = start_large_download(files, 512 << 20)
    stat_and_abort_a_stalled_download(client, connection)


def test_a_download_ended_by_sigterm_is_still_charged(files):
    # KICK and KILL end a session with SIGTERM; the bytes it moved so far
    # are accounted for when the session ends.
    files.append("speed_limit /site/* 4000000 0 *")
    client, connection = start_large_download(files, 64 << 20, credits="100000")
    received = 0
    while received < (4 << 20):
        received += len(connection.recv(1 << 20))
    sessions = files.daemon_pids()
    assert len(sessions) == 1
    os.kill(int(sessions[0]), signal.SIGTERM)
    while connection.recv(1 << 20):
        pass
    connection.close()
    client.close()
    deadline = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < deadline:
        downloaded = userfile_words(files, "bob", "ALLDN")
        if downloaded and int(downloaded[1]) > 0:
            break
        time.sleep(0.1)
    files_count, kib = (int(word) for word in userfile_words(files, "bob", "ALLDN")[:2])
    assert kib >= 4096, "the moved bytes were not counted"
    assert int(userfile_words(files, "bob", "CREDITS")[0]) <= 100000 - kib


def test_a_download_charges_creditloss_and_counts_statistics(files):
    insert_before(files, "stat_section DEFAULT * no", "creditloss 3 yes /site/* *")
    files.start("-o")
    client = login(files)
    data, _ = download(client, "/site/ten.bin")
    assert len(data) == 10 << 20
    client.quit()
    assert userfile_words(files, "bob", "CREDITS")[0] == str(15360 - 30720)
    assert userfile_words(files, "bob", "ALLDN")[:2] == ["1", "10240"]
    assert userfile_words(files, "bob", "DAYDN")[:2] == ["1", "10240"]


def test_a_1023_byte_download_only_writes_the_transfer_log(files):
    files.start("-o")
    before = (files.data / "users" / "bob").read_text()
    client = login(files)
    data, _ = download(client, "/site/tiny.bin")
    assert len(data) == 1023
    client.quit()
    after = (files.data / "users" / "bob").read_text()
    assert userfile_words(files, "bob", "CREDITS") == [before.split("CREDITS ")[1].split()[0]]
    assert userfile_words(files, "bob", "ALLDN")[:2] == ["0", "0"]
    assert " 1023 /site/tiny.bin b _ o r bob " in files.log("xferlog")


def test_the_credit_check_refuses_what_the_user_cannot_afford(files):
    set_userfile_line(files, "bob", "CREDITS", "0")
    files.start()
    client = login(files)
    with pytest.raises(ftplib.error_perm, match="^550 Not enough credits"):
        download(client, "/site/kib2.bin")
    # 49 bytes and less are never checked.
    data, _ = download(client, "/site/forty.bin")
    assert len(data) == 40
    with pytest.raises(ftplib.error_perm, match="^550 /site/none.bin: No such file"):
        download(client, "/site/none.bin")
    with pytest.raises(ftplib.error_perm, match="^550 /site: not a plain file"):
        download(client, "/site")
    client.quit()


def test_a_leech_downloads_free_but_is_counted_unless_creditloss_says_no(files):
    set_userfile_line(files, "bob", "CREDITS", "0")
    set_userfile_line(files, "bob", "RATIO", "0")
    files.start()
    client = login(files)
    data, _ = download(client, "/site/small.bin")
    assert len(data) == 200_000
    client.quit()
    assert userfile_words(files, "bob", "CREDITS")[0] == "0"
    assert userfile_words(files, "bob", "ALLDN")[:2] == ["1", "195"]
    insert_before(files, "stat_section DEFAULT * no", "creditloss 1 no /site/* *")
    client = login(files)
    with pytest.raises(ftplib.error_perm, match="^553 Not allowed to download"):
        download(client, "/site/small.bin")
    client.quit()


def test_noretrieve_privpath_and_download_rule_refuse_with_their_texts(files):
    (files.root / "site" / "passwd").write_bytes(b"secret things\n")
    (files.root / "site" / "staff").mkdir()
    (files.root / "site" / "staff" / "plan.txt").write_bytes(b"plans\n")
    (files.root / "site" / "nodl").mkdir()
    (files.root / "site" / "nodl" / "x.bin").write_bytes(b"x" * 100)
    files.append("privpath /site/staff 1")
    insert_before(files, "download * *", "download /site/nodl* !*")
    files.start()
    client = login(files)
    with pytest.raises(ftplib.error_perm, match="^553 Sorry bob, /site/passwd may not be downloaded"):
        download(client, "/site/passwd")
    with pytest.raises(ftplib.error_perm, match="^553 /site/staff/plan.txt: permission denied"):
        download(client, "/site/staff/plan.txt")
    with pytest.raises(ftplib.error_perm, match="^553 Not allowed to download /site/nodl/x.bin"):
        download(client, "/site/nodl/x.bin")
    assert client.voidcmd("NOOP").startswith("200")
    client.quit()
    assert "WARNING: bob tried to retrieve (/site/passwd)" in files.log("error.log")
    assert files.log("xferlog") == ""


def test_download_counter_moves_the_group_id(files):
    target = files.root / "site" / "small.bin"
    os.chown(target, -1, 1098)
    files.start()
    client = login(files)
    download(client, "/site/small.bin")
    assert os.stat(target).st_gid == 1099
    download(client, "/site/small.bin")
    assert os.stat(target).st_gid == 1099
    client.quit()


def test_speed_limit_holds_a_download_within_ten_percent(files):
    # 4 MB at 1,000,000 B/s: the pace is held from the first chunk on, so
    # the whole download takes four seconds give or take a tenth. The
    # upper bound is loose enough for a loaded machine; a throttle that
    # does not hold (or overshoots its pauses) falls outside either way.
    files.append("speed_limit /site/* 1000000 0 *")
    (files.root / "site" / "four.bin").write_bytes(content(4_000_000))
    files.start()
    client = login(files)
    started = time.monotonic()
    data, _ = download(client, "/site/four.bin")
    elapsed = time.monotonic() - started
    assert len(data) == 4_000_000
    rate = len(data) / elapsed
    assert 900_000 <= rate <= 1_100_000, f"{rate:.0f} B/s"
    client.quit()
