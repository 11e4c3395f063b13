"""The command reader and the grammar-level commands, driven through the
real daemon before login: telnet bytes, long lines, unknown and
unimplemented commands, the small commands and the pre-command scripts."""

import os

import pytest

IAC, DONT, DO, WONT, WILL = 255, 254, 253, 252, 251


@pytest.fixture
def control(open_site):
    raw = open_site.raw()
    assert raw.read_reply()[-1].startswith("220 ")
    yield raw
    raw.close()


def codes(lines):
    return [line[:4] for line in lines]


def final_code(lines):
    return lines[-1][:3]


# --- telnet and line handling

def test_telnet_negotiation(control):
    # Every option request is refused at once.
    for verb, answer, option in ((WILL, DONT, 1), (DO, WONT, 3), (WONT, DONT, 5), (DONT, WONT, 6)):
        control.send(bytes([IAC, verb, option]))
        assert control.read_bytes(3) == bytes([IAC, answer, option])
    # Inside a command the sequence is answered and dropped.
    control.send(b"NO" + bytes([IAC, WILL, 1]) + b"OP\r\n")
    assert control.read_bytes(3) == bytes([IAC, DONT, 1])
    assert final_code(control.read_reply()) == "200"
    # IAC followed by anything but an option verb vanishes with it.
    control.send(b"NO" + bytes([IAC, 241]) + b"OP\r\n")
    assert final_code(control.read_reply()) == "200"
    # A doubled IAC is one data byte.
    control.send(b"NO" + bytes([IAC, IAC]) + b"OP\r\n")
    assert final_code(control.read_reply()) == "500"


def test_overlong_line_is_read_as_two_commands(control):
    # 2000 bytes: the first 1023 are one command, the rest the next; both
    # are unknown words, so each gets its own report.
    control.send(b"X" * 1994 + b"NOOP\r\n")
    assert codes(control.read_reply()) == ["500 "]
    assert codes(control.read_reply()) == ["500 "]
    assert final_code(control.command("NOOP")) == "200"
    # A command that starts right at the split point runs on its own.
    control.send(b"X" * 1023 + b"NOOP\r\n")
    assert codes(control.read_reply()) == ["500 "]
    assert final_code(control.read_reply()) == "200"
    # A bare LF ends a command too.
    control.send(b"NOOP\n")
    assert final_code(control.read_reply()) == "200"


# --- unknown, unimplemented, syntax

@pytest.mark.parametrize("line", [b"FOOBAR with arguments", b"TYPE Q"])
def test_unknown_words_and_syntax_errors_are_reported_once(control, line):
    control.send(line + b"\r\nNOOP\r\n")
    assert codes(control.read_reply()) == ["500 "]
    assert final_code(control.read_reply()) == "200"


@pytest.mark.parametrize("line", ["ACCT something", "REIN", "SMNT /x", "MAIL", "MRCP joe"])
def test_unimplemented_commands_answer_502(control, line):
    lines = control.command(line)
    assert codes(lines) == ["502 "]
    assert final_code(control.command("NOOP")) == "200"


def test_pass_alone_is_a_syntax_error_but_pass_blank_is_an_empty_password(control):
    assert codes(control.command("PASS")) == ["500 "]
    assert codes(control.command("PASS "))[0] != "500 "


# --- the grammar-level commands

# (The exact replies of TYPE, STRU, MODE, ALLO, REST and the other small
# commands: grammar_test.)

@pytest.mark.parametrize("line", [
    "CWD /", "CDUP", "PWD", "LIST", "NLST", "RETR x", "STOR x", "DELE x", "MKD x",
    "RMD x", "SIZE x", "MDTM x", "STAT", "HELP", "SITE WHO", "PASV", "PORT 127,0,0,1,4,1",
    "RNFR x", "STOU x",
])
def test_login_only_commands_before_login(control, line):
    assert codes(control.command(line)) == ["530 "]


def test_quit_says_goodbye_and_closes(control):
    assert final_code(control.command("QUIT")) == "221"
    assert control.closed()


# --- pre-command scripts (run after the change of root, by the site's busybox)

# (A silent refusal and a script that cannot start: get_line_test.)

def scripted(site, command, body):
    """A started site whose `command` runs the shell script `body` first."""
    (site.root / "bin" / "check.sh").write_text("#!/bin/sh\n" + body)
    os.chmod(site.root / "bin" / "check.sh", 0o755)
    site.append(f"cscript {command} pre /bin/check.sh")
    site.allow_connections()
    site.start()
    raw = site.raw()
    raw.read_reply()
    return raw


def test_refusing_pre_script_answers_with_its_own_line(site):
    raw = scripted(site, "NOOP", "echo '553 Not before login.'\nexit 1\n")
    # The reply keeps the script's own blank after the code.
    assert raw.command("NOOP") == ["553  Not before login."]
    assert final_code(raw.command("SYST")) == "215"


def test_passing_pre_script_adds_continuation_lines(site):
    raw = scripted(site, "SYST", "echo \"200 checked: $1\"\necho '200 all fine'\nexit 0\n")
    lines = raw.command("SYST")
    # They take the code of the command's own reply.
    assert lines[0].startswith("215-") and "checked: SYST" in lines[0]
    assert lines[1].startswith("215-") and "all fine" in lines[1]
    assert final_code(lines) == "215"
