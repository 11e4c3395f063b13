"""Directory listings end to end: LIST and NLST through lftp, curl and
ftplib, with the switches, the '*' limit, hidden and private entries, the
home directory as the client's root and colour users' download counts."""

import ftplib
import os
import re
import socket

import pytest

from conftest import WAIT_SECONDS, lftp, login, run_client, set_passwd_field


def make_tree(site):
    """/pub with two files, a subdirectory, a dotfile, a hidden and a private
    entry."""
    pub = site.root / "pub"
    (pub / "sub").mkdir(parents=True)
    (pub / "staff").mkdir()
    (pub / "staff" / "plans.txt").write_bytes(b"secret")
    (pub / "a.txt").write_bytes(b"x" * 1234)
    (pub / "b.bin").write_bytes(b"y" * 77)
    (pub / "old.bak").write_bytes(b"z")
    (pub / ".message").write_bytes(b"hello")
    (pub / "sub" / "inner.txt").write_bytes(b"q" * 5)
    return pub


@pytest.fixture
def listing_site(site):
    site.add_user("alice", "secret")
    site.append("hidden_files *.bak")
    site.append("privpath /pub/staff =nosuchgroup")
    make_tree(site)
    return site


def url(site, path=""):
    return f"ftp://alice:secret@{site.host}:{site.port}/{path}"


def curl(site, path, *options):
    result = run_client("curl", "-s", "-S", "--max-time", str(WAIT_SECONDS), *options, url(site, path))
    assert result.returncode == 0, result.stderr
    return result.stdout.decode("latin-1")


def long_entries(text):
    """name -> (type letter, size) of every long-format line."""
    entries = {}
    for line in text.splitlines():
        words = line.split(None, 8)
        if len(words) == 9 and re.match(r"^[-dlpscb?][-rwxsStT]{9}$", words[0]):
            entries[words[8]] = (words[0][0], int(words[4]))
    return entries


def passive_data(client, command, type_code):
    """The raw bytes a listing command sends, in TYPE `type_code`."""
    client.voidcmd(f"TYPE {type_code}")
    host, port = ftplib.parse227(client.sendcmd("PASV"))
    with socket.create_connection((host, port), timeout=WAIT_SECONDS) as data:
        client.putcmd(command)
        assert client.getresp().startswith("150")
        received = b""
        while chunk := data.recv(65536):
            received += chunk
    assert client.getresp().startswith("226")
    return received


def test_curl_and_lftp_parse_names_sizes_and_directories(listing_site):
    listing_site.start()
    entries = long_entries(curl(listing_site, "pub/"))
    assert entries == {"a.txt": ("-", 1234), "b.bin": ("-", 77), "sub": ("d", 4096)}

    result = lftp(listing_site, "alice", "secret", "cls -1 -s --filesize -F pub/ pub/sub/")
    assert result.returncode == 0, result.stderr
    lines = [line.split() for line in result.stdout.splitlines() if line.strip()]
    # lftp prints its size column in KiB, rounded up.
    assert lines == [["2", "pub/a.txt"], ["1", "pub/b.bin"], ["pub/sub/"], ["1", "pub/sub/inner.txt"]]


def test_switches_show_dotfiles_but_never_hidden_or_private_entries(listing_site):
    listing_site.start()
    default = long_entries(curl(listing_site, "pub/"))
    with_all = long_entries(curl(listing_site, "pub/", "-X", "LIST -la"))
    almost_all = long_entries(curl(listing_site, "pub/", "-X", "LIST -lA"))
    assert ".message" not in default
    assert set(with_all) == {".", "..", ".message", "a.txt", "b.bin", "sub"}
    assert set(almost_all) == {".message", "a.txt", "b.bin", "sub"}
    # Named directly or through a pattern, hidden and private entries stay out.
    client = login(listing_site, "alice")
    assert sorted(client.nlst("pub")) == ["pub/.message", "pub/a.txt", "pub/b.bin", "pub/sub"]
    lines = []
    client.retrlines("LIST pub/staff", lines.append)
    assert lines == []
    with pytest.raises(ftplib.error_perm, match="^550"):
        client.nlst("pub/*.bak")
    client.quit()


def test_three_stars_are_refused_and_two_are_expanded(listing_site):
    listing_site.start()
    client = login(listing_site, "alice")
    client.cwd("pub")
    with pytest.raises(ftplib.error_perm) as refused:
        client.retrlines("LIST *a*b*", lambda line: None)
    assert str(refused.value) == "550 Too many wildcards in the listing pattern."
    lines = []
    client.retrlines("LIST *.*", lines.append)
    assert sorted(long_entries("\n".join(lines))) == ["/pub/a.txt", "/pub/b.bin"]
    assert sorted(client.nlst("*.*")) == ["a.txt", "b.bin"]
    client.quit()


def test_nlst_line_ends_follow_the_transfer_type(listing_site):
    listing_site.start()
    client = login(listing_site, "alice")
    binary = passive_data(client, "NLST pub/sub", "I")
    ascii_names = passive_data(client, "NLST pub/sub", "A")
    assert binary == b"pub/sub/inner.txt\n"
    assert ascii_names == b"pub/sub/inner.txt\r\n"
    listing = passive_data(client, "LIST pub/sub", "I")
    assert listing.startswith(b"total 1\r\n-rw-r--r--")
    assert listing.endswith(b" inner.txt\r\n")
    with pytest.raises(ftplib.error_perm, match="^550"):
        client.nlst("pub/nothing-here")
    client.quit()


def test_the_home_directory_is_the_clients_root(listing_site):
    set_passwd_field(listing_site, "alice", 5, "/pub")
    listing_site.start()
    client = login(listing_site, "alice")
    for argument in ("", "/", "..", "../..", "sub/../.."):
        lines = []
        client.retrlines(f"LIST {argument}".strip(), lines.append)
        assert set(long_entries("\n".join(lines))) == {"a.txt", "b.bin", "sub"}, argument
    # A pattern that begins with '/' is matched below home too.
    assert sorted(client.nlst("/*.txt")) == ["/a.txt"]
    client.quit()


def test_colour_users_see_download_counts_in_the_link_column(listing_site):
    with open(listing_site.root / "etc" / "group", "a") as groups:
        groups.write("Movers::1200:0\n")
    os.chown(listing_site.root / "pub" / "a.txt", 0, 1203)
    listing_site.start()
    client = login(listing_site, "alice")
    client.voidcmd("SITE COLOR off")
    plain = []
    client.retrlines("LIST pub", plain.append)
    line = next(line for line in plain if line.endswith(" a.txt"))
    assert re.match(r"^-rw-r--r-- +1 \S+ +Movers +1234 ", line), line
    client.voidcmd("SITE COLOR on")
    coloured = []
    client.retrlines("LIST pub", coloured.append)
    line = next(line for line in coloured if "a.txt" in line)
    assert re.match(r"^-rw-r--r-- Dl:3 \S+ +Movers +1234 ", line), line
    assert "\033[0ma.txt\033[0m" in line
    assert any("\033[01;34msub\033[0m" in line for line in coloured)
    client.voidcmd("SITE COLOR off")
    client.quit()
