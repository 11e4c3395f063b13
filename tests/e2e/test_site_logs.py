"""SITE LOGINS, REQLOG, SYSLOG and ERRLOG list their logs back, filtered by
age and word, to those the sample configuration lets read them."""

import ftplib

import pytest

from conftest import login


@pytest.fixture
def logs_site(site):
    site.add_user("admin", flags="1")
    site.add_user("bob", flags="3")
    logs = site.data / "logs"
    logs.mkdir(exist_ok=True)
    (logs / "sysop.log").write_text(
        "Mon Jan  5 10:00:00 2026 [100    ] 'admin' added user 'bob' to group 'x'.\n"
        "Tue Jan  6 10:00:00 2026 [101    ] 'admin' deleted user 'eve'.\n")
    return site.start()


@pytest.mark.parametrize("command, listed", [
    ("SITE SYSLOG", ["added user 'bob'", "deleted user 'eve'"]),
    ("SITE SYSLOG eve", ["deleted user 'eve'"]),
    ("SITE SYSLOG 1", []),
])
def test_sysop_log_is_listed_with_its_filters(logs_site, command, listed):
    with login(logs_site, "admin") as client:
        lines = client.sendcmd(command).splitlines()
    assert lines[-1] == "200 Command done."
    body = lines[:-1]
    assert len(body) == len(listed)
    for line, word in zip(body, listed):
        assert line.startswith("200-") and word in line


def test_missing_log_closes_the_reply_with_its_notice(logs_site):
    with login(logs_site, "admin") as client:
        assert client.sendcmd("SITE REQLOG") == "200 The request.log log cannot be opened."
        client.voidcmd("NOOP")


def test_plain_user_may_not_read_the_logs(logs_site):
    with login(logs_site, "bob") as client:
        for command in ("SITE SYSLOG", "SITE ERRLOG", "SITE LOGINS", "SITE REQLOG"):
            reply = client.sendcmd(command)
            assert "added user" not in reply and reply.startswith("200")
