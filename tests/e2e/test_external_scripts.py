"""External programs, run after the change of root by the site's busybox:
what they see of the user, hooks in front of real clients, and a hook that
is still running when the session times out."""

import time

from conftest import WAIT_SECONDS, install_script, live_processes, set_userfile_line


def test_exec_in_the_welcome_text_sees_the_user_environment(site):
    site.add_user("alice")
    set_userfile_line(site, "alice", "TAGLINE", "t" * 70)
    (site.data / "text" / "env.msg").write_text("%EXEC /bin/busybox env\n")
    site.append("welcome_msg /ftp-data/text/env.msg *")
    site.start()
    client = site.ftp()
    reply = client.login("alice", "secret")
    client.quit()
    shown = [line[5:] for line in reply.splitlines() if line.startswith("230- ")]
    environment = dict(line.split("=", 1) for line in shown if "=" in line)
    assert environment["USER"] == "alice"
    assert environment["HOST"].endswith("@127.0.0.1")
    assert "SECTION" in environment
    assert environment["SPEED"] == "0"
    # Every entry is cut to 59 characters.
    assert environment["TAGLINE"] == "t" * (59 - len("TAGLINE="))


def test_ftplib_gets_the_reply_behind_a_passing_pre_hook(site):
    script = install_script(site, "check.sh", "echo \"200 checked: $1\"\nexit 0\n")
    site.append(f"cscript SYST pre {script}")
    site.allow_connections()
    site.start()
    client = site.ftp()
    # The hook's line comes with the reply's own code; a different code
    # would leave ftplib waiting for the end of a reply that never comes.
    reply = client.sendcmd("SYST")
    assert reply.splitlines()[0] == "215-  checked: SYST"
    assert reply.splitlines()[-1].startswith("215 ")
    assert client.voidcmd("NOOP").startswith("200")
    client.quit()


def session_processes(site):
    """Processes of the launcher's session other than the daemons."""
    launcher = site.launcher.pid
    return live_processes(lambda pid, fields: int(fields[3]) == launcher and
                          pid != launcher and int(fields[1]) != launcher)


def test_idle_time_out_during_a_hook_stops_it(site):
    site.add_user("alice")
    # (The site has no sleep of its own: busybox is asked by name.)
    script = install_script(site, "slow.sh", "/bin/busybox sleep 1000\n")
    site.append(f"cscript NOOP pre {script}")
    site.start()
    raw = site.raw()
    raw.read_reply()
    raw.command("USER alice")
    assert raw.command("PASS secret")[-1].startswith("230")
    assert raw.command("SITE IDLE 3")[-1].startswith("200")
    raw.send(b"NOOP\r\n")
    deadline = time.monotonic() + WAIT_SECONDS
    while not session_processes(site) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert session_processes(site), "the hook did not start"
    reply = raw.read_reply()
    assert reply[-1].startswith("421"), reply
    assert raw.closed()
    raw.close()
    deadline = time.monotonic() + WAIT_SECONDS
    while (session_processes(site) or site.daemon_pids()) and time.monotonic() < deadline:
        time.sleep(0.05)
    assert session_processes(site) == []
    assert site.daemon_pids() == []
