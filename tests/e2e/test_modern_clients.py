"""What today's clients use first, end to end over 127.0.0.1 and ::1: FEAT
and OPTS, EPSV and EPRT (and EPSV ALL), MLSD and MLST beside LIST, PRET,
ident@host masks with IPv6 addresses, and the bounce rule of PORT/EPRT."""

import ftplib
import os
import socket
import threading

import pytest

from conftest import WAIT_SECONDS, attempt_login, content, lftp, raw_login, run_client, set_userfile_line, uid_of
from test_site_lists import OnlineTable

FAMILIES = {"ipv4": "127.0.0.1", "ipv6": "::1"}


@pytest.fixture
def modern_site(site):
    """alice's site on both families, with a hidden and a private entry."""
    site.listen_on_both_families()
    site.add_user("alice", "secret")
    site.append("hidden_files *.bak")
    site.append("privpath /pub/staff =nosuchgroup")
    pub = site.root / "pub"
    (pub / "sub").mkdir(parents=True)
    (pub / "staff").mkdir()
    (pub / "a.txt").write_bytes(content(3000))
    (pub / "old.bak").write_bytes(b"z")
    (pub / ".message").write_bytes(b"hello")
    (pub / "sub" / "inner.txt").write_bytes(b"q" * 5)
    (site.root / "incoming").mkdir()
    os.chown(site.root / "incoming", uid_of(site, "alice"), -1)
    # -l: LOGIN lines in marlod.log; -i, -o: uploads and downloads in xferlog.
    return site.start("-l", "-i", "-o")


def url(site, host, path):
    shown = f"[{host}]" if ":" in host else host
    return f"ftp://alice:secret@{shown}:{site.port}/{path}"


def curl(*arguments):
    result = run_client("curl", "-s", "-S", "-g", "--max-time", str(WAIT_SECONDS), *arguments)
    assert result.returncode == 0, result.stderr
    return result.stdout


def feature_lines(reply):
    lines = reply.splitlines()
    assert lines[0].startswith("211-") and lines[-1].startswith("211 ")
    return [line[1:] for line in lines[1:-1] if line.startswith(" ")]


ALL_FACTS = "MLST type*;size*;modify*;perm*;unique*;UNIX.mode*;"


def test_feat_lists_every_extension_before_and_after_login_and_follows_opts_mlst(modern_site):
    client = modern_site.ftp()
    expected = ["EPRT", "EPSV", "MDTM", ALL_FACTS, "PRET", "REST STREAM", "SIZE", "UTF8"]
    assert feature_lines(client.sendcmd("FEAT")) == expected
    assert client.sendcmd("OPTS UTF8 ON").startswith("200 ")
    client.login("alice", "secret")
    assert client.sendcmd("OPTS MLST size;Type;bogus;") == "200 MLST OPTS type;size;"
    assert "MLST type*;size*;modify;perm;unique;UNIX.mode;" in feature_lines(client.sendcmd("FEAT"))
    lines = []
    client.retrlines("MLSD pub", lines.append)
    assert sorted(lines) == ["type=dir;size=4096; sub", "type=file;size=3000; a.txt"]
    for bad in ("OPTS MLST size", "OPTS UTF8 MAYBE", "OPTS NOSUCH x"):
        with pytest.raises(ftplib.error_perm, match="^501"):
            client.sendcmd(bad)


# family, curl options that choose the data connection, the command curl sends
TRANSFER_WAYS = [
    ("ipv4", [], "EPSV"),
    ("ipv4", ["--disable-epsv"], "PASV"),
    ("ipv4", ["-P", "-"], "EPRT"),
    ("ipv4", ["-P", "-", "--disable-eprt"], "PORT"),
    ("ipv6", [], "EPSV"),
    ("ipv6", ["-P", "-"], "EPRT"),
]


@pytest.mark.parametrize("family,options,command", TRANSFER_WAYS)
def test_curl_downloads_and_uploads_over_each_family_and_mode(modern_site, tmp_path, family, options, command):
    host = FAMILIES[family]
    source = tmp_path / "up.bin"
    source.write_bytes(content(70000, seed=3))
    result = run_client("curl", "-s", "-S", "-g", "-v", "--max-time", str(WAIT_SECONDS), *options,
                        "-T", str(source), url(modern_site, host, f"incoming/{family}-{command}.bin"))
    assert result.returncode == 0, result.stderr
    assert f"> {command}".encode() in result.stderr
    assert (modern_site.root / "incoming" / f"{family}-{command}.bin").read_bytes() == source.read_bytes()
    assert curl(*options, url(modern_site, host, "pub/a.txt")) == content(3000)
    xferlog = modern_site.log("xferlog")
    assert f" {host} " in xferlog and "::ffff:" not in xferlog


@pytest.mark.parametrize("family", FAMILIES)
def test_epsv_all_leaves_only_epsv(modern_site, family):
    raw = raw_login(modern_site, "alice", host=FAMILIES[family])
    other = "2" if family == "ipv4" else "1"
    assert raw.command(f"EPSV {other}")[-1].startswith("522")
    assert raw.command("EPSV ALL")[-1].startswith("200")
    for command in ("PASV", "PORT 127,0,0,1,200,1", f"EPRT |1|127.0.0.1|51201|"):
        assert raw.command(command)[-1].startswith("503"), command
    assert raw.command("EPSV")[-1].startswith("229")
    raw.close()


def lftp_lines(site, host, commands):
    result = lftp(site, "alice", "secret", "set ftp:use-feat yes; " + commands, host=host)
    assert result.returncode == 0, result.stderr
    return result


@pytest.mark.parametrize("family", FAMILIES)
def test_lftp_cls_and_mirror_over_mlsd_see_exactly_what_list_shows(modern_site, tmp_path, family):
    host = FAMILIES[family]
    by_mlsd = lftp_lines(modern_site, host, "set ftp:use-mlsd yes; cls -1 -s --filesize -F pub/").stdout
    by_list = lftp_lines(modern_site, host, "set ftp:use-mlsd no; cls -1 -s --filesize -F pub/").stdout
    assert by_mlsd.split() == by_list.split()
    assert "a.txt" in by_mlsd and "old.bak" not in by_mlsd and "staff" not in by_mlsd

    copies = {}
    for use_mlsd in ("yes", "no"):
        target = tmp_path / f"mirror-{use_mlsd}"
        lftp_lines(modern_site, host, f"set ftp:use-mlsd {use_mlsd}; debug -o {tmp_path}/debug-{use_mlsd} 5;"
                   f" mirror pub {target}")
        copies[use_mlsd] = sorted(str(p.relative_to(target)) for p in target.rglob("*"))
    assert copies["yes"] == copies["no"] == ["a.txt", "sub", "sub/inner.txt"]
    assert "MLSD" in (tmp_path / "debug-yes").read_text()


def test_mlst_shows_one_entry_and_nothing_list_hides(modern_site):
    client = modern_site.ftp()
    client.login("alice", "secret")
    reply = client.sendcmd("MLST pub/a.txt").splitlines()
    assert reply[0].startswith("250-") and reply[-1] == "250 End"
    facts, name = reply[1][1:].split(" ", 1)
    fact = dict(item.split("=", 1) for item in facts.rstrip(";").split(";"))
    assert name == "/pub/a.txt" and fact["type"] == "file" and fact["size"] == "3000"
    assert fact["UNIX.mode"] == "0644" and len(fact["modify"]) == 14 and "r" in fact["perm"]
    for hidden in ("pub/old.bak", "pub/staff", "pub/nothing"):
        with pytest.raises(ftplib.error_perm, match="^550"):
            client.sendcmd(f"MLST {hidden}")
    with pytest.raises(ftplib.error_perm, match="^501"):
        client.sendcmd("MLSD pub/a.txt")


def test_pret_answers_for_the_transfer_it_announces(modern_site):
    # No downloads at all for alice: her simultaneous-download limit is 0.
    set_userfile_line(modern_site, "alice", "LOGINS", "3 -1 0 -1")
    client = modern_site.ftp()
    client.login("alice", "secret")
    assert client.sendcmd("PRET STOR incoming/x").startswith("200")
    assert client.sendcmd("PRET MLSD").startswith("200")
    with pytest.raises(ftplib.error_perm, match="^553"):
        client.sendcmd("PRET RETR pub/a.txt")
    with pytest.raises(ftplib.error_perm, match="^504"):
        client.sendcmd("PRET CWD pub")


# mask of alice's account, the address she comes from, admitted
MASKS = [
    ("*@::1", "::1", True),
    ("*@127.0.0.1", "127.0.0.1", True),
    ("*@::1", "127.0.0.1", False),
    ("*@127.0.0.1", "::1", False),
    ("*@::*", "::1", True),
    ("nobody@::1", "::1", False),
]


@pytest.mark.parametrize("mask,host,admitted", MASKS)
def test_ipv6_masks_admit_and_refuse_as_their_ipv4_twins(site, mask, host, admitted):
    site.listen_on_both_families()
    site.allow_connections()
    site.add_user("alice", "secret", ip=mask)
    site.start("-l")
    raw, reply = attempt_login(site, "alice", host=host)
    assert reply[-1].startswith("230" if admitted else "530"), reply
    if admitted:
        # The online table's host field (256 bytes) holds "ident@address"
        # whole for either family; the mapped form never shows.
        table = OnlineTable(site)
        try:
            hosts = [slot[3].split(b"\0")[0] for slot in table.slots() if slot[10]]
        finally:
            table.close()
        assert hosts == [f"*@{host}".encode()]
    raw.close()
    if admitted:
        assert f"@{host} ({host}) \"alice\"" in site.log("marlod.log")
    else:
        assert f"*@{host}" in reply[-1]


def listener(address):
    """A one-shot data listener on `address`; the thread's result holds the
    bytes received."""
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    server = socket.socket(family)
    server.bind((address, 0))
    server.listen(1)
    server.settimeout(WAIT_SECONDS)
    received = []

    def accept():
        with server:
            try:
                connection, _ = server.accept()
            except OSError:
                return
            with connection:
                while chunk := connection.recv(65536):
                    received.append(chunk)

    thread = threading.Thread(target=accept)
    thread.start()
    return server.getsockname()[1], thread, received


# the active address named, the reply code, with allow_fxp allowing
BOUNCES = [
    ("PORT 127,0,0,2,0,25", "504"),
    ("EPRT |1|127.0.0.2|25|", "504"),
    ("EPRT |1|127.0.0.1|25|", "200"),   # the client's own address
    ("EPRT |2|::1|21|", "522"),         # the other family
    ("EPRT |3|::1|2100|", "522"),
    ("EPRT |1|127.0.0.1|0|", "501"),
    ("EPRT |1|::1|2100|", "501"),
]


def test_a_privileged_port_of_another_host_is_never_a_destination(modern_site):
    modern_site.append("allow_fxp yes yes no *")
    raw = raw_login(modern_site, "alice")
    assert [raw.command(line)[-1][:3] for line, _ in BOUNCES] == [code for _, code in BOUNCES]
    raw.close()


@pytest.mark.parametrize("command", ["PORT", "EPRT"])
def test_a_high_port_of_another_loopback_address_serves_fxp(modern_site, command):
    modern_site.append("allow_fxp yes yes no *")
    port, thread, received = listener("127.0.0.2")
    client = modern_site.ftp()
    client.login("alice", "secret")
    client.voidcmd("TYPE I")
    if command == "PORT":
        client.voidcmd(f"PORT 127,0,0,2,{port >> 8},{port & 255}")
    else:
        client.voidcmd(f"EPRT |1|127.0.0.2|{port}|")
    assert client.sendcmd("RETR pub/a.txt").startswith("150")
    assert client.voidresp().startswith("226")
    thread.join(WAIT_SECONDS)
    assert b"".join(received) == content(3000)
