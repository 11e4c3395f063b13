"""Text files as a client sees them: the shipped "sitefull" screen with its
cookies filled in, and a banner using cookies, colour codes, "%%" and the
include directives."""

import re

ESCAPE = "\x1b"


def test_sitefull_screen_shows_the_site_values(site):
    site.set("max_users", "1")
    site.set("sitename_long", "Full[:space:]House")
    site.allow_connections()
    site.start()
    first = site.raw()
    try:
        assert first.read_reply()[-1].startswith("220 ")
        second = site.raw()
        lines = second.read_reply()
        assert second.closed()
        second.close()
    finally:
        first.close()
    assert [line[:4] for line in lines[:-1]] == ["550-"] * (len(lines) - 1)
    assert lines[-1] == "550 "
    text = "\n".join(lines)
    assert "Full House is full" in text
    assert "1 users are online and the limit is 1." in text
    # Every cookie was replaced and every colour code removed.
    assert "%" not in text
    assert ESCAPE not in text
    assert not re.search(r"![0-9A-Za-z]", text)


def test_banner_cookies_colour_codes_and_includes(site):
    text_dir = site.data / "text"
    (text_dir / "part").write_text("included %[%s]s\n")
    (text_dir / "staff").write_text("staff only\n")
    (text_dir / "test.banner").write_text(
        "!Hwelcome!0 to %[%-6s]S|\n"
        "100%% sure, 1!! and !Q stay\n"
        "%! /ftp-data/text/part\n"
        "%=1/ftp-data/text/staff\n"
        "%x%[%s]Wq%[%d]IL\n"
        "%REQS\n")
    site.set("banner", "/ftp-data/text/test.banner")
    site.set("sitename_long", "Demo")
    site.set("sitename_short", "DM")
    site.unset("login_prompt")
    site.allow_connections()
    site.start()
    raw = site.raw()
    lines = raw.read_reply()
    raw.close()
    assert lines[:-1] == [
        "220- welcome to Demo  |",
        "220- 100% sure, 1! and !Q stay",
        "220- included DM",
        # Nobody is logged in yet: no flags, no statistics.
        "220- %?0",
    ]
    assert lines[-1].startswith("220 ")
