"""Start-up as a client sees it: greetings, refusals before the greeting,
the process title, the bouncer's IDNT line and the ident lookup."""

import os
import signal
import socket
import threading

import pytest

from conftest import closed_without_reply, greeting, refusal

VERSION = "marlod 1.29_Linux"


# --- greetings

@pytest.mark.parametrize("sitename,prompt,expected", [
    (None, None, f"220 FTP ({VERSION}) ready."),
    ("Test[:space:]Site", None, f"220 Test Site ({VERSION}) ready."),
    # The prompt replaces the whole greeting and is text, never a format.
    ("Ignored", "Hello[:space:]there,[:space:]100%[:space:]%s[:space:]safe",
     "220 Hello there, 100% %s safe"),
])
def test_greeting_forms(site, sitename, prompt, expected):
    for key, value in (("sitename_long", sitename), ("login_prompt", prompt)):
        site.set(key, value) if value else site.unset(key)
    site.allow_connections()
    site.start()
    assert greeting(site) == [expected]


def test_banner_comes_before_the_greeting_and_a_missing_one_is_skipped(site):
    (site.data / "text" / "test.banner").write_text("first line\nsecond line\n")
    site.set("banner", "/ftp-data/text/test.banner")
    site.unset("login_prompt")
    site.unset("sitename_long")
    site.allow_connections()
    site.start()
    lines = greeting(site)
    assert [line[:4] for line in lines] == ["220-", "220-", "220 "]
    assert "first line" in lines[0] and "second line" in lines[1]
    assert lines[-1] == f"220 FTP ({VERSION}) ready."
    (site.data / "text" / "test.banner").unlink()
    assert greeting(site) == [f"220 FTP ({VERSION}) ready."]


# --- failures before the greeting

def no_config(site):
    site.config_path.unlink()


def empty_config(site):
    site.config = ""


def no_root(site):
    site.set("rootpath", str(site.workdir / "no-such-root"))
    return ["-s", str(site.root / "bin" / "mrstrings.bin")]


@pytest.mark.parametrize("damage,reply", [
    (no_config, "530 Error reading config file"),
    (empty_config, "530 Error reading config file"),
    (lambda site: site.unset("rootpath"), "530 Invalid rootpath"),
    (lambda site: (site.root / "bin" / "mrstrings.bin").unlink(),
     "530 Couldn't load strings file {root}/bin/mrstrings.bin"),
    (no_root, "530 Chroot failed. Bad rootpath in marlod.conf?"),
    (lambda site: site.unset("datapath"), "530 Invalid DATAPATH"),
])
def test_startup_failures_answer_530_and_close(site, damage, reply):
    site.allow_connections()
    options = damage(site) or []
    site.start(*options)
    assert refusal(site) == [reply.format(root=site.root)]


def test_strings_file_from_the_command_line(site):
    moved = site.workdir / "elsewhere.bin"
    (site.root / "bin" / "mrstrings.bin").rename(moved)
    site.allow_connections()
    site.start("-s", str(moved))
    assert greeting(site)[-1].startswith("220 ")


@pytest.mark.parametrize("address,served", [("10.9.8.7", False), ("127.0.0.1", True)])
def test_valid_ip_serves_only_its_own_interface(site, address, served):
    site.set("valid_ip", address)
    site.allow_connections()
    site.start()
    if served:
        assert greeting(site)[-1].startswith("220 ")
    else:
        assert closed_without_reply(site)


# --- the process

def test_process_title_shows_the_peer(open_site):
    raw = open_site.raw()
    raw.read_reply()
    pids = open_site.daemon_pids()
    assert len(pids) == 1
    with open(f"/proc/{pids[0]}/cmdline", "rb") as cmdline:
        assert cmdline.read().startswith(b"marlod: 127.0.0.1: connected")
    raw.close()


def test_terminated_session_releases_its_slot(open_site):
    """A KICK ends a session with SIGTERM; the next session must still find
    the table usable and the ended one must be gone."""
    first = open_site.raw()
    first.read_reply()
    (pid,) = open_site.daemon_pids()
    os.kill(pid, signal.SIGTERM)
    assert first.closed()
    second = open_site.raw()
    assert second.read_reply()[-1].startswith("220 ")
    assert second.command("NOOP")[-1].startswith("200 ")


# --- bouncers
#
# A server reached on 127.0.0.1 treats every peer as direct, so these
# sites listen on 127.0.0.2 and the clients connect from 127.0.0.1.

def start_bouncer_site(site, bouncers, mask="*@*", option="-B"):
    site.host = "127.0.0.2"
    site.set("bouncer_ip", bouncers)
    site.allow_connections(mask)
    site.start(option)
    return site.raw(source="127.0.0.1")


def test_idnt_line_identifies_the_real_client(site):
    raw = start_bouncer_site(site, "10.255.0.1 127.0.0.1", "joe@10.1.2.3")
    # The host part is an address: with -n 0 it is copied, not resolved.
    raw.send("IDNT joe@10.1.2.3:10.1.2.3\r\n")
    assert raw.read_reply()[-1].startswith("220 ")
    assert raw.command("NOOP")[-1].startswith("200 ")


def test_idnt_identity_is_what_admission_checks(site):
    raw = start_bouncer_site(site, "127.0.0.1", "joe@10.1.2.3")
    raw.send("IDNT eve@10.1.2.3:10.1.2.3\r\n")
    assert raw.closed()
    assert "eve@10.1.2.3 (10.1.2.3): connection refused" in site.log("login.log")


@pytest.mark.parametrize("line", [
    b"IDNT a@b@10.1.2.3:host\r\n",      # two "@"
    b"IDNT joe@10.1.2.3:host:x\r\n",    # two ":"
    b"IDNT joe-at-10.1.2.3\r\n",        # no "@"
    None,                               # the bouncer closes before IDNT
])
def test_malformed_or_missing_idnt_closes_without_reply(site, line):
    raw = start_bouncer_site(site, "127.0.0.1")
    if line:
        raw.send(line)
    else:
        raw.sock.shutdown(socket.SHUT_WR)
    assert raw.closed()


def test_only_bouncers_mode_refuses_other_peers(site):
    assert start_bouncer_site(site, "10.255.0.1 10.255.0.2").closed()


def test_bouncer_mode_serves_other_peers_directly(site):
    raw = start_bouncer_site(site, "10.255.0.1", "*@127.0.0.1", option="-b")
    assert raw.read_reply()[-1].startswith("220 ")


def test_loopback_server_treats_peers_as_direct(site):
    site.set("bouncer_ip", "10.255.0.1")
    site.allow_connections("*@127.0.0.1")
    site.start("-B")
    assert greeting(site)[-1].startswith("220 ")


# --- ident

@pytest.fixture
def ident_service():
    """An ident service on 127.0.0.1:113 that names every connection
    "alice", answering for exactly the ports it was asked about."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind(("127.0.0.1", 113))
    except OSError as error:
        listener.close()
        pytest.skip(f"port 113 unavailable: {error}")
    listener.listen(8)
    queries = []

    def serve():
        while True:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            with client:
                query = client.recv(128).decode()
                queries.append(query)
                client.sendall(f"{query.strip()} : USERID : UNIX : alice\r\n".encode())

    thread = threading.Thread(target=serve, daemon=True)
    thread.start()
    yield queries
    listener.shutdown(socket.SHUT_RDWR)  # wakes the blocked accept
    listener.close()
    thread.join(5)


def test_ident_answer_is_what_admission_checks(site, ident_service):
    site.options = ["-n", "0"]  # ident lookups on
    site.allow_connections("alice@127.0.0.1")
    site.start()
    raw = site.raw()
    assert raw.read_reply()[-1].startswith("220 ")
    assert ident_service == [f"{raw.sock.getsockname()[1]},{site.port}\r\n"]


def test_without_ident_lookups_the_user_is_a_star(site, ident_service):
    site.allow_connections("alice@127.0.0.1")
    site.start()  # the harness passes -I
    assert closed_without_reply(site)
    assert ident_service == []
    assert "*@127.0.0.1 (127.0.0.1): connection refused" in site.log("login.log")
