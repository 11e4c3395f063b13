#!/usr/bin/python3
"""Runs the bench kit's `sessions` measurement (connect, USER, PASS, PWD,
QUIT) unchanged, except that a PWD answered "502 not implemented" counts as
answered: the session goes on to QUIT and is counted, instead of being
dropped as an error. Every other reply and failure counts as the kit counts
it. With SESSION_ACCOUNTS=K in the environment, each of the client's
threads logs in as its own account USER1..USERK (USER is --user; more
threads than K share them in turn) instead of all as USER.
Usage: sessions.py KIT_DIR [ftpbench arguments...]"""

import ftplib
import os
import sys
import threading

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

accounts = int(os.environ.get("SESSION_ACCOUNTS", "0"))
_login = ftplib.FTP.login
_account_of_thread = {}
_accounts_lock = threading.Lock()


def login_as_own_account(self, user="", passwd="", acct=""):
    with _accounts_lock:
        number = _account_of_thread.setdefault(threading.get_ident(),
                                               len(_account_of_thread) % accounts + 1)
    return _login(self, "%s%d" % (user, number), passwd, acct)


if accounts > 0:
    ftplib.FTP.login = login_as_own_account
sys.exit(ftpbench.main(sys.argv[2:]))
