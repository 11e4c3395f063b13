"""Start-up as a client sees it: greetings, refusals before the greeting,
the process title and the bouncer's IDNT line."""

import pytest

VERSION = "marlod 1.29_Linux"


def greeting(site):
    raw = site.raw()
    try:
        return raw.read_reply()
    finally:
        raw.close()


def refusal(site):
    """The one reply a refused connection gets, after which it is closed."""
    raw = site.raw()
    lines = raw.read_reply()
    assert raw.closed()
    raw.close()
    return lines


# --- greetings

def test_plain_greeting_names_the_version(site):
    site.unset("sitename_long")
    site.unset("login_prompt")
    site.allow_connections()
    site.start()
    assert greeting(site) == [f"220 FTP ({VERSION}) ready."]


def test_site_name_greeting(site):
    site.unset("login_prompt")
    site.set("sitename_long", "Test[:space:]Site")
    site.allow_connections()
    site.start()
    assert greeting(site) == [f"220 Test Site ({VERSION}) ready."]


def test_login_prompt_replaces_the_whole_greeting(site):
    site.set("sitename_long", "Ignored")
    site.set("login_prompt", "Hello[:space:]there,[:space:]100%[:space:]%s[:space:]safe")
    site.allow_connections()
    site.start()
    # The prompt is text, never a format: "%s" arrives as it is.
    assert greeting(site) == ["220 Hello there, 100% %s safe"]


def test_banner_comes_before_the_greeting(site):
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


def test_missing_banner_file_still_greets(site):
    site.set("banner", "/ftp-data/text/no-such-banner")
    site.allow_connections()
    site.start()
    assert greeting(site)[-1].startswith("220 ")


# --- failures before the greeting

def test_unreadable_configuration(site):
    site.allow_connections()
    site.config_path.unlink()
    site.start()
    assert refusal(site) == ["530 Error reading config file"]


def test_missing_rootpath(site):
    site.unset("rootpath")
    site.start()
    assert refusal(site) == ["530 Invalid rootpath"]


def test_missing_strings_file(site):
    (site.root / "bin" / "mrstrings.bin").unlink()
    site.start()
    assert refusal(site) == [f"530 Couldn't load strings file {site.root}/bin/mrstrings.bin"]


def test_strings_file_from_the_command_line(site):
    moved = site.workdir / "elsewhere.bin"
    (site.root / "bin" / "mrstrings.bin").rename(moved)
    site.allow_connections()
    site.start("-s", str(moved))
    assert greeting(site)[-1].startswith("220 ")


def test_root_that_cannot_be_entered(site):
    site.set("rootpath", str(site.workdir / "no-such-root"))
    site.start("-s", str(site.root / "bin" / "mrstrings.bin"))
    assert refusal(site) == ["530 Chroot failed. Bad rootpath in marlod.conf?"]


def test_missing_datapath(site):
    site.unset("datapath")
    site.start()
    assert refusal(site) == ["530 Invalid DATAPATH"]


def test_valid_ip_of_another_interface_closes_without_reply(site):
    site.set("valid_ip", "10.9.8.7")
    site.allow_connections()
    site.start()
    raw = site.raw()
    assert raw.closed()


def test_valid_ip_of_this_interface_is_served(site):
    site.set("valid_ip", "127.0.0.1")
    site.allow_connections()
    site.start()
    assert greeting(site)[-1].startswith("220 ")


def test_nobody_allowed_from_ident_at_host_closes_without_reply(site):
    site.allow_connections("nobody@10.0.0.1")
    site.start()
    assert site.raw().closed()
    assert "*@127.0.0.1 (127.0.0.1): connection refused: ident@ip not added to any users." \
        in site.log("login.log")


# --- the process

def test_process_title_shows_the_peer(open_site):
    raw = open_site.raw()
    raw.read_reply()
    pids = open_site.daemon_pids()
    assert len(pids) == 1
    with open(f"/proc/{pids[0]}/cmdline", "rb") as cmdline:
        title = cmdline.read()
    assert title.startswith(b"marlod: 127.0.0.1: connected")
    raw.close()


def test_terminated_session_releases_its_slot(open_site):
    """A KICK ends a session with SIGTERM; the next session must still find
    the table usable and the ended one must be gone."""
    import os
    import signal
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

@pytest.fixture
def bouncer_site(site):
    site.host = "127.0.0.2"
    site.options = ["-n", "0", "-I"]
    return site


def test_idnt_line_identifies_the_real_client(bouncer_site):
    site = bouncer_site
    site.set("bouncer_ip", "10.255.0.1 127.0.0.1")
    site.allow_connections("joe@10.1.2.3")
    site.start("-B")
    raw = site.raw(source="127.0.0.1")
    # The host part is an address: with -n 0 it is copied, not resolved.
    raw.send("IDNT joe@10.1.2.3:10.1.2.3\r\n")
    assert raw.read_reply()[-1].startswith("220 ")
    assert raw.command("NOOP")[-1].startswith("200 ")


def test_idnt_identity_is_what_admission_checks(bouncer_site):
    site = bouncer_site
    site.set("bouncer_ip", "127.0.0.1")
    site.allow_connections("joe@10.1.2.3")
    site.start("-B")
    raw = site.raw(source="127.0.0.1")
    raw.send("IDNT eve@10.1.2.3:10.1.2.3\r\n")
    assert raw.closed()
    assert "eve@10.1.2.3 (10.1.2.3): connection refused" in site.log("login.log")


@pytest.mark.parametrize("line", [
    "IDNT a@b@10.1.2.3:host\r\n",      # two "@"
    "IDNT joe@10.1.2.3:host:x\r\n",    # two ":"
    "IDNT joe-at-10.1.2.3\r\n",        # no "@"
])
def test_malformed_idnt_closes_without_reply(bouncer_site, line):
    site = bouncer_site
    site.set("bouncer_ip", "127.0.0.1")
    site.allow_connections()
    site.start("-B")
    raw = site.raw(source="127.0.0.1")
    raw.send(line)
    assert raw.closed()


def test_bouncer_closing_before_idnt_gets_no_greeting(bouncer_site):
    import socket
    site = bouncer_site
    site.set("bouncer_ip", "127.0.0.1")
    site.allow_connections()
    site.start("-B")
    raw = site.raw(source="127.0.0.1")
    raw.sock.shutdown(socket.SHUT_WR)
    assert raw.closed()


def test_only_bouncers_mode_refuses_other_peers(bouncer_site):
    site = bouncer_site
    site.set("bouncer_ip", "10.255.0.1 10.255.0.2")
    site.allow_connections()
    site.start("-B")
    assert site.raw(source="127.0.0.1").closed()


def test_bouncer_mode_serves_other_peers_directly(bouncer_site):
    site = bouncer_site
    site.set("bouncer_ip", "10.255.0.1")
    site.allow_connections("*@127.0.0.1")
    site.start("-b")
    raw = site.raw(source="127.0.0.1")
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
    import socket
    import threading
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
                ports = query.strip()
                client.sendall(f"{ports} : USERID : UNIX : alice\r\n".encode())

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
    client_port = raw.sock.getsockname()[1]
    assert ident_service == [f"{client_port},{site.port}\r\n"]


def test_without_ident_lookups_the_user_is_a_star(site, ident_service):
    site.allow_connections("alice@127.0.0.1")
    site.start()  # the harness passes -I
    assert site.raw().closed()
    assert ident_service == []
    assert "*@127.0.0.1 (127.0.0.1): connection refused" in site.log("login.log")
