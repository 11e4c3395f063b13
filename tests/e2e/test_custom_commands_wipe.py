"""Custom SITE commands (TEXT files and EXEC programs run in the root by the
site's busybox) and SITE WIPE, through ftplib: the relayed output, its
limit and exit statuses, typed words that stay literal; what a wipe removes
and keeps on disk, links it never follows, the dirlog records and the event
line it leaves."""

import ftplib
import os
import struct
import time

import pytest

from conftest import content, install_script, login, set_passwd_field, set_userfile_line

PRINT_ARGUMENTS = 'for word in "$@"; do echo "$word"; done\n'


def site_reply(client, line):
    """The lines of the reply to `line`, refusals included."""
    try:
        return client.sendcmd(line).splitlines()
    except ftplib.Error as refused:
        return str(refused).splitlines()


@pytest.fixture
def commands(site):
    """alice and a few custom commands everybody may run."""
    site.add_user("alice")
    scripts = {
        "args": PRINT_ARGUMENTS,
        "three": "echo one\necho two\necho three\n",
        "quiet": "exit 1\n",
        "fails": "echo broken\nexit 2\n",
    }
    for name, body in scripts.items():
        install_script(site, f"{name}.sh", body)
    site.append("site_cmd ARGS EXEC /bin/args.sh fixed")
    site.append("site_cmd THREE EXEC /bin/three.sh")
    site.append("site_cmd QUIET EXEC /bin/quiet.sh")
    site.append("site_cmd FAILS EXEC /bin/fails.sh")
    site.append("site_cmd NONE EXEC /bin/none")
    site.append("site_cmd YES EXEC /bin/busybox yes")
    site.append("site_cmd RULES TEXT /ftp-data/text/rules")
    (site.data / "text" / "rules").write_text("Be nice.\n")
    for word in ("args", "three", "quiet", "fails", "none", "yes", "rules"):
        site.append(f"custom-{word} *")
    return site


@pytest.mark.parametrize("line, expected", [
    ("SITE args a  b", ["200- fixed", "200- a", "200- b", "200 Command done."]),
    # A shell would run, split and expand these; the program gets them as typed.
    ("SITE ARGS a'b $(touch /p) ;x * {a,b}",
     ["200- fixed", "200- a'b", "200- $(touch", "200- /p)", "200- ;x", "200- *", "200- {a,b}",
      "200 Command done."]),
    ("SITE three", ["200- one", "200- two", "200- three", "200 Command done."]),
    ("SITE quiet", ["530 The command failed."]),
    ("SITE fails", ["200- broken", "200 The command failed."]),
    ("SITE none", ["550 /bin/none: No such file or directory."]),
    ("SITE rules", ["200- Be nice.", "200 Command done."]),
])
def test_custom_command_replies(commands, line, expected):
    client = login(commands.start(), "alice")
    assert site_reply(client, line) == expected
    assert not (commands.root / "p").exists()
    client.quit()


def test_output_beyond_the_line_limit_is_cut_and_still_succeeds(commands):
    commands.set("max_sitecmd_lines", "3")
    client = login(commands.start(), "alice")
    cut = ["200- one", "200- two", "200- three", "200- *** Truncated ***", "200 Command done."]
    assert site_reply(client, "SITE three") == cut
    # `yes` dies of SIGPIPE once cut off, sooner or later: never a failure.
    for _ in range(20):
        assert site_reply(client, "SITE yes") == ["200- y"] * 3 + cut[3:]
    client.quit()


def test_an_upper_case_word_obeys_its_lower_case_rule(commands):
    commands.unset("custom-rules")
    commands.append("custom-rules !*")
    client = login(commands.start(), "alice")
    assert site_reply(client, "SITE RULES") == ["200 Permission denied."]
    client.quit()


def test_the_userfile_is_reloaded_after_a_program_ran(commands):
    client = login(commands.start(), "alice")
    set_userfile_line(commands, "alice", "TAGLINE", "changed meanwhile")
    assert "No TagLine Set" in client.sendcmd("SITE TAGLINE")
    site_reply(client, "SITE three")
    assert "changed meanwhile" in client.sendcmd("SITE TAGLINE")
    client.quit()


# --- WIPE --------------------------------------------------------------------

DIRLOG = struct.Struct("<HHiHHHHI255sxII")
TEN_MIB = 10 << 20
DELETED = 3


def dirlog_record(path, files=0, size=0):
    return DIRLOG.pack(0, 0, int(time.time()), 0, 0, files, 0, size, path.encode(), 0, 0)


def dirlog(site):
    """status, files and bytes of each record by path."""
    return {fields[8].rstrip(b"\0").decode(): (fields[0], fields[5], fields[7])
            for fields in DIRLOG.iter_unpack((site.data / "logs" / "dirlog").read_bytes())}


@pytest.fixture
def wipe_site(site):
    """siteop (home /site) over /site/incoming:
    Rel/big.bin      an accepted 10 MiB upload, Rel logged with 3 files
    Flat/a, Flat/b   a logged directory of files
    Nest/sub/deep/f  a logged tree, Nest/sub logged too
    Links/up -> ..   and Links/out -> /elsewhere, which holds a canary
    data -> /ftp-data, away -> /elsewhere
    Locked/x         under a `delete` rule nobody passes
    Shut/x           in a directory without owner write
    """
    (site.root / "etc" / "group").write_text("SiteOps:Site operators:300:\n")
    site.add_user("siteop", flags="1", group="SiteOps")
    set_passwd_field(site, "siteop", 5, "/site")
    incoming = site.root / "site" / "incoming"
    for directory in ("Rel", "Flat", "Nest/sub/deep", "Links", "Locked", "Shut/Dir"):
        (incoming / directory).mkdir(parents=True)
    big = incoming / "Rel" / "big.bin"
    big.write_bytes(content(TEN_MIB))
    os.chmod(big, 0o644)
    for name in ("Flat/a", "Flat/b", "Nest/sub/deep/f", "Nest/top", "Locked/x", "Shut/x"):
        (incoming / name).write_text(name)
    (site.root / "elsewhere").mkdir()
    (site.root / "elsewhere" / "canary").write_text("alive")
    os.symlink("..", incoming / "Links" / "up")
    os.symlink("/elsewhere", incoming / "Links" / "out")
    os.symlink("/ftp-data", incoming / "data")
    os.symlink("/elsewhere", incoming / "away")
    os.chmod(incoming / "Shut", 0o555)
    (site.data / "logs" / "dirlog").write_bytes(
        dirlog_record("/site/incoming/Rel", 3, 3 * TEN_MIB) + dirlog_record("/site/incoming/Flat")
        + dirlog_record("/site/incoming/Nest") + dirlog_record("/site/incoming/Nest/sub"))
    site.unset("delete")
    site.append("delete /site/incoming/Locked* !*")
    site.append("delete * 1")
    site.start("-l")
    return site


@pytest.mark.parametrize("target, reply, gone, kept", [
    ("incoming/Rel/big.bin", "200 File wiped.", ["Rel/big.bin"], ["Rel"]),
    ("incoming/Flat", "200 Directory wiped.", ["Flat"], []),
    ("incoming/Nest", "200 The directory holds subdirectories; use SITE WIPE -r.", [],
     ["Nest/top", "Nest/sub/deep/f"]),
    ("-r incoming/Nest", "200 Directory wiped.", ["Nest"], []),
    ("-r incoming/Links", "200 Directory wiped.", ["Links"], ["Rel", "../../elsewhere/canary"]),
    ("/", "200 The site root cannot be wiped.", [], ["Rel"]),
    ("incoming/Missing", "200 incoming/Missing does not exist.", [], []),
    ("-r ", "200  does not exist.", [], []),
    ("incoming/Locked/x", "200 Not allowed to wipe incoming/Locked/x.", [], ["Locked/x"]),
    ("-r incoming/data", "200 Not allowed to wipe incoming/data.", [], ["../../ftp-data/logs"]),
    ("-r incoming/away", "200 Not allowed to wipe incoming/away.", [], ["../../elsewhere/canary"]),
    ("incoming/Shut/x", "200 The directory is write protected.", [], ["Shut/x"]),
])
def test_wipe(wipe_site, target, reply, gone, kept):
    client = login(wipe_site, "siteop")
    assert site_reply(client, f"SITE WIPE {target}") == [reply]
    incoming = wipe_site.root / "site" / "incoming"
    for name in gone:
        assert not os.path.lexists(incoming / name), name
    for name in kept:
        assert (incoming / name).exists(), name
    client.quit()


def test_wipe_books_the_dirlog_and_logs_the_event(wipe_site):
    client = login(wipe_site, "siteop")
    site_reply(client, "SITE WIPE incoming/Rel/big.bin")
    site_reply(client, "SITE WIPE incoming/Flat")
    site_reply(client, "SITE WIPE -r incoming/Nest")
    client.quit()
    records = dirlog(wipe_site)
    assert records["/site/incoming/Rel"] == (0, 2, 2 * TEN_MIB)
    for path in ("/site/incoming/Flat", "/site/incoming/Nest", "/site/incoming/Nest/sub"):
        assert records[path][0] == DELETED, path
    log = wipe_site.log("marlod.log")
    assert 'WIPE: "/site/incoming/Rel/big.bin" "siteop" "SiteOps" "No TagLine Set"' in log
    assert 'WIPE-r: "/site/incoming/Nest" "siteop" "SiteOps" "No TagLine Set"' in log


def test_wipe_of_a_tree_deeper_than_the_descriptor_limit(wipe_site):
    fd = os.open(wipe_site.root / "site" / "incoming", os.O_RDONLY)
    os.mkdir("Deep", dir_fd=fd)
    for _ in range(3000):
        child = os.open("Deep" if _ == 0 else "d", os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = child
        os.mkdir("d", dir_fd=fd)
    os.close(fd)
    # Removing 3,000 directories takes this machine's file system a while.
    client = wipe_site.ftp(timeout=300)
    client.login("siteop", "secret")
    assert site_reply(client, "SITE WIPE -r incoming/Deep") == ["200 Directory wiped."]
    assert client.voidcmd("NOOP").startswith("200")
    assert not (wipe_site.root / "site" / "incoming" / "Deep").exists()
    client.quit()
