"""HELP and HELP SITE once logged in: the column listing, the custom
commands the user may run, the contact line and single-command help."""

from conftest import raw_login


def test_help_lists_the_base_commands_in_columns_and_helps_with_one(site):
    site.add_user("alice")
    site.start()
    raw = raw_login(site, "alice")
    reply = raw.command("HELP")
    assert reply[0].startswith("214-") and "commands are recognized" in reply[0]
    # The rows themselves are plain lines inside the 214 reply.
    rows = [line for line in reply[1:] if line.startswith("   ")]
    names = " ".join(rows).split()
    assert {"USER", "PASS", "RETR", "LIST", "SITE", "MDTM"} <= set(names)
    assert "ACCT*" in names, "unimplemented commands carry a star"
    assert reply[-1] == "214 Questions? Write to siteop@localhost."

    assert raw.command("HELP retr") == ["214 Syntax: RETR <sp> file-name"]
    assert raw.command("HELP SITE who")[-1].startswith("214 Syntax: SITE WHO")
    assert raw.command("HELP BOGUS") == ["502 Unknown command BOGUS."]


def test_help_site_shows_the_custom_commands_the_user_may_run(site):
    site.add_user("alice")
    site.append("site_cmd RULES TEXT /ftp-data/text/rules")
    site.append("site_cmd SECRET TEXT /ftp-data/text/secret")
    site.append("custom-rules *")
    site.append("custom-secret 1")
    site.start()
    reply = raw_login(site, "alice").command("HELP SITE")
    assert "SITE commands are recognized" in reply[0]
    assert "214-   rules" in reply
    assert "214-   secret" not in reply, "custom-secret admits siteops only"
    assert reply[-1].startswith("214 ")
