"""Passwords, masks and user views end to end: SITE CHPASS and PASSWD, ADDIP
and DELIP, SHOW and FLAGS, EMULATE and WELCOME, with who may act on whom
(the master, siteops, a group administrator) and the files left on disk."""

import ftplib

import pytest

from conftest import login, set_userfile_line, userfile_words

# Replies of the site's strings file.
DONE = "200 Command done."
PASSWORD_CHANGED = "200- Password changed."
MASTER_ONLY = "200 Only the master may change another siteop."
NOT_IN_GROUP = "200 That user is not in your group."


@pytest.fixture
def staff(site):
    """admin is the master; op another siteop and gad the administrator of
    group staff, which bob is in; eve is in group other. gad may use SHOW and
    CHPASS. Not started yet."""
    site.set("master", "admin")
    site.set("-show", "1 2")
    site.set("-chpass", "1 2")
    site.add_user("admin", flags="1")
    for name, flags, group in [("op", "1", "staff"), ("gad", "2", "staff"),
                               ("bob", "3", "staff"), ("eve", "3", "other")]:
        site.add_user(name, flags=flags)
        set_userfile_line(site, name, "GROUP", group)
    return site


def passwd_field(site, name):
    for line in (site.root / "etc" / "passwd").read_text().splitlines():
        fields = line.split(":")
        if fields[0] == name:
            return fields[1]
    return None


def files(site):
    """passwd and every userfile, to show that a refusal changed nothing."""
    users = site.data / "users"
    return ((site.root / "etc" / "passwd").read_text(),
            {p.name: p.read_text() for p in users.iterdir() if not p.name.endswith(".lock")})


def set_masks(site, name, masks):
    path = site.data / "users" / name
    kept = [line for line in path.read_text().splitlines() if not line.startswith("IP ")]
    path.write_text("\n".join(kept + [f"IP {mask}" for mask in masks]) + "\n")


def can_log_in(site, name, password):
    client = site.ftp()
    try:
        client.login(name, password)
        return True
    except ftplib.error_perm:
        return False
    finally:
        client.close()


# --- CHPASS and PASSWD --------------------------------------------------------

@pytest.mark.parametrize("who, command, last_lines", [
    ("admin", "SITE CHPASS bob", ["200 Give the password."]),
    ("admin", "SITE CHPASS bob pw more", ["200 Usage: SITE CHPASS <user> <password>"]),
    ("admin", "SITE CHPASS bob -Pw1234",
     ['200- A password cannot begin with "-": the login would strip it.', "200 User not added."]),
    ("admin", "SITE CHPASS nobody Pw1234", ["200 The userfile of nobody cannot be loaded."]),
    ("admin", "SITE CHPASS default.user Pw1234", ["200 The userfile of default.user cannot be loaded."]),
    ("admin", "SITE CHPASS ../users/bob Pw1234", ["200 The userfile of ../users/bob cannot be loaded."]),
    # Only the master sets another siteop's password, even inside the group.
    ("gad", "SITE CHPASS op Pw1234", [MASTER_ONLY]),
    ("op", "SITE CHPASS admin Pw1234", [MASTER_ONLY]),
    ("gad", "SITE CHPASS eve Pw1234", [NOT_IN_GROUP]),
    ("bob", "SITE PASSWD ab cd", ["200 Usage: SITE PASSWD <new password>"]),
    ("bob", "SITE PASSWD abcdefghi", ["200 Passwords are at most 8 characters long."]),
    ("bob", "SITE PASSWD -abc", ['200- A password cannot begin with "-": the login would strip it.',
                                 "200 User not added."]),
])
def test_refused_password_changes_touch_no_file(staff, who, command, last_lines):
    client = login(staff.start(), who)
    before = files(staff)
    reply = client.sendcmd(command).splitlines()
    assert reply[-len(last_lines):] == last_lines
    assert files(staff) == before


def test_password_policy_lists_what_the_password_lacks(staff):
    staff.append("secure_pass Aa9..... *")
    client = login(staff.start(), "admin")
    before = files(staff)
    assert client.sendcmd("SITE CHPASS bob weakpass").splitlines() == [
        "200- The password does not meet the site rules; it needs:",
        "200- 1 capital letter, 1 lowercase letter, 1 digit, 0 others, 8 length.",
        "200 User not added."]
    assert files(staff) == before


STORED_AS_GIVEN = '200- Stored as given: "*" lets any password log in, "@" any e-mail address.'


@pytest.mark.parametrize("who, command, note, stored, accepted, refused", [
    # "*" and "@" keep their login meaning: any password, any e-mail address.
    ("admin", "SITE CHPASS bob *", STORED_AS_GIVEN, "*", "anything", None),
    ("admin", "SITE CHPASS bob @", STORED_AS_GIVEN, "@", "me@example.org", "secret"),
    # From a group administrator "*" is an ordinary password.
    ("gad", "SITE CHPASS bob *", None, None, "*", "anything"),
    # Only the first 8 characters count.
    ("admin", "SITE CHPASS bob Abcdefgh12", "200- Passwords are cut to their first 8 characters.", None,
     "Abcdefgh", "secret"),
    ("bob", "SITE PASSWD Newpw123", None, None, "Newpw123", "secret"),
])
def test_changed_password_is_what_login_accepts(staff, who, command, note, stored, accepted, refused):
    client = login(staff.start(), who)
    reply = client.sendcmd(command).splitlines()
    assert reply[-2:] == [PASSWORD_CHANGED, DONE]
    assert (note in reply) if note else len(reply) == 2
    if stored:
        assert passwd_field(staff, "bob") == stored
    assert can_log_in(staff, "bob", accepted)
    if refused:
        assert not can_log_in(staff, "bob", refused)


# --- ADDIP and DELIP ------------------------------------------------------------

def test_addip_replaces_the_masks_the_new_one_covers(staff):
    set_masks(staff, "bob", ["bob@10.0.0.5"])
    client = login(staff.start(), "admin")
    assert client.sendcmd("SITE ADDIP bob *@10.0.0.*").splitlines() == [
        "200- Removed bob@10.0.0.5, which the new mask covers.",
        "200- Added *@10.0.0.*.",
        "200 Done."]
    assert [line for line in (staff.data / "users" / "bob").read_text().splitlines()
            if line.startswith("IP ")] == ["IP *@10.0.0.*"]
    sysop = staff.log("sysop.log")
    assert "] 'admin' auto-removed ip 'bob@10.0.0.5' from 'bob'\n" in sysop
    assert "] 'admin' added ip '*@10.0.0.*' to 'bob'\n" in sysop


@pytest.mark.parametrize("who, command, config, lines", [
    ("admin", "SITE ADDIP bob bob@10.0.0.5", None,
     ["200- bob@10.0.0.5 is already covered by *@10.0.0.*.", "200 Done."]),
    # Never cut to fit: a cut mask would admit other addresses.
    ("admin", "SITE ADDIP bob " + "b" * 45 + "@10.0.0.99", None,
     ["200- A mask holds at most 54 characters.", "200 Done."]),
    ("admin", "SITE ADDIP bob *@10.0.*", "secure_ip 2 0 1 *",
     ["200- The ident part of the mask is too open.", "200 Done."]),
    ("admin", "SITE ADDIP bob bob@host.example.org", "secure_ip 2 0 1 *",
     ["200- Host names are not allowed in masks.", "200 Done."]),
    ("admin", "SITE ADDIP bob " + " ".join(f"u{i}@1.2.3.{i}" for i in range(11)), None,
     ["200 At most 10 masks at a time."]),
    ("admin", "SITE ADDIP bob", None, ["200 Give the user name and at least one mask."]),
    ("admin", "SITE ADDIP ../logs/x a@1.2.3.4", None, ["200 There is no user named ../logs/x."]),
    ("gad", "SITE ADDIP eve a@1.2.3.4", None, ["200 You may only handle users of your group staff."]),
    ("gad", "SITE ADDIP op a@1.2.3.4", None, [MASTER_ONLY]),
    ("op", "SITE DELIP admin 0", None, [MASTER_ONLY]),
])
def test_refused_masks_change_nothing(staff, who, command, config, lines):
    set_masks(staff, "bob", ["*@10.0.0.*"])
    if config:
        staff.append(config)
    client = login(staff.start(), who)
    before = files(staff)
    assert client.sendcmd(command).splitlines() == lines
    assert files(staff) == before
    assert " ip '" not in staff.log("sysop.log")


def test_delip_by_slot_and_by_mask(staff):
    set_masks(staff, "bob", ["a@1.1.1.1", "b@2.2.2.2", "c@3.3.3.3"])
    client = login(staff.start(), "admin")
    # Slot numbers name the slots as they were before the command.
    assert client.sendcmd("SITE DELIP bob 0 c@3.3.3.3 7 z@9.9.9.9 1").splitlines() == [
        "200- Mask removed.", "200- Mask removed.", "200- That mask slot is empty.", "200- No such mask.",
        "200- Mask removed.", "200 Done."]
    assert userfile_words(staff, "bob", "IP") is None
    sysop = staff.log("sysop.log")
    for mask in ["a@1.1.1.1", "b@2.2.2.2", "c@3.3.3.3"]:
        assert f"] 'admin' removed ip '{mask}' from 'bob'\n" in sysop


# --- SHOW, FLAGS and the bare forms ---------------------------------------------

@pytest.mark.parametrize("who, command, lines", [
    ("admin", "SITE SHOW ../logs/login.log", ["200 There is no user named ../logs/login.log."]),
    ("admin", "SITE SHOW bob.lock", ["200 There is no user named bob.lock."]),
    ("gad", "SITE SHOW eve", ["200 You may only see users of your own group (staff)."]),
    ("gad", "SITE FLAGS eve", ["200 You may only see users of your own group (staff)."]),
    ("admin", "SITE FLAGS nobody", ["200 User nobody does not exist."]),
])
def test_user_views_refuse(staff, who, command, lines):
    (staff.data / "users" / "bob.lock").write_text("")
    client = login(staff.start(), who)
    assert client.sendcmd(command).splitlines() == lines


@pytest.mark.parametrize("who, target", [("admin", "default.user"), ("gad", "bob")])
def test_show_sends_the_userfile_as_stored(staff, who, target):
    client = login(staff.start(), who)
    stored = (staff.data / "users" / target).read_text().splitlines()
    assert client.sendcmd(f"SITE SHOW {target}").splitlines() == [f"200- {line}" for line in stored] + [DONE]


def test_flags_shows_the_target_and_then_oneself_again(staff):
    client = login(staff.start(), "admin")
    shown = client.sendcmd("SITE FLAGS bob")
    assert "Flags of bob: 3" in shown
    assert "[*] 3 Group locked" in shown and "[ ] 1 Siteop" in shown
    own = client.sendcmd("SITE FLAGS")
    assert "Flags of admin: 1" in own and "[*] 1 Siteop" in own
    assert "Flags of default.user: 3" in client.sendcmd("SITE FLAGS default.user")


@pytest.mark.parametrize("command, first_line", [
    ("SITE ADDIP", "200- Usage: SITE ADDIP <user> <ident@ip> [<ident@ip> ...]"),
    ("SITE DELIP", "200- Usage: SITE DELIP <user> <ident@ip | slot> [...]"),
    ("SITE SHOW", "200- Usage: SITE SHOW <user>"),
    ("SITE CHPASS", "200 Usage: SITE CHPASS <user> <password>"),
    ("SITE PASSWD", "200 Usage: SITE PASSWD <new password>"),
])
def test_bare_forms(staff, command, first_line):
    reply = login(staff.start(), "admin").sendcmd(command).splitlines()
    assert reply[0] == first_line
    assert reply[-1] in (DONE, first_line)


def test_addip_and_delip_edit_a_template(staff):
    client = login(staff.start(), "admin")
    assert client.sendcmd("SITE ADDIP default.user *@10.1.*").splitlines()[-1] == "200 Done."
    assert userfile_words(staff, "default.user", "IP") == ["*@10.1.*"]
    assert client.sendcmd("SITE DELIP default.user 0").splitlines()[0] == "200- Mask removed."
    assert userfile_words(staff, "default.user", "IP") is None


# --- EMULATE and WELCOME ----------------------------------------------------------

def test_emulate_needs_the_key_once_and_keeps_the_login_account(staff):
    staff.start()
    assert login(staff, "bob").sendcmd("SITE EMULATE admin") == "200 Permission denied."

    client = login(staff, "admin")
    assert client.sendcmd("SITE EMULATE nobody") == "200 The userfile of nobody cannot be loaded."
    assert client.sendcmd("SITE EMULATE bob") == "200 You are now bob."
    assert "] User 'admin' is now emulating 'bob'\n" in staff.log("sysop.log")
    # bob's rights now: no SHOW, and his flags.
    assert client.sendcmd("SITE SHOW bob") == "200 Permission denied."
    assert "Flags of bob: 3" in client.sendcmd("SITE FLAGS")
    # PASSWD still sets the login account's password.
    bob_before = passwd_field(staff, "bob")
    assert client.sendcmd("SITE PASSWD Newpw123").splitlines()[-2:] == [PASSWORD_CHANGED, DONE]
    assert passwd_field(staff, "bob") == bob_before
    # Back without the key bob lacks.
    assert client.sendcmd("SITE EMULATE admin") == "200 You are now admin."
    assert client.sendcmd("SITE SHOW bob").splitlines()[-1] == DONE
    client.quit()
    assert can_log_in(staff, "admin", "Newpw123")


def test_emulating_the_master_does_not_make_one_master(staff):
    client = login(staff.start(), "op")
    assert client.sendcmd("SITE EMULATE admin") == "200 You are now admin."
    before = files(staff)
    # The master test looks at the login account, op.
    assert client.sendcmd("SITE CHPASS admin Pw123456") == MASTER_ONLY
    assert files(staff) == before


def test_welcome_shows_every_file_meant_for_the_user(staff):
    text = staff.data / "text"
    (text / "w1").write_text("one\n")
    (text / "w2").write_text("two\n")
    (text / "w3").write_text("three\n")
    for name, who in [("w1", "*"), ("w2", "!*"), ("gone", "*"), ("w3", "1")]:
        staff.append(f"welcome_msg /ftp-data/text/{name} {who}")
    client = login(staff.start(), "admin")
    assert client.sendcmd("SITE WELCOME").splitlines() == [
        "200- one", "200- That welcome text cannot be shown.", "200- three", DONE]
