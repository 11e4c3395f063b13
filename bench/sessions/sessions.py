#!/usr/bin/python3
"""Runs the bench kit's `sessions` measurement (connect, USER, PASS, PWD,
QUIT) unchanged, except that a PWD answered "502 not implemented" counts as
answered: the session goes on to QUIT and is counted, instead of being
dropped as an error. Every other reply and failure counts as the kit counts
it. Usage: sessions.py KIT_DIR [ftpbench arguments...]"""

import ftplib
import sys

kit = sys.argv[1]
sys.path.insert(0, kit)
import ftpbench  # noqa: E402  (the kit, called as it is)

_pwd = ftplib.FTP.pwd


def pwd_tolerating_not_implemented(self):
    try:
        return _pwd(self)
    except ftplib.error_perm as refusal:
        if str(refusal).startswith("502"):
            return ""
        raise


ftplib.FTP.pwd = pwd_tolerating_not_implemented
sys.exit(ftpbench.main(sys.argv[2:]))
