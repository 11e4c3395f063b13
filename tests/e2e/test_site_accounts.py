"""SITE ADDUSER, GADDUSER, DELUSER, READD, PURGE and RENUSER end to end:
replies, the passwd line, userfiles, bye files, slots and sysop lines, and
that every refusal leaves the files as they were."""

import ftplib
import os
import re
import time

import pytest

from conftest import attempt_login, login, set_passwd_field, set_userfile_line, userfile_words

NO_SLOTS = "200 You have no user slots left."
BAD_NAME = "200 That user name cannot be used."
OUTSIDE_STAFF = "200 You may only handle users of your group staff."


def answer(client, command):
    """The whole reply text, refusals with 4xx/5xx codes included."""
    try:
        return client.sendcmd(command)
    except ftplib.Error as error:
        return str(error)


def sysop_messages(site):
    return [line.split("] ", 1)[1] for line in site.log("sysop.log").splitlines()]


def passwd_lines(site):
    return (site.root / "etc" / "passwd").read_text().splitlines()


def passwd_entry(site, name):
    return next((line.split(":") for line in passwd_lines(site) if line.split(":")[0] == name), None)


def account_files(site):
    """Everything the account commands may touch, for unchanged-checks."""
    files = {"passwd": (site.root / "etc" / "passwd").read_text()}
    for folder in ("users", "byefiles", "msgs"):
        # Lock files come and go with the commands of every session.
        for path in sorted(p for p in (site.data / folder).iterdir() if p.suffix != ".lock"):
            files[f"{folder}/{path.name}"] = path.read_text() if path.is_file() else "<dir>"
    return files


@pytest.fixture
def accounts(site):
    """Master siteop admin, siteop op2, gadmin gad of staff with slots 1 0
    and home /site/staff, outsider of the group other, a template for
    staff; gadmins may run every account command. Not started yet."""
    (site.root / "etc" / "group").write_text("staff::300:\nother::400:\n")
    (site.data / "users" / "default.staff").write_text("FLAGS 5\nTAGLINE staff member\n")
    site.set("master", "admin")
    for key in ("-adduser", "-deluser", "-readd", "-purge", "-renuser"):
        site.set(key, "1 2")
    site.add_user("admin", flags="1")
    site.add_user("op2", flags="1")
    site.add_user("gad", flags="2", group="staff")
    set_userfile_line(site, "gad", "SLOTS", "1 0")
    set_passwd_field(site, "gad", 5, "/site/staff")
    (site.root / "site" / "staff").mkdir(parents=True, exist_ok=True)
    site.add_user("outsider", group="other")
    return site


# The fixture's four accounts hold uids 100 to 103.
@pytest.mark.parametrize("taken_uid, new_uid", [(250, "251"), (65533, "104")])
def test_adduser_makes_the_account(accounts, taken_uid, new_uid):
    with open(accounts.root / "etc" / "passwd", "a") as passwd:
        passwd.write(f"svc:*:{taken_uid}:100::/:/bin/false\n")
    client = login(accounts.start(), "admin")
    assert client.sendcmd("SITE ADDUSER bob Pw12345") == "200 User bob added."

    name, hashed, uid, gid, gecos, home, shell = passwd_entry(accounts, "bob")
    assert re.fullmatch(r"[./0-9A-Za-z]{13}", hashed)
    assert (uid, gid, home, shell) == (new_uid, "100", "/", "/bin/false")
    assert gecos == time.strftime("%m-%d-%y")
    userfile = accounts.data / "users" / "bob"
    assert os.stat(userfile).st_mode & 0o777 == 0o666
    assert userfile.read_text().splitlines()[0] == "USER Added by admin"
    assert userfile_words(accounts, "bob", "FLAGS") == ["3"]
    assert re.fullmatch(r"\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4} \[\d+ *\] 'admin' added user 'bob'\.\n",
                        accounts.log("sysop.log"))


def test_gadmin_spends_and_gets_back_his_slot(accounts):
    client = login(accounts.start(), "gad")
    before = account_files(accounts)
    assert answer(client, "SITE GADDUSER other bob Pw12345") == OUTSIDE_STAFF
    assert account_files(accounts) == before

    assert client.sendcmd("SITE ADDUSER carol Pw12345") == "200 User carol added to the group."
    assert userfile_words(accounts, "carol", "FLAGS") == ["53"]
    assert userfile_words(accounts, "carol", "TAGLINE") == ["staff", "member"]
    assert userfile_words(accounts, "carol", "GROUP") == ["staff"]
    carol = passwd_entry(accounts, "carol")
    assert (carol[3], carol[5]) == ("300", "/site/staff")
    assert userfile_words(accounts, "gad", "SLOTS") == ["0", "0"]
    assert answer(client, "SITE ADDUSER dave Pw12345") == NO_SLOTS
    assert passwd_entry(accounts, "dave") is None

    assert client.sendcmd("SITE DELUSER carol") == "200 User carol deleted."
    assert userfile_words(accounts, "gad", "SLOTS") == ["1", "0"]
    assert sysop_messages(accounts) == ["'gad' added user 'carol' to group 'staff'.",
                                        "'gad' deleted user 'carol'."]


def test_gadduser_stores_the_group_as_the_group_file_spells_it(accounts):
    client = login(accounts.start(), "admin")
    assert client.sendcmd("SITE GADDUSER STAFF erin Pw12345") == "200 User erin added to the group."
    assert userfile_words(accounts, "erin", "GROUP") == ["staff"]
    assert userfile_words(accounts, "erin", "FLAGS") == ["5"]
    assert passwd_entry(accounts, "erin")[3] == "300"
    assert sysop_messages(accounts) == ["'admin' added user 'erin' to group 'staff'."]


@pytest.mark.parametrize("command, reply", [
    ("SITE ADDUSER .. Pw12345", BAD_NAME),
    ("SITE ADDUSER x.lock Pw12345", BAD_NAME),
    ("SITE ADDUSER default.x Pw12345", BAD_NAME),
    ("SITE ADDUSER " + "a" * 24 + " Pw12345", BAD_NAME),
    ("SITE ADDUSER ROOT Pw12345",
     "200- That name is on this site's list of names that cannot be taken.\n"
     "200 That user name is not allowed."),
    ("SITE ADDUSER op2 Pw12345", "200 That user already exists."),
    ("SITE ADDUSER bob", "200 Give a password."),
    ("SITE ADDUSER bob -Pw1234", "200- A password may not begin with '-'.\n200 User not added."),
    ("SITE GADDUSER nosuch bob Pw12345", "200 There is no group named nosuch."),
    ("SITE GADDUSER staff", "530 Usage: SITE GADDUSER <group> <user> <password> [ident@ip ...]"),
])
def test_adduser_refusals_change_nothing(accounts, command, reply):
    client = login(accounts.start(), "admin")
    before = account_files(accounts)
    assert answer(client, command) == reply
    assert account_files(accounts) == before


def test_a_failed_userfile_write_takes_the_passwd_line_back(accounts):
    (accounts.data / "users" / "bob").mkdir()
    client = login(accounts.start(), "gad")
    assert answer(client, "SITE ADDUSER bob Pw12345") == \
        "200 User not added: the account could not be created."
    assert passwd_entry(accounts, "bob") is None
    assert userfile_words(accounts, "gad", "SLOTS") == ["1", "0"]
    assert sysop_messages(accounts) == []


def test_adduser_masks_are_checked_and_never_cut(accounts):
    long_mask = "*@" + "1" * 60
    client = login(accounts.start(), "admin")
    reply = client.sendcmd(f"SITE ADDUSER bob Pw12345 *@127.0.0.* bob@127.0.0.1 {long_mask}")
    assert reply.splitlines() == [
        "200- Adding ident@ip masks:",
        "200- Mask *@127.0.0.* added.",
        "200- Mask bob@127.0.0.1 not added: *@127.0.0.* covers it already.",
        f"200- Mask {long_mask} not added: masks have at most 54 characters and no '#'.",
        "200- ",
        "200 User bob added.",
    ]
    assert userfile_words(accounts, "bob", "IP") == ["*@127.0.0.*"]
    assert "'admin' added ip '*@127.0.0.*' to 'bob'" in sysop_messages(accounts)
    login(accounts, "bob", "Pw12345").quit()


def test_deluser_then_purge(accounts):
    accounts.add_user("bob")
    (accounts.data / "msgs" / "bob").write_text("hello\n")
    accounts.start()
    bob = login(accounts, "bob")
    admin = login(accounts, "admin")
    assert admin.sendcmd("SITE DELUSER bob") == "200 User bob deleted."
    bye = accounts.data / "byefiles" / "bob.bye"
    assert bye.read_text() == "%!/ftp-data/byefiles/default.bye\n"
    assert "6" in userfile_words(accounts, "bob", "FLAGS")[0]

    assert answer(admin, "SITE PURGE bob") == \
        "200 bob is online; purge the account once the user has logged out."
    bob.quit()
    # His session's save at logout keeps the deletion.
    assert "6" in userfile_words(accounts, "bob", "FLAGS")[0]
    raw, reply = attempt_login(accounts, "bob")
    raw.close()
    assert reply[-1].startswith("530")

    # While another process holds the passwd file, nothing is purged.
    passwd_lock = accounts.root / "etc" / "passwd.lock"
    passwd_lock.write_text(str(os.getpid()))
    before = account_files(accounts)
    assert answer(admin, "SITE PURGE bob") == \
        "200 Could not remove bob from the password file; nothing was purged."
    assert account_files(accounts) == before
    passwd_lock.unlink()

    assert admin.sendcmd("SITE PURGE bob") == "200 User bob purged."
    assert passwd_entry(accounts, "bob") is None
    assert not any((accounts.data / folder / name).exists()
                   for folder, name in [("users", "bob"), ("byefiles", "bob.bye"), ("msgs", "bob")])
    assert sysop_messages(accounts) == ["'admin' deleted user 'bob'.", "'admin' purged 'bob'"]


@pytest.mark.parametrize("actor, target, reply", [
    ("op2", "admin", "200 Only the master may delete a siteop."),
    ("gad", "outsider", OUTSIDE_STAFF),
    ("admin", "ghost", "200 There is no user named ghost."),
    ("admin", "default.user", "200 There is no user named default.user."),
    ("admin", "../users/op2", "200 There is no user named ../users/op2."),
])
def test_deluser_refusals_change_nothing(accounts, actor, target, reply):
    client = login(accounts.start(), actor)
    before = account_files(accounts)
    assert answer(client, f"SITE DELUSER {target}") == reply
    assert account_files(accounts) == before


def test_the_master_deletes_a_siteop_and_readd_brings_him_back(accounts):
    client = login(accounts.start(), "admin")
    assert client.sendcmd("SITE DELUSER op2") == "200 User op2 deleted."
    assert answer(client, "SITE DELUSER op2") == "200 That user is already deleted."
    assert client.sendcmd("SITE READD op2") == "200 User readded."
    assert "6" not in userfile_words(accounts, "op2", "FLAGS")[0]
    assert not (accounts.data / "byefiles" / "op2.bye").exists()
    assert answer(client, "SITE READD op2") == "200 That user is not deleted."
    assert sysop_messages(accounts)[-1] == "'admin' readded 'op2'."
    login(accounts, "op2").quit()


def test_deleting_oneself_ends_the_session(accounts):
    client = login(accounts.start(), "op2")
    assert client.sendcmd("SITE DELUSER op2") == "200 You deleted yourself. Goodbye."
    with pytest.raises((EOFError, ConnectionError, ftplib.Error)):
        client.sendcmd("NOOP")
    assert "6" in userfile_words(accounts, "op2", "FLAGS")[0]


def test_purge_all_passes_over_the_living(accounts):
    for name in ("bob", "carl", "dora"):
        accounts.add_user(name)
    for name in ("bob", "carl"):
        set_userfile_line(accounts, name, "FLAGS", "36")
    client = login(accounts.start(), "admin")
    assert client.sendcmd("SITE PURGE").splitlines() == [
        "200- User bob purged.", "200- User carl purged.", "200 2 deleted accounts purged."]
    assert [passwd_entry(accounts, name) is None for name in ("bob", "carl", "dora")] == \
        [True, True, False]


@pytest.mark.parametrize("command, first, last", [
    ("SITE ADDUSER", "200- Usage: SITE ADDUSER <user> <password> [ident@ip ...]", "200 Command done."),
    ("SITE GADDUSER", "200- Usage: SITE GADDUSER <group> <user> <password> [ident@ip ...]",
     "200 Command done."),
    ("SITE DELUSER", "200- Usage: SITE DELUSER <user>", "200 Command done."),
    ("SITE RENUSER", "200 Usage: SITE RENUSER <old name> <new name>",
     "200 Usage: SITE RENUSER <old name> <new name>"),
])
def test_bare_forms_show_their_help(accounts, command, first, last):
    lines = login(accounts.start(), "admin").sendcmd(command).splitlines()
    assert (lines[0], lines[-1]) == (first, last)


def test_bare_readd_lists_no_names_when_nobody_is_deleted(accounts):
    lines = login(accounts.start(), "admin").sendcmd("SITE READD").splitlines()
    # The list's one line holds only its colour prefix, which colour-off drops.
    assert lines == ["200- Usage: SITE READD <user>",
                     "200-   Brings a deleted account back. Deleted accounts:",
                     "200-  ",
                     "200- Use SITE READD <user> with one of the names above.",
                     "200 Command done."]


@pytest.mark.parametrize("actor, command, reply", [
    ("admin", "SITE RENUSER bob ..", BAD_NAME),
    ("admin", "SITE RENUSER bob x.lock", BAD_NAME),
    ("admin", "SITE RENUSER bob default.x", BAD_NAME),
    ("admin", "SITE RENUSER bob " + "r" * 24, BAD_NAME),
    ("admin", "SITE RENUSER bob svc", BAD_NAME),
    ("admin", "SITE RENUSER bob op2", BAD_NAME),
    ("admin", "SITE RENUSER ghost robert", BAD_NAME),
    ("admin", "SITE RENUSER admin robert", BAD_NAME),
    ("op2", "SITE RENUSER admin robert", "200 Only the master may change another siteop."),
    ("gad", "SITE RENUSER outsider robert", OUTSIDE_STAFF),
])
def test_renuser_refusals_change_nothing(accounts, actor, command, reply):
    accounts.add_user("bob")
    with open(accounts.root / "etc" / "passwd", "a") as passwd:
        passwd.write("svc:*:900:100::/:/bin/false\n")
    client = login(accounts.start(), actor)
    before = account_files(accounts)
    assert answer(client, command) == reply
    assert account_files(accounts) == before


def test_renuser_moves_the_whole_account(accounts):
    accounts.add_user("bob", password="bobpass")
    (accounts.data / "msgs" / "bob").write_text("hello\n")
    (accounts.data / "byefiles" / "bob.bye").write_text("bye\n")
    old_entry = passwd_entry(accounts, "bob")
    userfile = (accounts.data / "users" / "bob").read_text()
    client = login(accounts.start(), "admin")
    assert client.sendcmd("SITE RENUSER bob robert") == "200 User renamed."
    assert passwd_entry(accounts, "bob") is None
    assert passwd_entry(accounts, "robert") == ["robert"] + old_entry[1:]
    assert (accounts.data / "users" / "robert").read_text() == userfile
    assert not (accounts.data / "users" / "bob").exists()
    assert (accounts.data / "msgs" / "robert").read_text() == "hello\n"
    assert (accounts.data / "byefiles" / "robert.bye").read_text() == "bye\n"
    assert sysop_messages(accounts) == ["'admin' renamed user 'bob' to 'robert'."]
    login(accounts, "robert", "bobpass").quit()


def test_renuser_takes_the_new_userfile_back_when_passwd_is_locked(accounts):
    accounts.add_user("bob")
    (accounts.root / "etc" / "passwd.lock").write_text(str(os.getpid()))
    client = login(accounts.start(), "admin")
    before = account_files(accounts)
    assert answer(client, "SITE RENUSER bob robert").splitlines() == [
        "200- Could not lock the password file (user bob).",
        "200 Could not rename bob; nothing was changed."]
    assert account_files(accounts) == before
