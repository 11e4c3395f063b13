"""CWD and PWD end to end: the home directory as the client's "/", aliases,
search paths and the forgiving name match, and the checks every way into a
directory passes, through ftplib, a raw control connection and curl."""

import ftplib
import os
import struct

import pytest

from conftest import WAIT_SECONDS, login, run_client, set_passwd_field

NO_SUCH_DIRECTORY = "550 {}: no such directory."


@pytest.fixture
def cwd_site(site):
    """alice lives in /site/u1; her neighbour's /site/u10 and /site/etc lie
    outside it, reachable only by climbing or through links."""
    site.add_user("alice", "secret")
    set_passwd_field(site, "alice", 5, "/site/u1")
    home = site.root / "site" / "u1"
    for directory in ("MP3", "Some.Release-2009", "Somewhere", "incoming/Inside", "staff", 'a"b'):
        (home / directory).mkdir(parents=True)
    (home / "MP3" / "track.mp3").write_bytes(b"x" * 10)
    (site.root / "site" / "u10" / "secret").mkdir(parents=True)
    (site.root / "site" / "etc").mkdir()
    os.symlink("/site/u10", home / "neighbour")  # as the chrooted daemon sees it
    site.append("alias music MP3")
    site.append("alias next ../u10")
    site.append("alias hidden staff")
    site.append("cdpath /incoming")
    site.append("privpath /site/u1/staff =nosuchgroup")
    return site.start()


@pytest.mark.parametrize("argument, jumped, pwd", [
    ("..", None, "/"),
    ("mp3", "MP3", "/MP3"),
    ("Some", "Some.Release-2009", "/Some.Release-2009"),
    ("Somew*", "Somewhere", "/Somewhere"),
    ("MUSIC", "MP3", "/MP3"),
    ("Inside", "Inside", "/incoming/Inside"),
    ("incoming/inside", "Inside", "/incoming/Inside"),
])
def test_cwd_finds_the_directory_meant(cwd_site, argument, jumped, pwd):
    client = login(cwd_site, "alice")
    lines = client.sendcmd(f"CWD {argument}").splitlines()
    assert lines[-1] == "250 CWD command successful.", lines
    assert ("250- Jumped to %s." % jumped in lines) == (jumped is not None), lines
    assert client.pwd() == pwd
    client.quit()


@pytest.mark.parametrize("argument, why", [
    ("../../etc", "the search path leads to /site/etc"),
    ("/neighbour", "a link into /site/u10, which shares only the text /site/u1"),
    ("/neighbour/secret", "the same, one level deeper"),
    ("next", "an alias into /site/u10"),
    ("hidden", "an alias into a private path"),
    ("/staff", "a private path typed directly"),
    ("nothing", "no directory of that name or beginning"),
])
def test_cwd_refuses_places_outside_home_or_private(cwd_site, argument, why):
    client = login(cwd_site, "alice")
    client.cwd("MP3")
    with pytest.raises(ftplib.error_perm) as refused:
        client.cwd(argument)
    assert str(refused.value) == NO_SUCH_DIRECTORY.format(argument), why
    assert client.pwd() == "/MP3", why
    client.quit()


def write_dirlog(site, records):
    """Directory-log records, oldest first: (status, path)."""
    with open(site.data / "logs" / "dirlog", "wb") as dirlog:
        for number, (status, path) in enumerate(records):
            dirlog.write(struct.pack("<HHiHHHHI255sxII", status, 0, 1700000000 + number, 0, 0,
                                     0, 0, 0, path.encode(), 0, 0))


@pytest.mark.parametrize("number, pwd", [("1", "/Somewhere"), ("02", "/MP3"), ("3", None)])
def test_numbered_cwd_counts_the_newest_releases_the_user_may_see(cwd_site, number, pwd):
    write_dirlog(cwd_site, [(0, "/site/u1/MP3"), (2, "/site/u1/Somewhere"),
                            (1, "/site/u1/incoming/Inside"), (3, "/site/u1/Some.Release-2009"),
                            (0, "/site/u10/secret")])
    client = login(cwd_site, "alice")
    if pwd is None:
        with pytest.raises(ftplib.error_perm, match=f"^550 {number}: "):
            client.cwd(number)
        assert client.pwd() == "/"
    else:
        assert "250- Jumped to %s." % pwd in client.cwd(number).splitlines()
        assert client.pwd() == pwd
    client.quit()


def test_pwd_doubles_a_quote_in_the_directory_name(cwd_site):
    client = login(cwd_site, "alice")
    assert client.sendcmd("PWD") == '257 "/" is the current directory.'
    client.cwd('a"b')
    assert client.sendcmd("PWD") == '257 "/a""b" is the current directory.'
    assert client.pwd() == '/a"b'
    assert client.sendcmd("CDUP").startswith("250")
    assert client.pwd() == "/"
    # At the home's top the parent is the home itself.
    assert client.sendcmd("CDUP").startswith("250") and client.pwd() == "/"
    client.quit()


def test_curl_lists_a_directory_named_loosely(cwd_site):
    # curl asks PWD after login and then changes directory by CWD.
    result = run_client("curl", "-s", "-S", "-l", "--max-time", str(WAIT_SECONDS),
                        f"ftp://alice:secret@{cwd_site.host}:{cwd_site.port}/mp3/")
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == [b"track.mp3"]
