"""SIZE, MDTM, CWD and the personal SITE commands end to end through
ftplib, curl and a raw control connection."""

import ftplib
import os
import subprocess

import pytest

from conftest import WAIT_SECONDS


@pytest.fixture
def user_site(site):
    site.add_user("alice", "secret")
    site.set("-chmod", "*")
    pub = site.root / "pub"
    pub.mkdir()
    (pub / "ten.txt").write_bytes(b"123456789\n" * 10)
    os.utime(pub / "ten.txt", (1796478362, 1796478362))
    return site


def login(site):
    client = site.ftp()
    client.login("alice", "secret")
    return client


def set_home(site, name, home):
    path = site.root / "etc" / "passwd"
    lines = []
    for line in path.read_text().splitlines():
        fields = line.split(":")
        if fields[0] == name:
            fields[5] = home
        lines.append(":".join(fields))
    path.write_text("\n".join(lines) + "\n")


def userfile_line(site, name, keyword):
    for line in (site.data / "users" / name).read_text().splitlines():
        if line.split() and line.split()[0] == keyword:
            return line
    return None


def test_size_counts_line_ends_in_ascii_and_mdtm_gives_utc(user_site):
    user_site.start()
    client = login(user_site)
    client.voidcmd("TYPE A")
    assert client.sendcmd("SIZE pub/ten.txt") == "213 110"
    client.voidcmd("TYPE I")
    assert client.sendcmd("SIZE /pub/ten.txt") == "213 100"
    assert client.sendcmd("MDTM pub/ten.txt") == "213 20261205134602"
    with pytest.raises(ftplib.error_perm, match="^550"):
        client.sendcmd("SIZE pub")
    client.quit()
    # curl asks MDTM and SIZE for its -I header view.
    result = subprocess.run(
        ["curl", "-s", "-S", "-I", "--max-time", str(WAIT_SECONDS),
         f"ftp://alice:secret@{user_site.host}:{user_site.port}/pub/ten.txt"],
        capture_output=True, text=True, timeout=WAIT_SECONDS * 2)
    assert result.returncode == 0, result.stderr
    assert "Content-Length: 100" in result.stdout
    assert "Last-Modified: Sat, 05 Dec 2026 13:46:02 GMT" in result.stdout


def test_cwd_stays_inside_home(user_site):
    user_site.start()
    client = login(user_site)
    assert client.cwd("pub").startswith("250")
    assert client.sendcmd("SIZE ten.txt") == "213 100"
    assert client.cwd("../../..").startswith("250")
    assert client.sendcmd("SIZE pub/ten.txt") == "213 100"
    with pytest.raises(ftplib.error_perm, match="^550"):
        client.cwd("nowhere")
    client.quit()


def test_tagline_idle_and_colour_change_the_user(user_site):
    user_site.start()
    client = login(user_site)
    refused = client.sendcmd('SITE TAGLINE 100% "pure"')
    assert refused.startswith("200 Taglines may not")
    assert "100%" not in (userfile_line(user_site, "alice", "TAGLINE") or "")
    assert client.voidcmd("SITE TAGLINE Keep it clean").startswith("200")
    assert userfile_line(user_site, "alice", "TAGLINE") == "TAGLINE Keep it clean"
    assert "Keep it clean" in client.sendcmd("SITE TAGLINE")

    with pytest.raises(ftplib.error_perm, match="^501"):
        client.sendcmd("SITE IDLE 0")
    assert client.sendcmd("SITE IDLE 120").startswith("200")

    client.voidcmd("SITE COLOR on")
    assert "5" in userfile_line(user_site, "alice", "FLAGS").split()[1]
    client.voidcmd("SITE COLOR off")
    flags = userfile_line(user_site, "alice", "FLAGS").split()
    assert len(flags) == 1 or "5" not in flags[1]
    assert client.sendcmd("SITE VERS").startswith("200")
    assert "marlod 1.29_Linux" in client.sendcmd("SITE VERS")
    client.quit()


def test_chmod_changes_files_below_home_only(user_site):
    user_site.start()
    client = login(user_site)
    client.cwd("pub")
    assert client.sendcmd("SITE CHMOD 755 ten.txt").startswith("200")
    assert os.stat(user_site.root / "pub" / "ten.txt").st_mode & 0o7777 == 0o755
    with pytest.raises(ftplib.error_perm, match="^501"):
        client.sendcmd("SITE CHMOD 7777 ten.txt")
    client.quit()


def test_paths_never_climb_above_home(user_site):
    set_home(user_site, "alice", "/pub")
    user_site.start()
    client = login(user_site)
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
