"""Admission by ident@host before the greeting: a client is served only when
some userfile lists a mask that matches it; otherwise the connection is
closed without a reply and the login log says why. Accounts come from
`marlod-site adduser` and `marlod-site create --siteop`."""

import pytest

from conftest import SHARE, closed_without_reply, greeting, run_site_tool

REFUSAL = "*@127.0.0.1 (127.0.0.1): connection refused: ident@ip not added to any users."


def write_userfile(site, name, text):
    (site.data / "users" / name).write_text(text)


@pytest.mark.parametrize("masks", [
    None,                           # no userfile at all
    ["*@10.0.0.*"],                 # another network
    ["bob@127.0.0.1"],              # an ident the client did not give
    ["*@localhost.example."],       # a host name that is not the client's
])
def test_masks_that_do_not_fit_refuse_silently_and_log_it(site, masks):
    if masks is not None:
        write_userfile(site, "bob", "FLAGS 3\n" + "".join(f"IP {m}\n" for m in masks))
    site.start()
    assert closed_without_reply(site)
    assert REFUSAL in site.log("login.log")


@pytest.mark.parametrize("mask", ["*@127.0.0.1", "*@127.0.0.*", "127.*", "*@*"])
def test_a_matching_mask_gets_the_greeting(site, mask):
    write_userfile(site, "bob", f"FLAGS 3\nIP 10.9.9.9\nIP {mask}\n")
    site.start()
    assert greeting(site)[-1].startswith("220 ")
    assert REFUSAL not in site.log("login.log")


@pytest.mark.parametrize("masks,admitted", [
    ("*@10.*\n*@127.0.0.1   # this machine\n", True),
    # A negative line refuses even when a later line matches.
    ("# staff only\n!*@127.0.0.1\n*@127.*\n", False),
])
def test_mask_files(site, masks, admitted):
    (site.data / "lan.masks").write_text(masks)
    write_userfile(site, "bob", "IP !/ftp-data/lan.masks\n")
    site.start()
    if admitted:
        assert greeting(site)[-1].startswith("220 ")
    else:
        assert closed_without_reply(site)


def test_damaged_userfiles_are_skipped_not_fatal(site):
    write_userfile(site, "junk", "\x00\xff" * 3000 + "\nIP\nIPX *@*\n")
    (site.data / "users" / "emptydir").mkdir()
    write_userfile(site, "zzz", "IP *@127.0.0.*\n")
    site.start()
    assert greeting(site)[-1].startswith("220 ")
    assert REFUSAL not in site.log("login.log")


def test_the_cache_admits_the_same_way(site):
    site.set("user_cache", "1")
    write_userfile(site, "bob", "IP *@127.0.0.1\n")
    site.start()
    assert greeting(site)[-1].startswith("220 ")


# --- accounts from the site tool

def test_adduser_makes_an_account_that_admits_its_address(site):
    site.add_user("carol", "s3cret", flags="3A", ip="*@127.0.0.1")
    fields = (site.root / "etc" / "passwd").read_text().splitlines()[-1].split(":")
    assert fields[0] == "carol" and len(fields) == 7
    assert len(fields[1]) == 13                       # a DES hash
    assert fields[2:4] == ["100", "100"] and fields[6] == "/bin/false"
    userfile = (site.data / "users" / "carol").read_text()
    assert "FLAGS 3A\n" in userfile and "IP *@127.0.0.1\n" in userfile
    site.start()
    assert greeting(site)[-1].startswith("220 ")


def test_adduser_refuses_existing_and_malformed_names(site):
    site.add_user("carol")
    again = run_site_tool("adduser", site.config_path, "carol", "x", check=False)
    assert again.returncode == 1 and "exists already" in again.stderr
    for bad in ["a:b", "../x", "x" * 24, "default.user", "with space"]:
        result = run_site_tool("adduser", site.config_path, bad, "x", check=False)
        assert result.returncode == 1 and "marlod-site adduser: the name" in result.stderr, bad
    unknown = run_site_tool("adduser", site.config_path, "dave", "x", "--group", "nogroup", check=False)
    assert unknown.returncode == 1 and "no group 'nogroup'" in unknown.stderr
    assert (site.root / "etc" / "passwd").read_text().count("\n") == 1


def test_adduser_with_a_group_takes_its_gid(site):
    (site.root / "etc" / "group").write_text("staff:The staff:300:\n")
    site.add_user("erin", group="staff")
    assert ":300:" in (site.root / "etc" / "passwd").read_text()
    assert "GROUP staff\n" in (site.data / "users" / "erin").read_text()


def test_create_with_a_siteop(tmp_path):
    root, config = tmp_path / "root", tmp_path / "marlod.conf"
    result = run_site_tool("create", root, "--config", config, "--siteop", "sysop:marlod",
                           "--share", SHARE)
    assert "added user sysop" in result.stdout
    userfile = (root / "ftp-data" / "users" / "sysop").read_text()
    assert "FLAGS 1\n" in userfile and "IP *@127.0.0.1\n" in userfile
    assert (root / "etc" / "passwd").read_text().startswith("sysop:")
