"""The dupe SITE commands end to end: XDUPE levels, PREDUPE and UNDUPE on
the dupe file's bytes, the DUPE search of the dupe log and its refusals,
and the help texts of the bare forms, through ftplib, curl and lftp."""

import struct
import time

import pytest

from conftest import WAIT_SECONDS, lftp, login, raw_login, run_client

RECORD = struct.Struct("<256si24s4x")  # name, time, uploader, reserved

DUPELOG = "010199 foo.a\n061500 bar.b\n123100 foo.c\n010101 foo.d\n"


def record(name, stamp, uploader="bob"):
    return RECORD.pack(name.encode(), stamp, uploader.encode())


def records(site):
    data = (site.data / "logs" / "dupefile").read_bytes()
    assert len(data) % RECORD.size == 0
    return [(name.rstrip(b"\0").decode(), stamp, uploader.rstrip(b"\0").decode())
            for name, stamp, uploader in RECORD.iter_unpack(data)]


def lines(reply):
    return reply.splitlines()


@pytest.fixture
def dupes(site):
    """A site with dupe checking on, an empty root-owned dupe file, the
    dupe log above, siteop alice and plain bob; not started yet."""
    dupefile = site.data / "logs" / "dupefile"
    if not dupefile.exists():
        dupefile.write_bytes(b"")
    (site.data / "logs" / "dupelog").write_text(DUPELOG)
    site.set("dupe_check", "7")
    site.add_user("alice", flags="1")
    site.add_user("bob", flags="3")
    return site


def test_xdupe_levels_on_one_connection(dupes):
    client = login(dupes.start(), "alice")
    steps = [
        ("SITE XDUPE", "200 Extended dupe information is off."),
        ("SITE XDUPE 9", "200 Extended dupe information set to level 3."),
        ("SITE XDUPE", "200 Extended dupe information is on (level 3)."),
        ("SITE XDUPE 2", "200 Extended dupe information set to level 2."),
        ("SITE XDUPE 0", "200 Extended dupe information switched off."),
        ("SITE XDUPE", "200 Extended dupe information is off."),
    ]
    assert [client.sendcmd(command) for command, _ in steps] == [reply for _, reply in steps]


@pytest.mark.parametrize("command, help_line", [
    ("SITE DUPE", "200- Usage: SITE DUPE [-from MMDDYY] [-to MMDDYY] [-max N] word [word ...]"),
    ("SITE UNDUPE", "200- Usage: SITE UNDUPE <file>"),
    ("SITE PREDUPE", "200- Usage: SITE PREDUPE <file>"),
])
def test_bare_forms_show_their_help_text(dupes, command, help_line):
    reply = lines(login(dupes.start(), "alice").sendcmd(command))
    assert reply[0] == help_line
    assert reply[-1] == "200 Command done."


def test_predupe_records_the_name_uploader_and_time(dupes):
    client = login(dupes.start(), "alice")
    before = int(time.time())
    assert client.sendcmd("SITE PREDUPE /site/Some.Release-GRP/some.zip") == "200 Command done."
    after = int(time.time())
    [(name, stamp, uploader)] = records(dupes)
    assert (name, uploader) == ("some.zip", "alice")
    # One second of slack either way: the daemon and the test read
    # different clocks (the coarse one may be a tick off).
    assert before - 1 <= stamp <= after + 1
    # The record is exactly one 288-byte entry, reserved bytes zero.
    assert (dupes.data / "logs" / "dupefile").read_bytes() == record("some.zip", stamp, "alice")


@pytest.mark.parametrize("config, name", [
    (("ignore_type", "*.nfo *.sfv"), "info.nfo"),
    (("dupe_check", "0"), "some.zip"),
])
def test_predupe_refusals_say_the_name_was_not_added(dupes, config, name):
    dupes.set(*config)
    reply = login(dupes.start(), "alice").sendcmd(f"SITE PREDUPE {name}")
    assert reply == f"200 {name} was not added to the dupe database."
    assert records(dupes) == []


def test_predupe_through_curl_quote(dupes):
    dupes.start()
    result = run_client("curl", "-sS", "-v", "--max-time", str(WAIT_SECONDS), "-u", "alice:secret",
                        "-Q", "SITE PREDUPE curl.zip", "-I",
                        f"ftp://{dupes.host}:{dupes.port}/")
    assert b"< 200 Command done." in result.stderr, result.stderr
    assert [name for name, _, _ in records(dupes)] == ["curl.zip"]


def test_undupe_frees_every_matching_name(dupes):
    stamp = int(time.time()) - 3600
    dupefile = dupes.data / "logs" / "dupefile"
    dupefile.write_bytes(record("a.zip", stamp) + record("b.rar", stamp) + record("c.zip", stamp))
    reply = lines(login(dupes.start(), "alice").sendcmd("SITE UNDUPE *.zip"))
    assert reply == [
        "200- Removed from the dupe database: a.zip",
        "200- Removed from the dupe database: c.zip",
        "200- 2 dupe entries expired.",
        "200 Command done.",
    ]
    assert records(dupes) == [("a.zip", 0, "bob"), ("b.rar", stamp, "bob"), ("c.zip", 0, "bob")]


@pytest.mark.parametrize("command", ["SITE UNDUPE a.zip", "SITE PREDUPE a.zip"])
def test_undupe_and_predupe_need_their_rights(dupes, command):
    reply = login(dupes.start(), "bob").sendcmd(command)
    assert reply.startswith("200 ") and reply != "200 Command done."
    assert records(dupes) == []


@pytest.mark.parametrize("arguments, found", [
    ("-from 010199 -to 123100 foo", ["010199 foo.a", "123100 foo.c", "Showed 2 of 2 matches in 4 lines."]),
    ("-max 1 foo", ["010101 foo.d", "Showed 1 of 3 matches in 4 lines."]),
    ("FOO.C", ["123100 foo.c", "Showed 1 of 1 matches in 4 lines."]),
])
def test_dupe_searches_the_dupe_log(dupes, arguments, found):
    # bob has no rights beyond -dirs, which admits everybody.
    reply = lines(login(dupes.start(), "bob").sendcmd(f"SITE DUPE {arguments}"))
    assert reply == ["200- " + line for line in found] + ["200 Command done."]


def test_dupe_through_lftp_quote(dupes):
    result = lftp(dupes.start(), "alice", "secret", "quote SITE DUPE -max 1 foo")
    assert result.returncode == 0, result.stderr
    assert "010101 foo.d" in result.stdout
    assert "Showed 1 of 3 matches in 4 lines." in result.stdout


@pytest.mark.parametrize("arguments, error", [
    ("foo -from", "501 The option -from needs a value."),
    ("-to 133100 foo", "501 Bad date after -to; write it as MMDDYY, e.g. 123199."),
    ("-from 0101999 foo", "501 Bad date after -from; write it as MMDDYY, e.g. 123199."),
    ("-max 1x foo", "501 -max takes a number."),
    ("-max 0 foo", "501 -max must be at least 1."),
    ("-max 5", "501 Give at least one search word."),
    (None, "550 The dupe log cannot be opened."),
])
def test_dupe_refusals_end_in_one_error_reply(dupes, arguments, error):
    if arguments is None:
        (dupes.data / "logs" / "dupelog").unlink()
        arguments = "foo"
    raw = raw_login(dupes.start(), "alice")
    assert raw.command(f"SITE DUPE {arguments}") == [error]
    raw.close()
