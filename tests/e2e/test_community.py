"""Messages, credit transfers, requests, oneliners and the last-online list
end to end: the mailbox bytes and their headers, reading and keeping,
writers racing a reader, GIVE and TAKE on the userfiles and in the sysop
log, transfers racing each other and a download, the bounded files on
disk with their limits, failures and concurrent writers."""

import io
import re
import threading

import pytest

from conftest import SHARE, content, login, raw_login, set_userfile_line, userfile_words

CTIME = r"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4}"
DASHES = "-" * 78


def record_pattern(number):
    """The last line of strings record `number` as a pattern of its reply."""
    record = (SHARE / "strings.txt").read_text().split(f"\n@{number} ", 1)[1].split("\n\n", 1)[0]
    pieces = re.split(r"%[-#0-9.lh]*[sdufc]", record.splitlines()[-1])
    return ".*".join(re.escape(piece.replace("%%", "%")) for piece in pieces)


def said(reply, number, code=200):
    """Whether the final line of `reply` is strings record `number`."""
    return re.fullmatch(f"{code} {record_pattern(number)}", reply[-1]) is not None


def continued(reply, number, code=200):
    return any(re.fullmatch(f"{code}- {record_pattern(number)}", line) for line in reply)


def credits(site, name):
    return int(userfile_words(site, name, "CREDITS")[0])


def mailbox(site, name, kept=False):
    path = site.data / "msgs" / (name + (".purge" if kept else ""))
    return path.read_text() if path.exists() else None


def sysop_messages(site):
    return [line[36:] for line in site.log("sysop.log").splitlines()]


def entries(path):
    lines = path.read_text().split("\n")[:-1]
    return [(lines[i], lines[i + 1]) for i in range(0, len(lines), 2)]


@pytest.fixture
def users(site):
    """alice may give (100 KiB), admin is a siteop; bob, carol, dave and erin
    are plain users with the template's 15360 KiB."""
    site.add_user("alice", flags="3G")
    set_userfile_line(site, "alice", "CREDITS", "100")
    site.add_user("admin", flags="1")
    for name in ("bob", "carol", "dave", "erin"):
        site.add_user(name)
    return site


# --- messages ----------------------------------------------------------------

def header(sender):
    return rf"!HFrom: !C{sender} !H\(!C{CTIME}!H\)!0\n{DASHES}\n"


def test_two_messages_of_one_session_share_a_header(users):
    alice = raw_login(users.start(), "alice")
    assert said(alice.command("SITE MSG bob hello"), 458)
    reply = alice.command("SITE MSG bob again")
    assert said(reply, 457) and "bob" in reply[-1]
    assert re.fullmatch("\n" + header("alice") + r"!Hhello!0\n\n!Hagain!0\n", mailbox(users, "bob"))


@pytest.mark.parametrize("steps", [
    [("alice", "SITE MSG bob hello"), ("carol", "SITE MSG bob x"), ("alice", "SITE MSG bob again")],
    [("alice", "SITE GIVE bob 1"), ("alice", "SITE MSG bob again")],
])
def test_a_new_header_when_the_mailbox_changed_or_the_sender_differs(users, steps):
    users.start()
    sessions = {}
    for name, line in steps:
        if name not in sessions:
            sessions[name] = raw_login(users, name)
        reply = sessions[name].command(line)
        assert reply[-1].startswith("200 ") and not said(reply, 457), reply
    text = mailbox(users, "bob")
    assert len(re.findall("From: ", text)) == len(steps)
    assert re.search(header("alice") + r"!Hagain!0\n$", text)


@pytest.mark.parametrize("line", ["SITE MSG bob/x", "SITE MSG bob/x hi", "SITE MSG a:b hi"])
def test_a_recipient_with_a_slash_or_colon_touches_no_file(users, line):
    alice = raw_login(users.start(), "alice")
    assert said(alice.command(line), 377)
    assert list((users.data / "msgs").iterdir()) == []


def test_read_keeps_the_messages_until_purged_and_quit_purges(users):
    users.start()
    alice = raw_login(users, "alice")
    bob = raw_login(users, "bob")
    assert said(bob.command("SITE MSG READ"), 459)
    alice.command("SITE MSG bob first\x07line")
    assert continued(bob.command("CWD /"), 17, 250)
    reply = bob.command("SITE MSG read")
    assert said(reply, 462) and "200- first line" in reply
    assert mailbox(users, "bob") is None and "first line" in mailbox(users, "bob", kept=True)

    alice.command("SITE MSG bob second")
    unread = mailbox(users, "bob")
    reply = bob.command("SITE MSG READ")
    assert said(reply, 461) and "200- second" in reply
    assert mailbox(users, "bob") == unread
    assert said(bob.command("SITE MSG SAVE"), 464)
    assert said(bob.command("SITE MSG TREAD"), 460)
    assert said(bob.command("SITE MSG PURGE"), 196)
    assert mailbox(users, "bob", kept=True) is None
    assert said(bob.command("SITE MSG SAVE"), 465)
    bob.command("QUIT")
    assert bob.closed()
    assert mailbox(users, "bob", kept=True) is None and mailbox(users, "bob") is None


def test_messages_to_a_list_a_group_and_everybody(users):
    set_userfile_line(users, "carol", "GROUP", "staff")
    set_userfile_line(users, "dave", "PRIVATE", "staff")
    users.start()
    admin = raw_login(users, "admin")
    reply = admin.command("SITE MSG { bob nobody carol } hi all")
    notices = [line for line in reply if line.startswith("200-")]
    assert said(reply, 406) and [re.fullmatch("200- " + record_pattern(number), line) is not None
                                 for number, line in zip((453, 454, 453), notices)] == [True] * 3
    assert [name in line for name, line in zip(("carol", "nobody", "bob"), notices)] == [True] * 3
    assert mailbox(users, "carol").endswith("!Hhi all!0\n")
    assert said(admin.command("SITE MSG { bob hi"), 410, 530)
    assert said(admin.command("SITE MSG { bob }"), 451, 530)

    reply = admin.command("SITE MSG =staff team")
    assert said(reply, 449) and re.search(r"\b2\b", reply[-1])
    assert "team" in mailbox(users, "dave") and "team" not in mailbox(users, "bob")
    bob = raw_login(users, "bob")
    assert said(bob.command("SITE MSG =staff x"), 452)
    assert not said(bob.command("SITE MSG * x"), 449)

    reply = admin.command("SITE MSG * everyone")
    assert said(reply, 449) and re.search(r"\b6\b", reply[-1])
    assert mailbox(users, "erin").endswith("!Heveryone!0\n")
    assert not (users.data / "msgs" / "default.user").exists()


def test_writers_racing_a_reader_lose_and_repeat_nothing(users):
    users.start()
    senders = ["alice", "carol", "dave", "erin"]
    done = threading.Event()
    failures = []

    def write(name):
        try:
            raw = raw_login(users, name)
            for n in range(100):
                reply = raw.command(f"SITE MSG bob {name}-{n}")
                assert reply[-1].startswith("200 "), reply
        except Exception as error:  # reported by the main thread
            failures.append(error)

    writers = [threading.Thread(target=write, args=(name,)) for name in senders]
    for writer in writers:
        writer.start()
    bob = raw_login(users, "bob")
    seen = []

    def read():
        reply = bob.command("SITE MSG READ")
        sender = None
        for line in reply[:-1]:
            text = line[5:]
            if (match := re.match(r"From: (\w+) \(", text)):
                sender = match[1]
            elif (match := re.fullmatch(r"(\w+)-\d+", text)):
                assert match[1] == sender, reply
                seen.append(text)
        assert said(reply, 462) or said(reply, 459), reply
        assert said(bob.command("SITE MSG PURGE"), 196)

    while any(writer.is_alive() for writer in writers):
        read()
    for writer in writers:
        writer.join()
    read()
    assert not failures, failures
    assert sorted(seen) == sorted(f"{name}-{n}" for name in senders for n in range(100))


# --- GIVE and TAKE ------------------------------------------------------------

@pytest.mark.parametrize("line, number", [
    ("SITE GIVE bob 101", 445), ("SITE GIVE bob 08", 443), ("SITE GIVE bob 1a", 443),
    ("SITE GIVE bob 0000000000000001", 444), ("SITE GIVE bob", 442), ("SITE GIVE nobody 5", 311),
    ("SITE GIVE default.user 5", 311), ("SITE GIVE  ", 202),
])
def test_refused_gives_change_nothing(users, line, number):
    alice = raw_login(users.start(), "alice")
    before = {path.name: path.read_bytes() for path in (users.data / "users").iterdir()}
    assert said(alice.command(line), number)
    assert before == {path.name: path.read_bytes() for path in (users.data / "users").iterdir()}
    assert users.log("sysop.log") == "" and list((users.data / "msgs").iterdir()) == []


def test_give_moves_credits_logs_and_tells_the_receiver(users):
    alice = raw_login(users.start(), "alice")
    reply = alice.command("SITE GIVE bob 100 thanks")
    assert said(reply, 447) and "100" in reply[-1] and "bob" in reply[-1]
    assert (credits(users, "alice"), credits(users, "bob")) == (0, 15460)
    assert sysop_messages(users) == ["'alice' (non-siteop) transferred 100K to bob"]
    assert re.fullmatch("\n" + header("Marlod") + r"!Halice gave you 100K of credits saying: thanks \.!0\n",
                        mailbox(users, "bob"))
    set_userfile_line(users, "alice", "CREDITS", "-5")
    assert said(alice.command("SITE GIVE bob 1"), 445)
    set_userfile_line(users, "alice", "CREDITS", "20")
    assert said(alice.command("SITE GIVE bob 010"), 447)
    assert (credits(users, "alice"), credits(users, "bob")) == (12, 15468)
    assert mailbox(users, "bob").endswith("!Halice gave you 8K of credits.!0\n")


def test_a_siteop_gives_without_losing_credits_within_the_range(users):
    admin = raw_login(users.start(), "admin")
    assert said(admin.command("SITE GIVE bob 2147483648"), 444)
    set_userfile_line(users, "carol", "CREDITS", "2147483000")
    assert said(admin.command("SITE GIVE carol 1000"), 446)
    assert credits(users, "carol") == 2147483000
    set_userfile_line(users, "bob", "CREDITS", "0")
    assert said(admin.command("SITE GIVE bob 500"), 447)
    assert (credits(users, "admin"), credits(users, "bob")) == (15360, 500)
    assert sysop_messages(users)[-1] == "'admin' (siteop) transferred 500K to bob"
    assert said(admin.command("SITE GIVE admin 40"), 447)
    assert credits(users, "admin") == 15400


def test_take_drives_credits_below_zero_but_not_past_the_field(users):
    admin = raw_login(users.start(), "admin")
    set_userfile_line(users, "bob", "CREDITS", "20")
    reply = admin.command("SITE TAKE bob 50")
    assert said(reply, 448) and "50" in reply[-1]
    assert credits(users, "bob") == -30
    assert sysop_messages(users) == ["'admin' (sysop) took 50K from bob"]
    assert mailbox(users, "bob").endswith("!Hadmin took 50K of credits away from you.!0\n")
    assert said(admin.command("SITE TAKE bob 00000000001"), 444)
    set_userfile_line(users, "bob", "CREDITS", "-2147483000")
    assert said(admin.command("SITE TAKE bob 1000"), 444)
    assert credits(users, "bob") == -2147483000
    assert said(admin.command("SITE TAKE bob"), 441)


@pytest.fixture
def traders(users):
    """alice and bob may both give and have 100000 KiB; /site/two.bin costs
    1953 KiB to download."""
    for name in ("alice", "bob"):
        set_userfile_line(users, name, "FLAGS", "3G")
        set_userfile_line(users, name, "CREDITS", "100000")
    (users.root / "site").mkdir()
    (users.root / "site" / "two.bin").write_bytes(content(2_000_000))
    return users.start()


def download(site, name):
    """Bytes of /site/two.bin downloaded in a session of its own."""
    client = login(site, name)
    chunks = []
    client.retrbinary("RETR /site/two.bin", chunks.append)
    client.quit()
    return len(b"".join(chunks))


def test_crossing_gives_and_a_download_lose_no_update(traders):
    failures = []

    def give(name, to):
        raw = raw_login(traders, name)
        for _ in range(200):
            reply = raw.command(f"SITE GIVE {to} 1")
            if not said(reply, 447):
                failures.append(reply)
        raw.command("QUIT")

    threads = [threading.Thread(target=give, args=pair) for pair in (("alice", "bob"), ("bob", "alice"))]
    for thread in threads:
        thread.start()
    assert download(traders, "alice") == 2_000_000
    for thread in threads:
        thread.join()
    assert not failures, failures[:3]
    assert credits(traders, "alice") + credits(traders, "bob") == 200000 - 2_000_000 // 1024
    assert "Forcing unlock" not in traders.log("error.log")


def test_a_gift_survives_the_receivers_download_and_logout(traders):
    bob = raw_login(traders, "bob")
    assert said(raw_login(traders, "alice").command("SITE GIVE bob 100"), 447)
    assert download(traders, "bob") == 2_000_000
    bob.command("QUIT")
    assert bob.closed()
    assert credits(traders, "bob") == 100000 + 100 - 2_000_000 // 1024


# --- requests and oneliners ---------------------------------------------------

def test_requests_roll_over_and_are_filled(users):
    users.set("requests", "/ftp-data/logs/requests 3")
    users.start("-l")
    alice = raw_login(users, "alice")
    for text in ["one", 'say "two"', "three", "four"]:
        assert said(alice.command("SITE REQUEST " + text), 159)
    path = users.data / "logs" / "requests"
    assert path.stat().st_size == 375
    assert [text.rstrip() for _, text in entries(path)] == ['say "two"', "three", "four"]
    assert all(re.fullmatch(r"\d+ {14}alice {19}", head) for head, _ in entries(path))
    assert 'REQUEST: "say \'two\'" "alice"' in users.log("marlod.log")

    carol = raw_login(users, "carol")
    before = path.read_bytes()
    assert said(carol.command("SITE REQFILLED 9"), 157)
    assert path.read_bytes() == before
    reply = carol.command("SITE REQFILLED 2")
    assert said(reply, 156) and "three" in reply[-1]
    assert [text.rstrip() for _, text in entries(path)] == ['say "two"', "four"]
    assert re.fullmatch("\n" + header("Marlod") + r"!HYour request was filled by carol: !0\n\n!Hthree!0\n\n"
                        r"!HPlease download it asap\.!0\n", mailbox(users, "alice"))
    assert "carol filled: three, requested by alice" in users.log("request.log")
    assert 'REQFILLED: "three" "carol" "" "No TagLine Set" "alice"' in users.log("marlod.log")
    # Filling one's own request is logged just the same, with no message.
    assert said(alice.command("SITE REQFILLED 2"), 156)
    assert "alice filled: four, requested by alice" in users.log("request.log")
    assert mailbox(users, "alice").count("From:") == 1

    listing = carol.command("SITE REQUEST")
    assert continued(listing, 152) and any("say \"two\"" in line for line in listing)


def test_filling_keeps_every_other_entry_of_a_long_list(users):
    users.set("requests", "/ftp-data/logs/requests 100")
    path = users.data / "logs" / "requests"
    path.write_text("".join(f"{1700000000 + n:<24}{'alice':<24}\n{'wish %d' % n:<75}\n" for n in range(60)))
    carol = raw_login(users.start(), "carol")
    assert said(carol.command("SITE REQFILLED 1"), 156)
    assert [text.rstrip() for _, text in entries(path)] == ["wish %d" % n for n in range(1, 60)]


def test_a_bulletin_file_that_cannot_be_written_is_refused_without_log_lines(users):
    users.set("requests", "/ftp-data/no/such/dir/requests 3")
    users.set("oneliners", "/ftp-data/no/such/dir/oneliners 3")
    alice = raw_login(users.start("-l"), "alice")
    assert said(alice.command("SITE REQUEST something"), 158)
    assert said(alice.command("SITE ONEL something"), 574)
    assert users.log("request.log") == "" and "REQUEST:" not in users.log("marlod.log")


def test_a_maximum_below_one_is_no_bulletin_file(users):
    users.set("requests", "/ftp-data/logs/requests 0")
    users.set("oneliners", "/ftp-data/logs/oneliners -1")
    alice = raw_login(users.start(), "alice")
    assert said(alice.command("SITE REQUEST something"), 149)
    assert said(alice.command("SITE ONEL something"), 573)
    assert not (users.data / "logs" / "requests").exists()


def test_a_long_oneliner_is_cut_and_control_characters_become_blanks(users):
    alice = raw_login(users.start(), "alice")
    assert said(alice.command("SITE ONEL " + "x" * 60), 576)
    assert said(alice.command("SITE ONEL short\x07one"), 577)
    assert said(alice.command("SITE REQUEST bell\x07here"), 159)
    texts = [text for _, text in entries(users.data / "logs" / "oneliners")]
    assert texts == ["x" * 57, "short one".ljust(57)]
    assert entries(users.data / "logs" / "requests")[0][1].rstrip() == "bell here"
    listing = alice.command("SITE ONEL")
    assert said(listing, 7) and sum(1 for line in listing if re.match(r"200- \d{4} alice +short one$", line)) == 1


# --- last online and SEEN -----------------------------------------------------

def last_online(site):
    return entries(site.data / "logs" / "laston.log")


def session_ended(raw):
    raw.command("QUIT")
    assert raw.closed()


@pytest.mark.parametrize("size, amount", [(1_536_000, "---2M"), (3_072, "---3K")])
def test_the_last_online_entry_shows_what_was_uploaded(users, size, amount):
    (users.root / "site").mkdir()
    (users.root / "site").chmod(0o777)
    # Only sessions that did something are recorded.
    users.set("lastonline", "/ftp-data/logs/laston.log 30 1")
    session_ended(raw_login(users.start(), "bob"))
    assert not (users.data / "logs" / "laston.log").exists()
    client = login(users, "bob")
    client.storbinary("STOR /site/up.bin", io.BytesIO(content(size)))
    client.putcmd("QUIT")
    client.getresp()
    assert client.file.read() == ""  # the session has ended
    first, second = last_online(users)[-1]
    assert second == amount + ":----- U-----"
    assert re.fullmatch(r"bob {19}No TagLine Set {8}\d\d:\d\d \d\d:\d\d", first)


def test_an_idle_time_out_is_marked(users):
    set_userfile_line(users, "bob", "GENERAL", "0,0 1 0 0")
    users.start()
    bob = raw_login(users, "bob")
    assert bob.read_reply()[-1].startswith("421") and bob.closed()
    assert last_online(users)[-1][1] == "-----:----- ---T--"


def test_adding_a_user_is_marked(users):
    admin = raw_login(users.start(), "admin")
    assert admin.command("SITE ADDUSER newbie secret")[-1].startswith("200 ")
    session_ended(admin)
    assert last_online(users)[-1][1] == "-----:----- ----A-"


def test_many_logouts_at_once_are_all_kept_within_the_maximum(users):
    set_userfile_line(users, "carol", "LOGINS", "40 0 -1 -1")
    users.set("max_users", "40 5")
    users.start()
    sessions = [raw_login(users, "carol") for _ in range(20)]
    for raw in sessions:
        raw.send("QUIT\r\n")
    for raw in sessions:
        raw.read_reply()
        assert raw.closed()
    assert len(last_online(users)) == 20
    for _ in range(11):
        session_ended(raw_login(users, "carol"))
    text = (users.data / "logs" / "laston.log").read_text()
    assert len(last_online(users)) == 30
    assert all(len(first) + 1 == 56 for first, _ in last_online(users))
    assert len(text.splitlines()) == 60

    listing = raw_login(users, "bob").command("SITE LASTON")
    assert said(listing, 7) and sum(1 for line in listing if line.startswith("200- carol ")) == 30


def test_seen_shows_the_last_login(users):
    bob = raw_login(users.start(), "bob")
    assert said(bob.command("SITE SEEN"), 202)
    assert said(bob.command("SITE SEEN nobody"), 311)
    set_userfile_line(users, "alice", "TIME", "3 86400 0 0")
    reply = bob.command("SITE SEEN alice")
    assert said(reply, 466) and re.search(r"alice .*1970", reply[-1])
    assert said(bob.command("SITE SEEN bob"), 466)
