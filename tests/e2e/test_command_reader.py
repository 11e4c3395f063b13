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

def test_telnet_option_requests_are_refused(control):
    control.send(bytes([IAC, WILL, 1]))
    assert control.read_bytes(3) == bytes([IAC, DONT, 1])
    control.send(bytes([IAC, DO, 3]))
    assert control.read_bytes(3) == bytes([IAC, WONT, 3])
    control.send(bytes([IAC, WONT, 5]))
    assert control.read_bytes(3) == bytes([IAC, DONT, 5])
    control.send(bytes([IAC, DONT, 6]))
    assert control.read_bytes(3) == bytes([IAC, WONT, 6])
    assert final_code(control.command("NOOP")) == "200"


def test_telnet_sequences_inside_a_command_are_dropped(control):
    control.send(b"NO" + bytes([IAC, WILL, 1]) + b"OP\r\n")
    assert control.read_bytes(3) == bytes([IAC, DONT, 1])
    assert final_code(control.read_reply()) == "200"
    # IAC followed by anything but an option verb vanishes with it.
    control.send(b"NO" + bytes([IAC, 241]) + b"OP\r\n")
    assert final_code(control.read_reply()) == "200"


def test_doubled_iac_is_one_data_byte(control):
    control.send(b"NO" + bytes([IAC, IAC]) + b"OP\r\n")
    lines = control.read_reply()
    assert final_code(lines) == "500"


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


def test_bare_lf_ends_a_command(control):
    control.send(b"NOOP\n")
    assert final_code(control.read_reply()) == "200"


# --- unknown, unimplemented, syntax

def test_unknown_command_is_reported_once(control):
    control.send(b"FOOBAR with arguments\r\nNOOP\r\n")
    first = control.read_reply()
    assert codes(first) == ["500 "]
    assert final_code(control.read_reply()) == "200"


def test_cpsv_is_refused_as_unsupported(control):
    lines = control.command("CPSV")
    assert lines == ["504 CPSV is not a supported command"]
    assert final_code(control.command("NOOP")) == "200"


@pytest.mark.parametrize("line", ["ACCT something", "REIN", "SMNT /x", "MAIL", "MRCP joe"])
def test_unimplemented_commands_answer_502(control, line):
    lines = control.command(line)
    assert codes(lines) == ["502 "]
    assert final_code(control.command("NOOP")) == "200"


def test_syntax_error_is_reported_once(control):
    control.send(b"TYPE Q\r\nNOOP\r\n")
    assert codes(control.read_reply()) == ["500 "]
    assert final_code(control.read_reply()) == "200"


def test_lower_case_commands(control):
    assert final_code(control.command("noop")) == "200"
    assert final_code(control.command("type a")) == "200"
    assert final_code(control.command("Syst")) == "215"


def test_pass_alone_is_a_syntax_error_but_pass_blank_is_an_empty_password(control):
    assert codes(control.command("PASS")) == ["500 "]
    # "PASS " carries an empty password: no syntax error.
    assert codes(control.command("PASS "))[0] != "500 "


# --- the grammar-level commands

@pytest.mark.parametrize("line,code", [
    ("TYPE I", "200"), ("TYPE A", "200"), ("TYPE A N", "200"), ("TYPE E", "504"), ("TYPE A T", "504"),
    ("TYPE L 8", "200"), ("TYPE L8", "200"), ("TYPE L 7", "504"),
    ("STRU F", "200"), ("STRU R", "504"), ("MODE S", "200"),
    ("ALLO 100", "202"), ("ALLO 100 R 10", "202"),
    ("REST 100", "350"), ("SYST", "215"), ("NOOP", "200"), ("ABOR", "225"),
])
def test_small_commands(control, line, code):
    assert final_code(control.command(line)) == code


def test_rest_reply_names_the_offset(control):
    assert "12345" in control.command("REST 12345")[-1]


def test_ftplib_client_sees_the_same(open_site):
    ftp = open_site.ftp()
    assert ftp.getwelcome().startswith("220 ")
    assert ftp.sendcmd("SYST").startswith("215 ")
    assert ftp.voidcmd("TYPE I").startswith("200")
    assert ftp.quit().startswith("221")


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


# --- pre-command scripts

def write_script(site, name, body):
    path = site.root / "bin" / name
    path.write_text("#!/bin/sh\n" + body)
    os.chmod(path, 0o755)
    return f"/bin/{name}"


def test_refusing_pre_script_answers_with_its_own_line(site):
    script = write_script(site, "refuse.sh", "echo '553 Not before login.'\nexit 1\n")
    site.append(f"cscript NOOP pre {script}")
    site.allow_connections()
    site.start()
    raw = site.raw()
    raw.read_reply()
    # The reply keeps the script's own blank after the code.
    assert raw.command("NOOP") == ["553  Not before login."]
    # Other commands are not affected.
    assert final_code(raw.command("SYST")) == "215"


def test_passing_pre_script_adds_continuation_lines(site):
    script = write_script(site, "allow.sh",
                          "echo \"200 checked: $1\"\necho '200 all fine'\nexit 0\n")
    site.append(f"cscript SYST pre {script}")
    site.allow_connections()
    site.start()
    raw = site.raw()
    raw.read_reply()
    lines = raw.command("SYST")
    assert lines[0].startswith("200-") and "checked: SYST" in lines[0]
    assert lines[1].startswith("200-") and "all fine" in lines[1]
    assert final_code(lines) == "215"


def test_refusing_script_without_output_gives_the_generic_refusal(site):
    script = write_script(site, "silent.sh", "exit 3\n")
    site.append(f"cscript NOOP pre {script}")
    site.allow_connections()
    site.start()
    raw = site.raw()
    raw.read_reply()
    assert codes(raw.command("NOOP")) == ["500 "]
    assert final_code(raw.command("NOOP")) == "500"


def test_script_that_cannot_start_is_ignored(site):
    site.append("cscript NOOP pre /bin/no-such-script")
    site.allow_connections()
    site.start()
    raw = site.raw()
    raw.read_reply()
    assert final_code(raw.command("NOOP")) == "200"
