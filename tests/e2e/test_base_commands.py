"""SIZE, MDTM, CWD and the personal SITE commands end to end through
ftplib, curl and a raw control connection."""

import ftplib
import os

import pytest

from conftest import WAIT_SECONDS, login, run_client, set_passwd_field, userfile_words


@pytest.fixture
def user_site(site):
    site.add_user("alice", "secret")
    site.set("-chmod", "*")
    pub = site.root / "pub"
    pub.mkdir()
    (pub / "ten.txt").write_bytes(b"123456789\n" * 10)
    os.utime(pub / "ten.txt", (1796478362, 1796478362))
    return site


def userfile_line(site, name, keyword):
    words = userfile_words(site, name, keyword)
    return None if words is None else " ".join([keyword, *words])


def test_size_counts_line_ends_in_ascii_and_mdtm_gives_utc(user_site):
    user_site.start()
    client = login(user_site, "alice")
    client.voidcmd("TYPE A")
    assert client.sendcmd("SIZE pub/ten.txt") == "213 110"
    client.voidcmd("TYPE I")
    assert client.sendcmd("SIZE /pub/ten.txt") == "213 100"
    assert client.sendcmd("MDTM pub/ten.txt") == "213 20261205134602"
    with pytest.raises(ftplib.error_perm, match="^550"):
        client.sendcmd("SIZE pub")
    client.quit()
    # curl asks MDTM and SIZE for its -I header view.
    result = run_client("curl", "-s", "-S", "-I", "--max-time", str(WAIT_SECONDS),
                        f"ftp://alice:secret@{user_site.host}:{user_site.port}/pub/ten.txt")
    assert result.returncode == 0, result.stderr
    assert b"Content-Length: 100" in result.stdout
    assert b"Last-Modified: Sat, 05 Dec 2026 13:46:02 GMT" in result.stdout


def test_cwd_stays_inside_home_and_chmod_works_relative_to_it(user_site):
    user_site.start()
    client = login(user_site, "alice")
    assert client.cwd("pub").startswith("250")
    assert client.sendcmd("SIZE ten.txt") == "213 100"
    assert client.cwd("../../..").startswith("250")
    assert client.sendcmd("SIZE pub/ten.txt") == "213 100"
    with pytest.raises(ftplib.error_perm, match="^550"):
        client.cwd("nowhere")
    client.cwd("pub")
    assert client.sendcmd("SITE CHMOD 755 ten.txt").startswith("200")
    assert os.stat(user_site.root / "pub" / "ten.txt").st_mode & 0o7777 == 0o755
    with pytest.raises(ftplib.error_perm, match="^501"):
        client.sendcmd("SITE CHMOD 7777 ten.txt")
    client.quit()


def test_paths_never_climb_above_home(user_site):
    set_passwd_field(user_site, "alice", 5, "/pub")
    user_site.start()
    client = login(user_site, "alice")
    assert client.sendcmd("MDTM /ten.txt") == "213 20261205134602"
    passwd = user_site.root / "etc" / "passwd"
    before = os.stat(passwd).st_mode
    for command in ("MDTM ../etc/passwd", "SIZE ../../etc/passwd", "SITE CHMOD 777 ../etc/passwd"):
        with pytest.raises(ftplib.error_perm, match="^550"):
            client.sendcmd(command)
    assert os.stat(passwd).st_mode == before
    assert client.sendcmd("CWD ..").startswith("250")
    assert client.sendcmd("SIZE ten.txt") == "213 100"
    client.quit()
