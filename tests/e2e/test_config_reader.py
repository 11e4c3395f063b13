"""The configuration file as the daemon reads it per connection: the
client-address conditional, include files, comments and placeholders, and
hostile file contents. The greeting line is the setting each case reads
back, since it comes straight from `login_prompt`."""

from conftest import greeting

VERSION = "marlod 1.29_Linux"


def without_greeting_keys(site):
    site.unset("login_prompt")
    site.unset("sitename_long")


# --- ifip / elseip / endifip

def test_ifip_selects_lines_per_client_address(site):
    without_greeting_keys(site)
    site.append("ifip 10.* 127.0.0.2")
    site.append("login_prompt inside")
    site.append("elseip")
    site.append("login_prompt outside")
    site.append("endifip")
    site.allow_connections()
    site.start()
    # Every connection is a new process that reads the file for its client.
    assert greeting(site, "127.0.0.2") == ["220 inside"]
    assert greeting(site, "127.0.0.1") == ["220 outside"]
    assert greeting(site, "127.0.0.2") == ["220 inside"]


def test_ifip_masks_use_sets_and_braces(site):
    without_greeting_keys(site)
    site.append("IfIp 127.0.0.[3-5] 127.0.{1,0}.9")
    site.append("login_prompt matched")
    site.append("EndIfIp")
    site.append("sitename_long Fallback")
    site.allow_connections()
    site.start()
    assert greeting(site, "127.0.0.4") == ["220 matched"]
    assert greeting(site, "127.0.0.9") == ["220 matched"]
    assert greeting(site, "127.0.0.1") == [f"220 Fallback ({VERSION}) ready."]


def test_include_inside_skipped_block_is_still_read(site, tmp_path):
    without_greeting_keys(site)
    extra = tmp_path / "extra.conf"
    extra.write_text("sitename_long Included\n")
    site.append("ifip 10.*")
    site.append(f"include {extra}")
    site.append("login_prompt never")
    site.append("endifip")
    site.allow_connections()
    site.start()
    assert greeting(site) == [f"220 Included ({VERSION}) ready."]


# (Missing, bare and self includes: config_store_test.)


# --- comments, placeholders, line ends

def test_comment_after_value_and_placeholders(site):
    without_greeting_keys(site)
    site.append("login_prompt Site[:space:]no.[:hash:]1 extra # the rest is a comment")
    site.allow_connections()
    site.start()
    assert greeting(site) == ["220 Site no.#1"]


def test_crlf_configuration_without_final_newline(site):
    text = site.config.replace("\n", "\r\n").rstrip("\r\n")
    text = "\r\n".join(line for line in text.split("\r\n")
                       if not line.startswith(("login_prompt", "sitename_long")))
    site.config = text + "\r\nsitename_long CrLf"
    site.allow_connections()
    site.start()
    assert greeting(site) == [f"220 CrLf ({VERSION}) ready."]


# --- hostile contents (an unreadable or empty file: test_startup.py)

def test_binary_garbage_and_overlong_lines_are_survived(site):
    without_greeting_keys(site)
    garbage = bytes(range(256)) * 64 + b"\n" + b"x" * 200000 + b"\n"
    words = " ".join(f"w{i}" for i in range(80))
    site.config_path.write_bytes(site.config_path.read_bytes() + garbage
                                 + f"sitename_long Survivor {words}\n".encode())
    site.allow_connections()
    site.start()
    assert greeting(site) == [f"220 Survivor ({VERSION}) ready."]
