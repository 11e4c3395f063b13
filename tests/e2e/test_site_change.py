"""SITE CHANGE end to end: every field's effect on the userfile (or the
passwd file) and its sysop line, the flags edit, refusals that leave every
file as it was, a gadmin's reach and leech slots, the "=group", "*" and
"{...}" forms, and two sessions changing one user at once."""

import ftplib
import re
import threading

import pytest

from conftest import WAIT_SECONDS, login, set_userfile_line

DONE = "200 Command done."


def change(client, line):
    """The reply lines of SITE CHANGE `line`, refusals with 5xx codes too."""
    try:
        return client.sendcmd("SITE CHANGE " + line).splitlines()
    except ftplib.error_perm as refusal:
        return str(refusal).splitlines()


def userfile_line(site, name, keyword):
    for line in (site.data / "users" / name).read_text().splitlines():
        if line.split(" ", 1)[0] == keyword:
            return line
    return None


def state(site):
    """Every file a CHANGE may touch."""
    files = {path.name: path.read_bytes() for path in (site.data / "users").iterdir()}
    files["passwd"] = (site.root / "etc" / "passwd").read_bytes()
    files["sysop.log"] = site.log("sysop.log")
    return files


def sysop_messages(site):
    # "%.24s [%-8d] %s": the message follows the time stamp and the pid.
    return [line[36:] for line in site.log("sysop.log").splitlines()]


@pytest.fixture
def staff(site):
    """Master siteop admin; siteop op, gadmin gad (SLOTS 1 1), bob and carol
    in group staff; dave in group other. gad may reach the ratio and flags
    fields. A second statistics section MP3 keeps its own credits; home
    directories must lie below /site."""
    (site.root / "etc" / "group").write_text("staff::200:\nother::300:\n")
    site.set("master", "admin")
    site.set("min_homedir", "/site")
    site.set("-changeratio", "1 2")
    site.set("-changeflags", "1 2")
    site.append("stat_section MP3 /mp3/* yes")
    site.add_user("admin", flags="1")
    site.add_user("op", flags="1", group="staff")
    site.add_user("gad", flags="2", group="staff")
    set_userfile_line(site, "gad", "SLOTS", "1 1")
    for name, group in [("bob", "staff"), ("carol", "staff"), ("dave", "other")]:
        site.add_user(name, flags="3", group=group)
    return site


@pytest.mark.parametrize("line, keyword, expected, logged", [
    ("ratio 0", "RATIO", "RATIO 0 -1 ", "'admin' changed ratio for 'bob' from '3' to '0'"),
    ("sratio mp3 0", "RATIO", "RATIO 3 0 ", "'admin' changed MP3 ratio for 'bob' from '-1' to '0'"),
    ("max_dlspeed 100", "GENERAL", "GENERAL 0,0 -1 102400 0",
     "'admin' changed max_dlspeed for 'bob' from '0' to '102400'"),
    ("max_ulspeed 4194303", "GENERAL", "GENERAL 0,0 -1 0 4294966272",
     "'admin' changed max_ulspeed for 'bob' from '0' to '4294966272'"),
    ("max_sim_down 30000", "LOGINS", "LOGINS 2 0 30000 -1",
     "'admin' changed max_sim_down for 'bob' from '-1' to '30000'"),
    ("max_sim_up 4", "LOGINS", "LOGINS 2 0 -1 4", "'admin' changed max_sim_up for 'bob' from '-1' to '4'"),
    ("wkly_allotment 1,2147483647", "CREDITS", "CREDITS 15360 2147483647 ",
     "'admin' changed wkly_allotment for 'bob' from '0,0' to '1,2147483647'"),
    ("wkly_allotment 5000", "GENERAL", "GENERAL 0,5000 -1 0 0",
     "'admin' changed wkly_allotment for 'bob' from '0,0' to '0,5000'"),
    ("idle_time 60", "GENERAL", "GENERAL 0,0 60 0 0", "'admin' changed idle_time for 'bob' from '-1' to '60'"),
    ("tagline  Hello   there ", "TAGLINE", "TAGLINE Hello there",
     "'admin' changed tagline for 'bob' from 'No TagLine Set' to 'Hello there'"),
    ("comment Our best", "USER", "USER Our best", "'admin' changed comment for 'bob' from 'Added by marlod-site' to 'Our best'"),
    ("num_logins 3 1", "LOGINS", "LOGINS 3 1 -1 -1", "'admin' changed num_logins for 'bob' from '2 0' to '3 1'"),
    ("num_logins 5", "LOGINS", "LOGINS 5 0 -1 -1", "'admin' changed num_logins for 'bob' from '2 0' to '5 0'"),
    ("time_limit 35791394", "TIME", r"TIME \d+ \d+ 35791394 \d+",
     "'admin' changed time_limit for 'bob' from '0' to '35791394'"),
    ("timeframe 22 2", "TIMEFRAME", "TIMEFRAME 22 2", "admin changed timeframe for bob from '0 0' to '22 2'"),
    ("credits 0x400", "CREDITS", "CREDITS 1024 0 ", "'admin' changed credits for 'bob' from '15360' to '1024'"),
    ("startup_dir /incoming", "DIR", "DIR /incoming",
     "'admin' changed startup_dir for 'bob' from '/' to '/incoming'"),
    ("group_slots 5 2", "SLOTS", "SLOTS 5 2", "'admin' changed grp leech slots for 'bob' to 'staff 2'"),
])
def test_a_field_lands_in_the_userfile_and_the_sysop_log(staff, line, keyword, expected, logged):
    client = login(staff.start(), "admin")
    assert change(client, "bob " + line)[-1] == DONE
    assert re.fullmatch(expected, userfile_line(staff, "bob", keyword))
    assert sysop_messages(staff)[-1] == logged


def test_homedir_goes_to_the_passwd_file(staff):
    client = login(staff.start(), "admin")
    assert change(client, "bob homedir /site/bob/")[-1] == DONE
    bob = [line for line in (staff.root / "etc" / "passwd").read_text().splitlines()
           if line.startswith("bob:")]
    assert bob[0].split(":")[5] == "/site/bob"
    assert sysop_messages(staff)[-1] == "'admin' changed homedir for 'bob' to /site/bob/"


def test_credits_are_those_of_the_current_section(staff):
    (staff.root / "mp3").mkdir()
    client = login(staff.start(), "admin")
    client.cwd("/mp3")
    assert change(client, "bob credits 100")[-1] == DONE
    client.cwd("/")
    assert change(client, "bob credits 7")[-1] == DONE
    assert userfile_line(staff, "bob", "CREDITS") == "CREDITS 7 100 "


@pytest.mark.parametrize("flags, edit, reply, result", [
    ("23", "+1-2", [DONE], "13"),
    ("3", "+a-3+b", [DONE], "AB"),
    ("2", "+1", ["200- Warning: the user now has flags 1 and 2.", DONE], "12"),
    ("3", "+3", ["200- The flags did not change.", DONE], "3"),
    ("3", "+6", ["200 Flag 6 is set by SITE DELUSER only."], "3"),
    ("3", "A", ["200 Flags start with + or -."], "3"),
])
def test_flags_edit(staff, flags, edit, reply, result):
    set_userfile_line(staff, "bob", "FLAGS", flags)
    client = login(staff.start(), "admin")
    assert change(client, "bob flags " + edit) == reply
    assert userfile_line(staff, "bob", "FLAGS") == "FLAGS " + result


REFUSALS = [
    ("admin", "bob max_dlspeed 4194304", "200 '4194304' is not a valid value for max_dlspeed."),
    ("admin", "bob wkly_allotment 2147483648",
     "200 '2147483648' is not a valid value for wkly_allotment."),
    ("admin", "bob wkly_allotment 5,100", "200 No such section."),
    ("admin", "bob time_limit 35791395", "200 '35791395' is not a valid value for time_limit."),
    ("admin", "bob ratio 10", "200 '10' is not a valid value for ratio."),
    ("admin", "bob num_logins 1 2 3", "200 '1 2 3' is not a valid value for num_logins."),
    ("admin", "bob sratio DEFAULT 1", "200 The DEFAULT section has no ratio of its own."),
    ("admin", "bob sratio MP3 10", "200 Ratios run from -1 to 9."),
    ("admin", "bob timeframe 24", "200 Hours run from 0 to 23."),
    ("admin", "bob group_slots -2", "200 Bad slot number."),
    ("admin", "bob homedir /site/a:b", "200 That home directory is outside the allowed area."),
    ("admin", "bob homedir /site/../etc", "200 That home directory is outside the allowed area."),
    ("admin", "bob homedir /site/a\x01b", "200 That home directory is outside the allowed area."),
    ("admin", "bob tagline", "200 Give a value for tagline: [Str] The user's tagline"),
    ("admin", "bob colour red", "200- Unknown field. Send SITE CHANGE HELP for the list."),
    ("admin", "nobody tagline x", "200 There is no user named nobody."),
    ("admin", "../users/bob tagline x", "200 There is no user named ../users/bob."),
    ("admin", "default.user tagline x", "200 Templates cannot be changed this way."),
    ("op", "admin tagline x", "200 Only the master may change another siteop."),
    ("bob", "carol tagline x", "200 Permission denied."),
    ("gad", "dave tagline x", "200 That user is not in your group."),
    ("gad", "op tagline x", "200 Only the master may change another siteop."),
    ("gad", "gad group_slots 5", "200 Only a siteop may change group slots."),
    ("gad", "gad flags +1", "200 Only a siteop may give or take flags 1 and 2."),
    ("gad", "bob flags -3+2", "200 Only a siteop may give or take flags 1 and 2."),
    ("gad", "bob ratio 5", "200 You may only set ratio 0 or 3."),
    ("gad", "op ratio 0", "200 Only the master may change another siteop."),
]


@pytest.mark.parametrize("actor, line, expected", REFUSALS)
def test_a_refusal_changes_no_file(staff, actor, line, expected):
    client = login(staff.start(), actor)
    before = state(staff)
    assert expected in change(client, line)
    client.voidcmd("NOOP")  # the refusal may be sent before the locks go
    assert state(staff) == before


def test_gadmin_hands_out_and_takes_back_leech_slots(staff):
    client = login(staff.start(), "gad")
    assert change(client, "bob ratio 0")[-1] == DONE
    assert userfile_line(staff, "gad", "SLOTS") == "SLOTS 1 0"
    assert change(client, "carol ratio 0") == ["200 You have no leech slots left."]
    assert userfile_line(staff, "carol", "RATIO") == "RATIO 3 -1 "
    assert change(client, "bob ratio 3")[-1] == DONE
    assert userfile_line(staff, "gad", "SLOTS") == "SLOTS 1 1"
    assert userfile_line(staff, "bob", "RATIO") == "RATIO 3 -1 "


def test_star_counts_each_refused_user(staff):
    client = login(staff.start(), "gad")
    # admin and dave are outside staff, op is a siteop only the master changes.
    assert change(client, "* tagline hi") == ["200- 3 users could not be changed.", "200 Done."]
    tagged = {name for name in ["admin", "op", "gad", "bob", "carol", "dave"]
              if userfile_line(staff, name, "TAGLINE") == "TAGLINE hi"}
    assert tagged == {"gad", "bob", "carol"}


def test_group_form_changes_every_member(staff):
    set_userfile_line(staff, "dave", "PRIVATE", "staff")
    client = login(staff.start(), "admin")
    assert change(client, "=Staff max_sim_up 2") == ["200- 0 users could not be changed.", "200 Done."]
    changed = {name for name in ["admin", "op", "gad", "bob", "carol", "dave"]
               if userfile_line(staff, name, "LOGINS").endswith(" 2")}
    assert changed == {"op", "gad", "bob", "carol", "dave"}
    assert userfile_line(staff, "default.user", "LOGINS") == "LOGINS 2 0 -1 -1"


def test_list_form_names_each_failure(staff):
    client = login(staff.start(), "admin")
    assert change(client, "{bob nobody default.user carol} comment x") == [
        "200- Could not change nobody.", "200- Could not change default.user.", "200 Done."]
    assert [userfile_line(staff, name, "USER") for name in ["bob", "carol"]] == ["USER x"] * 2
    assert change(client, "{bob carol comment x") == ["530 The name list needs a closing }."]


@pytest.mark.parametrize("line, first, last", [
    ("", "200- Usage: SITE CHANGE <user> <field> <value>", DONE),
    (" HELP", "200- Fields for SITE CHANGE:", DONE),
    (" bob", "502 CHANGE command not implemented.", None),
])
def test_help_forms(staff, line, first, last):
    client = login(staff.start(), "admin")
    try:
        reply = client.sendcmd("SITE CHANGE" + line).splitlines()
    except ftplib.error_perm as refusal:
        reply = str(refusal).splitlines()
    assert reply[0] == first
    assert reply[-1] == (last or first)
    if line == " HELP":
        assert "200- group_slots     [Num Num] Num of slots (-1 = Unlimited)" in reply


def test_two_sessions_changing_one_user_keep_both_last_values(staff):
    staff.start()
    rounds = 50
    replies, kept = {}, []

    def note_kept():
        kept.append((userfile_line(staff, "bob", "TAGLINE"), userfile_line(staff, "bob", "USER")))

    # Both sessions send each round's change at the same moment; after
    # every round the file must hold both values.
    start = threading.Barrier(2, timeout=WAIT_SECONDS)
    end = threading.Barrier(2, action=note_kept, timeout=WAIT_SECONDS)

    def run(actor, field):
        client = login(staff, actor)
        replies[field] = []
        for i in range(rounds):
            start.wait()
            replies[field].append(change(client, f"bob {field} {field}{i}")[-1])
            end.wait()
        client.quit()

    threads = [threading.Thread(target=run, args=("admin", "tagline")),
               threading.Thread(target=run, args=("op", "comment"))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert replies == {"tagline": [DONE] * rounds, "comment": [DONE] * rounds}
    assert kept == [(f"TAGLINE tagline{i}", f"USER comment{i}") for i in range(rounds)]
