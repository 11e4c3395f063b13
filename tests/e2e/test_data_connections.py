"""Data connections end to end: passive ports from `pasv_ports`, announced
addresses from `pasv_addr`, active connections from the port below the
control port, PORT's single use, and the foreign-address policy."""

import ftplib
import re
import socket

import pytest

from conftest import WAIT_SECONDS, free_port
from conftest import login as login_as

PASSWORD = "secret"
CONTENT = bytes(range(256)) * 400


@pytest.fixture
def site_with_file(site):
    site.add_user("bob", PASSWORD)
    (site.root / "site").mkdir()
    (site.root / "site" / "file.bin").write_bytes(CONTENT)
    return site


def login(site):
    return login_as(site, "bob", PASSWORD)


def pasv_address(reply):
    numbers = [int(n) for n in re.search(r"(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)", reply).groups()]
    return "%d.%d.%d.%d" % tuple(numbers[:4]), numbers[4] * 256 + numbers[5]


def download(client):
    chunks = []
    client.retrbinary("RETR /site/file.bin", chunks.append)
    return b"".join(chunks)


def port_command(address, port):
    return "PORT %s,%d,%d" % (address.replace(".", ","), port // 256, port % 256)


def listener(address="127.0.0.1"):
    sock = socket.socket()
    sock.settimeout(WAIT_SECONDS)
    sock.bind((address, 0))
    sock.listen(1)
    return sock


def test_a_single_passive_port_serves_transfer_after_transfer(site_with_file):
    port = free_port()
    site_with_file.set("pasv_ports", str(port))
    site_with_file.start()
    client = login(site_with_file)
    for _ in range(3):
        assert download(client) == CONTENT
    # Two PASV in a row: the second gives the same port up and takes it again.
    assert pasv_address(client.sendcmd("PASV"))[1] == port
    assert pasv_address(client.sendcmd("PASV"))[1] == port
    assert download(client) == CONTENT
    client.quit()


def test_a_reversed_range_is_logged_and_used_the_right_way_round(site_with_file):
    site_with_file.set("pasv_ports", "40010-40000")
    site_with_file.start()
    client = login(site_with_file)
    for _ in range(5):
        _, port = pasv_address(client.sendcmd("PASV"))
        assert 40000 <= port <= 40009
    assert download(client) == CONTENT
    client.quit()
    assert "Incorrect pasv_ports range 40010-40000: reversing" in site_with_file.log("error.log")


def test_a_nat_only_address_is_announced_but_not_bound(site_with_file):
    site_with_file.set("pasv_addr", "10.9.8.7 1")
    site_with_file.start()
    client = login(site_with_file)
    address, port = pasv_address(client.sendcmd("PASV"))
    assert address == "10.9.8.7"
    # The socket listens on the control connection's address.
    data = socket.create_connection(("127.0.0.1", port), timeout=WAIT_SECONDS)
    client.sendcmd("RETR /site/file.bin")
    received = data.makefile("rb").read()
    data.close()
    assert client.voidresp().startswith("226")
    assert received == CONTENT
    client.quit()


def test_two_pasv_addresses_alternate(site_with_file):
    site_with_file.append("pasv_addr 10.0.0.1 1")
    site_with_file.append("pasv_addr 10.0.0.2 1")
    site_with_file.start()
    client = login(site_with_file)
    announced = [pasv_address(client.sendcmd("PASV"))[0] for _ in range(4)]
    assert set(announced) == {"10.0.0.1", "10.0.0.2"}
    assert announced[0] != announced[1] and announced[0] == announced[2]
    client.quit()


def test_active_connections_come_from_the_port_below_the_control_port(site_with_file):
    site_with_file.start()
    client = login(site_with_file)
    sock = listener()
    assert client.sendcmd(port_command("127.0.0.1", sock.getsockname()[1])).startswith("200")
    assert client.sendcmd("RETR /site/file.bin").startswith("150")
    data, source = sock.accept()
    received = data.makefile("rb").read()
    data.close()
    sock.close()
    assert client.voidresp().startswith("226")
    assert received == CONTENT
    assert source == ("127.0.0.1", site_with_file.port - 1)
    client.quit()


def test_port_zero_is_refused(site_with_file):
    site_with_file.start()
    client = login(site_with_file)
    client.sendcmd("PORT 127,0,0,1,0,0")
    with pytest.raises(ftplib.error_perm, match="^500 Bad PORT: port 0"):
        client.sendcmd("RETR /site/file.bin")
    assert client.voidcmd("NOOP").startswith("200")
    client.quit()


def test_allow_fxp_refuses_downloads_to_a_foreign_address(site_with_file):
    site_with_file.append("allow_fxp no yes no *")
    site_with_file.start()
    client = login(site_with_file)
    # Active: the PORT address is another host than the client.
    sock = listener("127.0.0.2")
    client.sendcmd(port_command("127.0.0.2", sock.getsockname()[1]))
    with pytest.raises(ftplib.error_perm,
                       match="^500 Data connections to foreign addresses are not allowed"):
        client.sendcmd("RETR /site/file.bin")
    sock.close()
    # Passive: the data connection comes from another address.
    _, port = pasv_address(client.sendcmd("PASV"))
    data = socket.create_connection(("127.0.0.1", port), timeout=WAIT_SECONDS,
                                    source_address=("127.0.0.2", 0))
    with pytest.raises(ftplib.error_temp,
                       match="^425 Data connections to foreign addresses are not allowed"):
        client.sendcmd("RETR /site/file.bin")
    data.close()
    # The client's own address is never foreign.
    assert download(client) == CONTENT
    client.quit()
    assert site_with_file.log("sysop.log") == ""


def test_passive_without_a_client_connection_gives_up(site_with_file):
    # The server waits a bounded time for the data connection, then says so.
    site_with_file.start()
    client = login(site_with_file)
    client.sendcmd("PASV")
    with pytest.raises(ftplib.error_temp, match="^425 Cannot accept"):
        client.sendcmd("RETR /site/file.bin")
    assert client.voidcmd("NOOP").startswith("200")
    client.quit()
