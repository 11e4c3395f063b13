"""marlod-site create: the layout of a new site and its refusals."""

import re
import stat
import subprocess

import pytest

from conftest import SHARE, SITE_TOOL


def create(*args):
    return subprocess.run([str(SITE_TOOL), "create", *map(str, args)],
                          capture_output=True, text=True)


def config_values(path):
    values = {}
    for line in path.read_text().splitlines():
        words = line.split()
        if words and not words[0].startswith("#"):
            values.setdefault(words[0], words[1:])
    return values


def test_new_site_layout(tmp_path):
    root, conf = tmp_path / "site", tmp_path / "marlod.conf"
    result = create(root, "--config", conf, "--ipc-key", "1234abcd", "--share", SHARE)
    assert result.returncode == 0, result.stderr

    for folder in ["etc", "bin", "dev", "ftp-data/users", "ftp-data/logs", "ftp-data/text",
                   "ftp-data/help", "ftp-data/misc/ad", "ftp-data/byefiles", "ftp-data/msgs"]:
        assert (root / folder).is_dir(), folder
    assert (root / "etc/passwd").read_text() == ""
    assert (root / "etc/group").read_text() == ""

    null = (root / "dev/null").lstat()
    assert stat.S_ISCHR(null.st_mode)
    assert (null.st_rdev >> 8, null.st_rdev & 0xFF) == (1, 3)
    assert stat.S_IMODE(null.st_mode) == 0o666

    # The strings file is binary records (12-byte headers), not the source.
    strings = (root / "bin/mrstrings.bin").read_bytes()
    assert len(strings) > 12 and not strings.startswith(b"#")

    # Text and help files come from the installation.
    for folder in ["text", "help"]:
        shipped = sorted(p.name for p in (SHARE / folder).iterdir())
        assert sorted(p.name for p in (root / "ftp-data" / folder).iterdir()) == shipped

    values = config_values(conf)
    assert values["rootpath"] == [str(root)]
    assert values["datapath"] == ["/ftp-data"]
    assert values["ipc_key"] == ["0x1234abcd"]
    # Everything else is the sample's.
    sample = config_values(SHARE / "marlod.conf")
    for key in sample:
        if key not in ("rootpath", "datapath", "ipc_key"):
            assert values[key] == sample[key], key


def test_fresh_ipc_keys_differ(tmp_path):
    keys = set()
    for n in range(3):
        conf = tmp_path / f"{n}.conf"
        assert create(tmp_path / f"site{n}", "--config", conf, "--share", SHARE).returncode == 0
        (key,) = config_values(conf)["ipc_key"]
        assert re.fullmatch(r"0x[0-9a-f]{8}", key) and key != "0x00000000"
        keys.add(key)
    assert len(keys) == 3


def test_root_path_with_a_blank_is_written_as_one_word(tmp_path):
    root, conf = tmp_path / "my site", tmp_path / "marlod.conf"
    assert create(root, "--config", conf, "--share", SHARE).returncode == 0
    assert config_values(conf)["rootpath"] == [str(root).replace(" ", "[:space:]")]


def test_existing_site_is_never_overwritten(tmp_path):
    root, conf = tmp_path / "site", tmp_path / "marlod.conf"
    assert create(root, "--config", conf, "--share", SHARE).returncode == 0
    before = conf.read_text()

    again = create(root, "--config", tmp_path / "other.conf", "--share", SHARE)
    assert again.returncode != 0 and "not an empty directory" in again.stderr
    assert not (tmp_path / "other.conf").exists()

    same_conf = create(tmp_path / "site2", "--config", conf, "--share", SHARE)
    assert same_conf.returncode != 0 and "exists" in same_conf.stderr
    assert not (tmp_path / "site2").exists()
    assert conf.read_text() == before


def test_empty_existing_root_is_used(tmp_path):
    root = tmp_path / "site"
    root.mkdir()
    assert create(root, "--config", tmp_path / "c.conf", "--share", SHARE).returncode == 0
    assert (root / "ftp-data/users").is_dir()


def test_failure_leaves_nothing_behind(tmp_path):
    share = tmp_path / "share"
    share.mkdir()
    (share / "marlod.conf").write_text((SHARE / "marlod.conf").read_text())
    (share / "strings.txt").write_text("this is not a strings source\n@@@\n")
    root, conf = tmp_path / "site", tmp_path / "marlod.conf"
    result = create(root, "--config", conf, "--share", share)
    assert result.returncode != 0 and "strings.txt" in result.stderr
    assert not root.exists() and not conf.exists()


def test_missing_share_files_are_named(tmp_path):
    result = create(tmp_path / "site", "--config", tmp_path / "c.conf", "--share", tmp_path)
    assert result.returncode != 0 and "marlod.conf is missing" in result.stderr
    assert not (tmp_path / "site").exists()


def test_bad_arguments(tmp_path):
    assert create("--share", SHARE).returncode == 2                      # no ROOT, no --config
    assert create(tmp_path / "a", "--config").returncode == 2            # value missing
    bad_key = create(tmp_path / "a", "--config", tmp_path / "c", "--ipc-key", "xyz")
    assert bad_key.returncode == 2 and "ipc key" in bad_key.stderr
    assert create(tmp_path / "a", "--config", tmp_path / "c", "--bogus").returncode == 2
    unknown = subprocess.run([str(SITE_TOOL), "frobnicate"], capture_output=True, text=True)
    assert unknown.returncode == 2 and "unknown command" in unknown.stderr
    assert not (tmp_path / "a").exists()


def test_databases_are_empty_root_files(tmp_path):
    root = tmp_path / "site"
    assert create(root, "--config", tmp_path / "c.conf", "--share", SHARE).returncode == 0
    for name in ["dupefile", "dupelog", "dirlog", "nukelog"]:
        info = (root / "ftp-data/logs" / name).stat()
        assert (info.st_size, info.st_uid, stat.S_IMODE(info.st_mode)) == (0, 0, 0o644), name
    assert not (root / "bin/sh").exists(), "the shell comes only with --scripts"


SFV = "; made by hand\r\nRel.A.r00 1a2b3c4d\r\nother file.zip DEADBEEF\r\n"


@pytest.mark.parametrize("name, crc, status", [
    ("rel.a.r00", "1A2B3C4D", 0),        # listed, matching, in any case
    ("Rel.A.r00", "00000001", 2),        # listed, mismatching
    ("Rel.A.r00", "00000000", 0),        # no CRC computed: nothing to compare
    ("other file.zip", "DEADBEEF", 0),   # a name with a blank
    ("other*.zip", "11111111", 0),       # a pattern character is just a character
    ("$(touch pwned).zip", "11111111", 0),
    ("missing.zip", "12345678", 0),      # not listed
])
def test_sample_post_check_runs_in_the_root(tmp_path, name, crc, status):
    root = tmp_path / "site"
    result = create(root, "--config", tmp_path / "c.conf", "--share", SHARE, "--scripts")
    assert result.returncode == 0, result.stderr
    assert (root / "bin/sh").resolve() == root / "bin/busybox"
    release = root / "site/Rel.A"
    release.mkdir(parents=True)
    (release / "rel.sfv").write_text(SFV)
    run = subprocess.run(["chroot", str(root), "/bin/post_check", name, "/site/Rel.A", crc],
                         capture_output=True, text=True, cwd=root)
    assert run.returncode == status, run.stdout + run.stderr
    assert not any(root.rglob("pwned"))
