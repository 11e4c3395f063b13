#!/usr/bin/python3
"""Runs the bench kit's measurements (ftpbench.py, unchanged) over explicit
TLS: every session sends AUTH TLS before USER and PBSZ 0, PROT P after
PASS, and every data connection resumes the control connection's TLS
session and ends with a close_notify, as curl and lftp do. The server's
certificate is not checked (the sites use self-signed ones).
Usage: tls_bench.py KIT_DIR [ftpbench arguments...]"""

import ftplib
import ssl
import sys
import types

kit = sys.argv[1]
sys.path.insert(0, kit)
import ftpbench  # noqa: E402  (the kit, called as it is)

CONTEXT = ssl.create_default_context()
CONTEXT.check_hostname = False
CONTEXT.verify_mode = ssl.CERT_NONE


class ProtectedFTP(ftplib.FTP_TLS):
    def __init__(self, *args, **kwargs):
        kwargs.setdefault("context", CONTEXT)
        super().__init__(*args, **kwargs)

    def login(self, *args, **kwargs):
        reply = super().login(*args, **kwargs)  # AUTH TLS first
        self.prot_p()
        return reply

    def ntransfercmd(self, cmd, rest=None):
        conn, size = ftplib.FTP.ntransfercmd(self, cmd, rest)
        conn = self.context.wrap_socket(conn, server_hostname=self.host, session=self.sock.session)
        plain_close = conn.close

        def close_with_notify():
            try:
                conn.unwrap()
            except (OSError, ValueError):
                pass
            plain_close()

        conn.close = close_with_notify
        return conn, size


protected = types.ModuleType("ftplib")
protected.__dict__.update(ftplib.__dict__)
protected.FTP = ProtectedFTP
ftpbench.ftplib = protected
sys.exit(ftpbench.main(sys.argv[2:]))
