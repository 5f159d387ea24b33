#!/usr/bin/env python3
"""pyftpdlib as "python3 -m pyftpdlib" runs it (the same options), for the
end-to-end tests, with one fault of its active-mode data connections mended.

Once the connection to the client's PORT/EPRT address is made, pyftpdlib
hands its socket to the transfer's handler but keeps the socket's number in
the object that made the connection. That object is closed only when the
session asks for its next data connection; by then the transfer has closed
the socket and the number may belong to another session's control
connection, which the close takes off the server's loop: that session is
never read again. Two sessions of one client to one server (a copy from one
to the other in active mode) meet it every time. pyftpdlib 1.5.7 has it; the
change below is the one proposed upstream (giampaolo/pyftpdlib#657).
"""
import os
import runpy

from pyftpdlib.handlers import ActiveDTP, FTPHandler, ThrottledDTPHandler

_handle_connect = ActiveDTP.handle_connect


def _handle_connect_and_forget_socket(self):
    _handle_connect(self)
    # The socket is the transfer's now; a later close must not touch its number.
    self._fileno = None


ActiveDTP.handle_connect = _handle_connect_and_forget_socket

# QB_PYFTPD_RATE (bytes per second) slows every data connection down, for
# tests that must see a transfer while it runs.
_rate = int(os.environ.get("QB_PYFTPD_RATE", "0") or 0)
if _rate > 0:
    ThrottledDTPHandler.read_limit = _rate
    ThrottledDTPHandler.write_limit = _rate
    FTPHandler.dtp_handler = ThrottledDTPHandler

if __name__ == "__main__":
    runpy.run_module("pyftpdlib", run_name="__main__", alter_sys=True)
