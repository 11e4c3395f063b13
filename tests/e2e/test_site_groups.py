"""The group SITE commands end to end: the group file lines GRPADD, GRPDEL,
GRPLOG, GRPNFO and GRPREN write or refuse to write, the memberships CHGRP
and GROUP toggle with the passwd gid that follows the first group, the
GROUPS counts and the GINFO rows, through ftplib."""

import re

import pytest

from conftest import attempt_login, login

ESCAPES = re.compile(r"\x1b\[[0-9;]*m")
GROUPS = "staff:The staff:200:\ncrew:The crew:300:\n"


def group_file(site):
    return (site.root / "etc" / "group").read_text()


def passwd_gid(site, name):
    for line in (site.root / "etc" / "passwd").read_text().splitlines():
        fields = line.split(":")
        if fields[0] == name:
            return int(fields[3])
    raise AssertionError(f"{name} is not in the passwd file")


def words(site, name, keyword):
    """The words of every `keyword` line of a userfile, in order."""
    path = site.data / "users" / name
    return [line.split()[1] for line in path.read_text().splitlines()
            if line.split()[:1] == [keyword]]


def append_lines(site, name, *lines):
    path = site.data / "users" / name
    path.write_text(path.read_text() + "".join(line + "\n" for line in lines))


def text(reply):
    """The reply's lines without codes and colour sequences."""
    return [ESCAPES.sub("", re.sub(r"^\d{3}-? ", "", line)) for line in reply.splitlines()]


@pytest.fixture
def groups_site(site):
    """Siteop admin, the groups staff (200) and crew (300), bob without a
    group, gad the gadmin of staff, and the private group VIP; not started."""
    (site.root / "etc" / "group").write_text(GROUPS)
    site.append("privgroup VIP Very[:space:]important")
    site.add_user("admin", flags="1")
    site.add_user("bob", flags="3")
    site.add_user("gad", flags="2", group="staff")
    return site


# --- the group file ----------------------------------------------------------

def test_grpadd_starts_an_empty_group_file_at_gid_200(site):
    site.add_user("admin", flags="1")
    client = login(site.start(), "admin")
    assert client.sendcmd("SITE GRPADD staff x") == "200 Group staff added."
    assert group_file(site) == "staff:x:200:\n"
    assert "'admin' added group (staff)\n" in site.log("sysop.log")


@pytest.mark.parametrize("command, answer", [
    ("SITE GRPADD STAFF", "That group already exists."),
    ("SITE GRPADD vip", "That group already exists."),
    ("SITE GRPADD a/b x", "Bad character in the group name a/b."),
    ("SITE GRPADD sixteen_letters_", "Group names have 1 to 15 characters."),
    ("SITE GRPDEL nope", "There is no group named nope."),
    ("SITE GRPDEL staff", "Some users still have that group as their primary group."),
    ("SITE GRPLOG staff -1", "Give the number of logins."),
    ("SITE GRPLOG staff many", "Give the number of logins."),
    ("SITE GRPNFO staff", "Give a description."),
    ("SITE GRPREN staff", "Usage: SITE GRPREN <oldname> <newname>"),
    ("SITE GRPREN staff CREW", "That group already exists."),
    ("SITE GRPREN staff a/b", "Bad character in the group name a/b."),
    ("SITE GRPREN nope new", "There is no group named nope."),
])
def test_refused_group_file_edits_change_nothing(groups_site, command, answer):
    client = login(groups_site.start(), "admin")
    assert client.sendcmd(command) == "200 " + answer
    assert group_file(groups_site) == GROUPS


def test_grpdel_refuses_a_passwd_gid_even_without_a_userfile_naming_it(groups_site):
    (groups_site.data / "users" / "gad").unlink()
    client = login(groups_site.start(), "admin")
    assert client.sendcmd("SITE GRPDEL staff").endswith("primary group.")
    assert client.sendcmd("SITE GRPDEL Crew") == "200 Group deleted."
    assert group_file(groups_site) == "staff:The staff:200:\n"
    assert "'admin' deleted group (crew)\n" in groups_site.log("sysop.log")


def test_grplog_and_grpnfo_keep_the_other_fields(groups_site):
    client = login(groups_site.start(), "admin")
    assert client.sendcmd("SITE GRPLOG crew 3") == "200 Group changed."
    assert client.sendcmd("SITE GRPNFO crew Deck:hands") == "200 Group changed."
    assert group_file(groups_site) == "staff:The staff:200:\ncrew:Deckhands:300:3\n"
    assert text(client.sendcmd("SITE GRPLOG")) == [
        "Group            Logins", "staff            0", "crew             3", "End of groups."]


def test_a_gadmin_changes_only_his_own_groups_nfo(groups_site):
    groups_site.set("-grpnfo", "1 2")
    client = login(groups_site.start(), "gad")
    assert client.sendcmd("SITE GRPNFO crew x") == "200 You may only change your own group."
    assert client.sendcmd("SITE GRPNFO STAFF Ours") == "200 Group changed."
    assert group_file(groups_site) == "staff:Ours:200:\ncrew:The crew:300:\n"


def test_grpren_moves_group_lines_and_template_but_not_private_lines(groups_site):
    site = groups_site
    site.add_user("carol", group="crew")
    append_lines(site, "carol", "GROUP staff")
    append_lines(site, "bob", "PRIVATE staff")
    (site.data / "users" / "default.staff").write_text("FLAGS 3\nGROUP staff\nPRIVATE staff\n")
    client = login(site.start(), "admin")
    assert client.sendcmd("SITE GRPREN staff team") == "200 Group renamed."
    assert group_file(site) == "team:The staff:200:\ncrew:The crew:300:\n"
    assert words(site, "gad", "GROUP") == ["team"]
    assert words(site, "carol", "GROUP") == ["crew", "team"]
    assert words(site, "bob", "PRIVATE") == ["staff"]
    assert not (site.data / "users" / "default.staff").exists()
    assert words(site, "default.team", "GROUP") == ["team"]
    assert words(site, "default.team", "PRIVATE") == ["staff"]
    assert passwd_gid(site, "gad") == 200
    assert "'admin' changed group name of (staff) to (team)\n" in site.log("sysop.log")


# --- memberships ---------------------------------------------------------------

def test_chgrp_toggles_memberships_and_the_passwd_gid_follows_the_first(groups_site):
    site = groups_site
    client = login(site.start(), "admin")
    steps = [  # command, groups afterwards, passwd gid
        ("SITE CHGRP bob STAFF Crew", ["staff", "crew"], 200),
        ("SITE CHGRP bob staff", ["crew"], 300),
        ("SITE CHGRP bob staff", ["crew", "staff"], 300),
        ("SITE CHGRP bob crew staff", [], 100),
    ]
    for command, groups, gid in steps:
        assert client.sendcmd(command).endswith("200 Command done."), command
        assert (words(site, "bob", "GROUP"), passwd_gid(site, "bob")) == (groups, gid), command
    log = site.log("sysop.log")
    assert "'bob': successfully added to 'staff' by admin\n" in log
    assert "'bob': successfully removed from 'crew' by admin\n" in log


@pytest.mark.parametrize("command, answer", [
    ("SITE CHGRP bob staff nope", "There is no group or private group named nope."),
    ("SITE CHGRP nobody staff", "There is no such user."),
    ("SITE CHGRP ../etc staff", "There is no such user."),
])
def test_chgrp_refusals_change_nothing(groups_site, command, answer):
    client = login(groups_site.start(), "admin")
    assert client.sendcmd(command) == "200 " + answer
    assert words(groups_site, "bob", "GROUP") == []
    assert passwd_gid(groups_site, "bob") == 100


@pytest.mark.parametrize("right, answer, private", [
    ("1", "200 Command done.", ["VIP"]),
    (None, "200 There is no group or private group named vip.", []),
])
def test_private_groups_need_the_chgrp_priv_right(groups_site, right, answer, private):
    if right is None:
        groups_site.unset("-chgrp-priv")
    client = login(groups_site.start(), "admin")
    assert client.sendcmd("SITE CHGRP bob vip").splitlines()[-1] == answer
    assert words(groups_site, "bob", "PRIVATE") == private
    assert passwd_gid(groups_site, "bob") == 100


def test_a_gadmin_may_chgrp_only_users_of_his_group(groups_site):
    site = groups_site
    site.set("-chgrp", "1 2")
    site.add_user("mate", group="staff")
    client = login(site.start(), "gad")
    assert client.sendcmd("SITE CHGRP bob crew") == "200 You may only handle users of your group staff."
    assert words(site, "bob", "GROUP") == []
    assert client.sendcmd("SITE CHGRP mate crew").endswith("Command done.")
    assert words(site, "mate", "GROUP") == ["staff", "crew"]


def test_group_joins_when_groupless_and_then_only_leaves(groups_site):
    site = groups_site
    client = login(site.start(), "bob")
    steps = [  # command, answer, groups afterwards, passwd gid
        ("SITE GROUP nope", "There is no group named nope.", [], 100),
        ("SITE GROUP CREW", "You have joined the group crew.", ["crew"], 300),
        ("SITE GROUP staff", "You are not in the group staff; you may only leave one of your groups.",
         ["crew"], 300),
        ("SITE GROUP crew", "You have left the group crew.", [], 100),
    ]
    for command, answer, groups, gid in steps:
        assert client.sendcmd(command) == "200 " + answer
        assert (words(site, "bob", "GROUP"), passwd_gid(site, "bob")) == (groups, gid), command
    log = site.log("sysop.log")
    assert "'bob': has joined group crew.\n" in log
    assert "'bob': has been removed from group 'crew'\n" in log


def test_a_joined_group_counts_the_session_toward_its_login_limit(groups_site):
    site = groups_site
    (site.root / "etc" / "group").write_text("crew:The crew:300:1\n")
    client = login(site.start(), "bob")
    assert client.sendcmd("SITE GROUP crew") == "200 You have joined the group crew."
    raw, reply = attempt_login(site, "bob")
    raw.close()
    assert reply[-1] == "530 Your group is full right now."


# --- reports -------------------------------------------------------------------

@pytest.mark.parametrize("right, tail", [
    ("1", ["private       VIP             Very important", "2 groups, 1 private groups."]),
    (None, ["", "2 groups."]),
])
def test_groups_counts_members_that_are_not_deleted(groups_site, right, tail):
    site = groups_site
    site.add_user("gone", flags="6", group="crew")
    if right is None:
        site.unset("-chgrp-priv")
    lines = text(login(site.start(), "admin").sendcmd("SITE GROUPS"))
    assert lines[2:4] == ["   1 members  staff           The staff",
                          "   0 members  crew            The crew"]
    assert lines[-2:] == tail


def ginfo_rows(reply):
    """(name, up files, up MB, ratio, status) of each member row."""
    rows = []
    for line in text(reply):
        cells = [cell.strip() for cell in line.split("|")]
        if len(cells) == 9 and cells[3] not in ("Up MB", "") and cells[1] != "Total":
            rows.append((cells[1], cells[2], cells[3], cells[6], cells[7]))
    return rows


def test_ginfo_rows_marks_ratios_and_the_gadmins_own_group(groups_site):
    site = groups_site
    site.add_user("leech", group="staff")
    site.add_user("gone", flags="6", group="staff")
    append_lines(site, "leech", "RATIO 0", "ALLUP 2 3072 10")
    append_lines(site, "admin", "PRIVATE staff")
    client = login(site.start(), "gad")
    reply = client.sendcmd("SITE GINFO")
    # admin's private membership counts; a deleted member stays listed.
    assert ginfo_rows(reply) == [
        ("*admin", "0", "0.0", "1:3", "No TagLine Set"),
        ("+gad", "0", "0.0", "1:3", "No TagLine Set"),
        ("gone", "0", "0.0", "1:3", "***DELETED***"),
        ("leech", "2", "3.0", "leech", "No TagLine Set"),
    ]
    assert text(reply)[-2:] == [" 4 members, 1 of them leeches.", "Command done."]
    assert client.sendcmd("SITE GINFO crew") == "200 You may only view your own group, not crew."
    assert login(site, "admin").sendcmd("SITE GINFO").splitlines()[0] == "200- Usage: SITE GINFO <group>"
