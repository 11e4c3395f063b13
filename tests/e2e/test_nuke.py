"""SITE NUKE, UNNUKE, NUKES and UNNUKES end to end: what a nuke takes from
each uploader (credits, statistics, nuke counts) and what an unnuke gives
back, the release on disk (renamed with its marker, or deleted), the
directory log, the nuke log read with its own struct layout, the event log
and the bot; the refusals, and nukes racing each other or an upload."""

import ftplib
import os
import re
import stat
import struct
import threading
import time

import pytest

from conftest import WAIT_SECONDS, install_script, login, raw_login, set_userfile_line, uid_of, userfile_words

MIB = 1 << 20
GIB = 1 << 30
INCOMING = "/site/incoming"
REL = INCOMING + "/Some.Rel"
MARKER = "NUKED 3x by siteop - fake _re-encode_"
# status, pad, time, nuker, unnuker, nukee, multiplier, pad, MiB, reason,
# path, pad, two reserved links
NUKELOG = struct.Struct("<HHi12s12s12sHHf60s255sxII")
assert NUKELOG.size == 376
DIRLOG = struct.Struct("<HHiHHHHI255sxII")
BOT = 'for word in "$@"; do printf "%s\\n" "$word"; done >> /botout/calls\n'
PERIODS = ["ALLUP", "WKUP", "DAYUP", "MONTHUP"]


def text(field):
    return field.split(b"\0", 1)[0].decode()


def nukelog(site):
    path = site.data / "logs" / "nukelog"
    data = path.read_bytes() if path.exists() else b""
    assert len(data) % NUKELOG.size == 0
    return [dict(status=r[0], nuker=text(r[3]), unnuker=text(r[4]), nukee=text(r[5]), multiplier=r[6],
                 mib=r[8], reason=text(r[9]), path=text(r[10]))
            for r in NUKELOG.iter_unpack(data)]


def dirlog_status(site):
    data = (site.data / "logs" / "dirlog").read_bytes()
    return {text(r[8]): r[0] for r in DIRLOG.iter_unpack(data)}


def put(site, path, size, owner):
    """A finished upload of `size` bytes (sparse) owned by `owner`."""
    target = site.root / path.lstrip("/")
    target.parent.mkdir(parents=True, exist_ok=True)
    with open(target, "wb") as f:
        f.truncate(size)
    uid = uid_of(site, owner) if isinstance(owner, str) else owner
    os.chown(target, uid, uid)
    os.chmod(target, 0o644)


def books(site, name):
    """Credits, the upload figures of each period and times/MiB nuked."""
    figures = {p: [int(w) for w in userfile_words(site, name, p)[:2]] for p in PERIODS}
    figures["CREDITS"] = int(userfile_words(site, name, "CREDITS")[0])
    figures["NUKED"] = [int(w) for w in userfile_words(site, name, "NUKE")[1:3]]
    return figures


def set_books(site, name, files, kib, credits):
    for period in PERIODS:
        set_userfile_line(site, name, period, f"{files} {kib} {files * 10}")
    set_userfile_line(site, name, "CREDITS", str(credits))


def lines(reply):
    """The reply's lines without codes, blanks collapsed."""
    return [" ".join(re.sub(r"^\d{3}[- ]", "", line).split()) for line in reply.splitlines()]


def mode(path):
    return stat.S_IMODE(os.lstat(path).st_mode)


@pytest.fixture
def release(site):
    """siteop, alice and bob (ratio 3); alice's two 1 MiB files in
    Some.Rel, bob's 3 MiB in its CD2, an empty Sample; dirlog records for
    the release and its subdirectories; a bot that writes down its
    arguments."""
    site.add_user("siteop", flags="1")
    for name in ("alice", "bob"):
        site.add_user(name)
    site.set("nukedir_style", "NUKED-%N 2 50000")
    site.set("empty_nuke", "5120")
    site.set("botscript_path", install_script(site, "botscript", BOT))
    (site.root / "botout").mkdir(mode=0o777)
    os.chmod(site.root / "botout", 0o777)
    put(site, REL + "/a1.rar", MIB, "alice")
    put(site, REL + "/a2.rar", MIB, "alice")
    put(site, REL + "/CD2/b.rar", 3 * MIB, "bob")
    (site.root / REL.lstrip("/") / "Sample").mkdir()
    (site.data / "logs" / "dirlog").write_bytes(b"".join(
        DIRLOG.pack(0, 0, int(time.time()), 0, 0, 0, 0, 0, path.encode(), 0, 0)
        for path in (REL, REL + "/CD2", REL + "/Sample")))
    set_books(site, "alice", 2, 2048, 100000)
    set_books(site, "bob", 1, 3072, 100000)
    return site


def nuke(site, command, user="siteop", cwd=INCOMING):
    client = login(site, user)
    client.cwd(cwd)
    try:
        return client.sendcmd(command)
    finally:
        client.close()


def bot_calls(site):
    path = site.root / "botout" / "calls"
    return path.read_text().splitlines() if path.exists() else []


def test_nuke_charges_the_uploaders_and_renames_the_release(release):
    # A record torn by a crash: the next record starts on a boundary.
    (release.data / "logs" / "nukelog").write_bytes(b"\x01" * 100)
    before = {name: books(release, name) for name in ("alice", "bob")}
    reply = nuke(release.start("-l"), "SITE NUKE Some.Rel 3 fake [re-encode]")

    assert lines(reply)[-1] == "Command done."
    assert "2 users, 3 files, 5,242,880 bytes." in lines(reply)
    assert "alice 2.0 MB, 10.0 MB of credits taken" in lines(reply)
    assert "bob 3.0 MB, 15.0 MB of credits taken" in lines(reply)
    for name, files, kib, credits, mib in (("alice", 2, 2048, 10240, 2), ("bob", 1, 3072, 15360, 3)):
        after = books(release, name)
        assert after["CREDITS"] == before[name]["CREDITS"] - credits
        for period in PERIODS:
            assert after[period] == [before[name][period][0] - files, before[name][period][1] - kib]
        assert after["NUKED"] == [1, mib]

    nuked = release.root / "site/incoming/NUKED-Some.Rel"
    assert not (release.root / REL.lstrip("/")).exists()
    assert mode(nuked) == 0o555 and mode(nuked / "CD2") == 0o555
    assert sorted(os.listdir(nuked)) == sorted([MARKER, "CD2", "a1.rar", "a2.rar"])
    assert mode(nuked / MARKER) == 0o444
    assert dirlog_status(release) == {REL: 1, REL + "/CD2": 1, REL + "/Sample": 0}

    raw = (release.data / "logs" / "nukelog").read_bytes()
    assert len(raw) == 2 * NUKELOG.size
    alice = 0 if raw[32:37] == b"alice" else NUKELOG.size
    assert struct.unpack_from("<H", raw, alice + 44)[0] == 3
    assert struct.unpack_from("<f", raw, alice + 48)[0] == 2.0
    assert raw[alice + 52:alice + 52 + 17] == b"fake [re-encode]\0"
    assert raw[alice + 112:alice + 112 + len(REL) + 1] == REL.encode() + b"\0"
    records = nukelog(release)
    assert sorted((r["nukee"], r["mib"], r["nuker"], r["status"]) for r in records) == [
        ("alice", 2.0, "siteop", 0), ("bob", 3.0, "siteop", 0)]
    events = release.log("marlod.log")
    assert 'NUKE: "/site/incoming/Some.Rel" "siteop" "alice" "3 2.0" "fake [re-encode]"' in events
    assert 'NUKE: "/site/incoming/Some.Rel" "siteop" "bob" "3 3.0" "fake [re-encode]"' in events
    assert bot_calls(release) == ["NUKE", REL]


def test_unnuke_gives_back_exactly_what_the_nuke_took(release):
    # An older nuke of the same path, unnuked long ago, stays as it is.
    old = NUKELOG.pack(1, 0, 1000, b"old", b"old", b"carol", 9, 0, 1.0, b"old reason", REL.encode(), 0, 0)
    (release.data / "logs" / "nukelog").write_bytes(old)
    before = {name: books(release, name) for name in ("alice", "bob")}
    site = release.start("-l")
    nuke(site, "SITE NUKE Some.Rel 3 fake [re-encode]")
    # The log, not a marker changed since, decides the multiplier.
    nuked = site.root / "site/incoming/NUKED-Some.Rel"
    os.rename(nuked / MARKER, nuked / "NUKED 7x by siteop - other")

    reply = nuke(site, "SITE UNNUKE Some.Rel oops")
    assert lines(reply)[-1] == "Command done."
    assert "2 users, 3 files, 5,242,880 bytes." in lines(reply)
    assert "alice 2.0 MB, 10.0 MB of credits returned" in lines(reply)
    assert {name: books(release, name) for name in ("alice", "bob")} == before
    rel = site.root / REL.lstrip("/")
    assert not nuked.exists()
    assert sorted(os.listdir(rel)) == ["CD2", "a1.rar", "a2.rar"]
    assert mode(rel) == 0o777 and mode(rel / "CD2") == 0o777
    assert dirlog_status(site) == {REL: 2, REL + "/CD2": 2, REL + "/Sample": 0}

    records = nukelog(site)
    assert records[0]["reason"] == "old reason" and records[0]["unnuker"] == "old"
    assert [(r["status"], r["unnuker"], r["reason"]) for r in records[1:]] == [(1, "siteop", "oops")] * 2
    raw = (site.data / "logs" / "nukelog").read_bytes()
    assert raw[NUKELOG.size + 20:NUKELOG.size + 26] == b"siteop"
    assert 'UNNUKE: "/site/incoming/Some.Rel" "siteop" "alice" "3 2.0" "oops"' in site.log("marlod.log")
    assert bot_calls(site) == ["NUKE", REL, "UNNUKE", REL]

    client = login(site, "siteop")
    assert "Some.Rel" not in client.sendcmd("SITE NUKES")
    unnukes = client.sendcmd("SITE UNNUKES 5")
    assert "Some.Rel" in unnukes and "oops" in unnukes


def test_nuke_lists_show_the_newest_records(release):
    def record(status, name, reason):
        return NUKELOG.pack(status, 0, int(time.time()) - 7200, b"siteop", b"", b"alice", 2, 0, 1.5,
                            reason.encode(), f"{INCOMING}/{name}".encode(), 0, 0)
    log = [record(0, "Old.Rel", "first"), record(1, "Back.Rel", "undone"), record(0, "New.Rel", "second")]
    # A torn record at the end is not shown.
    (release.data / "logs" / "nukelog").write_bytes(b"".join(log) + b"\0" * 50)
    (release.data / "text" / "nukes.msg").write_text("%NUKES01\n%UNNUKES\n")
    release.append("welcome_msg /ftp-data/text/nukes.msg *")
    client = login(release.start(), "alice")
    listed = client.sendcmd("SITE NUKES 5")
    assert "New.Rel" in listed and "Old.Rel" in listed and "Back.Rel" not in listed
    assert listed.index("New.Rel") < listed.index("Old.Rel")
    assert " 2x  1.5M" in listed and "second" in listed and " 2h " in listed
    welcome = client.sendcmd("SITE WELCOME")
    assert "New.Rel" in welcome and "Back.Rel" in welcome and "Old.Rel" not in welcome


@pytest.mark.parametrize("size, renamed", [(50000, False), (50001, True)])
def test_small_releases_are_deleted_and_charged_the_fixed_amount(release, size, renamed):
    put(release, INCOMING + "/Small/s.bin", size, "alice")
    os.chown(release.root / "site/incoming/Small", uid_of(release, "alice"), 0)
    credits = books(release, "alice")["CREDITS"]
    reply = nuke(release.start(), "SITE NUKE Small 2 tiny")
    nuked = release.root / "site/incoming/NUKED-Small"
    assert not (release.root / "site/incoming/Small").exists()
    assert nuked.exists() == renamed
    if renamed:
        assert books(release, "alice")["CREDITS"] == credits - (size // 1024) * 4
    else:
        assert "alice loses 5.0 MB (10.0 MB of credits)." in lines(reply)
        assert books(release, "alice")["CREDITS"] == credits - 10240
        assert books(release, "alice")["NUKED"] == [1, 5]
        assert nukelog(release)[0]["mib"] == 5.0


def test_a_taken_nuked_name_moves_on_to_the_next(release):
    (release.root / "site/incoming/NUKED-Some.Rel").mkdir()
    nuke(release.start(), "SITE NUKE Some.Rel 3 dupe of {Other}")
    assert (release.root / "site/incoming/NUKED-Some.Rel.2" / "NUKED 3x by siteop - dupe of _Other_").is_dir()
    assert nukelog(release)[0]["reason"] == "dupe of {Other}"


REFUSED = {
    # With the sample configuration's multiplier_max 10.
    True: [("SITE NUKE Some.Rel 3 " + "r" * 61, "Give a directory and a reason of at most 60 characters."),
           ("SITE NUKE Some.Rel 11 r", "That multiplier is out of range."),
           ("SITE NUKE Some.Rel 3", "Give a reason for the nuke."),
           ("SITE NUKE {Some.Rel 3 r", "Give the directory to nuke."),
           ("SITE NUKE / 3 x", "You may not nuke that directory."),
           ("SITE NUKE Nothing.Here 3 x", "That directory does not exist.")],
    # Without it the nuke log's 16 bits still bound the multiplier.
    False: [("SITE NUKE Some.Rel -1 r", "That multiplier is out of range."),
            ("SITE NUKE Some.Rel 70000 r", "That multiplier is out of range."),
            ("SITE NUKE Some.Rel bad r", "Give the nuke multiplier.")],
}


@pytest.mark.parametrize("max_multiplier", [True, False])
def test_refused_nukes_change_nothing(release, max_multiplier):
    if not max_multiplier:
        release.unset("multiplier_max")
    before = books(release, "alice")
    client = login(release.start(), "siteop")
    client.cwd(INCOMING)
    for command, message in REFUSED[max_multiplier]:
        assert lines(client.sendcmd(command))[-1] == message, command
    assert (release.root / REL.lstrip("/") / "a1.rar").exists()
    assert books(release, "alice") == before
    assert nukelog(release) == []


def test_style_0_deletes_links_without_following_them(release):
    release.set("nukedir_style", "NUKED-%N 0 0")
    put(release, "/outside/keep.bin", 4096, "alice")
    rel = release.root / REL.lstrip("/")
    os.symlink("..", rel / "up")
    os.symlink("/outside", rel / "CD2" / "out")
    os.symlink("/outside/keep.bin", rel / "keep.lnk")
    nuke(release.start(), "SITE NUKE Some.Rel 1 links")
    assert not rel.exists() and not (release.root / "site/incoming/NUKED-Some.Rel").exists()
    assert (release.root / "outside/keep.bin").stat().st_size == 4096
    assert (release.root / "site/incoming").is_dir()


def test_simultaneous_nukes_charge_once(release):
    before = books(release, "alice")["CREDITS"]
    site = release.start()
    sessions = [raw_login(site, "siteop") for _ in range(2)]
    replies = [None, None]

    def run(i):
        replies[i] = sessions[i].command(f"SITE NUKE {REL} 3 twice")
    threads = [threading.Thread(target=run, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(WAIT_SECONDS * 2)
    finals = sorted(reply[-1] for reply in replies)
    assert finals == ["200 Command done.", "200 That directory does not exist."]
    assert books(release, "alice")["CREDITS"] == before - 10240
    assert len(nukelog(release)) == 2


def test_a_nuke_during_an_upload_is_refused(release):
    os.chmod(release.root / REL.lstrip("/"), 0o777)
    site = release.start()
    uploader = login(site, "alice")
    uploader.voidcmd("TYPE I")
    data = uploader.transfercmd(f"STOR {REL}/late.bin")
    target = site.root / REL.lstrip("/") / "late.bin"
    for chunk in range(1, 3):
        data.sendall(b"x" * 65536)
        deadline = time.monotonic() + WAIT_SECONDS
        while (target.stat().st_size if target.exists() else 0) < chunk * 65536:
            assert time.monotonic() < deadline
            time.sleep(0.01)
    with pytest.raises(ftplib.error_perm, match="550 Upload in progress in Some.Rel, try again later."):
        nuke(site, "SITE NUKE Some.Rel 3 busy")
    data.close()
    uploader.voidresp()
    assert (site.root / REL.lstrip("/") / "a1.rar").exists()
    assert nukelog(site) == []


def test_gigabytes_are_charged_in_64_bits_and_returned(release):
    release.unset("multiplier_max")
    put(release, INCOMING + "/Big/huge.bin", 5 * GIB, "alice")
    set_books(release, "alice", 1, 5 * GIB // 1024, 30000000)
    site = release.start()
    nuke(site, "SITE NUKE Big 3 huge")
    assert books(site, "alice")["CREDITS"] == 30000000 - 26214400
    assert nukelog(site)[0]["mib"] == 5120.0
    nuke(site, "SITE UNNUKE Big back")
    assert books(site, "alice")["CREDITS"] == 30000000
    assert books(site, "alice")["ALLUP"] == [1, 5 * GIB // 1024]

    put(site, INCOMING + "/Deep/two.bin", 2 * GIB, "alice")
    set_userfile_line(site, "alice", "CREDITS", "-100000000")
    nuke(site, "SITE NUKE Deep 1000 deep")
    assert books(site, "alice")["CREDITS"] == -2147483648


def test_unknown_owners_are_recorded_but_a_user_named_unknown_is_untouched(release):
    release.add_user("UNKNOWN")
    unknown_file = release.data / "users" / "UNKNOWN"
    untouched = unknown_file.read_bytes()
    put(release, REL + "/orphan.bin", MIB, 4242)
    reply = nuke(release.start("-l"), "SITE NUKE Some.Rel 3 orphans")
    assert "UNKNOWN 1.0 MB, 0.0 MB of credits taken" in lines(reply)
    assert unknown_file.read_bytes() == untouched
    assert sorted(r["nukee"] for r in nukelog(release)) == ["UNKNOWN", "alice", "bob"]
    assert '"siteop" "UNKNOWN" "3 1.0" "orphans"' in release.log("marlod.log")


def test_creditcheck_lists_are_matched_against_the_uploader(release):
    release.append("creditcheck /site/incoming/* 1 -alice")
    before = {name: books(release, name)["CREDITS"] for name in ("alice", "bob")}
    nuke(release.start(), "SITE NUKE Some.Rel 3 ratio")
    assert books(release, "alice")["CREDITS"] == before["alice"] - 2048 * 3
    assert books(release, "bob")["CREDITS"] == before["bob"] - 3072 * 5


def test_the_bot_gets_the_path_as_one_unchanged_argument(release):
    name = "a'b;$(touch p)"
    put(release, f"{INCOMING}/{name}/x.bin", MIB, "alice")
    nuke(release.start(), f"SITE NUKE {{{name}}} 2 quoting")
    assert bot_calls(release) == ["NUKE", f"{INCOMING}/{name}"]
    assert (release.root / "site/incoming" / f"NUKED-{name}").is_dir()
    assert not any(path.name == "p" for path in release.root.rglob("p"))


@pytest.mark.parametrize("change, message", [
    ("style", "Nukes on this site cannot be undone."),
    ("occupied", "Could not rename the nuked directory back."),
    ("private", "Some.Rel: permission denied."),
])
def test_refused_unnukes_leave_the_nuke(release, change, message):
    site = release.start()
    nuke(site, "SITE NUKE Some.Rel 3 fake [re-encode]")
    if change == "style":
        site.set("nukedir_style", "NUKED-%N 1 50000")
    elif change == "occupied":
        (site.root / REL.lstrip("/")).mkdir()
    else:
        site.append(f"privpath {REL} =nosuchgroup")
    credits = books(site, "alice")["CREDITS"]
    assert lines(nuke(site, "SITE UNNUKE Some.Rel oops"))[-1] == message
    assert (site.root / "site/incoming/NUKED-Some.Rel" / MARKER).is_dir()
    assert books(site, "alice")["CREDITS"] == credits
    assert {r["status"] for r in nukelog(site)} == {0}


def test_more_than_twenty_uploaders_are_all_charged(release):
    names = [f"up{n:02d}" for n in range(21)]
    for name in names:
        release.add_user(name)
        put(release, f"{INCOMING}/Crowd/{name}.bin", MIB, name)
    release.start()
    nuke(release, "SITE NUKE Crowd 2 crowd")
    assert sorted(r["nukee"] for r in nukelog(release)) == names
    assert all(books(release, name)["CREDITS"] == 15360 - 4096 for name in names)


def test_a_nuke_marks_the_last_online_entry(release):
    release.set("lastonline", "/ftp-data/logs/laston.log 30 1")
    client = login(release.start(), "siteop")
    client.cwd(INCOMING)
    assert client.sendcmd("SITE NUKE Some.Rel 3 fake").startswith("200")
    client.quit()
    deadline = time.monotonic() + 10
    laston = release.data / "logs" / "laston.log"
    while not laston.exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert laston.read_text().split("\n")[1].endswith(" -----N")
