"""STAT, the status line, QUIT and logout end to end, with the online
table read straight from its shared-memory segment."""

import os
import signal
import time

import pytest

from conftest import WAIT_SECONDS, login, online_table, raw_login, set_userfile_line, userfile_words

# --- the online table, as other programs of the site read it ---------------

def slot_of(table, name):
    found = [entry for entry in table if entry["procid"] and entry["username"] == name]
    assert len(found) == 1, table
    return found[0]


def wait_until(condition):
    deadline = time.monotonic() + WAIT_SECONDS
    while not condition():
        assert time.monotonic() < deadline, "condition never came true"
        time.sleep(0.05)


# --- STAT -----------------------------------------------------------------

def test_stat_needs_a_login_and_then_shows_the_session(site):
    site.add_user("alice")
    site.start()
    raw = site.raw()
    raw.read_reply()
    assert raw.command("STAT") == ["530 Please log in with USER and PASS."]
    raw.command("USER alice")
    assert raw.command("STAT") == ["530 Please log in with USER and PASS."]
    raw.command("PASS secret")
    assert raw.command("TYPE A")[-1].startswith("200")
    reply = raw.command("STAT")
    assert reply[0] == "211- Status of this server:"
    assert reply[1] == ("211- Marlod Demo Site FTP server (marlod 1.29_Linux); connected to "
                        "127.0.0.1 (127.0.0.1); Logged in as alice; TYPE: ASCII, STRU: File, "
                        "MODE: Stream; No data connection")
    assert reply[-1] == "211 End of status."

    raw.command("PORT 127,0,0,1,200,10")
    assert raw.command("STAT")[1].endswith("; PORT (127,0,0,1,200,10)")


def test_stat_with_a_path_lists_it_on_the_control_connection(site):
    site.add_user("alice")
    (site.root / "stat-me.txt").write_text("x" * 1234)
    site.start()
    raw = raw_login(site, "alice")
    reply = raw.command("STAT /stat-me.txt")
    assert reply[0] == "213- Status of /stat-me.txt:"
    assert reply[-1] == "213 End of status."
    listing = [line for line in reply[1:-1] if "stat-me.txt" in line]
    assert len(listing) == 1 and " 1234 " in listing[0]


def test_site_stat_shows_the_status_line_unless_the_stat_rule_refuses(site):
    site.add_user("alice")
    site.add_user("leech")
    set_userfile_line(site, "leech", "RATIO", "0")
    site.start()
    client = login(site, "alice")
    line = client.sendcmd("SITE STAT")
    assert line.startswith("226 ")
    # The site's statline.txt, filled with the user's figures.
    assert "Credits:" in line and "Ratio:" in line and "%[" not in line
    client.quit()
    # The built-in line when the site has no statline.txt.
    (site.data / "text" / "statline.txt").unlink()
    client = login(site, "alice")
    assert "Credits:" in client.sendcmd("SITE STAT")
    client.quit()
    client = login(site, "leech")
    assert "nlimited" in client.sendcmd("SITE STAT")
    client.quit()
    site.set("-stat", "1")
    client = login(site, "alice")
    reply = client.sendcmd("SITE STAT")
    assert "Credits:" not in reply and "Ratio:" not in reply
    client.quit()


# --- QUIT and logout ------------------------------------------------------

def test_quit_with_and_without_a_goodbye_text(site):
    site.add_user("alice")
    site.add_user("op", flags="1")
    site.start()
    raw = site.raw()
    raw.read_reply()
    assert raw.command("QUIT") == ["221 Goodbye."]
    assert raw.closed()
    raw = raw_login(site, "alice")
    assert raw.command("QUIT") == ["221 Goodbye."]
    assert raw.closed()
    # Every connection reads the configuration afresh: the goodbye text of
    # the first rule that matches the user.
    (site.data / "text" / "bye.op").write_text("So long, %[%s]Iu.\n")
    site.append("goodbye_msg /ftp-data/text/bye.op 1")
    site.append("goodbye_msg /ftp-data/text/nothing.here")
    raw = raw_login(site, "op")
    assert raw.command("QUIT") == ["221- So long, op.", "221 "]
    assert raw.closed()
    raw = raw_login(site, "alice")
    assert raw.command("QUIT") == ["221 Goodbye."]


def test_login_and_logout_lines_and_the_saved_online_time(site):
    site.add_user("alice")
    site.start("-l")
    before = int(userfile_words(site, "alice", "TIME")[0])
    raw = raw_login(site, "alice")
    raw.command("QUIT")
    # The LOGOUT line and the save come after the reply, before the close.
    assert raw.closed()
    log = site.log("marlod.log")
    assert 'LOGIN: <UNKNOWN>@127.0.0.1 (127.0.0.1) "alice" "" "No TagLine Set"' in log
    assert 'LOGOUT: *@127.0.0.1 (127.0.0.1) "alice" "" "No TagLine Set"' in log
    logins, last_login, _, time_today = map(int, userfile_words(site, "alice", "TIME"))
    assert logins == before + 1
    assert time_today >= 0
    assert not (site.data / "users" / "alice.lock").exists()


def test_no_logout_line_after_an_idle_time_out(site):
    site.add_user("alice")
    set_userfile_line(site, "alice", "GENERAL", "0,0 1 0 0")
    site.start("-l")
    raw = raw_login(site, "alice")
    # The server ends the session on its own after one idle second.
    assert raw.read_reply()[-1].startswith("421")
    assert raw.closed()
    log = site.log("marlod.log")
    assert "LOGIN:" in log and "TIMEOUT: alice" in log
    assert "LOGOUT:" not in log


def test_a_longer_site_idle_times_out_at_its_own_end(site):
    site.add_user("alice", flags="34")  # exempt: any SITE IDLE
    set_userfile_line(site, "alice", "GENERAL", "0,0 1 0 0")
    site.start()
    raw = raw_login(site, "alice")
    # The alarm set for the one second of the login rings first: the
    # session lives on to the three seconds asked for.
    assert raw.command("SITE IDLE 3")[-1].startswith("200")
    asked_at = time.monotonic()
    assert raw.read_reply()[-1].startswith("421")
    assert 2.5 < time.monotonic() - asked_at < WAIT_SECONDS


def test_idler_flag_switches_the_idle_limit_off(site):
    site.add_user("idler", flags="3I")
    set_userfile_line(site, "idler", "GENERAL", "0,0 1 0 0")
    site.start()
    raw = raw_login(site, "idler")
    # Long enough for a one-second limit to have ended the session.
    time.sleep(2.5)
    assert raw.command("NOOP")[-1].startswith("200")


# --- the online table -----------------------------------------------------

def test_online_entry_of_a_session_and_its_release(site):
    site.add_user("alice")
    site.add_user("bob")
    set_userfile_line(site, "alice", "TAGLINE", "Just testing")
    site.start()
    alice = raw_login(site, "alice")
    bob = raw_login(site, "bob")
    alice.command("NOOP")
    slots = 25  # max_users 20 5 of the site template
    table = online_table(site, slots)
    entry = slot_of(table, "alice")
    assert entry["host"] == "*@127.0.0.1"
    assert entry["currentdir"] == "/"
    assert entry["tagline"] == "Just testing"
    assert entry["status"].startswith("NOOP")
    assert entry["groupid"] == 100
    assert entry["procid"] in site.daemon_pids()
    # The password never shows.
    assert not any("secret" in e["status"] for e in table)

    assert alice.command("QUIT")[-1].startswith("221")
    assert alice.closed()
    wait_until(lambda: not any(e["username"] == "alice" for e in online_table(site, slots)))
    slot_of(online_table(site, slots), "bob")

    bob.command("QUIT")
    bob.closed()
    # The last one out removes the segment.
    wait_until(lambda: online_table(site, slots) is None)


def test_slot_of_a_killed_session_is_reused(site):
    site.set("max_users", "1 0")
    site.add_user("alice")
    site.add_user("bob")
    site.start()
    alice = raw_login(site, "alice")
    victim = slot_of(online_table(site, 1), "alice")["procid"]
    os.kill(victim, signal.SIGKILL)
    assert alice.closed()
    # The launcher reaps its children; only then is the slot a ghost.
    wait_until(lambda: victim not in site.daemon_pids())
    assert slot_of(online_table(site, 1), "alice")["procid"] == victim

    bob = raw_login(site, "bob")
    entry = slot_of(online_table(site, 1), "bob")
    assert entry["procid"] != victim
    assert bob.command("QUIT")[-1].startswith("221")
