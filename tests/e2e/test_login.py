"""Login end to end: the password forms, failure counting and the admission
checks in their order, through ftplib, curl and lftp against a site made by
marlod-site."""

import ftplib
import subprocess
import time

import pytest

from conftest import (WAIT_SECONDS, attempt_login, lftp, login, raw_login, run_client,
                      set_passwd_field, set_userfile_line, userfile_words)


def md5_crypt(password, salt="Mr1Salt8"):
    result = subprocess.run(["openssl", "passwd", "-1", "-salt", salt, password],
                            capture_output=True, text=True, check=True)
    return result.stdout.strip()


def add_user_with_password_field(site, name, field):
    site.add_user(name, "unused")
    set_passwd_field(site, name, 1, field)


# --- the password forms ---------------------------------------------------

def test_des_md5_email_and_star_accounts_log_in_and_refuse_wrong_passwords(site):
    site.add_user("desuser", "despass")
    add_user_with_password_field(site, "md5user", md5_crypt("md5-secret"))
    add_user_with_password_field(site, "mailuser", "@")
    add_user_with_password_field(site, "anyuser", "*")
    assert (site.root / "etc" / "passwd").read_text().split("desuser:")[1][:1] != "$"
    site.start("-l")

    for name, password in [("desuser", "despass"), ("md5user", "md5-secret"),
                           ("mailuser", "me@example.org"), ("anyuser", "whatever")]:
        client = site.ftp()
        assert client.login(name, password).startswith("230")
        client.quit()
    for name, wrong in [("desuser", "despas"), ("md5user", "md5-secreT"), ("md5user", "")]:
        client = site.ftp()
        with pytest.raises(ftplib.error_perm, match="^530"):
            client.login(name, wrong)
        client.close()

    login_log = site.log("login.log")
    # The password is logged only for the two password-less forms.
    assert "User 'mailuser' logged in with password 'me@example.org'" in login_log
    assert "User 'anyuser' logged in with password 'whatever'" in login_log
    assert "despass" not in login_log and "md5-secret" not in login_log
    assert "desuser: *@127.0.0.1 (127.0.0.1): Login failure." in login_log


@pytest.mark.parametrize("password", ["@example.org", "me@", "me@@example.org", "a@b@c", "plain"])
def test_email_account_refuses_what_is_no_address(site, password):
    add_user_with_password_field(site, "mailuser", "@")
    site.start()
    raw, reply = attempt_login(site, "mailuser", password)
    assert reply[-1] == "530 Give your e-mail address as password."
    # A refused password costs the accepted USER: PASS alone is out of order.
    assert raw.command("PASS me@example.org")[-1].startswith("503")


def test_unknown_user_and_pass_out_of_order(site):
    site.add_user("alice")
    site.start()
    raw = site.raw()
    raw.read_reply()
    assert raw.command("PASS secret")[-1] == "503 Send USER first."
    assert raw.command("USER nobody")[-1] == "530 User nobody is not known here."
    assert raw.command("PASS secret")[-1].startswith("503")
    assert raw.command("USER alice")[-1] == "331 Password required for alice."
    assert raw.command("PASS secret")[-1].startswith("230")
    assert raw.command("USER alice")[-1] == "530 You are already logged in."
    assert raw.command("PASS secret")[-1].startswith("503")


@pytest.mark.parametrize("last_password", ["wrong", "secret"])
def test_fourth_failure_ends_the_session_and_a_success_resets_the_count(site, last_password):
    site.add_user("alice")
    site.start()
    raw = site.raw()
    raw.read_reply()
    for _ in range(3):
        assert raw.command("USER alice")[-1].startswith("331")
        assert raw.command("PASS wrong")[-1] == "530 Login incorrect."
        assert raw.command("NOOP")[-1].startswith("200")
    assert "Repeated login failures" not in site.log("login.log")

    assert raw.command("USER alice")[-1].startswith("331")
    if last_password == "secret":
        assert raw.command("PASS secret")[-1].startswith("230")
        assert raw.command("NOOP")[-1].startswith("200")
        return
    assert raw.command("PASS wrong")[-1] == "530 Login incorrect."
    assert raw.closed()
    assert "alice: *@127.0.0.1 (127.0.0.1): Repeated login failures." in site.log("login.log")


def test_dash_prefix_suppresses_continuation_lines(site):
    site.add_user("alice")
    site.start()
    assert len(attempt_login(site, "alice")[1]) > 1
    quiet, reply = attempt_login(site, "alice", "-secret")
    assert reply == ["230 User logged in, proceed."]
    # For the rest of the session too.
    assert quiet.command("STAT") == ["211 End of status."]


# --- admission ------------------------------------------------------------

def test_deleted_user_sees_the_bye_file_and_is_disconnected(site):
    site.add_user("gone", flags="36")
    (site.data / "byefiles" / "gone.bye").write_text("Your account was closed.\nBye now.\n")
    site.start("-l")
    raw, reply = attempt_login(site, "gone")
    assert reply == ["530- Your account was closed.", "530- Bye now.",
                     "530 This account has been deleted."]
    assert raw.closed()
    assert "'gone' tried to login but has been deleted." in site.log("error.log")
    assert "gone: *@127.0.0.1 (127.0.0.1): Deleted." in site.log("login.log")
    assert "LOGIN:" not in site.log("marlod.log")


def test_user_outside_allowed_hours_is_refused(site):
    site.add_user("early")
    site.add_user("anytime")
    hour = time.localtime().tm_hour
    start, end = (hour + 2) % 24, (hour + 3) % 24
    set_userfile_line(site, "early", "TIMEFRAME", f"{start} {end}")
    # A window that holds the current hour, passing midnight when it must.
    set_userfile_line(site, "anytime", "TIMEFRAME", f"{(hour + 23) % 24} {(hour + 2) % 24}")
    site.start()
    raw, reply = attempt_login(site, "early")
    assert reply == [f"530 You may log in between {start}:00 and {end}:00 only."]
    assert raw.closed()
    login(site, "anytime").quit()


def test_full_site_refuses_with_sitefull_but_admits_exempt_users(site):
    site.set("max_users", "1 2")
    site.add_user("alice")
    site.add_user("bob")
    site.add_user("boss", flags="34")
    site.start()
    first = login(site, "alice")
    raw, reply = attempt_login(site, "bob")
    assert reply[-1] == "530 "
    assert any("is full" in line for line in reply[:-1])
    assert all(line.startswith("530-") for line in reply[:-1])
    assert raw.closed()
    exempt = login(site, "boss")
    assert exempt.voidcmd("NOOP").startswith("200")
    exempt.quit()
    first.quit()


def test_max_logins_refuses_but_keeps_the_connection(site):
    site.add_user("alice")
    site.add_user("bob")
    set_userfile_line(site, "alice", "LOGINS", "1 0 -1 -1")
    site.start()
    first = login(site, "alice")
    raw, reply = attempt_login(site, "alice")
    assert reply == ["530 You are logged in too many times already."]
    assert raw.command("NOOP")[-1].startswith("200")
    # Still anybody, and free to log in as someone else.
    raw.command("USER bob")
    assert raw.command("PASS secret")[-1].startswith("230")
    assert raw.command("STAT")[-2].find("Logged in as bob") >= 0
    assert not (site.data / "users" / "alice.lock").exists()
    first.quit()


def test_a_refused_email_login_does_not_log_the_next_password(site):
    add_user_with_password_field(site, "mailuser", "@")
    set_userfile_line(site, "mailuser", "LOGINS", "1 0 -1 -1")
    site.add_user("desuser", "despass")
    site.start()
    first = login(site, "mailuser", "me@example.org")
    raw, reply = attempt_login(site, "mailuser", "me@example.org")
    assert reply[-1].startswith("530")
    raw.command("USER desuser")
    assert raw.command("PASS despass")[-1].startswith("230")
    assert "despass" not in site.log("login.log")
    first.quit()


def test_max_logins_per_host(site):
    site.add_user("alice")
    set_userfile_line(site, "alice", "LOGINS", "5 1 -1 -1")
    site.start()
    first = login(site, "alice")
    raw, reply = attempt_login(site, "alice")
    assert reply == ["530 Too many logins from your host."]
    assert raw.closed()
    first.quit()


@pytest.mark.parametrize("deleted_since", [False, True])
def test_bang_prefix_kills_the_ghost_session(site, deleted_since):
    site.add_user("alice")
    set_userfile_line(site, "alice", "LOGINS", "1 0 -1 -1")
    site.start()
    ghost = raw_login(site, "alice")
    # Only a session idle since an earlier second counts as a ghost.
    time.sleep(1.2)
    if deleted_since:
        # The ghost is killed before the later admission steps run; when one
        # of them refuses, the notice must carry the refusal's code, or the
        # client reads an unfinished 230 reply and waits forever.
        set_userfile_line(site, "alice", "FLAGS", "36")
    raw = site.raw()
    raw.read_reply()
    assert raw.command("USER !alice")[-1] == "331 Password required for alice."
    reply = raw.command("PASS secret")
    assert ghost.closed()
    if deleted_since:
        assert reply[-1].startswith("530 "), reply
        assert all(line.startswith("530") for line in reply), reply
        assert raw.closed()
    else:
        assert reply[-1].startswith("230")
        assert raw.command("NOOP")[-1].startswith("200")
        assert "'alice' killed a ghost with PID" in site.log("login.log")


def test_shutdown_admits_only_the_rule_users(site):
    site.add_user("alice")
    site.add_user("root1", flags="1")
    site.set("shutdown", "1")
    site.start()
    raw, reply = attempt_login(site, "alice")
    assert reply[-1] == "530 "
    assert len(reply) > 1
    assert raw.closed()
    login(site, "root1").quit()


def test_ident_host_masks_of_the_user(site):
    site.allow_connections()
    site.add_user("alice", ip="*@10.9.9.9")
    site.start()
    raw, reply = attempt_login(site, "alice")
    assert reply == ["530 *@127.0.0.1 may not log in to this account."]
    assert raw.closed()
    assert "alice: *@127.0.0.1 (127.0.0.1): Bad user@host." in site.log("login.log")


def test_login_count_and_last_login_are_saved(site):
    site.add_user("alice")
    before = int(userfile_words(site, "alice", "TIME")[0])
    site.start()
    started = int(time.time())
    login(site, "alice").quit()
    login(site, "alice").quit()
    logins, last_login = map(int, userfile_words(site, "alice", "TIME")[:2])
    assert logins == before + 2
    assert started - 5 <= last_login <= int(time.time()) + 5


def test_welcome_text_of_the_first_matching_rule_and_its_colours(site):
    site.add_user("alice")
    site.add_user("op", flags="1")
    site.add_user("painter", flags="35")
    (site.data / "text" / "staff.msg").write_text("Hello staff member %[%s]Iu\n")
    (site.data / "text" / "all.msg").write_text("Hello %[%s]Iu !CHi!0 and !!\n")
    site.append("welcome_msg /ftp-data/text/staff.msg 1")
    site.append("welcome_msg /ftp-data/text/all.msg *")
    site.start()
    reply = attempt_login(site, "op")[1]
    assert reply[0] == "230- Hello staff member op"
    assert reply[-1] == "230 User logged in, proceed."
    reply = attempt_login(site, "alice")[1]
    # Colour codes are removed for users without flag 5.
    assert reply[0] == "230- Hello alice Hi and !"
    assert not any("staff" in line for line in reply)
    first = attempt_login(site, "painter")[1][0]
    assert "\x1b[1;32mHi\x1b[0m and !" in first
    assert "!C" not in first


# --- other clients --------------------------------------------------------

def test_curl_logs_in_and_is_refused_a_wrong_password(site):
    site.add_user("alice")
    site.start("-l")
    for password, status in (("secret", 0), ("wrong", 67)):  # 67: CURLE_LOGIN_DENIED
        result = run_client("curl", "-sS", "-I", "--max-time", str(WAIT_SECONDS),
                            f"ftp://alice:{password}@{site.host}:{site.port}/")
        assert result.returncode == status
    assert 'LOGIN: <UNKNOWN>@127.0.0.1 (127.0.0.1) "alice"' in site.log("marlod.log")


def test_lftp_logs_in_and_reads_the_status(site):
    site.add_user("alice")
    site.start()
    result = lftp(site, "alice", "secret", "quote STAT")
    assert result.returncode == 0, result.stderr
    assert "Logged in as alice" in result.stdout
    refused = lftp(site, "alice", "wrong", "quote NOOP")
    assert refused.returncode != 0
    assert "530" in refused.stderr
